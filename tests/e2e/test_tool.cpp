// The zemt tool, the preloadable emulator, and the emulator's own parsers
// (command lines, fault lines).
#include <filesystem>
#include <fstream>

#include "EmulatorFixture.h"
#include "MiniJson.h"
#include "secureKaver.h"
#include "zemt_emulator/FaultScript.h"
#include "zemt_emulator/ShellWords.h"

namespace fs = std::filesystem;

namespace {

class ToolTest : public EmulatorTest {};

JsonValue parseJson(const std::string& text) {
    JsonValue value;
    EXPECT_TRUE(JsonReader::Parse(text, value)) << "not JSON: " << text;
    return value;
}

TEST_F(ToolTest, InfoJsonDescribesTheEmulatedControllerAndHost) {
    Init([](zemt_emu::InitOptions& o) {
        o.generation = "vemo";
        o.os = "suse";
        o.firmwareMajor = 3;
        o.firmwareMinor = 10;
        o.monolithic = true;
        o.stateFlag = 0x80;
        o.access = 1;
        o.powerSupplies = {{"A\"B\\C", 77, true}, {"q\tz", 5, false}};
    });
    ProcessResult r = RunZemt({"--emulator", stateDir_, "info", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    JsonValue info = parseJson(r.out);
    EXPECT_TRUE(info["hardwareAccessLibrary"]["loaded"].boolean);
    EXPECT_TRUE(info["hardwareAccessLibrary"]["ready"].boolean);
    EXPECT_EQ(info["lastError"]["code"].number, 0);
    EXPECT_EQ(info["hostOS"]["name"].string, "suse");
    EXPECT_EQ(info["hostOS"]["code"].number, SUSE);
    EXPECT_EQ(info["generation"]["name"].string, "vemo");
    EXPECT_EQ(info["generation"]["code"].number, VemoGen);
    EXPECT_EQ(info["repository"].string, "full");
    EXPECT_FALSE(info["access"]["enabled"].boolean);
    EXPECT_EQ(info["access"]["state"].number, 1);
    EXPECT_EQ(info["system"].string, "monolithic");
    EXPECT_FALSE(info["dependencyCheckSupported"].boolean) << "3.10: minor 10 is too low";
    EXPECT_EQ(info["stateFlag"]["value"].number, 0x80);
    EXPECT_EQ(info["stateFlag"]["name"].string, "STATE_FLAG_OVERRIDE");
    const JsonValue& supplies = info["powerSupplies"];
    ASSERT_EQ(supplies.type, JsonValue::kArray);
    ASSERT_EQ(supplies.array.size(), 2u);
    EXPECT_EQ(supplies.array[0]["version"].string, "A\"B\\C");
    EXPECT_EQ(supplies.array[0]["componentId"].number, 77);
    EXPECT_TRUE(supplies.array[0]["present"].boolean);
    EXPECT_EQ(supplies.array[1]["version"].string, "q\tz");
    EXPECT_FALSE(supplies.array[1]["present"].boolean);
    // The tool's session for the state flag was closed again.
    EXPECT_EQ(ControllerState("session.handle"), "0");
}

TEST_F(ToolTest, InfoTextNamesTheEssentials) {
    Init([](zemt_emu::InitOptions& o) { o.kaver = "liter"; });
    ProcessResult r = RunZemt({"--emulator", stateDir_, "info"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* expected : {"Hardware-access library: loaded", "Generation:              sarn (2)",
                                 "Repository:              liter", "PSU 2: present, version 00.1C.4E"})
        EXPECT_NE(r.out.find(expected), std::string::npos) << expected << "\n" << r.out;
}

TEST_F(ToolTest, InfoOnAHostWithoutTheHardwareAccessLibraryIsACleanReport) {
    // No emulator at all: the real host, where no TREN exists.
    ProcessResult r = RunZemt({"info", "--json"}, {{zemt_emu::kStateDirEnv, ""}});
    EXPECT_EQ(r.exitCode, 1);
    JsonValue info = parseJson(r.out);
    EXPECT_FALSE(info["hardwareAccessLibrary"]["loaded"].boolean);
    EXPECT_EQ(info["lastError"]["code"].number, ZEMT_TRENINSTALLERROR);
    EXPECT_EQ(info["lastError"]["name"].string, "ZEMT_TRENINSTALLERROR");
    EXPECT_FALSE(info["controllerReachable"].boolean);
    EXPECT_FALSE(info.Has("generation"));

    r = RunZemt({"info"}, {{zemt_emu::kStateDirEnv, ""}});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("the hardware-access library is missing"), std::string::npos) << r.out;
}

TEST_F(ToolTest, FlagIsSetAndReadBackThroughTheController) {
    Init();
    ProcessResult r = RunZemt({"--emulator", stateDir_, "flag", "set", "0x04", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    JsonValue set = parseJson(r.out);
    EXPECT_TRUE(set["ok"].boolean);
    EXPECT_EQ(set["value"].number, 4);

    r = RunZemt({"--emulator", stateDir_, "flag", "get"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "State flag: 4 (STATE_FLAG_FIELD_SERVICE)\n");
    EXPECT_EQ(ControllerState("state_flag"), "4");

    Fault("cmd=0xA2/17 completion=0x01");
    r = RunZemt({"--emulator", stateDir_, "flag", "set", "1", "--json"});
    EXPECT_EQ(r.exitCode, 1);
    JsonValue failed = parseJson(r.out);
    EXPECT_FALSE(failed["ok"].boolean);
    EXPECT_EQ(failed["error"]["code"].number, ZEMT_SETSTATEERROR);
    EXPECT_EQ(ControllerState("state_flag"), "4");
}

TEST_F(ToolTest, UsageMistakesExitWithTwoAndSayWhy) {
    Init();
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"bogus"},
        {"--emulator"},
        {"--emulator", stateDir_, "flag", "set", "256"},
        {"--emulator", stateDir_, "flag", "set", "abc"},
        {"--emulator", stateDir_, "flag"},
        {"--emulator", stateDir_, "info", "--yaml"},
        {"emulator", "init"},
        {"emulator", "init", stateDir_ + "/x", "--access", "300"},
        {"emulator", "fault", stateDir_},
        {"emulator", "init", stateDir_ + "/x", "--partitions", "KAV001,,KAV002"},
        {"emulator", "init", stateDir_ + "/x", "--partitions", "KAV001,"},
        {"emulator", "init", stateDir_ + "/x", "--dynamic-slots", "17"},
        {"emulator", "init", stateDir_ + "/x", "--dynamic-space", "-1"},
        {"emulator", "init", stateDir_ + "/x", "--sg-driver", "maybe"},
        {"--emulator", stateDir_, "init", "--now"},
        {"--emulator", stateDir_, "partitions", "KAV001"},
    };
    for (const auto& args : cases) {
        ProcessResult r = RunZemt(args);
        std::string shown;
        for (const std::string& a : args) shown += a + " ";
        EXPECT_EQ(r.exitCode, 2) << shown;
        EXPECT_NE(r.err.find("zemt: "), std::string::npos) << shown << r.err;
        EXPECT_NE(r.err.find("usage:"), std::string::npos) << shown;
    }
}

TEST_F(ToolTest, EmulatorSubcommandsCreateStateAndAppendCheckedFaults) {
    std::string dir = tempDir_ + "/cli-state";
    ProcessResult r = RunZemt({"emulator", "init", dir, "--generation", "pre-vemo", "--kaver", "lite",
                               "--psu", "1.0:5", "--psu", "2.0:6:absent", "--tren-lib",
                               ZEMT_E2E_TREN_LIBRARY});
    ASSERT_EQ(r.exitCode, 0) << r.err;

    r = RunZemt({"emulator", "init", dir});
    EXPECT_EQ(r.exitCode, 1) << "an existing state is not overwritten";
    EXPECT_NE(r.err.find("--force"), std::string::npos) << r.err;
    r = RunZemt({"emulator", "init", tempDir_ + "/other", "--os", "plan9"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("plan9"), std::string::npos) << r.err;

    r = RunZemt({"emulator", "fault", dir, "cmd=0xA2/0 sometimes=1"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("sometimes"), std::string::npos) << r.err;
    r = RunZemt({"emulator", "fault", tempDir_ + "/nowhere", "cmd=0xAD status=3"});
    EXPECT_EQ(r.exitCode, 1);
    r = RunZemt({"emulator", "fault", dir, "cmd=0xAE completion=0x01"});
    ASSERT_EQ(r.exitCode, 0) << r.err;

    r = RunZemt({"--emulator", dir, "info", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    JsonValue info = parseJson(r.out);
    EXPECT_EQ(info["generation"]["name"].string, "pre-vemo");
    EXPECT_EQ(info["repository"].string, "lite");
    EXPECT_FALSE(info["access"]["known"].boolean) << "the scripted fault hit the access query";
    ASSERT_EQ(info["powerSupplies"].array.size(), 2u);
    EXPECT_EQ(info["powerSupplies"].array[1]["componentId"].number, 6);
    EXPECT_FALSE(info["powerSupplies"].array[1]["present"].boolean);

    r = RunZemt({"--emulator", tempDir_ + "/nowhere", "info"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("not an emulator state directory"), std::string::npos) << r.err;
}

TEST_F(ToolTest, EmulatorInitTakesThePartitionOptions) {
    std::string dir = tempDir_ + "/parts";
    ProcessResult r = RunZemt({"emulator", "init", dir, "--partitions", "KAV002,KAV050:3", "--partition-table",
                               "--dynamic-space", "16", "--dynamic-slots", "2", "--sg-driver", "absent",
                               "--tren-lib", ZEMT_E2E_TREN_LIBRARY});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    zemt_emu::KeyValueFile controller, host;
    ASSERT_TRUE(controller.Load(dir + "/controller.conf"));
    ASSERT_TRUE(host.Load(dir + "/host.conf"));
    EXPECT_EQ(controller.Get("static.0.label"), "KAV002");
    EXPECT_EQ(controller.Get("static.0.mib"), std::to_string(zemt_emu::CatalogueSizeMiB("KAV002")));
    EXPECT_EQ(controller.Get("static.1.label"), "KAV050");
    EXPECT_EQ(controller.Get("static.1.mib"), "3");
    EXPECT_FALSE(controller.Has("static.2.label"));
    EXPECT_EQ(controller.GetInt("partition_table", -1), 1);
    EXPECT_EQ(controller.GetInt("dynamic.space", -1), 16L * 1048576);
    EXPECT_EQ(controller.GetInt("dynamic.slots", -1), 2);
    EXPECT_EQ(host.GetInt("sg_driver", -1), 0);
    EXPECT_TRUE(fs::exists(dir + "/partitions/KAV050.img"));

    // The emulator's own checks still apply and are reported.
    r = RunZemt({"emulator", "init", tempDir_ + "/bad", "--partitions", "KAV1", "--tren-lib",
                 ZEMT_E2E_TREN_LIBRARY});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("KAV1"), std::string::npos) << r.err;

    r = RunZemt({"help", "emulator"});
    for (const char* option : {"--partitions", "--partition-table", "--dynamic-space", "--dynamic-slots", "--sg-driver"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
}

TEST_F(ToolTest, PreloadedEmulatorServesAnUnmodifiedProgram) {
    Init([](zemt_emu::InitOptions& o) { o.generation = "vemo"; o.kaver = "lite"; });
    ProcessResult r = Run({ZEMT_E2E_PLAIN_CLIENT},
                          {{"LD_PRELOAD", ZEMT_E2E_PRELOAD_LIBRARY}, {zemt_emu::kStateDirEnv, stateDir_}});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "error=0 generation=1 kind=2\n");
    std::vector<LoggedRequest> requests = Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_TRUE(requests[0].Is({0xC0, 0xAD}));
    std::string clientDir = fs::path(ZEMT_E2E_PLAIN_CLIENT).parent_path().string();
    EXPECT_EQ(CommandTexts().back(), clientDir + "//tarnvelmoinstall.sh uninstall");

    // The same program without the preload is refused every host action.
    r = Run({ZEMT_E2E_PLAIN_CLIENT}, {{zemt_emu::kStateDirEnv, stateDir_}});
    EXPECT_EQ(r.out, "error=46 generation=-1 kind=-1\n");
    EXPECT_NE(r.err.find("every host action is refused"), std::string::npos) << r.err;
}

TEST_F(ToolTest, PreloadedEmulatorServesTheToolWithoutItsOption) {
    Init([](zemt_emu::InitOptions& o) { o.os = "centos"; });
    ProcessResult r = RunZemt({"info", "--json"},
                              {{"LD_PRELOAD", ZEMT_E2E_PRELOAD_LIBRARY}, {zemt_emu::kStateDirEnv, stateDir_}});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    JsonValue info = parseJson(r.out);
    EXPECT_EQ(info["hostOS"]["name"].string, "centos");
    EXPECT_FALSE(Requests().empty());
}

// ---- the emulator's parts ----------------------------------------------------------------

struct SplitCase {
    const char* line;
    std::vector<std::vector<std::string>> stages;  // argv per pipeline stage, all pipelines
};

TEST(EmulatorShellWords, CommandLinesSplitLikeAShellWithoutExpanding) {
    const SplitCase cases[] = {
        {"cp -fH 98-secupdusb.rules /etc/udev/rules.d/ > /dev/null 2>&1",
         {{"cp", "-fH", "98-secupdusb.rules", "/etc/udev/rules.d/"}}},
        {"chmod 755 /etc/udev/rules.d//a.rules  > /dev/null 2>&1",
         {{"chmod", "755", "/etc/udev/rules.d//a.rules"}}},
        {"ps aux | grep -v grep | grep -q vmware-usbarbitrator > /dev/null",
         {{"ps", "aux"}, {"grep", "-v", "grep"}, {"grep", "-q", "vmware-usbarbitrator"}}},
        {"echo \"scsi remove-single-entry 1 0 0 0\" > /proc/scsi/scsi",
         {{"echo", "scsi remove-single-entry 1 0 0 0"}}},
        {"/bin/sed -n '/KAV022/{g;1!p;};h'", {{"/bin/sed", "-n", "/KAV022/{g;1!p;};h"}}},
        {"a && b || c ; d &", {{"a"}, {"b"}, {"c"}, {"d"}}},
        {"rm -rf $(echo /) `id` \\; x*", {{"rm", "-rf", "$(echo", "/)", "`id`", ";", "x*"}}},
        {"x 'it''s' \"q\\\"q\"", {{"x", "its", "q\"q"}}},
    };
    for (const SplitCase& c : cases) {
        std::vector<zemt_emu::Pipeline> list;
        std::string error;
        ASSERT_TRUE(zemt_emu::ParseCommandLine(c.line, list, error)) << c.line << ": " << error;
        std::vector<std::vector<std::string>> stages;
        for (const zemt_emu::Pipeline& p : list)
            for (const zemt_emu::SimpleCommand& s : p.stages) stages.push_back(s.argv);
        EXPECT_EQ(stages, c.stages) << c.line;
    }
    for (const char* bad : {"echo 'open", "echo \"open", "echo \\", "| grep x", "a &&", "cat < x",
                            "echo >", ""}) {
        std::vector<zemt_emu::Pipeline> list;
        std::string error;
        EXPECT_FALSE(zemt_emu::ParseCommandLine(bad, list, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

TEST(EmulatorFaultScript, LinesAreCheckedBeforeTheyAreUsed) {
    zemt_emu::Fault f;
    std::string error;
    ASSERT_TRUE(zemt_emu::ParseFaultLine("cmd=0x18:0x59 tren_result=0 after=2 times=always", f, error));
    EXPECT_EQ(f.netFn, 0x18);
    EXPECT_EQ(f.cmd, 0x59);
    EXPECT_EQ(f.sub, -1);
    EXPECT_TRUE(f.trenFails);
    EXPECT_EQ(f.after, 2);
    EXPECT_EQ(f.times, -1);
    ASSERT_TRUE(zemt_emu::ParseFaultLine("cmd=0xA2/16 pending=5 final=0  # slow flag", f, error));
    EXPECT_EQ(f.sub, 16);
    EXPECT_EQ(f.pending, 5);
    const unsigned char flagRequest[] = {0xC0, 0xA2, 0x10, 0x1A, 0x00};
    const unsigned char otherSub[] = {0xC0, 0xA2, 0x11, 0x1A, 0x00};
    EXPECT_TRUE(f.Matches(flagRequest, sizeof flagRequest));
    EXPECT_FALSE(f.Matches(otherSub, sizeof otherSub));

    for (const char* bad : {"cmd=0xAD", "cmd=0x1AD status=3", "cmd=0xAD status=x",
                            "cmd=0xAD completion=0x100", "cmd=0xAD pending=2",
                            "cmd=0xA2/0 final=1", "cmd=0xAD times=0", "cmd=0xAD tren_result=1",
                            "sysinfo completion=1", "sysinfo buffer=empty", "reset now",
                            "cmd=0xAD status"}) {
        EXPECT_FALSE(zemt_emu::ParseFaultLine(bad, f, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
    EXPECT_FALSE(zemt_emu::ParseFaultLine("   # only a comment", f, error));
    EXPECT_TRUE(error.empty());
}

}  // namespace
