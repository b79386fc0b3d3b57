// A mounted partition of the emulated host behaves like a vfat mount: what
// FAT cannot hold fails at the write that asks for it, read-only is
// read-only, and names travel exactly as written, through the update
// document's actions too.
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "EmulatorFixture.h"
#include "PlatformLayer.h"
#include "secureKaver.h"
#include "zemt_emulator/FatImage.h"

namespace fs = std::filesystem;

namespace {

class FatMountTest : public EmulatorTest {
protected:
    // A drop box of `bytes`, attached and mounted read-write on /tmp/SECUPD.
    std::unique_ptr<secureKaver> MountDropBox(uint32_t bytes) {
        std::unique_ptr<secureKaver> kaver = Start();
        uint32_t granted = 0;
        EXPECT_TRUE(kaver->CreateDropBox("SECUPD", bytes, &granted));
        EXPECT_TRUE(kaver->AttachPartition(0, kaverPartInfo[0].i_bitmap, 0)) << int(kaver->getZEMTError());
        return kaver;
    }

    // The library's general completer over a copy list of (source, destination)
    // pairs, as a program using the library stages them (the tool refuses
    // such names before it gets this far).
    bool StageWithLibrary(const std::vector<std::pair<std::string, std::string>>& files) {
        std::unique_ptr<secureKaver> kaver = Start();
        EXPECT_TRUE(kaver->StartCopyFile());
        for (const auto& f : files) EXPECT_TRUE(kaver->AddFile(workDir_ + "/" + f.first, f.second, filecopy)) << f.first;
        bool staged = kaver->CompleteCopyFile();
        kaver->EndCopyFile();
        return staged;
    }
    void Unmount(secureKaver& kaver) { EXPECT_TRUE(kaver.DetachPartition(0, kaverPartInfo[0].i_bitmap, 0, false)); }

    // errno of writing a file through the platform layer (0: written).
    int WriteHostFile(const std::string& path, const std::string& bytes) {
        errno = 0;
        FILE* file = CPlatformLayer::OpenHostFile(path, "wb");
        if (file == nullptr) return errno;
        bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() && std::fflush(file) == 0;
        int error = errno;
        std::fclose(file);
        return written ? 0 : error;
    }

