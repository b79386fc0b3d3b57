// SPDX-License-Identifier: Apache-2.0
// The FAT volume-label probe on hand-built images: which entry counts as
// the label, and what a hostile or damaged device can and cannot make the
// probe do.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../../fuzz/MemoryDevicePlatform.h"
#include "CLinuxEnumerateDevices.h"

namespace {

const char* const kDevice = "/dev/sdq";

struct Geometry {
    uint16_t sectorSize;
    uint8_t sectorsPerCluster;
    uint16_t reserved;
    uint8_t fats;
    uint16_t rootEntries;
    uint32_t totalSectors;
    uint32_t sectorsPerFat;
    bool fat32;
};

// Root directory at sector 3 (1536), 16 entries, 1996 clusters.
const Geometry kFat12 = {512, 1, 1, 2, 16, 2000, 1, false};
// Same layout, 19996 clusters.
const Geometry kFat16 = {512, 1, 1, 2, 16, 20000, 1, false};
// One FAT of one sector at sector 2, data (cluster 2) from sector 3,
// 69997 clusters.
const Geometry kFat32 = {512, 1, 2, 1, 0, 70000, 1, true};

std::string name11(const char* text) {
    std::string n(text);
    n.resize(11, ' ');
    return n;
}

class FatImage {
public:
    FatImage(const Geometry& g, size_t size) : g_(g), bytes(size, 0) {
        uint8_t* bs = bytes.data();
        bs[0] = 0xEB;
        bs[1] = 0x3C;
        bs[2] = 0x90;
        std::memcpy(bs + 3, "mkfs.fat", 8);
        put16(11, g.sectorSize);
        bs[13] = g.sectorsPerCluster;
        put16(14, g.reserved);
        bs[16] = g.fats;
        put16(17, g.rootEntries);
        if (g.totalSectors < 0x10000)
            put16(19, static_cast<uint16_t>(g.totalSectors));
        else
            put32(32, g.totalSectors);
        bs[21] = 0xF8;
        if (g.fat32) {
            put32(36, g.sectorsPerFat);
            put32(44, 2);
            std::memcpy(bs + 71, "NO NAME    FAT32   ", 19);
            fatEntry(2, 0x0FFFFFFF);
        } else {
            put16(22, static_cast<uint16_t>(g.sectorsPerFat));
            std::memcpy(bs + 43, "NO NAME    FAT12   ", 19);
        }
        bs[510] = 0x55;
        bs[511] = 0xAA;
    }

    void signature(size_t at, const char* text) {
        std::memset(bytes.data() + 54, ' ', 8);
        std::memset(bytes.data() + 82, ' ', 8);
        std::memcpy(bytes.data() + at, text, std::strlen(text));
    }
    void put16(size_t at, uint16_t v) {
        bytes[at] = v & 0xFF;
        bytes[at + 1] = v >> 8;
    }
    void put32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = (v >> (8 * i)) & 0xFF;
    }
    uint64_t rootOffset() const {
        return (uint64_t(g_.reserved) + uint16_t(g_.sectorsPerFat * g_.fats)) * g_.sectorSize;
    }
    uint64_t clusterOffset(uint32_t cluster) const {
        return rootOffset() + uint64_t(cluster - 2) * g_.sectorsPerCluster * g_.sectorSize;
    }
    void entryAt(uint64_t at, const std::string& name, uint8_t attr) {
        ASSERT_LE(at + 32, bytes.size());
        std::memset(bytes.data() + at, 0, 32);
        std::memset(bytes.data() + at, ' ', 11);
        std::memcpy(bytes.data() + at, name.data(), std::min<size_t>(name.size(), 11));
        bytes[at + 11] = attr;
    }
    void rootEntry(int index, const std::string& name, uint8_t attr) { entryAt(rootOffset() + 32 * index, name, attr); }
    void clusterEntry(uint32_t cluster, int index, const std::string& name, uint8_t attr) {
        entryAt(clusterOffset(cluster) + 32 * index, name, attr);
    }
    void fatEntry(uint32_t cluster, uint32_t value) { put32(g_.reserved * g_.sectorSize + 4 * cluster, value); }
    void rootCluster(uint32_t cluster) { put32(44, cluster); }

    Geometry g_;
    std::vector<uint8_t> bytes;
};

const uint8_t kLabel = 0x08, kFile = 0x20, kLongName = 0x0F, kDir = 0x10;
const std::string kDeleted = "\xE5" "LDFILE TXT";

