// SPDX-License-Identifier: Apache-2.0
// The partition catalogue: what the library knows in advance about every
// repository partition, plus the label-to-id rule.
#include "kaverPartInfo.h"

#include <cstdio>

#include "secureKaver.h"

spartInfo kaverPartInfo[MaxPartInfoEntry];
spartInfo kaverDynPartInfo[MaxPartInfoEntry];

namespace {

// Ids 0..20 may be booted, 21..256 may not, whatever image they hold.
const partId_t lastBootableId = 20;

struct KnownPartition {
    partId_t id;
    const char* imageName;
    uint16_t mbSize;
    partFormat format;
};

// The partitions that hold a defined image; every other id is reserved.
const KnownPartition knownPartitions[] = {
    {1, "UEFI", 25, FAT32},
    {2, "Service_Diags", 15, FAT16},
    {3, "ELI", 100, Ext2},
    {4, "Online_Diags", 35, FAT32},
    {5, "WinPE", 200, FAT32},
    {21, "DriverStore", 150, FAT32},
    {22, "FirmwareImages", 160, FAT32},
    {23, "QuorrenLog", 2, FAT32},
};

// Row 0 carries the drop box's label, every other row "KAV" and its id.
std::string labelOf(partId_t id) {
    if (id == dynPartSlot) return dynDriveName;
    char label[12];
    std::snprintf(label, sizeof label, "KAV%03u", static_cast<unsigned>(id));
    return label;
}

void setRow(partId_t id, const char* imageName, uint16_t mbSize, partFormat format, const char* platform) {
    spartInfo& row = kaverPartInfo[id];
    row = spartInfo();
    row.i_partid = id;
    row.i_image_name = imageName;
    row.i_partType = StaticPart;
    row.i_mbSize = mbSize;
    row.i_volumeLabel = labelOf(id);
    row.i_partFormat = format;
    row.i_bootable_thunking_sup = id <= lastBootableId;
    row.i_platform = platform;
    row.i_space = static_cast<uint64_t>(mbSize) * ONE_MEG;
}

struct CatalogueBuilder {
    CatalogueBuilder() {
        for (int id = 0; id < MaxPartInfoEntry; ++id)
            setRow(static_cast<partId_t>(id), "Reserved", 0, formatInvalid, "N/A");
        for (const KnownPartition& p : knownPartitions) setRow(p.id, p.imageName, p.mbSize, p.format, "Orvo");
    }
};

// Defined after the tables, so it runs after their construction.
const CatalogueBuilder catalogueBuilder;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

partId_t secureKaver::getPartIndex(const std::string& name) {
    // The three-character prefix is deliberately not checked: "kav022" and
    // "KAV022" name the same partition.
    if (name.size() < 6 || !isDigit(name[3]) || !isDigit(name[4]) || !isDigit(name[5])) return 0;
    return static_cast<partId_t>(100 * (name[3] - '0') + 10 * (name[4] - '0') + (name[5] - '0'));
}
