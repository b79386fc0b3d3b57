// Host-side checks shared by the mount and detach code.  Library-internal.
#ifndef ZEMT_HOST_PATHS_H
#define ZEMT_HOST_PATHS_H

#include <string>

namespace hostpaths {

// A volume label that may be pasted into a shell command and a path as
// it is: 1 to 11 characters of A-Z, a-z, 0-9, '_' and '-'.  Every label
// of the catalogue and the drop box qualifies.
bool isSafeVolumeLabel(const std::string& label);

enum MountState { NotMounted, Mounted, MountStateUnknown };

// Whether some file system is mounted exactly on `dir`, from /proc/mounts.
MountState mountStateOf(const std::string& dir);

}  // namespace hostpaths

#endif
