// SPDX-License-Identifier: Apache-2.0
// The boundary between the emulated host and the caller's own files: the
// sandbox holds the host locations the library uses and nothing else, a
// caller's file is the real file wherever it lies, and no run leaves
// anything on the real host.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>

#include "EmulatorFixture.h"
#include "PlatformLayer.h"
#include "zemt_emulator/HostBoundary.h"

namespace fs = std::filesystem;

namespace {

class HostBoundaryTest : public EmulatorTest {
protected:
    // A fresh directory in the real /tmp, outside the test's own directory.
    std::string OutsideDir() {
        std::string pattern = "/tmp/zemt-e2e-outside-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        EXPECT_NE(mkdtemp(name.data()), nullptr);
        outside_.push_back(name.data());
        return name.data();
    }

    void TearDown() override {
        std::error_code ec;
        for (const std::string& dir : outside_) fs::remove_all(dir, ec);
        EmulatorTest::TearDown();
    }

private:
    std::vector<std::string> outside_;
};

// Where a run against the emulator could leak onto the real host: the
// library's mount directories and device links, the rules directory, and
// the emulator's former scratch files.
bool watched(const std::string& dir, const std::string& name) {
    if (dir == "/etc/udev/rules.d") return true;
    if (dir == "/dev") return name.rfind("seckavupd-", 0) == 0;
    return name == "SECUPD" || name.rfind("KAV", 0) == 0 || name.rfind("zemt-emu-", 0) == 0;
}

// Everything the real host holds there, with what lies below.
std::set<std::string> realHostLocations() {
    std::set<std::string> found;
    std::error_code ec;
    for (const std::string dir : {"/tmp", "/dev", "/etc/udev/rules.d"}) {
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
            if (!watched(dir, it->path().filename().string())) continue;
            found.insert(it->path().string());
            if (it->is_symlink(ec) || !it->is_directory(ec)) continue;
            for (fs::recursive_directory_iterator below(it->path(), ec), last; !ec && below != last;
                 below.increment(ec))
                found.insert(below->path().string());
        }
    }
    return found;
}

TEST(HostBoundary, OnlyTheLibrarysOwnLocationsAreMapped) {
    const std::string program = "/opt/pkg/bin/";
    const std::pair<const char*, bool> cases[] = {
        {"/tmp/SECUPD", true},
        {"/tmp/SECUPD/", true},
        {"/tmp/SECUPD/fw/FileChunk0", true},
        {"/tmp/KAV022", true},
        {"/tmp/KAV256/a/b", true},
        {"/tmp/KAV22", false},
        {"/tmp/KAV0222", false},
        {"/tmp/KAVxyz", false},
        {"/tmp", false},
        {"/tmp/fw.bin", false},
        {"/tmp/SECUPD/../fw.bin", false},
        {"/tmp/x/../SECUPD/update.xml", true},
        {"/dev", true},
        {"/dev/sdb1", true},
        {"/dev/sg3", true},
        {"/dev/seckavupd-KAV022", true},
        {"/dev/null", false},
        {"/dev/shm/x", false},
        {"/etc/udev/rules.d/98-secupdusb.rules", true},
        {"/etc/passwd", false},
        {"/etc/redhat-release", true},
        {"/VERSION", true},
        {"/qev-version", true},
        {"/etc/init.d/haldaemon", true},
        {"/etc/init.d/other", false},
        {"/opt/norvik/tarn/lib/libzolipm32.so", true},
        {"/opt/norvik", false},
        {"/opt/pkg/bin//tarnvelmoinstall.sh", true},
        {"/opt/pkg/bin/getSystemId", false},
        {"/usr/lib/libzolipm32.so", true},
        {"/lib/libzolipm.so", true},
        {"/usr/lib/libxml2.so.2", false},
        {"/sbin/udevadm", true},
        {"/bin/cp", true},
        {"/bin/ls", false},
        {"/proc/mounts", true},
        {"/proc/scsi/scsi", true},
        {"/proc/sys/vm/drop_caches", true},
        {"/proc/self/exe", false},
        {"/sys/class/scsi_generic/sg1/dev", true},
        {"/sys/block", false},
        {"/root/fw.bin", false},
        {"/", false},
        {"relative/file", false},
        {"SECUPD", false},
    };
    for (const auto& c : cases) EXPECT_EQ(zemt_emu::IsMappedPath(c.first, program), c.second) << c.first;
}

