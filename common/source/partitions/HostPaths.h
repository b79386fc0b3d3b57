/* SPDX-License-Identifier: Apache-2.0 */
// Host-side checks shared by the mount and detach code.  Library-internal.
#ifndef ZEMT_HOST_PATHS_H
#define ZEMT_HOST_PATHS_H

#include <string>

class secureKaver;

namespace hostpaths {

// A volume label that may be pasted into a shell command and a path as
// it is: 1 to 11 characters of A-Z, a-z, 0-9, '_' and '-'.  Every label
// of the catalogue and the drop box qualifies.
bool isSafeVolumeLabel(const std::string& label);

enum MountState { NotMounted, Mounted, MountStateUnknown };

// Whether some file system is mounted on `dir` or below it, from
// /proc/mounts: either way rm -rf of dir would reach mounted files.
MountState mountStateOf(const std::string& dir);

// Unmounts, with the usual unmount sequence, whatever /proc/mounts lists on
// one of this library's own mount directories (the drop box's and those of
// the catalogue's labels), as a killed run or a failed umount leaves it.
// No other mount is touched.
void unmountLeftOvers(secureKaver& kaver);

}  // namespace hostpaths

#endif
