/* SPDX-License-Identifier: Apache-2.0 */
// The boundary between the emulated host and the caller's own files.  The
// emulated host keeps a fixed list of host locations in its sandbox, the
// ones the library itself uses, and nothing else: every other path, relative
// or absolute, is the caller's real file.  emulator/README.md shows the
// same list.
#ifndef ZEMT_EMULATOR_HOSTBOUNDARY_H
#define ZEMT_EMULATOR_HOSTBOUNDARY_H

#include <string>

namespace zemt_emu {

// One location of the list.  In a pattern "#" stands for a digit, a final
// "*" for the rest of the name, and "$PROGRAM" for the directory of the
// running program.
struct MappedLocation {
    const char* pattern;
    bool subtree;      // the location and everything below it
    const char* what;  // why the library uses it
};
extern const MappedLocation kMappedLocations[];
extern const std::size_t kMappedLocationCount;

// A path with "." and ".." resolved and no trailing slash.
std::string NormalHostPath(const std::string& path);
// Whether an absolute host path lies in a mapped location.  programDir is
// the running program's directory (where the install script lives).
bool IsMappedPath(const std::string& path, const std::string& programDir);

// The working directory and the state directory must lie outside the
// mapped locations: inside, the caller's files and the emulated host's
// would be the same.  False with a message saying which.
bool CheckEmulatorPlaces(const std::string& stateDir, std::string& why);

}  // namespace zemt_emu

#endif
