// SPDX-License-Identifier: Apache-2.0
// The FAT label probe against util-linux blkid on real file systems made
// by dosfstools and mtools: FAT12/16/32, logical sectors of 512 to 4096
// bytes, with and without a partition table, labels of 1 to 11
// characters, labels after long-name and deleted entries.  The images are
// sparse files in a temporary directory; the probe reads them through a
// test platform that maps device paths onto (file, offset) windows.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "../../fuzz/MemoryDevicePlatform.h"
#include "CLinuxEnumerateDevices.h"

namespace {

// ---- tools and files ------------------------------------------------------------

std::string findTool(const std::string& name) {
    std::string dirs = std::getenv("PATH") ? std::getenv("PATH") : "";
    dirs += ":/usr/sbin:/sbin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t colon = dirs.find(':', start);
        if (colon == std::string::npos) colon = dirs.size();
        std::string candidate = dirs.substr(start, colon - start) + "/" + name;
        if (colon > start && access(candidate.c_str(), X_OK) == 0) return candidate;
        start = colon + 1;
    }
    return "";
}

struct Tools {
    std::string mkfs, mformat, mlabel, mcopy, mdel, fatlabel, blkid;
    std::string missing;
    Tools() {
        auto need = [this](const char* n) {
            std::string path = findTool(n);
            if (path.empty()) missing += std::string(" ") + n;
            return path;
        };
        mkfs = need("mkfs.fat");
        mformat = need("mformat");
        mlabel = need("mlabel");
        mcopy = need("mcopy");
        mdel = need("mdel");
        fatlabel = need("fatlabel");
        blkid = need("blkid");
    }
};

const Tools& tools() {
    static Tools t;
    return t;
}

std::string quote(const std::string& s) { return "'" + s + "'"; }

