// SPDX-License-Identifier: Apache-2.0
// Reading the FAT volume label of a block device.  The device holds
// whatever the controller (or anything else) put there, so every size and
// link taken from it is checked before it is used: reads stay inside the
// buffers, directory walks inside the bytes actually read, and cluster
// chains are followed a bounded number of times.
#include "partitions/FatLabelProbe.h"

#include <fcntl.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "CLinuxEnumerateDevices.h"
#include "PlatformLayer.h"

namespace {

const uint8_t ATTR_VOLUME_ID = 0x08;
const unsigned int MAX_ROOT_CLUSTERS = 99;
const uint32_t FAT32_ENTRY_MASK = 0x0FFFFFFF;
const uint32_t FIRST_DATA_CLUSTER = 2;

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool hasText(const uint8_t* p, const char* text) {
    return std::memcmp(p, text, std::strlen(text)) == 0;
}

// pread until length bytes are in or the device ends; a short read fails.
bool readFully(int fd, uint8_t* buffer, size_t length, uint64_t offset) {
    size_t done = 0;
    while (done < length) {
        long n = CPlatformLayer::ReadDevice(fd, buffer + done, static_cast<unsigned int>(length - done),
                                            offset + done);
        if (n <= 0 || static_cast<unsigned long>(n) > length - done) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void setTypeVersion(device* dev, const char* version) {
    dev->type = "vfat";
    std::snprintf(dev->type_version, sizeof dev->type_version, "%s", version);
}

}  // namespace

device* open_dev(const std::string& path) {
    int fd = CPlatformLayer::OpenDevice(path, O_RDONLY | O_NONBLOCK);
    if (fd < 0) return nullptr;
    device* dev = new (std::nothrow) device();
    if (dev == nullptr) {
        CPlatformLayer::CloseDevice(fd);
        return nullptr;
    }
    dev->fd = fd;
    return dev;
}

void close_dev(device* dev) {
    if (dev == nullptr) return;
    CPlatformLayer::CloseDevice(dev->fd);
    delete[] dev->sbbuf;
    delete[] dev->seekbuf;
    delete dev;
}

const uint8_t* get_buffer(device* dev, uint64_t offset, size_t length, size_t* served) {
    if (served != nullptr) *served = 0;
    if (length > UINT64_MAX - offset) return nullptr;
    uint64_t end = offset + length;

    if (end <= SB_BUFFER_SIZE) {
        if (dev->sbbuf == nullptr) {
            dev->sbbuf = new (std::nothrow) uint8_t[SB_BUFFER_SIZE];
            if (dev->sbbuf == nullptr) return nullptr;
            dev->sbbuf_len = 0;
        }
        if (end > dev->sbbuf_len) {
            // Extend the start buffer from where it stopped.
            if (!readFully(dev->fd, dev->sbbuf + dev->sbbuf_len, static_cast<size_t>(end) - dev->sbbuf_len,
                           dev->sbbuf_len))
                return nullptr;
            dev->sbbuf_len = static_cast<size_t>(end);
        }
        if (served != nullptr) *served = length;
        return dev->sbbuf + offset;
    }

    if (length > SEEK_BUFFER_SIZE) length = SEEK_BUFFER_SIZE;
    if (dev->seekbuf == nullptr) {
        dev->seekbuf = new (std::nothrow) uint8_t[SEEK_BUFFER_SIZE];
        if (dev->seekbuf == nullptr) return nullptr;
        dev->seekbuf_len = 0;
    }
    bool cached = offset >= dev->seekbuf_off && offset + length <= dev->seekbuf_off + dev->seekbuf_len;
    if (!cached) {
        dev->seekbuf_len = 0;
        if (!readFully(dev->fd, dev->seekbuf, length, offset)) return nullptr;
        dev->seekbuf_off = offset;
        dev->seekbuf_len = length;
    }
    if (served != nullptr) *served = length;
    return dev->seekbuf + (offset - dev->seekbuf_off);
}

int getLabel(device* dev, uint64_t offset, const uint8_t** entry) {
    *entry = nullptr;
    const uint8_t* bs = get_buffer(dev, offset, 512);
    if (bs == nullptr) return -1;

    if (!(hasText(bs + 82, "MSWIN") || hasText(bs + 82, "FAT32   ") || hasText(bs + 54, "FAT16   ") ||
          hasText(bs + 54, "MSDOS") || hasText(bs + 54, "FAT12   ")))
        return 0;

    // Take every field now: the next read may reuse the buffer.
    const uint32_t sectorSize = le16(bs + 11);
    const uint32_t sectorsPerCluster = bs[13];
    const uint32_t reserved = le16(bs + 14);
    const uint32_t fatCount = bs[16];
    const uint32_t rootEntries = le16(bs + 17);
    uint32_t totalSectors = le16(bs + 19);
    if (totalSectors == 0) totalSectors = le32(bs + 32);
    uint32_t sectorsPerFat = le16(bs + 22);
    if (sectorsPerFat == 0) sectorsPerFat = le32(bs + 36);
    const uint32_t rootCluster = le32(bs + 44);

    if (sectorSize != 512 && sectorSize != 1024 && sectorSize != 2048 && sectorSize != 4096) return -1;
    // No volume has empty clusters; the cluster count would divide by it.
    if (sectorsPerCluster == 0) return -1;

    // The FAT area is kept to 16 bits, as the library always has: the
    // repository's partitions are far too small for it to matter.
    const uint16_t fatSize = static_cast<uint16_t>(sectorsPerFat * fatCount);
    const uint32_t rootStart = reserved + fatSize;
    const uint32_t dirSize = (rootEntries * FAT_DIR_ENTRY_SIZE + sectorSize - 1) / sectorSize;
    // A volume smaller than its own metadata has no data area to speak of.
    if (totalSectors < rootStart + dirSize) return -1;
    const uint32_t clusterCount = (totalSectors - dirSize - rootStart) / sectorsPerCluster;

    if (clusterCount <= 65524) {
        setTypeVersion(dev, clusterCount <= 4084 ? "FAT12" : "FAT16");
        size_t got = 0;
        const uint8_t* dir = get_buffer(dev, offset + static_cast<uint64_t>(rootStart) * sectorSize,
                                        rootEntries * FAT_DIR_ENTRY_SIZE, &got);
        if (dir == nullptr) return -1;
        // The last label entry before the end of the directory wins.
        for (size_t pos = 0; pos + FAT_DIR_ENTRY_SIZE <= got; pos += FAT_DIR_ENTRY_SIZE) {
            uint8_t attr = dir[pos + 11];
            if (attr == 0) break;
            if (attr == ATTR_VOLUME_ID) *entry = dir + pos;
        }
        return 0;
    }

    setTypeVersion(dev, "FAT32");
    // Clusters 2 .. clusterCount + 1 hold data; anything else in the chain
    // (end-of-chain and bad-cluster marks, values past the volume, the
    // reserved 0 and 1) ends the walk.
    const uint64_t lastCluster = static_cast<uint64_t>(clusterCount) + 1;
    const size_t clusterBytes = static_cast<size_t>(sectorsPerCluster) * sectorSize;
    uint32_t cluster = rootCluster;
    for (unsigned int n = 0; n < MAX_ROOT_CLUSTERS; ++n) {
        if (cluster < FIRST_DATA_CLUSTER || cluster > lastCluster) break;
        uint64_t clusterSector = static_cast<uint64_t>(cluster - FIRST_DATA_CLUSTER) * sectorsPerCluster + rootStart;
        size_t got = 0;
        const uint8_t* dir = get_buffer(dev, offset + clusterSector * sectorSize, clusterBytes, &got);
        if (dir == nullptr) break;
        // The first label entry wins.
        for (size_t pos = 0; pos + FAT_DIR_ENTRY_SIZE <= got; pos += FAT_DIR_ENTRY_SIZE) {
            uint8_t attr = dir[pos + 11];
            if (attr == 0) return 0;
            if (attr == ATTR_VOLUME_ID) {
                *entry = dir + pos;
                return 0;
            }
        }
        const uint8_t* next = get_buffer(
            dev, offset + static_cast<uint64_t>(reserved) * sectorSize + static_cast<uint64_t>(cluster) * 4, 4);
        if (next == nullptr) break;
        cluster = le32(next) & FAT32_ENTRY_MASK;
        if (cluster == 0) break;
    }
    return 0;
}

std::string CLinuxEnumerateDevices::getLabel(const std::string& path) {
    device* dev = open_dev(path);
    if (dev == nullptr) return std::string();
    const uint8_t* entry = nullptr;
    std::string label;
    if (::getLabel(dev, 0, &entry) == 0 && entry != nullptr) {
        // The name field is blank-padded; a NUL in a damaged entry ends it.
        size_t n = 0;
        while (n < FAT_LABEL_SIZE && entry[n] != 0) ++n;
        label.assign(reinterpret_cast<const char*>(entry), n);
    }
    close_dev(dev);
    return label;
}
