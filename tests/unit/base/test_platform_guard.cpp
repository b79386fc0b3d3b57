// SPDX-License-Identifier: Apache-2.0
// A program meant for the emulator never falls through to the real host:
// when ZEMT_EMULATOR_DIR names an emulator and nothing installed an
// emulated host, the default platform refuses every host action.  Each case
// runs in a fresh process (the default platform is made once per process).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "PlatformLayer.h"
#include "TestEnv.h"
#include "gtest/gtest.h"

namespace {

// Counts how often `text` occurs in `haystack`.
int occurrences(const std::string& haystack, const std::string& text) {
    int n = 0;
    for (std::string::size_type at = haystack.find(text); at != std::string::npos; at = haystack.find(text, at + 1))
        ++n;
    return n;
}

// Runs in the child: every host action is tried, and the child exits with
// the number of actions that reached the host; standard error gets what
// the platform said and how often it said it.
void tryHostActions(const std::string& dir) {
    setenv("ZEMT_EMULATOR_DIR", "/srv/emulator-state", 1);
    std::string said = dir + "/stderr";
    int saved = dup(2);
    int capture = open(said.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(capture, 2);
    const std::string mark = dir + "/mark";
    int reached = 0;
    long unused = 0;
    reached += CPlatformLayer::Run("touch " + mark) == 0;
    reached += CPlatformLayer::ExecuteCmdNoWait("touch " + mark, false, unused) == 0;
    std::string out;
    reached += CPlatformLayer::ReadCommandOutput("echo reached", out, 100);
    reached += CPlatformLayer::InstallTren() == 0;
    reached += CPlatformLayer::Load_Library("libc.so.6") != nullptr;
    reached += CPlatformLayer::LoadTrenLibrary("libc.so.6") != nullptr;
    reached += CPlatformLayer::PathExists("/");
    reached += CPlatformLayer::IsDirectory("/");
    reached += CPlatformLayer::ReadFileText("/proc/self/stat", out, 100);
    reached += CPlatformLayer::GetPathKind("/") != PathMissing;
    reached += !CPlatformLayer::GetFileList("/").empty();
    reached += CPlatformLayer::SetUserId(getuid()) == 0;
    FILE* file = CPlatformLayer::OpenHostFile(mark, "w");
    reached += file != nullptr;
    if (file != nullptr) std::fclose(file);
    reached += CPlatformLayer::OpenDevice("/dev/null", O_RDONLY) >= 0;
    writeFile(dir + "/kept", "kept");
    reached += CPlatformLayer::RemoveFile(dir + "/kept") == 0;
    reached += fileExists(mark) || !fileExists(dir + "/kept");
    dup2(saved, 2);
    std::string text = readFile(said);
    std::fprintf(stderr, "%s[said %d time(s)]\n", text.c_str(), occurrences(text, "every host action is refused"));
    std::_Exit(reached);
}

void useTheDefaultPlatform() {
    unsetenv("ZEMT_EMULATOR_DIR");
    bool linux = dynamic_cast<CLinuxImpl*>(CPlatformLayer::GetPlatform()) != nullptr;
    std::_Exit(linux && CPlatformLayer::Run("true") == 0 ? 0 : 1);
}

TEST(PlatformGuard, NamingAnEmulatorWithoutInstallingItRefusesEveryHostAction) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ScopedTempDir dir;
    EXPECT_EXIT(tryHostActions(dir.path()), ::testing::ExitedWithCode(0),
                "libzemt: ZEMT_EMULATOR_DIR names an emulator \\(/srv/emulator-state\\), but no emulated host is "
                "installed in this process; every host action is refused\\..*\\[said 1 time\\(s\\)\\]");
    EXPECT_FALSE(fileExists(dir.file("mark")));
}

TEST(PlatformGuard, WithoutTheVariableTheHostIsTheRealOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(useTheDefaultPlatform(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
