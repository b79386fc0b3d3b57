// SPDX-License-Identifier: Apache-2.0
// The built-in partition catalogue and the label-to-id rule.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "kaverPartInfo.h"
#include "secureKaver.h"

namespace {

struct KnownRow {
    partId_t id;
    const char* image;
    uint16_t mb;
    const char* label;
    partFormat format;
    bool bootable;
    const char* platform;
    uint64_t space;
};

const KnownRow knownRows[] = {
    {0, "Reserved", 0, "SECUPD", formatInvalid, true, "N/A", 0},
    {1, "UEFI", 25, "KAV001", FAT32, true, "Orvo", 26214400},
    {2, "Service_Diags", 15, "KAV002", FAT16, true, "Orvo", 15728640},
    {3, "ELI", 100, "KAV003", Ext2, true, "Orvo", 104857600},
    {4, "Online_Diags", 35, "KAV004", FAT32, true, "Orvo", 36700160},
    {5, "WinPE", 200, "KAV005", FAT32, true, "Orvo", 209715200},
    {6, "Reserved", 0, "KAV006", formatInvalid, true, "N/A", 0},
    {20, "Reserved", 0, "KAV020", formatInvalid, true, "N/A", 0},
    {21, "DriverStore", 150, "KAV021", FAT32, false, "Orvo", 157286400},
    {22, "FirmwareImages", 160, "KAV022", FAT32, false, "Orvo", 167772160},
    {23, "QuorrenLog", 2, "KAV023", FAT32, false, "Orvo", 2097152},
    {24, "Reserved", 0, "KAV024", formatInvalid, false, "N/A", 0},
    {99, "Reserved", 0, "KAV099", formatInvalid, false, "N/A", 0},
    {256, "Reserved", 0, "KAV256", formatInvalid, false, "N/A", 0},
};

TEST(PartitionCatalogue, RowsWithImagesAndReservedNeighbours) {
    for (const KnownRow& k : knownRows) {
        SCOPED_TRACE("id " + std::to_string(k.id));
        const spartInfo& row = kaverPartInfo[k.id];
        EXPECT_EQ(row.i_image_name, k.image);
        EXPECT_EQ(row.i_mbSize, k.mb);
        EXPECT_EQ(row.i_volumeLabel, k.label);
        EXPECT_EQ(row.i_partFormat, k.format);
        EXPECT_EQ(row.i_bootable_thunking_sup, k.bootable);
        EXPECT_EQ(row.i_platform, k.platform);
        EXPECT_EQ(row.i_space, k.space);
    }
}

// What every row shares, and the reserved pattern for ids without an image.
TEST(PartitionCatalogue, EveryRowFollowsTheCommonPattern) {
    int ext2Rows = 0, fat16Rows = 0, imageRows = 0;
    for (int id = 0; id < MaxPartInfoEntry; ++id) {
        SCOPED_TRACE("id " + std::to_string(id));
        const spartInfo& row = kaverPartInfo[id];
        EXPECT_EQ(row.i_partid, id);
        EXPECT_EQ(row.i_partType, StaticPart);
        EXPECT_TRUE(row.i_mountPoint.empty());
        EXPECT_EQ(row.i_bitmap, emptyBitMap);
        EXPECT_FALSE(row.i_present);
        EXPECT_EQ(row.i_used, 0u);
        EXPECT_EQ(row.i_avail, 0u);
        EXPECT_EQ(row.i_errorInfo.lastErr, 0);
        EXPECT_EQ(row.i_errorInfo.errSubcode, 0);
        EXPECT_EQ(row.i_space, uint64_t(row.i_mbSize) * ONE_MEG);
        EXPECT_EQ(row.i_bootable_thunking_sup, id <= 20);
        if (id > 0) {
            char label[8];
            std::snprintf(label, sizeof label, "KAV%03d", id);
            EXPECT_EQ(row.i_volumeLabel, label);
        }
        if (row.i_image_name == "Reserved") {
            EXPECT_EQ(row.i_mbSize, 0);
            EXPECT_EQ(row.i_partFormat, formatInvalid);
            EXPECT_EQ(row.i_platform, "N/A");
        } else {
            ++imageRows;
        }
        ext2Rows += row.i_partFormat == Ext2;
        fat16Rows += row.i_partFormat == FAT16;
    }
    EXPECT_EQ(imageRows, 8);
    EXPECT_EQ(ext2Rows, 1);
    EXPECT_EQ(fat16Rows, 1);
    EXPECT_EQ(kaverPartInfo[dynPartSlot].i_volumeLabel, dynDriveName);
}

TEST(PartitionCatalogue, DynamicTableHoldsDefaultRows) {
    for (int id = 0; id < MaxPartInfoEntry; ++id) {
        const spartInfo& row = kaverDynPartInfo[id];
        EXPECT_EQ(row.i_partid, 0) << id;
        EXPECT_TRUE(row.i_image_name.empty() && row.i_volumeLabel.empty() && row.i_platform.empty()) << id;
        EXPECT_EQ(row.i_partType, partInvalid) << id;
        EXPECT_EQ(row.i_space, 0u) << id;
        EXPECT_FALSE(row.i_bootable_thunking_sup || row.i_present) << id;
    }
}

TEST(PartitionCatalogue, EnumerationValuesAndConstants) {
    EXPECT_EQ(partInvalid, 0);
    EXPECT_EQ(StaticPart, 1);
    EXPECT_EQ(DynamicPart, 2);
    EXPECT_EQ(formatInvalid, 0);
    EXPECT_EQ(FAT32, 1);
    EXPECT_EQ(FAT16, 2);
    EXPECT_EQ(Ext2, 3);
    EXPECT_EQ(UnknownPart, 4);
    EXPECT_EQ(sizeof(partId_t), 2u);
    EXPECT_EQ(MaxPartInfoEntry, 257);
    EXPECT_EQ(maxPartitions, 257);
    EXPECT_EQ(dynamicPartType, 0x80);
    EXPECT_EQ(READWRITE, 8);
}

TEST(PartitionCatalogue, PartIndexFromLabel) {
    const struct {
        const char* name;
        partId_t id;
    } cases[] = {
        {"KAV001", 1},   {"KAV022", 22},  {"kav022", 22},  {"KAV256", 256}, {"KAV999", 999},
        {"XYZ123", 123}, {"KAV022 ", 22}, {"KAV0221", 22}, {"SECUPD", 0},   {"KAV1", 0},
        {"KAV01", 0},    {"", 0},         {"KAV0A1", 0},   {"KAV 01", 0},   {"KAV-01", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(secureKaver::getPartIndex(c.name), c.id) << '"' << c.name << '"';
    // Every catalogue label leads back to its own row.
    for (int id = 1; id < MaxPartInfoEntry; ++id)
        EXPECT_EQ(secureKaver::getPartIndex(kaverPartInfo[id].i_volumeLabel), id);
}

}  // namespace
