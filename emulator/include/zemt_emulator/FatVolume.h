/* SPDX-License-Identifier: Apache-2.0 */
// Reading a FAT12/16/32 file system straight from its image, without a
// tool run: the folder tree under the names mtools lists (long names, or
// short names with their case flags, code page 850), each file's size and
// where its bytes lie, and the free room.  The emulator's mounts and the
// controller read partitions through it; writing stays with mtools.
#ifndef ZEMT_EMULATOR_FATVOLUME_H
#define ZEMT_EMULATOR_FATVOLUME_H

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace zemt_emu {

class FatVolume {
public:
    struct Entry {
        std::string name;
        bool directory = false;
        uint64_t size = 0;
        uint32_t firstCluster = 0;
        uint64_t entryAt = 0;  // where its short directory entry lies in the image
    };

    FatVolume() = default;
    ~FatVolume();
    FatVolume(const FatVolume&) = delete;
    FatVolume& operator=(const FatVolume&) = delete;

    // IMAGE or IMAGE@@OFFSET, as mtools names it; false with a reason when
    // the image holds no FAT file system this reader understands.  Append
    // needs the image opened for writing.
    bool Open(const std::string& mtoolsImage, std::string& error, bool forWriting = false);

    // The entries of a folder ("" is the root, "a/b" below it), without
    // the label, "." and ".."; false when there is no such folder.  Names
    // are looked up as stored, then as mtools finds them: in any case of
    // their letters (ASCII and code page 850).
    bool List(const std::string& path, std::vector<Entry>& entries) const;
    // The entry a path names; false when there is none.
    bool Find(const std::string& path, Entry& entry) const;
    // Every folder and file below the root, parents before children, with
    // their paths ("a", "a/b.bin").
    bool Walk(const std::function<void(const std::string& path, const Entry& entry)>& visit) const;

    // Writes a file's bytes to fd (from its current position); false on a
    // broken cluster chain or a failed write.
    bool CopyOut(const Entry& file, int fd) const;

    // Appends BYTES bytes read from fd (from its current position) to a
    // file: its last cluster's slack first, then new clusters chained on,
    // and its size in its directory entry.  False, with nothing changed,
    // when the volume has no room for them; false part-way on a failed read
    // or write.
    bool Append(const Entry& file, int fd, uint64_t bytes);
    // Sets the case flags of an entry's short name so that it reads as
    // WANTED (fw.bin for FW.BIN); false when no flags give that name.
    bool SetShortNameCase(const Entry& entry, const std::string& wanted);

    long long ClusterBytes() const { return clusterBytes_; }
    long long FreeClusters() const;
    // FAT12/16 keep the root directory in a fixed area: the entries left
    // there after the last one in use (-1 on FAT32, whose root grows).
    long FixedRootSlotsLeft() const;

private:
    uint32_t next(uint32_t cluster) const;
    void link(uint32_t cluster, uint32_t value);
    bool writeFats() const;
    void noteAllocated(uint32_t count, uint32_t last) const;
    bool isEnd(uint32_t value) const;
    uint64_t clusterOffset(uint32_t cluster) const;
    const std::vector<Entry>* folder(uint32_t firstCluster, bool root) const;
    bool walk(const std::string& prefix, uint32_t cluster, bool root, int depth,
              const std::function<void(const std::string&, const Entry&)>& visit) const;

    int fd_ = -1;
    uint64_t base_ = 0;  // where the file system starts in the image
    uint32_t sectorBytes_ = 0, reserved_ = 0, fats_ = 0, fatSectors_ = 0, infoSector_ = 0;
    int fatBits_ = 0;
    long long clusterBytes_ = 0;
    uint32_t clusters_ = 0;       // data clusters (numbered from 2)
    uint64_t dataStart_ = 0;      // offset of cluster 2
    uint64_t rootStart_ = 0;      // FAT12/16: offset of the fixed root directory
    uint32_t rootEntries_ = 0;    // FAT12/16: its entries; 0 on FAT32
    uint32_t rootCluster_ = 0;    // FAT32: first cluster of the root
    std::vector<unsigned char> fat_;
    // Folders read so far, by first cluster (0: the root); a volume that
    // writes reads them again.
    mutable std::map<uint32_t, std::vector<Entry>> folders_;
};

// Copies every folder and file of an image (IMAGE or IMAGE@@OFFSET) into
// dir, under the names they have in the image.
bool ExtractFatTree(const std::string& image, const std::string& dir, std::string& error);

}  // namespace zemt_emu

#endif