// One platform at a time: each Probe installs its own for its lifetime.
struct Probe {
    MemoryDevicePlatform platform;
    std::string label(const std::vector<uint8_t>& bytes) {
        platform.addDevice(kDevice, bytes);
        std::string result = CLinuxEnumerateDevices::getLabel(kDevice);
        EXPECT_EQ(platform.openCount(), 0u) << "device left open";
        return result;
    }
};

std::string labelOf(const std::vector<uint8_t>& bytes) { return Probe().label(bytes); }

TEST(FatLabelProbe, EveryRecognisedSignature) {
    const struct {
        size_t at;
        const char* text;
        bool fat;
    } cases[] = {
        {82, "MSWIN4.1", true}, {82, "FAT32   ", true}, {54, "FAT16   ", true}, {54, "MSDOS5.0", true},
        {54, "FAT12   ", true}, {54, "FAT1    ", false}, {82, "FAT32.  ", false}, {54, "fat12   ", false},
        {3, "FAT12   ", false},
    };
    for (const auto& c : cases) {
        FatImage img(kFat12, 4096);
        img.signature(c.at, c.text);
        img.rootEntry(0, "KAV022", kLabel);
        Probe p;
        EXPECT_EQ(p.label(img.bytes), c.fat ? name11("KAV022") : "") << c.text << " at " << c.at;
    }
}

TEST(FatLabelProbe, OpensReadOnlyNonBlockingThroughThePlatform) {
    FatImage img(kFat16, 4096);
    img.rootEntry(0, "SECUPD", kLabel);
    Probe p;
    EXPECT_EQ(p.label(img.bytes), "SECUPD     ");
    ASSERT_EQ(p.platform.openFlags.size(), 1u);
    EXPECT_EQ(p.platform.openFlags[0], O_RDONLY | O_NONBLOCK);
    EXPECT_EQ(p.platform.closes, 1);
    EXPECT_EQ(CLinuxEnumerateDevices::getLabel("/dev/not-there"), "");
}

// Which root-directory entry is the label, for the short-root layouts
// (FAT12/16: the last one before the end) and FAT32 (the first one).
TEST(FatLabelProbe, LabelEntryChoice) {
    struct Entry {
        std::string name;
        uint8_t attr;
    };
    const std::string none;
    const struct {
        const char* what;
        std::vector<Entry> entries;
        std::string fat16, fat32;
    } cases[] = {
        {"single label", {{"KAV001", kLabel}}, name11("KAV001"), name11("KAV001")},
        {"two labels", {{"FIRST", kLabel}, {"SECOND", kLabel}}, name11("SECOND"), name11("FIRST")},
        {"after long-name, deleted and dir entries",
         {{"Aa", kLongName}, {"LONGNA~1TXT", kFile}, {kDeleted, kFile}, {"SUBDIR", kDir}, {"AFTER", kLabel}},
         name11("AFTER"),
         name11("AFTER")},
        {"entry with attribute 0 ends the walk", {{"PLAIN   TXT", 0}, {"HIDDEN", kLabel}}, none, none},
        {"free slot ends the walk", {{"", 0}, {"HIDDEN", kLabel}}, none, none},
        {"label then a zero entry", {{"SEEN", kLabel}, {"", 0}, {"UNSEEN", kLabel}}, name11("SEEN"), name11("SEEN")},
        // The attribute alone decides: a deleted label entry still counts.
        {"deleted label entry",
         {{"\xE5" "LDLABEL", kLabel}, {"FILE    TXT", kFile}},
         name11("\xE5" "LDLABEL"),
         name11("\xE5" "LDLABEL")},
        {"label-plus-archive bits is not a label", {{"ODD", kLabel | kFile}}, none, none},
        {"NUL inside the name ends it", {{std::string("AB\0CD", 5), kLabel}}, "AB", "AB"},
        {"no entries at all", {}, none, none},
    };
    for (const auto& c : cases) {
        FatImage fat16(kFat16, 4096), fat32(kFat32, 4096);
        for (size_t i = 0; i < c.entries.size(); ++i) {
            fat16.rootEntry(int(i), c.entries[i].name, c.entries[i].attr);
            fat32.clusterEntry(2, int(i), c.entries[i].name, c.entries[i].attr);
        }
        EXPECT_EQ(labelOf(fat16.bytes), c.fat16) << c.what;
        EXPECT_EQ(labelOf(fat32.bytes), c.fat32) << c.what;
    }
}