// Runs a shell command; its output is kept for the failure message.
std::string run(const std::string& cmd, int* status = nullptr) {
    std::string out;
    FILE* pipe = popen((cmd + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << cmd;
        return out;
    }
    char buffer[512];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    int rc = pclose(pipe);
    if (status != nullptr)
        *status = rc;
    else
        EXPECT_EQ(rc, 0) << cmd << "\n" << out;
    return out;
}

std::string trimRight(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\n')) s.pop_back();
    return s;
}

// blkid's LABEL (or another tag) of the file system at offset; empty when
// there is none.
std::string blkid(const std::string& file, uint64_t offset = 0, const char* tag = "LABEL") {
    int status = 0;
    std::string cmd = tools().blkid + " -p -o value -s " + tag;
    if (offset != 0) cmd += " -O " + std::to_string(offset);
    std::string out = run(cmd + " " + quote(file), &status);
    return status == 0 ? trimRight(out) : "";
}

std::string probe(const std::string& file, uint64_t offset = 0, uint64_t length = 0) {
    MemoryDevicePlatform platform;
    platform.addFileWindow("/dev/sdk", file, offset, length);
    std::string label = CLinuxEnumerateDevices::getLabel("/dev/sdk");
    EXPECT_EQ(platform.openCount(), 0u);
    return label;
}

std::vector<uint8_t> readAt(const std::string& file, uint64_t offset, size_t length) {
    std::vector<uint8_t> bytes(length);
    int fd = open(file.c_str(), O_RDONLY);
    EXPECT_GE(fd, 0) << file;
    if (fd >= 0) {
        EXPECT_EQ(pread(fd, bytes.data(), length, off_t(offset)), ssize_t(length)) << file;
        close(fd);
    }
    return bytes;
}

void writeAt(const std::string& file, uint64_t offset, const void* data, size_t length) {
    int fd = open(file.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0) << file;
    EXPECT_EQ(pwrite(fd, data, length, off_t(offset)), ssize_t(length)) << file;
    close(fd);
}

void makeSparse(const std::string& file, uint64_t size) {
    int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << file;
    ASSERT_EQ(ftruncate(fd, off_t(size)), 0);
    close(fd);
}

class TempDir {
public:
    TempDir() {
        char templ[] = "/tmp/zemt-fat-XXXXXX";
        const char* made = mkdtemp(templ);
        path = made ? made : "";
    }
    ~TempDir() {
        if (!path.empty()) run("rm -rf " + quote(path));
    }
    std::string path;
};

// ---- the root directory of a valid image, read the simple way ------------------

uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// Byte offsets of every root-directory slot, in directory order.
std::vector<uint64_t> rootSlots(const std::string& file) {
    std::vector<uint8_t> bs = readAt(file, 0, 512);
    uint32_t ss = le16(&bs[11]), spc = bs[13], reserved = le16(&bs[14]), fats = bs[16];
    uint32_t rootEntries = le16(&bs[17]);
    uint32_t spf = le16(&bs[22]) ? le16(&bs[22]) : le32(&bs[36]);
    uint64_t rootStart = uint64_t(reserved + fats * spf) * ss;
    std::vector<uint64_t> slots;
    if (rootEntries != 0) {
        for (uint32_t i = 0; i < rootEntries; ++i) slots.push_back(rootStart + 32 * i);
        return slots;
    }
    for (uint32_t cluster = le32(&bs[44]); cluster >= 2 && cluster < 0x0FFFFFF7;) {
        uint64_t at = rootStart + uint64_t(cluster - 2) * spc * ss;
        for (uint32_t i = 0; i < spc * ss / 32; ++i) slots.push_back(at + 32 * i);
        cluster = le32(readAt(file, uint64_t(reserved) * ss + 4 * cluster, 4).data()) & 0x0FFFFFFF;
    }
    return slots;
}

// Writes a label entry into the first never-used root slot.
void appendLabelEntry(const std::string& file, const std::string& label) {
    for (uint64_t at : rootSlots(file)) {
        if (readAt(file, at, 1)[0] != 0) continue;
        uint8_t entry[32] = {0};
        std::memset(entry, ' ', 11);
        std::memcpy(entry, label.data(), label.size());
        entry[11] = 0x08;
        writeAt(file, at, entry, sizeof entry);
        return;
    }
    ADD_FAILURE() << "no free root slot in " << file;
}

// Turns the root directory's label entries into never-used slots.
void dropLabelEntries(const std::string& file) {
    for (uint64_t at : rootSlots(file)) {
        std::vector<uint8_t> e = readAt(file, at, 32);
        if (e[11] == 0x08) {
            uint8_t zero[32] = {0};
            writeAt(file, at, zero, sizeof zero);
        }
    }
}

// ---- building images -----------------------------------------------------------------

enum Labeller { Mkfs, Mformat, Mlabel, Fatlabel, ByteEdit, NoLabel };

struct Image {
    const char* what;
    int fat;          // 12, 16 or 32
    int sectorSize;   // logical sector size
    unsigned sizeKiB;
    const char* label;
    Labeller how;
    int clutter;      // long-named files made (every second one deleted) before labelling
};

// The 32 images the probe and blkid must agree on.
const Image kCorpus[] = {
    {"fat12 512", 12, 512, 1440, "KAV022", Mkfs, 0},
    {"fat12 1024", 12, 1024, 2048, "KAV001", Mkfs, 0},
    {"fat12 2048", 12, 2048, 4096, "K", Mkfs, 0},
    {"fat12 4096", 12, 4096, 8192, "ELEVENCHARS", Mkfs, 0},
    {"fat16 512", 16, 512, 4096, "SECUPD", Mkfs, 0},
    {"fat16 1024", 16, 1024, 8192, "KA", Mkfs, 0},
    {"fat16 2048", 16, 2048, 12288, "KAV", Mkfs, 0},
    {"fat16 4096", 16, 4096, 20480, "KAV2", Mkfs, 0},
    {"fat32 512", 32, 512, 34816, "KAV05", Mkfs, 0},
    {"fat32 1024", 32, 1024, 69632, "DATA_7", Mkfs, 0},
    {"fat32 2048", 32, 2048, 139264, "SEVEN77", Mkfs, 0},
    {"fat32 4096", 32, 4096, 276480, "EIGHT888", Mkfs, 0},
    {"fat12 mformat", 12, 512, 8192, "MFORMAT9", Mformat, 0},
    {"fat16 mformat", 16, 512, 16384, "MF16_LABEL", Mformat, 0},
    {"fat32 mformat", 32, 512, 40960, "MF32", Mformat, 0},
    {"fat12 2048 mformat", 12, 2048, 8192, "MF2K", Mformat, 0},
    {"fat12 mlabel", 12, 512, 1440, "NINE99999", Mlabel, 0},
    {"fat16 fatlabel", 16, 1024, 8192, "TEN1234567", Fatlabel, 0},
    {"fat32 fatlabel 4096", 32, 4096, 276480, "KAV256", Fatlabel, 0},
    {"fat12 after long names, mlabel", 12, 512, 1440, "AFTERLFN", Mlabel, 5},
    {"fat16 after long names, mlabel", 16, 2048, 12288, "AFTERLFN16", Mlabel, 5},
    {"fat32 after long names, mlabel", 32, 512, 34816, "AFTERLFN32", Mlabel, 5},
    {"fat12 after long names, fatlabel", 12, 4096, 8192, "FL12", Fatlabel, 4},
    {"fat32 after long names, fatlabel", 32, 1024, 69632, "FL32", Fatlabel, 4},
    {"fat12 label slot after long names", 12, 512, 1440, "EDITED", ByteEdit, 5},
    {"fat16 label slot after long names", 16, 512, 4096, "EDITED16", ByteEdit, 6},
    {"fat32 label slot in second cluster", 32, 512, 34816, "EDITED32", ByteEdit, 6},
    {"fat32 4096 label slot after long names", 32, 4096, 276480, "E4K", ByteEdit, 3},
    {"fat12 no label", 12, 512, 1440, "", NoLabel, 0},
    {"fat32 no label", 32, 512, 34816, "", NoLabel, 2},
    {"fat16 label with digits only", 16, 512, 4096, "12345678901", Mkfs, 0},
    {"fat12 label with punctuation", 12, 1024, 2048, "A-B_C!D#", Mkfs, 0},
};

class FatImages : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tools().missing.empty())
            << "tools needed to build FAT images are missing:" << tools().missing
            << " (scripts/setup.sh installs dosfstools, mtools and util-linux)";
        ASSERT_FALSE(dir.path.empty());
        setenv("MTOOLS_SKIP_CHECK", "1", 1);
        writeAt(dir.path + "/payload.txt", 0, "payload\n", 8);
    }

    std::string build(const Image& img, int index) {
        std::string file = dir.path + "/img" + std::to_string(index) + ".img";
        uint64_t bytes = uint64_t(img.sizeKiB) * 1024;
        makeSparse(file, bytes);
        std::string label = img.how == Mkfs ? " -n " + quote(img.label) : "";
        if (img.how == Mformat) {
            uint64_t sectors = bytes / img.sectorSize;
            run(tools().mformat + " -i " + quote(file) + (img.fat == 32 ? " -F" : "") +
                " -T " + std::to_string(sectors) + " -M " + std::to_string(img.sectorSize) +
                " -h 2 -s 32 -v " + quote(img.label) + " ::");
        } else {
            // One sector per cluster keeps the FAT16 and FAT32 minimum sizes small.
            run(tools().mkfs + " -F " + std::to_string(img.fat) + " -S " + std::to_string(img.sectorSize) +
                " -s 1" + label + " " + quote(file));
        }
        for (int i = 1; i <= img.clutter; ++i)
            run(tools().mcopy + " -i " + quote(file) + " " + quote(dir.path + "/payload.txt") +
                " " + quote("::A rather long file name, number " + std::to_string(i) + ".txt"));
        for (int i = 2; i <= img.clutter; i += 2)
            run(tools().mdel + " -i " + quote(file) + " " +
                quote("::A rather long file name, number " + std::to_string(i) + ".txt"));
        if (img.how == Mlabel) run(tools().mlabel + " -i " + quote(file) + " " + quote(std::string("::") + img.label));
        if (img.how == Fatlabel) run(tools().fatlabel + " " + quote(file) + " " + quote(img.label));
        if (img.how == ByteEdit) appendLabelEntry(file, img.label);
        return file;
    }

    TempDir dir;
};

