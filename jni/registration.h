// SPDX-License-Identifier: Apache-2.0
// Registration of the Java service objects: at Open, a global reference to the service object and the
// method ids of its listener methods are stored here, for the library's threads to raise events on.
#ifndef TROV_JNI_REGISTRATION_H
#define TROV_JNI_REGISTRATION_H

#include <jni.h>
#include <pthread.h>

// Held while a registered object is stored, replaced or released, and while a callback takes its own
// reference to it, so that a callback never uses a reference that a Close is deleting.
extern pthread_mutex_t ListenerLock;

extern jint Version;  // JNI version of the latest registration, used when library threads attach

extern jobject KLObject;   // registered keylock service object, null when none
extern jobject MSRObject;  // registered MSR service object
extern jobject KBObject;   // registered POS keyboard service object

extern jmethodID KLStatusUpdateEventID;
extern jmethodID KLDirectIOEventID;
extern jmethodID MSRDataEventID;
extern jmethodID KBStatusUpdateEventID;
extern jmethodID KBDirectIOEventID;
extern jmethodID KBDataEventID;
// keyboardDataEvent(int, int, boolean), which our own keyboard class adds to hear whether a key is
// extended; null for a class that lacks it. Stored with KBObject under ListenerLock, so that a callback
// never pairs one object with the id of another class.
extern jmethodID KBExtendedDataEventID;

// Each stores a global reference to obj and looks up the service's listener methods (the keyboard's also
// the optional one above, whose absence is no failure and leaves no exception pending). 0 on success; -1
// on failure, with no reference kept (a lookup failure leaves the VM's exception pending for the caller
// of Open). A registration replaces, and releases, the reference of the service's previous one.
int createJNIParKL(JNIEnv *env, jobject obj);
int createJNIParMSR(JNIEnv *env, jobject obj);
int createJNIParKB(JNIEnv *env, jobject obj);

// Releases the registered object of a service (KLObject, MSRObject or KBObject) and clears it.
void vReleaseObject(JNIEnv *env, jobject &object);

// Releases the registered objects of all three services through the recorded VM, on whatever thread
// calls it (a library thread is attached for the time it takes). Called by the shutdown, so that no
// global reference outlives the opening, also when a power-off ended it and the application's Close
// never reaches the native layer.
void vReleaseRegisteredObjects();

#endif
