// SPDX-License-Identifier: Apache-2.0
// Recognises the node paths the simulator stands behind: "/dev/usb/hid/hiddev0" to "hiddev15".
#ifndef TROVSIM_NODE_PATHS_H
#define TROVSIM_NODE_PATHS_H

namespace trovsim {

// The node number a path names, or -1 for any other path (null included).
int node_of_path(const char *path);

}  // namespace trovsim

#endif
