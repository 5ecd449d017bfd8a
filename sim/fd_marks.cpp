// SPDX-License-Identifier: Apache-2.0
#include "sim/fd_marks.h"

namespace trovsim::fd_marks {

// Zero-initialised static storage: valid before any constructor of the library has run.
std::atomic<unsigned char> table[LIMIT];

}  // namespace trovsim::fd_marks