TEST(FatLabelProbe, BootSectorLabelIsNeverConsulted) {
    FatImage fat12(kFat12, 4096), fat32(kFat32, 4096);
    std::memcpy(fat12.bytes.data() + 43, "BOOTONLY   ", 11);
    std::memcpy(fat32.bytes.data() + 71, "BOOTONLY   ", 11);
    fat12.rootEntry(0, "FILE    TXT", kFile);
    EXPECT_EQ(labelOf(fat12.bytes), "");
    EXPECT_EQ(labelOf(fat32.bytes), "");
    // The same images with the label also in the root directory.
    fat12.rootEntry(1, "BOOTONLY", kLabel);
    fat32.clusterEntry(2, 0, "BOOTONLY", kLabel);
    EXPECT_EQ(labelOf(fat12.bytes), name11("BOOTONLY"));
    EXPECT_EQ(labelOf(fat32.bytes), name11("BOOTONLY"));
}

TEST(FatLabelProbe, UnusableGeometryGivesNoLabel) {
    const struct {
        const char* what;
        size_t at;
        int size;
        uint32_t value;
    } cases[] = {
        {"sector size 0", 11, 2, 0},         {"sector size 256", 11, 2, 256},
        {"sector size 513", 11, 2, 513},     {"sector size 8192", 11, 2, 8192},
        {"no sectors per cluster", 13, 1, 0}, {"volume smaller than its FATs", 19, 2, 2},
        {"root directory past the volume", 17, 2, 0xFFFF},
    };
    for (const auto& c : cases) {
        FatImage img(kFat12, 4096);
        img.rootEntry(0, "KAV022", kLabel);
        if (c.size == 1)
            img.bytes[c.at] = uint8_t(c.value);
        else
            img.put16(c.at, uint16_t(c.value));
        Probe p;
        EXPECT_EQ(p.label(img.bytes), "") << c.what;
    }
}

TEST(FatLabelProbe, TruncatedDevices) {
    FatImage fat12(kFat12, 4096);
    fat12.rootEntry(0, "KAV022", kLabel);
    for (size_t size : {0, 100, 511, 1536 + 256}) {
        Probe p;
        EXPECT_EQ(p.label(std::vector<uint8_t>(fat12.bytes.begin(), fat12.bytes.begin() + size)), "") << size;
    }
    Probe whole;
    EXPECT_EQ(whole.label(std::vector<uint8_t>(fat12.bytes.begin(), fat12.bytes.begin() + 2048)), "KAV022     ");

    // FAT32 whose second root cluster lies past the end of the device.
    FatImage fat32(kFat32, 2048);
    for (int i = 0; i < 16; ++i) fat32.clusterEntry(2, i, "FILE    TXT", kFile);
    fat32.fatEntry(2, 40);
    Probe p32;
    EXPECT_EQ(p32.label(fat32.bytes), "");
}

// FAT32 root directories are followed cluster by cluster through the FAT.
TEST(FatLabelProbe, Fat32RootClusterChain) {
    auto chainImage = [](int clusters, int labelIn, uint32_t lastLink) {
        FatImage img(kFat32, 512 * (3 + 110));
        for (uint32_t c = 2; c < 2 + 110; ++c)
            for (int i = 0; i < 16; ++i) img.clusterEntry(c, i, "FILE    TXT", kFile);
        for (int n = 0; n < clusters; ++n) img.fatEntry(2 + n, n + 1 < clusters ? 3 + n : lastLink);
        if (labelIn > 0) img.clusterEntry(1 + labelIn, 15, "DEEP", kLabel);
        return img.bytes;
    };
    const struct {
        const char* what;
        int clusters, labelIn;
        uint32_t lastLink;
        const char* expected;
    } cases[] = {
        {"label in the second cluster", 2, 2, 0x0FFFFFFF, "DEEP"},
        {"label in the 99th cluster", 99, 99, 0x0FFFFFFF, "DEEP"},
        {"label in the 100th cluster is past the limit", 100, 100, 0x0FFFFFFF, ""},
        {"chain loops back to its start", 3, 0, 2, ""},
        {"chain loops onto itself", 1, 0, 2, ""},
        {"link to the reserved cluster 1", 2, 0, 1, ""},
        {"bad-cluster mark", 2, 0, 0x0FFFFFF7, ""},
        {"link past the volume's clusters", 2, 0, 69999, ""},
        {"free link ends the chain", 2, 0, 0, ""},
        // The top four bits of a FAT32 entry are not part of the link.
        {"top bits of the link ignored", 1, 2, 0xF0000003, "DEEP"},
    };
    for (const auto& c : cases) {
        Probe p;
        EXPECT_EQ(p.label(chainImage(c.clusters, c.labelIn, c.lastLink)), *c.expected ? name11(c.expected) : "")
            << c.what;
        // Two reads per cluster at most, whatever the chain does.
        EXPECT_LE(p.platform.reads, 2 + 2 * 99) << c.what;
    }

    FatImage start(kFat32, 4096);
    for (uint32_t root : {0u, 1u, 70000u, 0xFFFFFFFFu}) {
        start.rootCluster(root);
        Probe p;
        EXPECT_EQ(p.label(start.bytes), "") << root;
    }
}

