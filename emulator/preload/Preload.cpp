// SPDX-License-Identifier: Apache-2.0
// Preloadable emulator: with ZEMT_EMULATOR_DIR set, a program that uses the
// library unchanged runs against the emulated host and controller.  The
// loader takes a preloaded library by its path only:
//
//   zemt emulator exec /path/to/state -- ./program
//   ZEMT_EMULATOR_DIR=/path/to/state LD_PRELOAD=/abs/path/libzemt_emu_preload.so ./program
#include "zemt_emulator/EmulatedHost.h"

namespace {
// Runs after the library's own initialisation (it is a dependency of this
// one) and before the program's main.
__attribute__((constructor)) void installEmulatedHost() { zemt_emu_install_from_env(); }
}  // namespace
