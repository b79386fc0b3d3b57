/* SPDX-License-Identifier: Apache-2.0 */
// FAT file systems as the emulator keeps them: which names a vfat mount
// takes, how much room files and folders take on a formatted image, and the
// mtools calls that address and copy out names exactly as they are written.
#ifndef ZEMT_EMULATOR_FATIMAGE_H
#define ZEMT_EMULATOR_FATIMAGE_H

#include <string>

namespace zemt_emu {

// Characters a vfat mount takes in a name: no control characters and none
// of " * / : < > ? \ |.
bool IsFatName(const std::string& name);
// UTF-16 units of a UTF-8 name; a vfat name holds at most kFatNameMax.
long Utf16Length(const std::string& name);
const long kFatNameMax = 255;
// Directory entries a name takes on a vfat mount with shortname=mixed: one
// for an upper-case 8.3 name of plain characters, one more per 13 UTF-16
// units of the long name otherwise.
long FatEntries(const std::string& name);
// ASCII letters fold, nothing else: how a vfat mount with iocharset=utf8
// compares names.
bool SameFatName(const std::string& a, const std::string& b);

// What the boot sector of a formatted image says about its room.
struct FatGeometry {
    long long clusterBytes = 0;
    long long clusters = 0;  // data clusters
    long rootEntries = 0;    // fixed root directory (FAT12/16); 0 on FAT32
};
bool ReadFatGeometry(const std::string& image, long offset, FatGeometry& geometry);
long long ClustersFor(long long bytes, long long clusterBytes);

// The mtools path of a path inside the image ("fw/a.bin").  mtools takes
// '*', '?' and '[' as patterns; an existing name is looked up with each of
// them in brackets, so that it matches itself only.  A name that is to be
// made is taken literally in its last component; only the folders before
// it are looked up.
std::string MtoolsExisting(const std::string& inner);
std::string MtoolsNew(const std::string& inner);

// One entry of an `mdir -a` listing: the name as stored (mdir applies the
// case flags of short names correctly, mcopy's copy-out does not for
// non-ASCII letters).  False for the lines around the entries and for "."
// and "..".
struct FatListing {
    std::string name;
    bool directory = false;
};
bool ParseMdirLine(const std::string& line, FatListing& entry);

}  // namespace zemt_emu

#endif