TEST_F(FatImages, ProbeAgreesWithBlkid) {
    int index = 0;
    for (const Image& img : kCorpus) {
        SCOPED_TRACE(img.what);
        std::string file = build(img, index++);
        std::string expected = blkid(file);
        // blkid reads the labels the tools wrote; the probe must find the same.
        EXPECT_EQ(expected, img.label);
        std::string label = probe(file);
        if (!label.empty()) {
            EXPECT_EQ(label.size(), 11u) << '"' << label << '"';
        }
        EXPECT_EQ(trimRight(label), expected);
        run("rm -f " + quote(file));
    }
}

// A disk with a partition table: the whole disk has no FAT label (its
// first sector is the partition table), partition 1 has the label.
TEST_F(FatImages, PartitionTable) {
    const Image parts[] = {
        {"fat12 in partition", 12, 512, 1440, "PART12", Mkfs, 0},
        {"fat16 in partition", 16, 512, 4096, "KAV022", Fatlabel, 3},
        {"fat32 in partition", 32, 512, 34816, "PART32", Mkfs, 0},
        {"fat16 4096 in partition", 16, 4096, 20480, "P4K", Mlabel, 0},
    };
    const uint64_t start = 1048576;
    int index = 100;
    for (const Image& img : parts) {
        SCOPED_TRACE(img.what);
        std::string fs = build(img, index);
        std::string disk = dir.path + "/disk" + std::to_string(index++) + ".img";
        uint64_t size = uint64_t(img.sizeKiB) * 1024;
        makeSparse(disk, start + size);
        uint8_t mbr[512] = {0};
        mbr[446 + 4] = img.fat == 32 ? 0x0C : img.fat == 16 ? 0x06 : 0x01;
        uint32_t lba = uint32_t(start / 512), count = uint32_t(size / 512);
        std::memcpy(mbr + 446 + 8, &lba, 4);
        std::memcpy(mbr + 446 + 12, &count, 4);
        mbr[510] = 0x55;
        mbr[511] = 0xAA;
        writeAt(disk, 0, mbr, sizeof mbr);
        // Copy only the blocks that hold something, so the disk stays sparse.
        for (uint64_t at = 0; at < size; at += 65536) {
            std::vector<uint8_t> block = readAt(fs, at, size_t(std::min<uint64_t>(65536, size - at)));
            for (uint8_t b : block) {
                if (b != 0) {
                    writeAt(disk, start + at, block.data(), block.size());
                    break;
                }
            }
        }

        EXPECT_EQ(blkid(disk, 0, "PTTYPE"), "dos");
        EXPECT_EQ(blkid(disk), "");
        EXPECT_EQ(probe(disk), "");
        EXPECT_EQ(blkid(disk, start), img.label);
        EXPECT_EQ(trimRight(probe(disk, start, size)), img.label);
        run("rm -f " + quote(fs) + " " + quote(disk));
    }
}

