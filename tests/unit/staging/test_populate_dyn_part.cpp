// SPDX-License-Identifier: Apache-2.0
// Filling a drop box: copy commands (ordinary and hostile names), the size
// rule, passes with whole files and chunks, full devices.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "KaverTest.h"
#include "md5wrapper.h"

namespace {

const uint32_t MiB = 1048576;

class PopulateTest : public KaverTest {
protected:
    void SetUp() override {
        KaverTest::SetUp();
        enableDebugLog();
        build();
        box = cwd->file("box") + "/";
        std::filesystem::create_directory(box);
        ASSERT_TRUE(kaver->StartCopyFile());
    }
    void TearDown() override {
        eps = ONE_MEG;
        KaverTest::TearDown();
    }

    // A source file of `size` bytes whose bytes depend on their offset.
    std::string source(const std::string& name, uint32_t size) {
        std::string bytes(size, '\0');
        for (uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 4096) & 0xFF);
        writeFile(cwd->file(name), bytes);
        return cwd->file(name);
    }
    std::string doc() const { return xml.str(); }

    std::string box;
    std::ostringstream xml;
};

TEST_F(PopulateTest, CopyCommandsKeepTheirTextForOrdinaryNames) {
    struct Row {
        exmlMode op;
        const char* dst;
        const char* src;
        std::vector<std::string> commands;
    };
    const Row rows[] = {
        {filecopy, "KAV022/fw.bin", "/pkg/fw.bin", {"/bin/cp /pkg/fw.bin /tmp/SECUPD/fw.bin > /dev/null"}},
        {filecopy,
         "KAV022/a/b/fw.bin",
         "/pkg/fw.bin",
         {"mkdir /tmp/SECUPD/a > /dev/null 2>&1", "mkdir /tmp/SECUPD/a/b > /dev/null 2>&1",
          "/bin/cp /pkg/fw.bin /tmp/SECUPD/a/b/fw.bin > /dev/null"}},
        {dirmake, "KAV022/x", "", {"/bin/mkdir -p /tmp/SECUPD/x > /dev/null 2>&1"}},
        {signedunzip, "KAV022/p.zip", "p.zip", {"/bin/cp p.zip /tmp/SECUPD/p.zip > /dev/null"}},
        {ssib, "", "/pkg/tasks/t.xml", {"/bin/cp /pkg/tasks/t.xml /tmp/SECUPD/ > /dev/null"}},
        {filemove, "KAV022/x", "KAV022/y", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.dst);
        platform.commands.clear();
        EXPECT_EQ(doCopy("/tmp/SECUPD/", row.dst, row.src, row.op), 0);
        EXPECT_EQ(platform.commands, row.commands);
    }
    platform.defaultExitStatus = 256;
    EXPECT_EQ(doCopy("/tmp/SECUPD/", "KAV022/a/f", "/f", filecopy), 256) << "the copy command's result";
}

