/* SPDX-License-Identifier: Apache-2.0 */
// What a read-write mount held when it was made (or last written back):
// each folder and file below the mount directory with its size, change
// time and inode.  Written back, a mount carries only what differs from
// it into the image.  Kept in DIR/mount-manifests/, one file per mount
// directory, so that a mount made by one process can be written back by
// another; umount and `zemt emulator reset` remove it.
#ifndef ZEMT_EMULATOR_MOUNTMANIFEST_H
#define ZEMT_EMULATOR_MOUNTMANIFEST_H

#include <cstdint>
#include <map>
#include <string>

namespace zemt_emu {

namespace files {
extern const char* const kMountManifests;
}  // namespace files

struct ManifestItem {
    bool directory = false;
    uint64_t size = 0;
    int64_t changed = 0;  // modification time, nanoseconds
    uint64_t inode = 0;

    bool operator==(const ManifestItem& other) const {
        return directory == other.directory && size == other.size && changed == other.changed &&
               inode == other.inode;
    }
    bool operator!=(const ManifestItem& other) const { return !(*this == other); }
};

// Paths relative to the mount directory ("fw", "fw/a.bin").
typedef std::map<std::string, ManifestItem> Manifest;

// What a directory holds now.
Manifest ScanTree(const std::string& dir);
bool SaveManifest(const std::string& stateDir, const std::string& mountDir, const Manifest& manifest);
// False when there is none (the mount was made without one).
bool LoadManifest(const std::string& stateDir, const std::string& mountDir, Manifest& manifest);
void RemoveManifest(const std::string& stateDir, const std::string& mountDir);

}  // namespace zemt_emu

#endif
