/* SPDX-License-Identifier: Apache-2.0 */
#ifndef ZEMT_KAVERPARTINFO_H
#define ZEMT_KAVERPARTINFO_H

#include <stdint.h>

#include <string>

#include "zemt.h"

// ---- the partition catalogue ------------------------------------------------
// One row per repository partition id (0..256).  Static partitions carry
// the labels KAV001..KAV256; row 0 (dynPartSlot) tracks the attached drop
// box, whose label is dynDriveName.

enum epartType { partInvalid = 0, StaticPart = 1, DynamicPart = 2 };
typedef epartType partType;

enum epartFormat { formatInvalid = 0, FAT32 = 1, FAT16 = 2, Ext2 = 3, UnknownPart = 4 };
typedef epartFormat partFormat;

typedef uint16_t partId_t;

struct spartInfo {
    partId_t i_partid = 0;
    std::string i_image_name;
    partType i_partType = partInvalid;
    uint16_t i_mbSize = 0;
    std::string i_volumeLabel;
    partFormat i_partFormat = formatInvalid;
    bool i_bootable_thunking_sup = false;
    std::string i_platform;
    std::string i_mountPoint;
    // The partition's single bit in the controller's 16-bit bitmaps,
    // learned from the controller; 0 until then.
    uint16_t i_bitmap = 0;
    bool i_present = false;
    uint64_t i_space = 0;  // i_mbSize * ONE_MEG
    uint64_t i_used = 0;
    uint64_t i_avail = 0;
    errorInfoStr i_errorInfo = {0, 0};
};

// Built when the library is loaded; indexed by partition id.
extern ZEMT_API spartInfo kaverPartInfo[MaxPartInfoEntry];
// Default rows only; the drop box lives in kaverPartInfo[dynPartSlot].
extern ZEMT_API spartInfo kaverDynPartInfo[MaxPartInfoEntry];

#endif