TEST_F(PopulateTest, HostileNamesAreOneQuotedWordOrRefused) {
    struct Row {
        const char* dst;
        const char* src;
        const char* command;  // null: refused, nothing runs
    };
    const Row rows[] = {
        {"KAV022/my fw.bin", "/pkg/my fw.bin", "/bin/cp '/pkg/my fw.bin' '/tmp/SECUPD/my fw.bin' > /dev/null"},
        {"KAV022/x", "/pkg/a;rm -rf ~", "/bin/cp '/pkg/a;rm -rf ~' /tmp/SECUPD/x > /dev/null"},
        {"KAV022/$(reboot)", "/p/`id`", "/bin/cp '/p/`id`' '/tmp/SECUPD/$(reboot)' > /dev/null"},
        {"KAV022/it's", "/p/*", "/bin/cp '/p/*' '/tmp/SECUPD/it'\\''s' > /dev/null"},
        {"KAV022/n\nl", "-rf", "/bin/cp ./-rf '/tmp/SECUPD/n\nl' > /dev/null"},
        {"KAV022/-x", "/p/\"q\"", "/bin/cp '/p/\"q\"' /tmp/SECUPD/-x > /dev/null"},
        {"KAV022/../../etc/passwd", "/p/f", nullptr},
        {"KAV022//etc/passwd", "/p/f", nullptr},
        {"KAV022/a/..", "/p/f", nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.dst);
        platform.commands.clear();
        const int rc = doCopy("/tmp/SECUPD/", row.dst, row.src, filecopy);
        if (row.command == nullptr) {
            EXPECT_LT(rc, 0);
            EXPECT_TRUE(platform.commands.empty());
        } else {
            EXPECT_EQ(rc, 0);
            EXPECT_EQ(platform.commands, (std::vector<std::string>{row.command}));
        }
    }
    // The quoted target reaches a real shell as exactly the name it stands for.
    platform.commands.clear();
    const std::string hostile = "d ir/$(x)`y`'z'*;\n";
    ASSERT_EQ(doCopy("/tmp/SECUPD/", "KAV022/" + hostile, "/s", filecopy), 0);
    const std::string cp = platform.commands.at(1);
    const std::string word = cp.substr(11, cp.size() - 11 - 12);  // between "/bin/cp /s " and " > /dev/null"
    std::string echoed;
    FILE* sh = popen(("printf %s " + word).c_str(), "r");
    ASSERT_NE(sh, nullptr);
    char buf[256];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, sh)) > 0) echoed.append(buf, n);
    pclose(sh);
    EXPECT_EQ(echoed, "/tmp/SECUPD/" + hostile);
}

TEST_F(PopulateTest, PayloadSizeRule) {
    struct Row {
        std::vector<std::pair<exmlMode, uint32_t>> entries;
        uint32_t expected;
    };
    const Row rows[] = {
        {{{filecopy, 10}}, 65536 + MiB},
        {{{filecopy, 65536}, {filecopy, 1}}, 3 * 32768 + MiB},
        {{{filecopy, 3 * 32768}}, 3 * 32768 + MiB},
        {{{filecopy, 40000}, {dirmake, 999999}, {ssib, 999999}, {filecopy, 30000}}, 3 * 32768 + MiB},
        {{{signedunzip, 10}}, 65536 + 5 * MiB},
        {{}, 65536 + MiB},
    };
    for (const Row& row : rows) {
        kaver->FileList.clear();
        for (const auto& e : row.entries) {
            cfgEntry entry;
            entry.mode = e.first;
            entry.fileSize = static_cast<int32_t>(e.second);
            kaver->FileList.push_back(entry);
        }
        uint32_t size = 0;
        kaver->CalculateAndAdjustPayloadSize(size);
        EXPECT_EQ(size, row.expected);
    }
}