TEST_F(HostBoundaryTest, MappedLocationsLiveInTheSandboxAndEverythingElseIsReal) {
    Init();
    std::string root = stateDir_ + "/root";
    std::string outside = OutsideDir();
    EXPECT_EQ(host_->MapPath("/etc/redhat-release"), root + "/etc/redhat-release");
    EXPECT_EQ(host_->MapPath("/tmp/KAV022/../SECUPD/x"), root + "/tmp/SECUPD/x");
    EXPECT_EQ(host_->MapPath(ProcessDirectory() + "/tarnvelmoinstall.sh"),
              root + zemt_emu::NormalHostPath(ProcessDirectory() + "/tarnvelmoinstall.sh"));
    for (const std::string& own : {outside + "/fw.bin", workDir_ + "/payload.bin", stateDir_ + "/faults",
                                   std::string("/etc/passwd"), std::string("/tmp/SECUPD/../fw.bin"),
                                   std::string("relative/file")})
        EXPECT_EQ(host_->MapPath(own), own);

    // The host's commands work on the caller's files where they are, and on
    // the sandbox for the mapped locations.
    WriteWorkFile("marker", "keep me\n");
    EXPECT_EQ(CPlatformLayer::Run("cp marker " + outside + "/copied"), 0);
    EXPECT_TRUE(fs::exists(outside + "/copied"));
    EXPECT_EQ(CPlatformLayer::Run("cp " + outside + "/copied /etc/udev/rules.d/"), 0);
    EXPECT_TRUE(fs::exists(root + "/etc/udev/rules.d/copied"));
    EXPECT_EQ(CPlatformLayer::Run("mkdir -p " + outside + "/made/here"), 0);
    EXPECT_TRUE(fs::is_directory(outside + "/made/here"));
    EXPECT_FALSE(CPlatformLayer::PathExists("/etc/udev/rules.d/marker"));
    EXPECT_TRUE(CPlatformLayer::PathExists(outside + "/copied"));
    // The library's hardware-access library search stays in the sandbox;
    // any other library is the host's.
    EXPECT_EQ(CPlatformLayer::Load_Library("libzolipm32.so"), nullptr);
    void* xml = CPlatformLayer::Load_Library("libxml2.so.2");
    EXPECT_NE(xml, nullptr);
    CPlatformLayer::FreeLibrary(xml);
    // A mount point outside the sandbox is refused.
    std::string out;
    EXPECT_EQ(host_->RunCommandLine("mount -t vfat -orw /dev/sdb " + outside + " 2>&1", out, "system"), 32);
    EXPECT_NE(out.find("only on its own host locations"), std::string::npos) << out;

    // Commands run as a shell's system() would report them, never by a shell.
    EXPECT_EQ(CPlatformLayer::Run("shred -u marker"), 127 << 8);
    EXPECT_TRUE(fs::exists(workDir_ + "/marker"));
    EXPECT_EQ(CPlatformLayer::Run("ps aux | grep -q no-such-daemon"), 1 << 8);
    EXPECT_EQ(CPlatformLayer::Run("echo 'unterminated"), 2 << 8);
    ASSERT_TRUE(CPlatformLayer::ReadCommandOutput("/etc/init.d/haldaemon status", out, 6));
    EXPECT_EQ(out, "hald (");
    EXPECT_EQ(Commands().back().kind, "popen");
    // Sleeping moves only the virtual clock.
    CPlatformLayer::Sleep(3600);
    EXPECT_EQ(Clock(), 3600u);
    EXPECT_TRUE(CPlatformLayer::IsExecutable("/sbin/udevadm"));
    EXPECT_FALSE(CPlatformLayer::IsExecutable("/sbin/udevcontrol"));
}