// Where the library's rule is its own: the answers below are the
// library's, whatever blkid says.
TEST_F(FatImages, LibraryRulesWhereBlkidMayDiffer) {
    // Two label entries: FAT12/16 take the later one, FAT32 the first.
    // (blkid takes the first in all three.)
    const struct {
        Image img;
        const char* library;
    } twoLabels[] = {
        {{"fat12 two labels", 12, 512, 1440, "FIRST", Mkfs, 2}, "SECOND"},
        {{"fat16 two labels", 16, 1024, 8192, "FIRST", Mkfs, 0}, "SECOND"},
        {{"fat32 two labels", 32, 512, 34816, "FIRST", Mkfs, 2}, "FIRST"},
    };
    int index = 200;
    for (const auto& c : twoLabels) {
        SCOPED_TRACE(c.img.what);
        std::string file = build(c.img, index++);
        appendLabelEntry(file, "SECOND");
        EXPECT_EQ(trimRight(probe(file)), c.library) << "blkid says " << blkid(file);
    }

    // A label only in the boot sector is no label for the library.
    const Image bootOnly[] = {
        {"fat12 boot-sector label only", 12, 512, 1440, "BOOTLBL", Mkfs, 0},
        {"fat32 boot-sector label only", 32, 2048, 139264, "BOOTLBL32", Mkfs, 0},
    };
    for (const Image& img : bootOnly) {
        SCOPED_TRACE(img.what);
        std::string file = build(img, index++);
        dropLabelEntries(file);
        EXPECT_EQ(blkid(file, 0, "LABEL_FATBOOT"), img.label);
        EXPECT_EQ(probe(file), "") << "blkid says " << blkid(file);
    }
}

}  // namespace