// With a 3 MiB drop box a 5 MiB file travels as chunks of 2, 2 and 1 MiB;
// the small file before it fills the first pass on its own, the dirmake
// after it shares the last pass with the last chunk's successor.  The
// chunks are joined under a temporary name; only the pass with the last
// chunk replaces the stored file with it.
TEST_F(PopulateTest, LargeFileIsCutIntoChunksAcrossPasses) {
    const std::string small = source("small.bin", 1500000);
    const std::string big = source("big.bin", 5 * MiB);
    ASSERT_TRUE(kaver->AddFile(small, "KAV022/s.bin", filecopy));
    ASSERT_TRUE(kaver->AddFile(big, "KAV022/fw/big.bin", filecopy));
    ASSERT_TRUE(kaver->AddFile("", "KAV022/later", dirmake));
    ASSERT_TRUE(kaver->AddFile(small, "KAV022/y", fileappend));
    const std::string bigBytes = readFile(big);

    struct Pass {
        uint32_t start;
        std::string chunk;      // "" : no chunk this pass
        uint32_t chunkSize;
        const char* chunkMode;
    };
    // Pass 1: the small file leaves 1.5 MiB, 0.5 MiB after the margin: the
    // first chunk is cut to that, so it still fits on the device.
    const uint32_t firstChunk = 3 * MiB - 1500000 - MiB;
    const Pass passes[] = {
        {1, "FileChunk0", firstChunk, "filecopy"},
        {1, "FileChunk1", 2 * MiB, "fileappend"},
        {1, "FileChunk2", 2 * MiB, "fileappend"},
        {2, "FileChunk3", 5 * MiB - firstChunk - 4 * MiB, "fileappend"},
        {4, "", 0, nullptr},
    };
    md5wrapper md5;
    std::string joined;
    uint32_t start = 0;
    for (const Pass& pass : passes) {
        SCOPED_TRACE(pass.chunk);
        xml.str("");
        platform.commands.clear();
        ASSERT_TRUE(kaver->populateDynPart(box, &xml, start, 3 * MiB));
        EXPECT_EQ(start, pass.start);
        if (!pass.chunk.empty()) {
            const std::string bytes = readFile(box + pass.chunk);
            EXPECT_EQ(bytes.size(), pass.chunkSize);
            joined += bytes;
            const std::string chunkEntry = "\t<File order=\"1\"><Hash>" + md5.getHashFromFile(box + pass.chunk) +
                                           "</Hash><Source>" + pass.chunk +
                                           "</Source><Destination>KAV022/fw/big.bin.zemt-partial</Destination><Mode>" +
                                           pass.chunkMode + "</Mode><Algorithm>MD5</Algorithm>\n</File>\n";
            const bool last = pass.start == 2;
            const std::string placing =
                "\t<File order=\"1\"><Hash></Hash><Destination>KAV022/fw/big.bin</Destination>\n"
                "<Mode>filedelete</Mode>\n<Algorithm>MD5</Algorithm>\n</File>\n"
                "\t<File order=\"1\"><Hash></Hash><SourceKAVER>KAV022/fw/big.bin.zemt-partial</SourceKAVER>\n"
                "<Destination>KAV022/fw/big.bin</Destination>\n<Mode>filemove</Mode>\n<Algorithm>MD5</Algorithm>\n"
                "</File>\n";
            const std::string::size_type at = doc().find(chunkEntry);
            ASSERT_NE(at, std::string::npos) << doc();
            EXPECT_EQ(doc().substr(at), chunkEntry + (last ? placing : "")) << "the pass ends with the chunk";
            EXPECT_TRUE(std::find(platform.commands.begin(), platform.commands.end(), "sync") !=
                        platform.commands.end());
        }
    }
    EXPECT_EQ(joined, bigBytes) << "the chunks join to the file";
    EXPECT_EQ(kaver->FileList[1].processed, 1);
    EXPECT_EQ(kaver->FileList[1].loc, static_cast<int32_t>(5 * MiB));
    EXPECT_TRUE(logHasInOrder(log(), {"FileChunk0", "Last Split File Chunk", "Split File: Chunk FileChunk3",
                                      "dirmake", "fileappend ignored"}));
}

// Whatever fits in one pass keeps its entries exactly: no temporary name,
// no extra delete or move.
TEST_F(PopulateTest, OnePassEntriesAreUnchanged) {
    const std::string a = source("a.bin", 1000);
    ASSERT_TRUE(kaver->AddFile(a, "KAV022/fw/a.bin", filecopy));
    ASSERT_TRUE(kaver->AddFile("", "KAV022/fw/sub", dirmake));
    ASSERT_TRUE(kaver->AddFile("KAV022/fw/old.bin", "KAV022/fw/older.bin", filemove));
    ASSERT_TRUE(kaver->DeleteKaverFile("KAV022/fw/gone.bin"));
    uint32_t start = 0;
    ASSERT_TRUE(kaver->populateDynPart(box, &xml, start, 3 * MiB));
    EXPECT_EQ(start, 4u);
    EXPECT_EQ(doc(), "\t<File order=\"1\"><Hash>" + md5wrapper().getHashFromFile(a) +
                         "</Hash><Source>fw/a.bin</Source><Destination>KAV022/fw/a.bin</Destination>"
                         "<Mode>filecopy</Mode><Algorithm>MD5</Algorithm>\n</File>\n"
                         "\t<File order=\"2\"><Hash></Hash><Destination>KAV022/fw/sub</Destination>"
                         "<Mode>dirmake</Mode>\n<Algorithm>MD5</Algorithm>\n</File>\n"
                         "\t<File order=\"3\"><Hash></Hash><SourceKAVER>KAV022/fw/old.bin</SourceKAVER>\n"
                         "<Destination>KAV022/fw/older.bin</Destination>\n<Mode>filemove</Mode>\n"
                         "<Algorithm>MD5</Algorithm>\n</File>\n"
                         "\t<File order=\"5\"><Hash></Hash><Destination>KAV022/fw/gone.bin</Destination>\n"
                         "<Mode>filedelete</Mode>\n<Algorithm>MD5</Algorithm>\n</File>\n");
}