TEST_F(HostBoundaryTest, StageTakesSourcesFromAnywhereOnTheHost) {
    Init();
    std::string outside = OutsideDir();
    std::string tree = tempDir_ + "/other";
    fs::create_directories(tree + "/sub");
    std::ofstream(outside + "/tmp.bin") << "from /tmp\n";
    std::ofstream(tree + "/test.bin") << "from the test directory\n";
    std::ofstream(tree + "/sub/deep.bin") << "from a tree\n";
    std::string kav022 = Image("KAV022.img");
    struct Case {
        const char* what;
        std::string dir;     // working directory
        std::string source;  // as given to zemt
        const char* folder;
        std::vector<std::pair<std::string, std::string>> stored;  // path in KAV022, contents
    };
    const Case cases[] = {
        {"absolute path under /tmp", workDir_, outside + "/tmp.bin", "a", {{"/a/tmp.bin", "from /tmp\n"}}},
        {"absolute path beside the working directory", workDir_, tree + "/test.bin", "b",
         {{"/b/test.bin", "from the test directory\n"}}},
        {"a .. path", workDir_, "../other/test.bin", "c", {{"/c/test.bin", "from the test directory\n"}}},
        {"from /", "/", outside.substr(1) + "/tmp.bin", "d", {{"/d/tmp.bin", "from /tmp\n"}}},
        {"from /tmp", "/tmp", outside.substr(5) + "/tmp.bin", "e", {{"/e/tmp.bin", "from /tmp\n"}}},
        {"a tree outside the working directory", workDir_, tree, "f",
         {{"/f/other/test.bin", "from the test directory\n"}, {"/f/other/sub/deep.bin", "from a tree\n"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ProcessResult r = RunIn(c.dir, {ZEMT_E2E_TOOL, "--emulator", stateDir_, "stage", c.source, "--to",
                                        std::string("KAV022/") + c.folder});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        for (const auto& file : c.stored) EXPECT_EQ(ImageFile(kav022, file.first), file.second) << file.first;
    }
    EXPECT_EQ(ImageFile(kav022, "/CANARY.TXT"), "canary of KAV022\n");
}

TEST_F(HostBoundaryTest, WorkingDirectoryInAMappedLocationIsRefusedBeforeAnythingRuns) {
    Init();
    // /dev exists on every host and is a mapped location (the disk search
    // lists it); /tmp/SECUPD is refused the same way.
    const std::string inside = "/dev";
    ProcessResult r = RunIn(inside, {ZEMT_E2E_TOOL, "--emulator", stateDir_, "info"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("the working directory /dev lies in a host location"), std::string::npos) << r.err;
    r = RunIn(inside, {ZEMT_E2E_TOOL, "emulator", "exec", stateDir_, "--", ZEMT_E2E_PLAIN_CLIENT});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "") << "the program ran";
    EXPECT_NE(r.err.find("lies in a host location"), std::string::npos) << r.err;
    r = RunIn(inside, {ZEMT_E2E_PLAIN_CLIENT},
              {{"LD_PRELOAD", ZEMT_E2E_PRELOAD_LIBRARY}, {zemt_emu::kStateDirEnv, stateDir_}});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "") << "the program ran";
    EXPECT_NE(r.err.find("lies in a host location"), std::string::npos) << r.err;
    EXPECT_TRUE(Requests().empty());
    EXPECT_TRUE(Commands().empty());

    fs::current_path(inside);
    EXPECT_THROW(CEmulatedHost refused(stateDir_), std::runtime_error);
    fs::current_path(workDir_);

    std::string why;
    EXPECT_TRUE(zemt_emu::CheckEmulatorPlaces(stateDir_, why)) << why;
    EXPECT_FALSE(zemt_emu::CheckEmulatorPlaces("/tmp/SECUPD/state", why));
    EXPECT_NE(why.find("the state directory /tmp/SECUPD/state"), std::string::npos) << why;
}

TEST_F(HostBoundaryTest, RunsLeaveNothingOnTheRealHostAndNoScratchBehind) {
    // Drop boxes of at most 29 MiB on a pre-Vemo controller.
    Init([](zemt_emu::InitOptions& o) { o.generation = "pre-vemo"; });
    std::set<std::string> before = realHostLocations();
    WriteWorkFile("98-secupdusb.rules", "# rules\n");
    WriteWorkFile("00-secupd-norvik.rules", "# rules\n");
    // Two passes, a listing and a deletion.
    std::ofstream(workDir_ + "/big.bin", std::ios::binary) << VaryingBytes(31 << 20, 3);
    ProcessResult r = RunZemt({"--emulator", stateDir_, "stage", "big.bin", "--to", "KAV022/fw"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    r = RunZemt({"--emulator", stateDir_, "ls", "KAV022/fw"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    r = RunZemt({"--emulator", stateDir_, "rm", "KAV022/fw/big.bin"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(realHostLocations(), before);
    std::error_code ec;
    EXPECT_TRUE(fs::is_empty(stateDir_ + "/scratch", ec) || !fs::exists(stateDir_ + "/scratch"));
}

}  // namespace
