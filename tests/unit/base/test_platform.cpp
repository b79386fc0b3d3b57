// SPDX-License-Identifier: Apache-2.0
// The platform layer: counted TREN install, library loading and the small
// host helpers of the Linux implementation.
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "FakePlatform.h"
#include "StandInHost.h"
#include "TestEnv.h"
#include "gtest/gtest.h"

namespace {

const std::string kInstall = "/opt/zemt-pkg//tarnvelmoinstall.sh install";
const std::string kUninstall = "/opt/zemt-pkg//tarnvelmoinstall.sh uninstall";
int dummyLibrary;

TEST(TrenInstall, CountedInstallAndUninstall) {
    struct Row {
        const char* name;
        std::vector<std::string> libraries;  // loadable names
        int scriptStatus;
        std::vector<int> installResults;    // two installs
        std::vector<int> uninstallResults;  // then two uninstalls
        std::vector<std::string> commandsAfterInstalls;
        std::vector<std::string> commandsAfterFirstUninstall;
        std::vector<std::string> commandsAtEnd;
    };
    const Row rows[] = {
        {"installed by the script", {}, 0, {0, 0}, {0, 0}, {kInstall}, {kInstall}, {kInstall, kUninstall}},
        {"host TREN in its directory", {FakePlatform::kTrenDir + "libzolipm.so"}, 0, {0, 0}, {0, 0}, {}, {}, {}},
        {"host TREN, 32-bit name", {FakePlatform::kTrenDir + "libzolipm32.so"}, 0, {0, 0}, {0, 0}, {}, {}, {}},
        {"script fails, PAVO copy present", {"libzolipm32.so"}, 1, {0, 0}, {0, 1}, {kInstall}, {kInstall},
         {kInstall, kUninstall}},
        {"script fails, no TREN at all", {}, 1, {1, 0}, {0, 1}, {kInstall}, {kInstall}, {kInstall, kUninstall}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakePlatform host;
        for (const std::string& lib : row.libraries) host.addLibrary(lib, &dummyLibrary);
        host.defaultExitStatus = row.scriptStatus;

        EXPECT_EQ(CPlatformLayer::InstallTren(), row.installResults[0]);
        EXPECT_EQ(CPlatformLayer::InstallTren(), row.installResults[1]);
        EXPECT_EQ(host.commands, row.commandsAfterInstalls);
        EXPECT_EQ(CPlatformLayer::UninstallTren(), row.uninstallResults[0]);
        EXPECT_EQ(host.commands, row.commandsAfterFirstUninstall);
        EXPECT_EQ(CPlatformLayer::UninstallTren(), row.uninstallResults[1]);
        EXPECT_EQ(host.commands, row.commandsAtEnd);
        EXPECT_EQ(CLinuxImpl::nTRENInstallRefCount, 0);
    }
}

TEST(TrenInstall, LoadTrenLibrarySearchOrder) {
    struct Row {
        const char* name;
        std::vector<std::string> libraries;
        bool found;
        std::vector<std::string> attempts;
        std::vector<std::string> log;
    };
    const std::string own = FakePlatform::kTrenDir + "libzolipm32.so";
    const Row rows[] = {
        {"in its own directory", {own, "libzolipm32.so"}, true, {own}, {}},
        {"PAVO copy on the library path", {"libzolipm32.so"}, true, {own, "libzolipm32.so"},
         {"LoadTrenLibrary: Unable to Load libzolipm32.so from /opt/norvik/tarn/lib/"}},
        {"nowhere", {}, false, {own, "libzolipm32.so"},
         {"LoadTrenLibrary: Unable to Load libzolipm32.so from /opt/norvik/tarn/lib/",
          "LoadTrenLibrary: Unable to Load libzolipm32.so from PAVO"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        BaseLogCapture capture;
        FakePlatform host;
        for (const std::string& lib : row.libraries) host.addLibrary(lib, &dummyLibrary);

        void* handle = CPlatformLayer::LoadTrenLibrary("libzolipm32.so");
        EXPECT_EQ(handle != nullptr, row.found);
        EXPECT_EQ(host.loadAttempts, row.attempts);
        const std::string text = capture.text();
        std::string::size_type pos = 0;
        for (const std::string& line : row.log) {
            pos = text.find(line, pos);
            ASSERT_NE(pos, std::string::npos) << line << "\n" << text;
            pos += line.size();
        }
        if (row.log.empty()) {
            EXPECT_EQ(text.find("Unable to Load"), std::string::npos);
        }
    }
}

// Both TREN names are tried, but only the first is announced in the log.
TEST(TrenInstall, PresenceCheckLogsTheFirstPathOnly) {
    BaseLogCapture capture;
    FakePlatform host;
    EXPECT_FALSE(host.isTRENInstalled());
    EXPECT_EQ(host.loadAttempts, (std::vector<std::string>{FakePlatform::kTrenDir + "libzolipm.so",
                                                            FakePlatform::kTrenDir + "libzolipm32.so"}));
    const std::string text = capture.text();
    const std::string::size_type first = text.find("Load library using /opt/norvik/tarn/lib/libzolipm.so\n");
    EXPECT_NE(first, std::string::npos) << text;
    EXPECT_EQ(text.find("Load library using", first + 1), std::string::npos) << text;
}

// A stand-in reaches the real host through no slot it lacks: each one it
// does not implement stops the program and names itself.
TEST(StandInHostDeathTest, SlotsAStandInLacksFailLoudly) {
    CStandInHost bare;
    long unused = 0;
    const std::pair<const char*, std::function<void()>> rows[] = {
        {"ExecuteCmd", [&] { bare.ExecuteCmd("true", false, unused); }},
        {"getCurrentDirectory", [&] { bare.getCurrentDirectory(); }},
        {"setCurrentDirectory", [&] { bare.setCurrentDirectory("/"); }},
        {"OpenHostFile", [&] { bare.OpenHostFile("/tmp/zemt-stand-in", "wb"); }},
        {"InstallTren", [&] { bare.InstallTren(); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.first);
        EXPECT_DEATH(row.second(), std::string("unexpected host call: ") + row.first);
    }
}

// Records which file tests the real implementation makes.
class ProbingLinuxImpl : public CLinuxImpl {
public:
    bool IsFileExistsAbs(const std::string& path) override {
        probed.push_back(path);
        return CLinuxImpl::IsFileExistsAbs(path);
    }
    std::vector<std::string> probed;
};

TEST(LinuxImpl, LoadLibraryChecksPathsBeforeDlopen) {
    ProbingLinuxImpl impl;
    dlerror();
    EXPECT_EQ(impl.LoadLibrary("/nonexistent-zemt-dir/libnothing.so"), nullptr);
    EXPECT_EQ(impl.probed, std::vector<std::string>{"/nonexistent-zemt-dir/libnothing.so"});
    EXPECT_EQ(dlerror(), nullptr) << "dlopen was called for a missing path";

    // A bare name goes straight to dlopen.
    impl.probed.clear();
    EXPECT_EQ(impl.LoadLibrary("libzemt-test-not-there.so"), nullptr);
    EXPECT_TRUE(impl.probed.empty());
    EXPECT_NE(dlerror(), nullptr);

    void* libc = impl.LoadLibrary("libc.so.6");
    ASSERT_NE(libc, nullptr);
    EXPECT_NE(impl.GetProcAddress(libc, "strlen"), nullptr);
    EXPECT_EQ(impl.GetProcAddress(nullptr, "strlen"), nullptr);
    impl.FreeLibrary(libc);
    impl.FreeLibrary(nullptr);
}

TEST(LinuxImpl, DirectoriesEndInSlash) {
    CLinuxImpl impl;
    char exe[4096] = {0};
    ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    std::string expected(exe);
    expected.erase(expected.rfind('/') + 1);
    EXPECT_EQ(impl.getCurrentProcessDirectory(), expected);

    ScopedTempDir dir(true);
    char cwd[4096] = {0};
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(impl.getCurrentDirectory(), std::string(cwd) + "/");
}

TEST(LinuxImpl, FileListing) {
    ScopedTempDir dir(true);
    writeFile("a.txt", "a");
    writeFile("b.txt", "b");
    CLinuxImpl impl;
    std::vector<std::string> here = impl.GetFileList("");
    std::sort(here.begin(), here.end());
    EXPECT_EQ(here, (std::vector<std::string>{"./a.txt", "./b.txt"}));

    std::vector<std::string> there = impl.GetFileList(dir.path());
    std::sort(there.begin(), there.end());
    EXPECT_EQ(there, (std::vector<std::string>{dir.path() + "/a.txt", dir.path() + "/b.txt"}));

    EXPECT_TRUE(impl.GetFileList(dir.file("missing")).empty());
    EXPECT_TRUE(impl.IsFileExits("a.txt"));
    EXPECT_FALSE(impl.IsFileExits("c.txt"));
}

TEST(PlatformLayer, InstallingAnotherImplementation) {
    IPlatformImpl* original = CPlatformLayer::GetPlatform();
    {
        FakePlatform host;
        EXPECT_EQ(CPlatformLayer::GetPlatform(), &host);
        long unused = 0;
        CPlatformLayer::ExecuteCmdNoWait("sleep 1", false, unused);
        EXPECT_EQ(host.commands, std::vector<std::string>{"sleep 1 &"});
    }
    EXPECT_EQ(CPlatformLayer::GetPlatform(), original);

    FakePlatform host;
    CPlatformLayer::SetPlatform(nullptr);  // back to the default on next use
    EXPECT_NE(dynamic_cast<CLinuxImpl*>(CPlatformLayer::GetPlatform()), nullptr);
    EXPECT_NE(CPlatformLayer::GetPlatform(), &host);
}

}  // namespace
