/* SPDX-License-Identifier: Apache-2.0 */
// The FAT volume-label probe behind CLinuxEnumerateDevices::getLabel.
// Library-internal: the device record and the probe steps are not exported.
#ifndef ZEMT_FAT_LABEL_PROBE_H
#define ZEMT_FAT_LABEL_PROBE_H

#include <stddef.h>
#include <stdint.h>

#include <string>

// Start of the device, read once per probe and reused (boot sector, FATs
// and the root directory of small volumes all lie in it).
const size_t SB_BUFFER_SIZE = 0x11000;
// Any read further out goes through this buffer and is cut to its size.
const size_t SEEK_BUFFER_SIZE = 0x1000;

const size_t FAT_DIR_ENTRY_SIZE = 32;
const size_t FAT_LABEL_SIZE = 11;

struct partition;

// One open block device being probed.
struct device {
    char lbl[64];
    std::string type;
    char type_version[32];
    partition* part;
    unsigned int partCnt;
    int fd;
    uint8_t* sbbuf;
    size_t sbbuf_len;
    uint8_t* seekbuf;
    uint64_t seekbuf_off;
    size_t seekbuf_len;
};

// Opens the device read-only and non-blocking; null when it cannot be
// opened.  Release with close_dev.
device* open_dev(const std::string& path);
void close_dev(device* dev);

// Bytes [offset, offset + length) of the device, or null on a failed or
// short read.  Reads outside the start buffer are cut to SEEK_BUFFER_SIZE
// bytes; *served (when given) receives how many bytes the result holds.
// The result stays valid until the next get_buffer call on the device.
const uint8_t* get_buffer(device* dev, uint64_t offset, size_t length, size_t* served = nullptr);

// Probes for a FAT file system at offset.  Returns -1 when the boot
// sector cannot be read or is unusable, 0 otherwise.  *entry points at the
// 32-byte root-directory entry holding the volume label, or is null when
// the device is not FAT or the root directory has no label entry.
int getLabel(device* dev, uint64_t offset, const uint8_t** entry);

#endif