// Reads outside the first 69632 bytes are cut to 4096: the probe then sees
// only the first 128 entries of a large cluster or root directory.
TEST(FatLabelProbe, ReadsBeyondTheStartBufferAreCut) {
    // 8 KiB clusters, root directory in cluster 12 at byte 83456.
    Geometry big = kFat32;
    big.sectorsPerCluster = 16;
    big.totalSectors = 2000000;
    for (int index : {0, 127, 128, 255}) {
        FatImage img(big, 100 * 1024);
        img.rootCluster(12);
        img.fatEntry(12, 0x0FFFFFFF);
        for (int i = 0; i < index; ++i) img.clusterEntry(12, i, "FILE    TXT", kFile);
        img.clusterEntry(12, index, "FAR", kLabel);
        Probe p;
        EXPECT_EQ(p.label(img.bytes), index < 128 ? name11("FAR") : "") << index;
        EXPECT_LE(p.platform.largestRead, 0x11000u);
    }
    // FAT16 root directory of 512 entries starting at byte 71168.
    Geometry far16 = kFat16;
    far16.reserved = 137;
    far16.rootEntries = 512;
    for (int index : {5, 127, 128}) {
        FatImage img(far16, 90 * 1024);
        for (int i = 0; i < index; ++i) img.rootEntry(i, "FILE    TXT", kFile);
        img.rootEntry(index, "FAR", kLabel);
        Probe p;
        EXPECT_EQ(p.label(img.bytes), index < 128 ? name11("FAR") : "") << index;
    }
    // The same directory inside the start buffer is read whole.
    Geometry near16 = far16;
    near16.reserved = 1;
    FatImage img(near16, 20 * 1024);
    for (int i = 0; i < 300; ++i) img.rootEntry(i, "FILE    TXT", kFile);
    img.rootEntry(300, "NEAR", kLabel);
    Probe p;
    EXPECT_EQ(p.label(img.bytes), name11("NEAR"));
}

// The FAT area (sectors per FAT times FATs) is a 16-bit quantity, so a
// FAT of 0x8000 sectors twice over puts the root directory right after the
// reserved sectors.
TEST(FatLabelProbe, FatAreaIsSixteenBits) {
    Geometry g = kFat16;
    g.sectorsPerFat = 0x8000;
    g.totalSectors = 60000;
    FatImage img(g, 4096);
    img.entryAt(512, "WRAPPED", kLabel);
    Probe p;
    EXPECT_EQ(p.label(img.bytes), name11("WRAPPED"));
}

}  // namespace

namespace {

// The fuzz target's seeds are real volumes; the probe must read their
// labels (a seed that no longer parses would leave the fuzzer blind).
TEST(FatLabelProbe, FuzzSeedsCarryTheirLabels) {
    std::string here = __FILE__;
    std::string corpus = here.substr(0, here.rfind("/unit/")) + "/fuzz/corpus/fat_label/";
    const struct {
        const char* file;
        const char* label;
    } seeds[] = {
        {"seed-fat12-512", "SEED12"},
        {"seed-fat12-2048-long-names", "SEED12LFN"},
        {"seed-fat16-512", "SEED16"},
        {"seed-fat32-512-two-clusters", "SEED32"},
    };
    for (const auto& s : seeds) {
        MemoryDevicePlatform platform;
        platform.addFileWindow(kDevice, corpus + s.file, 0);
        EXPECT_EQ(CLinuxEnumerateDevices::getLabel(kDevice), name11(s.label)) << s.file;
    }
}

}  // namespace