TEST_F(PopulateTest, FileOfExactlyTheRoomIsCopiedWholeAndOneTooBigWaits) {
    const std::string a = source("a.bin", 2 * MiB);
    const std::string b = source("b.bin", 10);
    ASSERT_TRUE(kaver->AddFile(a, "KAV022/a.bin", filecopy));
    ASSERT_TRUE(kaver->AddFile(b, "KAV022/b.bin", filecopy));
    uint32_t start = 0;
    ASSERT_TRUE(kaver->populateDynPart(box, &xml, start, 3 * MiB));
    EXPECT_EQ(start, 1u) << "b waits: no margin left";
    EXPECT_EQ(platform.commands, (std::vector<std::string>{"/bin/cp " + a + " " + box + "a.bin > /dev/null"}));
    EXPECT_FALSE(fileExists(box + "FileChunk0"));
    EXPECT_TRUE(logHasInOrder(log(), {"filecopy", "FileSize > AvailableSpace"}));
}

TEST_F(PopulateTest, ChunkWithNoRoomLeftWaitsForAnEmptyPass) {
    const std::string a = source("a.bin", 2 * MiB - 100);
    const std::string big = source("big.bin", 3 * MiB);
    ASSERT_TRUE(kaver->AddFile(a, "KAV022/a.bin", filecopy));
    ASSERT_TRUE(kaver->AddFile(big, "KAV022/big.bin", filecopy));
    uint32_t start = 0;
    ASSERT_TRUE(kaver->populateDynPart(box, &xml, start, 3 * MiB));
    EXPECT_EQ(start, 1u);
    EXPECT_FALSE(fileExists(box + "FileChunk0"));
    ASSERT_TRUE(kaver->populateDynPart(box, &xml, start, 3 * MiB));
    EXPECT_EQ(readFile(box + "FileChunk0").size(), 2 * MiB);
}

TEST_F(PopulateTest, FullDeviceOrFailedCopyFailsThePass) {
    const std::string big = source("big.bin", 3 * MiB);
    ASSERT_TRUE(kaver->AddFile(big, "KAV022/big.bin", filecopy));
    ASSERT_EQ(symlink("/dev/full", (box + "FileChunk0").c_str()), 0);
    uint32_t start = 0;
    EXPECT_FALSE(kaver->populateDynPart(box, &xml, start, 3 * MiB)) << "ENOSPC on the chunk";
    EXPECT_EQ(start, 0u);
    EXPECT_TRUE(logHasInOrder(log(), {"Split File: Creating Chunk", "populateDynPart failed"}));
    EXPECT_EQ(std::string(zemtLastFailureReason()), "copying chunk 0 of " + big + " to KAV022/big.bin: cannot write " +
                                                        box + "FileChunk0: No space left on device");

    // A whole-file copy whose cp fails (a full device makes cp exit 1).
    ASSERT_TRUE(kaver->EndCopyFile());
    ASSERT_TRUE(kaver->StartCopyFile());
    const std::string small = source("small.bin", 100);
    ASSERT_TRUE(kaver->AddFile(small, "KAV022/small.bin", filecopy));
    platform.setExitStatus("/bin/cp " + small + " " + box + "small.bin > /dev/null", 256);
    EXPECT_FALSE(kaver->populateDynPart(box, &xml, start, 3 * MiB));
    EXPECT_EQ(kaver->FileList[0].processed, 0);
    EXPECT_EQ(std::string(zemtLastFailureReason()), "copying " + small + " to KAV022/small.bin: /bin/cp exited 1");
    EXPECT_FALSE(kaver->populateDynPartSarn(box, &xml, start, 3 * MiB));
    EXPECT_TRUE(logHasInOrder(log(), {"Entering populateDynPartSarn", "doCopy failed",
                                      "populateDynPart failed with error code 31", "Leaving populateDynPartSarn"}));
}

