// SPDX-License-Identifier: Apache-2.0
/*
 * Control API of the simulated POS keyboard and Linux hiddev driver (libtrovsim.so).
 *
 * The simulator interposes open/ioctl/read/poll/close (and the variants glibc routes them through) for
 * the paths "/dev/usb/hid/hiddev0" to "/dev/usb/hid/hiddev15" and for the descriptors it hands out; every
 * other call goes to the C library untouched. It also stands in front of write, shmget, shmat, msgget
 * and pthread_create, which it passes through unless a fault is injected into them (trovsim_inject).
 * Link it into a test binary, or preload it into a JVM.
 *
 * Node numbers are 0 to 15. Every function is thread-safe. Functions returning int return 0 on success
 * and -1 on a bad argument unless stated otherwise.
 */
#ifndef TROVSIM_H
#define TROVSIM_H

#ifdef __cplusplus
extern "C" {
#endif

#define TROVSIM_NODES 16

/* What sits behind a node path. */
enum trovsim_kind {
    TROVSIM_ABSENT = 0,   /* no node: open fails with ENOENT */
    TROVSIM_OTHER = 1,    /* a HID device without the keyboard's vendor application */
    TROVSIM_KEYBOARD = 2  /* the POS keyboard */
};

/* Faults injected at the steps the device search depends on (bit set, see trovsim_set_faults). */
enum trovsim_fault {
    TROVSIM_FAULT_OPEN_REFUSED = 1 << 0,      /* open fails with EACCES */
    TROVSIM_FAULT_INITREPORT = 1 << 1,        /* HIDIOCINITREPORT fails with EIO */
    TROVSIM_FAULT_NO_OUTPUT_USAGE = 1 << 2,   /* output report 4 has no vendor output usage 0xFFFA00AB */
    TROVSIM_FAULT_USAGE_LATER_FIELD = 1 << 3, /* output report 4: field 0 holds another usage, field 1 holds 0xFFFA00AB */
    TROVSIM_FAULT_GREPORT = 1 << 4,           /* HIDIOCGREPORT fails with EIO */
    TROVSIM_FAULT_GDEVINFO = 1 << 5           /* HIDIOCGDEVINFO fails with EIO, while reads and sends work */
};

/* Calls of the whole process into which faults can be injected (trovsim_inject). */
enum trovsim_call {
    TROVSIM_CALL_NODE_READ = 0,  /* read() of a simulated node's descriptor */
    TROVSIM_CALL_NODE_POLL,      /* poll() or ppoll() of a set that holds a simulated node's descriptor */
    TROVSIM_CALL_FIFO_READ,      /* read() of a FIFO or pipe */
    TROVSIM_CALL_FIFO_WRITE,     /* write() into a FIFO or pipe; error 0 makes it short: half the bytes,
                                    none of a single byte (the result is then 0) */
    TROVSIM_CALL_SHMGET,
    TROVSIM_CALL_SHMAT,
    TROVSIM_CALL_MSGGET,
    TROVSIM_CALL_PTHREAD_CREATE, /* fails with the error as its result, no thread started */
    TROVSIM_CALLS
};

/* Requests counted per node (trovsim_count). */
enum trovsim_request {
    TROVSIM_REQ_OPEN = 0,      /* successful and refused opens of the node path */
    TROVSIM_REQ_CLOSE,
    TROVSIM_REQ_READ,
    TROVSIM_REQ_GVERSION,
    TROVSIM_REQ_APPLICATION,
    TROVSIM_REQ_GDEVINFO,
    TROVSIM_REQ_GSTRING,
    TROVSIM_REQ_INITREPORT,
    TROVSIM_REQ_GREPORT,
    TROVSIM_REQ_SREPORT,
    TROVSIM_REQ_GREPORTINFO,
    TROVSIM_REQ_GFIELDINFO,
    TROVSIM_REQ_SUSAGE,
    TROVSIM_REQ_GUCODE,
    TROVSIM_REQ_OTHER_IOCTL,   /* any request the driver model does not know: fails with EINVAL */
    TROVSIM_REQ_COUNT
};

/* Back to the state at load: every node absent, no faults, counters and logs cleared, descriptors
 * already handed out become dead (reads fail with EIO, requests with ENODEV). Settings made by the
 * TROVSIM_KEYBOARD environment variable at load are applied again. */
void trovsim_reset(void);

/* Node set-up. A node made TROVSIM_KEYBOARD gets the keyboard's default description: application list
 * { 0xFFFA00A5 }, output report 4 with one field holding 0xFFFA00AB, input report 4 with one field of the
 * four usages 0xFFFA00A6..0xFFFA00A9, keylock position 0, empty TCO table, not silent. */
int trovsim_set_kind(int node, int kind);
int trovsim_kind(int node);  /* the kind set for the node (also while unplugged), -1 for a bad node */
int trovsim_set_faults(int node, unsigned faults);
/* Replaces the node's application list (HIDIOCAPPLICATION answers usages[i] for i < count, EINVAL beyond). */
int trovsim_set_applications(int node, const unsigned *usages, int count);
/* Device identity returned by HIDIOCGDEVINFO, and the text of USB string 1 (the manufacturer on a real
 * keyboard) returned by HIDIOCGSTRING; string 2 is the product name. */
int trovsim_set_identity(int node, unsigned short vendor, unsigned short product, unsigned short version,
                         const char *name);

/* Keyboard behaviour. */
int trovsim_set_keylock(int node, int digit);                 /* position answered to 0xEF 0x07, 0..9 */
int trovsim_set_tco(int node, int index, const char *digits); /* reply digits for a TCO query with that index byte */
int trovsim_set_silent(int node, int silent);                 /* silent: answers nothing, records still */
/* The keyboard takes delay_ms to answer a command (keylock position, TCO query; 0: at once), one command
 * at a time: a command that arrives while an earlier answer is still on its way is answered delay_ms
 * after that one, so answers keep their order. Each answer keeps the delay set when its command
 * arrived; an answer due after a reset, an unplug or a new device behind the node is lost. */
int trovsim_set_answer_delay(int node, int delay_ms);

/* Keyboard input. Bytes travel as input reports of four bytes (zero padded), each report delivered as
 * four struct hiddev_event records to every descriptor open on the node; input for a node that nobody
 * has open is lost, as with the real driver. Each returns the number of input bytes queued, or -1.
 * 0 means the input was not taken: nobody has the node open, or the driver's buffer is full.
 * A key code is 0x01..0xFF except the bytes the protocol reserves: the frame markers 0x81..0x84, 0x86,
 * 0x91..0x94, 0x96, the extended prefix 0xE0 and the release prefix 0xFE; press and release refuse
 * those (and 0) with -1. send_raw sends any bytes as they are. */
int trovsim_send_raw(int node, const unsigned char *bytes, int count);
int trovsim_press_key(int node, int key, int extended);     /* [0xE0] key */
int trovsim_release_key(int node, int key, int extended);   /* 0xFE [0xE0] key */
int trovsim_turn_keylock(int node, int digit);               /* sets the position and sends 0x84 digit 0x94 */
int trovsim_swipe(int node, const unsigned char *t1, int n1, const unsigned char *t2, int n2,
                  const unsigned char *t3, int n3);          /* 0x81 t1 0x91 0x82 t2 0x92 0x83 t3 0x93 */

/* Plugging. Unplug: the node disappears at once, blocked reads on it fail with EIO, requests on its old
 * descriptors fail with ENODEV, poll reports POLLERR|POLLHUP. Replug: the node reappears after delay_ms
 * (the real driver takes about 500 ms); old descriptors stay dead. */
int trovsim_unplug(int node);
int trovsim_replug(int node, int delay_ms);

/* Process-wide faults. After `skip` more calls of that kind have passed through, the next `count` fail
 * with `error` (an errno value: the call returns -1 with errno set, or for pthread_create the error as
 * its result), without reaching the C library. count 0 disarms. trovsim_reset disarms every kind.
 * Returns 0, or -1 for a bad argument. */
int trovsim_inject(int call, int skip, int count, int error);
/* Faults injected into that kind of call since the last reset, or -1 for a bad kind. */
long trovsim_injected(int call);

/* Observation. */
/* Copies up to cap command bytes the keyboard received (in order) into buf; returns the total number
 * received since the last reset or clear, which may exceed cap. */
int trovsim_received(int node, unsigned char *buf, int cap);
int trovsim_clear_received(int node);
/* Waits until at least count command bytes have been received; returns the number received (which is
 * less than count on time-out). */
int trovsim_wait_received(int node, int count, int timeout_ms);
long trovsim_count(int node, int request);
int trovsim_open_handles(int node);  /* descriptors currently open on the node */

#ifdef __cplusplus
}
#endif

#endif