    // A command's exit status and what it said.
    std::pair<int, std::string> Command(const std::string& line) {
        std::string out;
        int status = host_->RunCommandLine(line + " 2>&1", out, "system");
        return {status, out};
    }
};

TEST(FatImage, MdirLinesGiveTheStoredNames) {
    const struct {
        const char* line;
        bool entry;
        const char* name;
        bool directory;
    } cases[] = {
        {"fw       bin         2 2026-12-10  13:43 ", true, "fw.bin", false},
        {"\xc3\xa9t\xc3\xa9      bin         2 2026-12-10  13:43 ", true, "\xc3\xa9t\xc3\xa9.bin", false},
        {"\xc3\x89TE      BIN         2 2026-12-10  13:43  \xc3\xa9TE.bin", true, "\xc3\xa9TE.bin", false},
        {"_X_~1    BIN  60 000 000 2026-12-10  13:43  [x].bin", true, "[x].bin", false},
        {"ALONGN~1             4 2026-12-10  14:04  a long name 2026-12-10  13 43", true,
         "a long name 2026-12-10  13 43", false},
        {"sub          <DIR>     2026-12-10  13:43 ", true, "sub", true},
        {"README          12 2026-12-10  13:43 ", true, "README", false},
        {".            <DIR>     2026-12-10  13:43 ", false, "", false},
        {"..           <DIR>     2026-12-10  13:43 ", false, "", false},
        {" Volume in drive : is SECUPD     ", false, "", false},
        {"Directory for ::/fw", false, "", false},
        {"        2 files                  14 bytes", false, "", false},
        {"                          4 161 536 bytes free", false, "", false},
        {"No files", false, "", false},
    };
    for (const auto& c : cases) {
        zemt_emu::FatListing entry;
        ASSERT_EQ(zemt_emu::ParseMdirLine(c.line, entry), c.entry) << c.line;
        if (!c.entry) continue;
        EXPECT_EQ(entry.name, c.name) << c.line;
        EXPECT_EQ(entry.directory, c.directory) << c.line;
    }
}

TEST_F(FatMountTest, NamesFatCannotHoldFailTheStageAtOnceAndLeaveNothingBehind) {
    Init();
    WriteWorkFile("ok.bin", "fine\n");
    const char* names[] = {"a:b.bin", "q?.bin", "s*.bin", "l<.bin", "g>.bin", "p|.bin", "d\".bin", "b\\s.bin",
                           "c\x01.bin"};
    std::string kav022 = Image("KAV022.img");
    for (const char* name : names) {
        SCOPED_TRACE(name);
        WriteWorkFile(name, "payload\n");
        std::size_t from = Commands().size();
        std::size_t requestsFrom = Requests().size();
        EXPECT_FALSE(StageWithLibrary({{name, std::string("kav022/fw/") + name}}));
        // The copy into the mounted drop box is what failed, and no
        // document reached the controller.
        std::vector<LoggedCommand> commands = Commands();
        bool copyFailed = false;
        for (std::size_t i = from; i < commands.size(); ++i)
            if (commands[i].text.rfind("/bin/cp ", 0) == 0) copyFailed = commands[i].status == 1;
        EXPECT_TRUE(copyFailed);
        EXPECT_EQ(CountRequests({0xc0, 0xa2, 0x09}, requestsFrom), 0);
        ExpectNothingMounted("SECUPD");
        EXPECT_EQ(ControllerState("dynamic.0.units"), "");
    }
    ProcessResult r = RunZemt({"--emulator", stateDir_, "stage", "ok.bin", "--to", "KAV022/fw"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ImageFile(kav022, "/fw/ok.bin"), "fine\n");
    EXPECT_EQ(ImageFile(kav022, "/CANARY.TXT"), "canary of KAV022\n");
}

TEST_F(FatMountTest, TwoNamesThatDifferOnlyInCaseFailTheStageAtOnce) {
    Init();
    fs::create_directories(workDir_ + "/pkg");
    std::ofstream(workDir_ + "/pkg/FW.BIN") << "upper\n";
    std::ofstream(workDir_ + "/pkg/fw.bin") << "lower\n";
    EXPECT_FALSE(StageWithLibrary({{"pkg/FW.BIN", "kav022/pkg/FW.BIN"}, {"pkg/fw.bin", "kav022/pkg/fw.bin"}}));
    std::string log;
    for (const LoggedCommand& c : Commands())
        if (c.text.rfind("/bin/cp ", 0) == 0) log += std::to_string(c.status) + " " + c.text + "\n";
    EXPECT_NE(log.find("1 /bin/cp "), std::string::npos) << log;
    EXPECT_EQ(CountRequests({0xc0, 0xa2, 0x09}), 0);
    ExpectNothingMounted("SECUPD");
    EXPECT_FALSE(ImageHasDir(Image("KAV022.img"), "/pkg"));
}

TEST_F(FatMountTest, EveryWriteIntoAMountMeetsTheRulesOfFat) {
    Init();
    std::unique_ptr<secureKaver> kaver = MountDropBox(1048576);
    WriteWorkFile("src.bin", "source\n");
    ASSERT_EQ(WriteHostFile("/tmp/SECUPD/fw.bin", "lower\n"), 0);
    ASSERT_EQ(Command("mkdir /tmp/SECUPD/dir").first, 0);
    const struct {
        const char* what;
        std::function<int()> write;
        int error;
    } cases[] = {
        {"a name with a colon", [&] { return WriteHostFile("/tmp/SECUPD/a:b", "x"); }, EINVAL},
        {"a control character", [&] { return WriteHostFile("/tmp/SECUPD/a\tb", "x"); }, EINVAL},
        {"256 characters", [&] { return WriteHostFile("/tmp/SECUPD/" + std::string(256, 'n'), "x"); }, ENAMETOOLONG},
        {"the same name in another case", [&] { return WriteHostFile("/tmp/SECUPD/FW.Bin", "x"); }, EEXIST},
        {"a folder in another case", [&] { return Command("mkdir /tmp/SECUPD/DIR").first == 0 ? 0 : EEXIST; }, EEXIST},
        {"a link", [&] { return Command("ln -s /tmp/SECUPD/fw.bin /tmp/SECUPD/link").first == 0 ? 0 : EPERM; }, EPERM},
        {"the same name again", [&] { return WriteHostFile("/tmp/SECUPD/fw.bin", "rewritten\n"); }, 0},
        {"into a folder named in another case", [&] { return WriteHostFile("/tmp/SECUPD/DIR/in.bin", "in\n"); }, 0},
        {"255 characters", [&] { return WriteHostFile("/tmp/SECUPD/" + std::string(255, 'n'), "x"); }, 0},
        {"more than the partition holds", [&] { return WriteHostFile("/tmp/SECUPD/big.bin", std::string(2 << 20, 'x')); },
         ENOSPC},
    };
    for (const auto& c : cases) EXPECT_EQ(c.write(), c.error) << c.what;
    std::pair<int, std::string> cp = Command("cp src.bin /tmp/SECUPD/a:b");
    EXPECT_NE(cp.first, 0);
    EXPECT_NE(cp.second.find("cannot create regular file '/tmp/SECUPD/a:b': Invalid argument"), std::string::npos)
        << cp.second;
    // A name is found in any case of its letters, as on vfat.
    std::string text;
    EXPECT_TRUE(CPlatformLayer::ReadFileText("/tmp/SECUPD/FW.BIN", text, 100));
    EXPECT_EQ(text, "rewritten\n");
    EXPECT_TRUE(RootHas("/tmp/SECUPD/dir/in.bin"));
    EXPECT_LT(fs::file_size(InRoot("/tmp/SECUPD/big.bin")), 2u << 20) << "what fitted was written";

    // What the mount took, the partition holds after the unmount.
    CPlatformLayer::RemoveFile("/tmp/SECUPD/big.bin");
    Unmount(*kaver);
    std::string box = Image("dynamic-0.img");
    EXPECT_EQ(ImageFile(box, "/fw.bin"), "rewritten\n");
    EXPECT_EQ(ImageFile(box, "/dir/in.bin"), "in\n");
    EXPECT_EQ(ImageFile(box, "/" + std::string(255, 'n')), "x");
}

TEST_F(FatMountTest, AFullRootDirectoryRefusesTheNextNameAndAllEarlierOnesArrive) {
    Init();
    std::unique_ptr<secureKaver> kaver = MountDropBox(65536);
    zemt_emu::FatGeometry geometry;
    ASSERT_TRUE(zemt_emu::ReadFatGeometry(Image("dynamic-0.img"), 0, geometry));
    ASSERT_GT(geometry.rootEntries, 0) << "a small drop box has a fixed root directory";
    int made = 0;
    int error = 0;
    while (made < 1000 && (error = WriteHostFile("/tmp/SECUPD/f" + std::to_string(made) + ".bin", "")) == 0) ++made;
    EXPECT_EQ(error, ENOSPC);
    // Each lower-case name takes a long-name entry besides its own; the
    // label takes one.
    EXPECT_EQ(made, (geometry.rootEntries - 1) / 2);
    Unmount(*kaver);
    for (int i : {0, made - 1}) EXPECT_EQ(ImageFile(Image("dynamic-0.img"), "/f" + std::to_string(i) + ".bin"), "");
}

TEST_F(FatMountTest, AReadOnlyMountRefusesEveryWrite) {
    Init();
    WriteWorkFile("src.bin", "source\n");
    std::unique_ptr<secureKaver> kaver = Start();
    uint16_t bit = kaverPartInfo[22].i_bitmap;
    ASSERT_TRUE(kaver->AttachPartition(bit, 0, 22));
    ASSERT_TRUE(RootHas("/tmp/KAV022/CANARY.TXT"));
    const struct {
        const char* what;
        std::function<int()> write;
    } cases[] = {
        {"open for writing", [&] { return WriteHostFile("/tmp/KAV022/new.bin", "x"); }},
        {"rewrite", [&] { return WriteHostFile("/tmp/KAV022/CANARY.TXT", "x"); }},
        {"remove", [&] { return CPlatformLayer::RemoveFile("/tmp/KAV022/CANARY.TXT") == 0 ? 0 : errno; }},
    };
    for (const auto& c : cases) EXPECT_EQ(c.write(), EROFS) << c.what;
    for (const char* line : {"cp src.bin /tmp/KAV022/", "mkdir /tmp/KAV022/dir", "rm -f /tmp/KAV022/CANARY.TXT",
                             "echo x > /tmp/KAV022/echo.txt", "chmod 644 /tmp/KAV022/CANARY.TXT"}) {
        std::pair<int, std::string> r = Command(line);
        EXPECT_NE(r.first, 0) << line;
        EXPECT_NE(r.second.find("Read-only file system"), std::string::npos) << line << ": " << r.second;
    }
    EXPECT_TRUE(RootHas("/tmp/KAV022/CANARY.TXT"));
    for (const char* made : {"/tmp/KAV022/new.bin", "/tmp/KAV022/src.bin", "/tmp/KAV022/dir", "/tmp/KAV022/echo.txt"})
        EXPECT_FALSE(RootHas(made)) << made;
    EXPECT_TRUE(kaver->DetachPartition(bit, 0, 22, false));
    EXPECT_EQ(ImageFile(Image("KAV022.img"), "/CANARY.TXT"), "canary of KAV022\n");
}

TEST_F(FatMountTest, NamesInUpdateDocumentsAreLiteral) {
    Init();
    fs::create_directories(workDir_ + "/fw");
    for (const char* name : {"a.bin", "x.bin", "[x].bin"}) std::ofstream(workDir_ + "/fw/" + name) << name << "\n";
    ASSERT_EQ(RunZemt({"--emulator", stateDir_, "stage", "fw", "--to", "KAV022"}).exitCode, 0);
    std::string kav022 = Image("KAV022.img");
    // The tool refuses * and ? (no FAT name holds them); a program that
    // lists such a deletion gets a refusal, not a deletion by pattern.
    const struct {
        const char* path;
        bool deleted;
        std::vector<const char*> left;
    } cases[] = {
        {"kav022/fw/*", false, {"a.bin", "x.bin", "[x].bin"}},
        {"kav022/fw/?.bin", false, {"a.bin", "x.bin", "[x].bin"}},
        {"kav022/fw/[x].bin", true, {"a.bin", "x.bin"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        {
            std::unique_ptr<secureKaver> kaver = Start();
            ASSERT_TRUE(kaver->StartCopyFile());
            ASSERT_TRUE(kaver->DeleteKaverFile(c.path));
            EXPECT_EQ(kaver->CompleteCopyFile(), c.deleted) << int(kaver->getZEMTError());
            kaver->EndCopyFile();
        }
        for (const char* name : c.left)
            EXPECT_EQ(ImageFile(kav022, "/" + zemt_emu::MtoolsExisting(std::string("fw/") + name)),
                      std::string(name) + "\n")
                << name;
    }

    // Names outside ASCII keep their case through the copy, the drop box,
    // the partition and a later mount.
    const std::string names[] = {"\xc3\xa9t\xc3\xa9.bin", "\xc3\x89T\xc3\x89.TXT", "\xc3\xb1.txt"};
    fs::create_directories(workDir_ + "/utf");
    for (const std::string& name : names) std::ofstream(workDir_ + "/utf/" + name) << name << "\n";
    ProcessResult r = RunZemt({"--emulator", stateDir_, "rm", "KAV022/fw/x.bin"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ImageFile(kav022, "/fw/x.bin"), "<missing>");
    r = RunZemt({"--emulator", stateDir_, "stage", "utf", "--to", "KAV022"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = RunZemt({"--emulator", stateDir_, "ls", "KAV022/utf"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const std::string& name : names) EXPECT_NE(r.out.find(name + "\n"), std::string::npos) << name << "\n" << r.out;
}

}  // namespace
