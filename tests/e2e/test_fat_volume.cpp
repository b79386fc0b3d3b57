// SPDX-License-Identifier: Apache-2.0
// The emulator reads partition images itself and appends to files in
// place: what it reads must be what mtools lists, and what it writes must
// leave an image that mtools reads and fsck.fat finds sound, on FAT12, 16
// and 32 alike.  A read-write mount carries its changes into the image.
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "EmulatorFixture.h"
#include "kaverPartInfo.h"
#include "secureKaver.h"
#include "zemt_emulator/Disks.h"
#include "zemt_emulator/FatImage.h"
#include "zemt_emulator/FatVolume.h"

namespace fs = std::filesystem;
using zemt_emu::FatVolume;
using zemt_emu::RunTool;

namespace {

struct Layout {
    const char* fat;
    long mib;
};
const Layout kLayouts[] = {{"12", 2}, {"16", 32}, {"32", 40}};

// Names mtools stores as upper- or lower-case short names, in code page
// 850, and with long names.
const char* const kNames[] = {"fw.bin", "FW2.BIN", "Mixed.Bin", "\xc3\xa9t\xc3\xa9.bin", "\xc3\x89T\xc3\x89.TXT",
                              "\xc3\xb1.txt", "\xc3\xb8re.bin", "a long name with spaces.txt", "[x].bin",
                              "\xe6\x97\xa5\xe6\x9c\xac.txt", "README"};

class FatVolumeTest : public EmulatorTest {
protected:
    std::string MakeImage(const Layout& layout) {
        std::string image = tempDir_ + "/fat" + layout.fat + ".img";
        fs::remove(image);
        std::ofstream(image).close();
        fs::resize_file(image, static_cast<std::uintmax_t>(layout.mib) << 20);
        EXPECT_EQ(RunTool({"mkfs.fat", "-F", layout.fat, "-n", "TEST", image}), 0);
        return image;
    }
    void Put(const std::string& image, const std::string& inner, const std::string& bytes) {
        std::string source = tempDir_ + "/source";
        std::ofstream(source, std::ios::binary) << bytes;
        ASSERT_EQ(RunTool({"mcopy", "-o", "-i", image, source, "::/" + zemt_emu::MtoolsNew(inner)}), 0) << inner;
    }
    // Every path of the image as mdir lists it ("/" after a folder).
    std::set<std::string> MtoolsTree(const std::string& image, const std::string& folder = "") {
        std::string listing;
        EXPECT_EQ(RunTool({"mdir", "-a", "-i", image, "::/" + zemt_emu::MtoolsExisting(folder) + (folder.empty() ? "" : "/")},
                          &listing),
                  0);
        std::set<std::string> paths;
        std::istringstream lines(listing);
        for (std::string line; std::getline(lines, line);) {
            zemt_emu::FatListing entry;
            if (!zemt_emu::ParseMdirLine(line, entry)) continue;
            std::string path = folder.empty() ? entry.name : folder + "/" + entry.name;
            paths.insert(path + (entry.directory ? "/" : ""));
            if (entry.directory)
                for (const std::string& inner : MtoolsTree(image, path)) paths.insert(inner);
        }
        return paths;
    }
    std::string CopiedOut(const FatVolume& volume, const FatVolume::Entry& entry) {
        std::string out = tempDir_ + "/out";
        int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        EXPECT_TRUE(volume.CopyOut(entry, fd)) << entry.name;
        close(fd);
        std::string bytes;
        zemt_emu::ReadWholeFile(out, bytes);
        return bytes;
    }
    bool Sound(const std::string& image) {
        std::string out;
        int status = RunTool({"fsck.fat", "-n", image}, &out);
        EXPECT_EQ(status, 0) << out;
        return status == 0;
    }
};

TEST_F(FatVolumeTest, ReadsTheTreeAndBytesMtoolsHolds) {
    Init();
    for (const Layout& layout : kLayouts) {
        SCOPED_TRACE(std::string("FAT") + layout.fat);
        std::string image = MakeImage(layout);
        ASSERT_EQ(RunTool({"mmd", "-i", image, "::/sub", "::/sub/Deeper"}), 0);
        std::map<std::string, std::string> files;
        for (const char* name : kNames) files[name] = std::string(name) + "\n";
        files["sub/Deeper/" + std::string(255, 'n')] = "";
        // A file whose clusters are not in one run: the gap a removed file left, then more.
        files["sub/a.bin"] = VaryingBytes(3000, 1);
        files["sub/big.bin"] = VaryingBytes(300000, 2);
        Put(image, "sub/gap.bin", VaryingBytes(5000, 3));
        for (const auto& f : files)
            if (f.first != "sub/big.bin") Put(image, f.first, f.second);
        ASSERT_EQ(RunTool({"mdel", "-i", image, "::/sub/gap.bin"}), 0);
        Put(image, "sub/big.bin", files["sub/big.bin"]);

        FatVolume volume;
        std::string error;
        ASSERT_TRUE(volume.Open(image, error)) << error;
        std::set<std::string> read;
        ASSERT_TRUE(volume.Walk([&](const std::string& path, const FatVolume::Entry& entry) {
            read.insert(path + (entry.directory ? "/" : ""));
            if (!entry.directory) {
                EXPECT_EQ(CopiedOut(volume, entry), files[path]) << path;
            }
        }));
        EXPECT_EQ(read, MtoolsTree(image));
        FatVolume::Entry found;
        EXPECT_TRUE(volume.Find("SUB/deeper", found) && found.directory) << "ASCII letters in any case";
        EXPECT_FALSE(volume.Find("sub/missing.bin", found));

        std::string listing;
        RunTool({"mdir", "-i", image, "::/"}, &listing);
        std::string free = std::to_string(volume.FreeClusters() * volume.ClusterBytes());
        std::string digits;
        for (char c : listing.substr(listing.rfind('\n', listing.rfind(" bytes free")) + 1))
            if (std::isdigit(static_cast<unsigned char>(c))) digits += c;
        EXPECT_EQ(digits, free) << listing;
    }
}

TEST_F(FatVolumeTest, AppendedBytesAndNameCasesAreWhatMtoolsAndFsckSee) {
    Init();
    for (const Layout& layout : kLayouts) {
        SCOPED_TRACE(std::string("FAT") + layout.fat);
        std::string image = MakeImage(layout);
        std::string expected;
        Put(image, "part.bin", "");  // no cluster yet
        Put(image, "between.bin", "x");
        const std::size_t chunks[] = {1, 700, 4096, 20000};
        for (std::size_t size : chunks) {
            std::string chunk = VaryingBytes(size, static_cast<unsigned>(size));
            std::ofstream(tempDir_ + "/chunk", std::ios::binary) << chunk;
            FatVolume volume;
            FatVolume::Entry entry;
            std::string error;
            ASSERT_TRUE(volume.Open(image, error, true) && volume.Find("part.bin", entry)) << error;
            int fd = open((tempDir_ + "/chunk").c_str(), O_RDONLY);
            ASSERT_TRUE(volume.Append(entry, fd, chunk.size()));
            close(fd);
            expected += chunk;
            // Another file's clusters in between, so the chain does not run on.
            Put(image, "between" + std::to_string(size) + ".bin", "y");
        }
        EXPECT_EQ(ImageFile(image, "/part.bin"), expected);
        EXPECT_TRUE(Sound(image));

        for (const char* name : {"fw.bin", "FW.TXT", "\xc3\xa9t\xc3\xa9.bin", "lower.BIN"}) {
            SCOPED_TRACE(name);
            Put(image, std::string(name) + ".zemt-partial", "moved\n");
            ASSERT_EQ(RunTool({"mmove", "-i", image, "::/" + std::string(name) + ".zemt-partial", "::/" + std::string(name)}), 0);
            FatVolume volume;
            FatVolume::Entry entry;
            std::string error;
            ASSERT_TRUE(volume.Open(image, error, true) && volume.Find(name, entry)) << error;
            EXPECT_TRUE(entry.name == name || volume.SetShortNameCase(entry, name));
            EXPECT_EQ(MtoolsTree(image).count(name), 1u);
        }
        EXPECT_FALSE([&] {
            FatVolume volume;
            FatVolume::Entry entry;
            std::string error;
            return volume.Open(image, error, true) && volume.Find("fw.bin", entry) &&
                   volume.SetShortNameCase(entry, "fW.bin");
        }()) << "no flags give a name of mixed case";
        EXPECT_TRUE(Sound(image));
    }
}

TEST_F(FatVolumeTest, AppendWithoutRoomChangesNothing) {
    Init();
    std::string image = MakeImage(kLayouts[0]);
    Put(image, "part.bin", "start");
    FatVolume volume;
    FatVolume::Entry entry;
    std::string error;
    ASSERT_TRUE(volume.Open(image, error, true) && volume.Find("part.bin", entry));
    std::ofstream(tempDir_ + "/chunk", std::ios::binary) << std::string(3 << 20, 'z');
    int fd = open((tempDir_ + "/chunk").c_str(), O_RDONLY);
    EXPECT_FALSE(volume.Append(entry, fd, 3 << 20));
    close(fd);
    EXPECT_EQ(ImageFile(image, "/part.bin"), "start");
    EXPECT_TRUE(Sound(image));
}

TEST_F(FatVolumeTest, AWriteBackCarriesEveryKindOfChangeAndKeepsTheRest) {
    Init();
    std::unique_ptr<secureKaver> kaver = Start();
    uint32_t granted = 0;
    ASSERT_TRUE(kaver->CreateDropBox("x", 4 << 20, &granted));
    std::string box = Image("dynamic-0.img");
    ASSERT_EQ(RunTool({"mmd", "-i", box, "::/old", "::/old/deep", "::/stay"}), 0);
    for (const char* inner : {"keep.bin", "change.bin", "gone.bin", "old/a.bin", "old/deep/b.bin", "stay/c.bin"})
        Put(box, inner, std::string(inner) + "\n");
    std::string out;
    auto run = [&](const std::string& line) {
        EXPECT_EQ(host_->RunCommandLine(line + " 2>&1", out, "system"), 0) << line << ": " << out;
    };
    ASSERT_TRUE(kaver->AttachPartition(0, kaverPartInfo[0].i_bitmap, 0)) << int(kaver->getZEMTError());
    run("rm -f /tmp/SECUPD/gone.bin");
    run("rm -rf /tmp/SECUPD/old");
    run("echo changed > /tmp/SECUPD/change.bin");
    run("mkdir -p /tmp/SECUPD/new/inner");
    run("echo new > /tmp/SECUPD/new/inner/n.bin");
    run("sync");
    EXPECT_EQ(ImageFile(box, "/new/inner/n.bin"), "new\n");
    run("echo again > /tmp/SECUPD/stay/c.bin");
    run("rm -f /tmp/SECUPD/new/inner/n.bin");
    ASSERT_TRUE(kaver->DetachPartition(0, kaverPartInfo[0].i_bitmap, 0, false));

    EXPECT_EQ(MtoolsTree(box), (std::set<std::string>{"change.bin", "keep.bin", "new/", "new/inner/", "stay/",
                                                       "stay/c.bin"}));
    EXPECT_EQ(ImageFile(box, "/keep.bin"), "keep.bin\n");
    EXPECT_EQ(ImageFile(box, "/change.bin"), "changed\n");
    EXPECT_EQ(ImageFile(box, "/stay/c.bin"), "again\n");
    EXPECT_TRUE(Sound(box));
}

}  // namespace