TEST_F(PopulateTest, MissingSourceChunkFailsThePass) {
    const std::string big = source("big.bin", 3 * MiB);
    ASSERT_TRUE(kaver->AddFile(big, "KAV022/big.bin", filecopy));
    std::remove(big.c_str());
    uint32_t start = 0;
    EXPECT_FALSE(kaver->populateDynPart(box, &xml, start, 3 * MiB));
    EXPECT_TRUE(logHasInOrder(log(), {"Could not read file", "populateDynPart failed"}));
    EXPECT_EQ(std::string(zemtLastFailureReason()),
              "copying chunk 0 of " + big + " to KAV022/big.bin: cannot read " + big + ": No such file or directory");
}

TEST_F(PopulateTest, SarnFillerHandlesOnlyCopiesAndDirectories) {
    const std::string f = source("f.bin", 10);
    ASSERT_TRUE(kaver->AddFile("", "KAV022/payload", dirmake));
    ASSERT_TRUE(kaver->AddFile("KAV022/a", "KAV022/b", filemove));
    ASSERT_TRUE(kaver->AddFile(f, "KAV022/payload/f.bin", filecopy));
    uint32_t start = 0;
    ASSERT_TRUE(kaver->populateDynPartSarn(box, &xml, start, 3 * MiB));
    EXPECT_EQ(start, 3u);
    EXPECT_EQ(doc().find("filemove"), std::string::npos);
    EXPECT_NE(doc().find("<Mode>dirmake</Mode>"), std::string::npos);
    EXPECT_NE(doc().find("<Source>payload/f.bin</Source>"), std::string::npos);
    EXPECT_EQ(kaver->FileList[1].processed, 0);
    EXPECT_TRUE(logHasInOrder(log(), {"Entering populateDynPartSarn", "dirmake", "Unhandled mode", "doCopy succeeded",
                                      "Leaving populateDynPartSarn"}));
}

TEST_F(PopulateTest, SignedPackageFillerCopiesPackageSignatureAndDescriptor) {
    writeFile(cwd->file("p.zip"), "zip");
    writeFile(cwd->file("p.zip.sig"), "sig");
    writeFile(cwd->file("package.xml"), "<x/>");
    ASSERT_TRUE(kaver->AddFile("p.zip", "KAV022/p.zip", signedunzip));
    std::snprintf(DynMountPoint, sizeof DynMountPoint, "%s", "/tmp/SECUPD/");
    ASSERT_TRUE(kaver->populateDynPart(&xml));
    EXPECT_EQ(platform.commands, (std::vector<std::string>{"/bin/cp p.zip /tmp/SECUPD/p.zip > /dev/null",
                                                           "/bin/cp p.zip.sig /tmp/SECUPD/p.zip.sig > /dev/null",
                                                           "/bin/cp package.xml /tmp/SECUPD/package.xml > /dev/null"}));
    EXPECT_NE(doc().find("<Source>p.zip</Source><Destination>KAV022/.</Destination><Mode>signedunzip</Mode>"),
              std::string::npos);

    platform.setExitStatus("/bin/cp p.zip.sig /tmp/SECUPD/p.zip.sig > /dev/null", -1);
    EXPECT_FALSE(kaver->populateDynPart(&xml));
    EXPECT_TRUE(logHasInOrder(log(), {"doCopy of Signature file failed", "populateDynPart failed"}));
}

}  // namespace
