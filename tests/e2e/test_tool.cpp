// The zemt tool, the preloadable emulator, and the emulator's own parsers
// (command lines, fault lines).
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "EmulatorFixture.h"
#include "secureKaver.h"
#include "zemt_emulator/FaultScript.h"
#include "zemt_emulator/ShellWords.h"

namespace fs = std::filesystem;

namespace {

using nlohmann::json;

class ToolTest : public EmulatorTest {
protected:
    // The top-level keys of a document, in order.
    static std::vector<std::string> Keys(const json& doc) {
        std::vector<std::string> keys;
        for (auto it = doc.begin(); doc.is_object() && it != doc.end(); ++it) keys.push_back(it.key());
        std::sort(keys.begin(), keys.end());
        return keys;
    }
};

std::string Shown(const std::vector<std::string>& args) {
    std::string text;
    for (const std::string& a : args) text += a + " ";
    return text;
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
    json info = ParseJson(r.out);
    EXPECT_EQ(info["ok"], true);
    EXPECT_EQ(info["error"], nullptr);
    EXPECT_EQ(info["hardwareAccessLibrary"]["loaded"], true);
    EXPECT_EQ(info["hardwareAccessLibrary"]["ready"], true);
    EXPECT_EQ(info["lastError"]["code"], 0);
    EXPECT_EQ(info["hostOS"]["name"], "suse");
    EXPECT_EQ(info["hostOS"]["code"], SUSE);
    EXPECT_EQ(info["generation"]["name"], "vemo");
    EXPECT_EQ(info["generation"]["code"], VemoGen);
    EXPECT_EQ(info["repository"], "full");
    EXPECT_EQ(info["access"]["enabled"], false);
    EXPECT_EQ(info["access"]["state"], 1);
    EXPECT_EQ(info["system"], "monolithic");
    EXPECT_EQ(info["dependencyCheckSupported"], false) << "3.10: minor 10 is too low";
    EXPECT_EQ(info["stateFlag"]["value"], 0x80);
    EXPECT_EQ(info["stateFlag"]["name"], "STATE_FLAG_OVERRIDE");
    const json& supplies = info["powerSupplies"];
    ASSERT_EQ(supplies.size(), 2u);
    EXPECT_EQ(supplies[0]["version"], "A\"B\\C");
    EXPECT_EQ(supplies[0]["componentId"], 77);
    EXPECT_EQ(supplies[0]["present"], true);
    EXPECT_EQ(supplies[1]["version"], "q\tz");
    EXPECT_EQ(supplies[1]["present"], false);
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

// A query that fails is unknown, never a definite "none".
TEST_F(ToolTest, InfoShowsAFailedQueryAsUnknownWithItsError) {
    Init();
    Fault("cmd=0xAD completion=0xC3 times=always");
    ProcessResult r = RunZemt({"--emulator", stateDir_, "info"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Repository:              unknown (the query failed, error 20 (ZEMT_NOKAVERPRESENT))"),
              std::string::npos)
        << r.out;
    r = RunZemt({"--emulator", stateDir_, "info", "--json"});
    EXPECT_EQ(ParseJson(r.out)["repository"], nullptr);
}

TEST_F(ToolTest, InfoOnAHostWithoutTheHardwareAccessLibraryIsACleanReport) {
    // No emulator at all: the real host, where no TREN exists.
    ProcessResult r = RunZemt({"info", "--json"}, {{zemt_emu::kStateDirEnv, ""}});
    EXPECT_EQ(r.exitCode, 1);
    json info = ParseJson(r.out);
    EXPECT_EQ(info["ok"], false);
    EXPECT_EQ(info["hardwareAccessLibrary"]["loaded"], false);
    EXPECT_EQ(info["lastError"]["code"], ZEMT_TRENINSTALLERROR);
    EXPECT_EQ(info["lastError"]["name"], "ZEMT_TRENINSTALLERROR");
    EXPECT_EQ(info["controllerReachable"], false);
    EXPECT_EQ(info["generation"], nullptr);
    EXPECT_EQ(info["error"]["code"], ZEMT_TRENINSTALLERROR);

    r = RunZemt({"info"}, {{zemt_emu::kStateDirEnv, ""}});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("the hardware-access library is missing"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("libzolipm32.so"), std::string::npos) << "the code is explained: " << r.err;
}

TEST_F(ToolTest, FlagIsSetAndReadBackThroughTheController) {
    Init();
    ProcessResult r = RunZemt({"--emulator", stateDir_, "flag", "set", "0x04", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    json set = ParseJson(r.out);
    EXPECT_EQ(set["ok"], true);
    EXPECT_EQ(set["value"], 4);

    r = RunZemt({"--emulator", stateDir_, "flag", "get"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "State flag: 4 (STATE_FLAG_FIELD_SERVICE)\n");
    EXPECT_EQ(ControllerState("state_flag"), "4");

    Fault("cmd=0xA2/17 completion=0x01");
    r = RunZemt({"--emulator", stateDir_, "flag", "set", "1", "--json"});
    EXPECT_EQ(r.exitCode, 1);
    json failed = ParseJson(r.out);
    EXPECT_EQ(failed["ok"], false);
    EXPECT_EQ(failed["error"]["code"], ZEMT_SETSTATEERROR);
    EXPECT_EQ(failed["error"]["meaning"], "the controller refused the state flag");
    EXPECT_NE(failed["error"]["reason"].get<std::string>().find("cmd=0xA2/17 completion=0x01"), std::string::npos)
        << "the emulator's record names the fault that fired: " << r.out;
    EXPECT_EQ(ControllerState("state_flag"), "4");
}

struct HelpCase {
    std::vector<std::string> command;
    std::vector<const char*> mentions;  // options and words its help must show
    bool realHost;                      // warns that it works on the real host
};

TEST_F(ToolTest, EveryCommandHasHelpWithItsOptionsAndAnExample) {
    const HelpCase cases[] = {
        {{}, {"--version", "--json", "--emulator", "inventory", "depcheck", "Exit status"}, false},
        {{"info"}, {"Example"}, true},
        {{"flag"}, {"get", "set"}, false},
        {{"flag", "get"}, {"Example"}, true},
        {{"flag", "set"}, {"VALUE", "0x80"}, true},
        {{"init"}, {"left-over drop box"}, true},
        {{"partitions"}, {"catalogue"}, true},
        {{"ls"}, {"LABEL[/PATH]"}, true},
        {{"stage"}, {"--to", "--max-drop-box", "free space"}, true},
        {{"rm"}, {"LABEL/PATH", "wildcards"}, true},
        {{"inventory"}, {"KIND", "--xml", "add"}, true},
        {{"inventory", "add"}, {"--component", "--devices", "--entire", "--package"}, true},
        {{"depcheck"}, {"PACKAGE_DIR", "Exit status"}, true},
        {{"emulator"}, {"init", "fault", "clock", "reset", "exec"}, false},
        {{"emulator", "init"}, {"--generation", "--os", "--partitions", "--dynamic-slots", "--sg-driver", "--force"}, false},
        {{"emulator", "fault"}, {"LINE", "pending=N"}, false},
        {{"emulator", "clock"}, {"--advance"}, false},
        {{"emulator", "reset"}, {"DIR"}, false},
        {{"emulator", "exec"}, {"--preload", "-- PROGRAM"}, false},
    };
    for (const HelpCase& c : cases) {
        std::vector<std::string> args = c.command;
        args.push_back("--help");
        SCOPED_TRACE(Shown(args));
        ProcessResult r = RunZemt(args);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.err, "");
        std::string usage = "Usage: zemt";
        for (const std::string& word : c.command) usage += " " + word;
        EXPECT_NE(r.out.find(usage), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("zemt "), r.out.find(usage)) << "an example";
        for (const char* mention : c.mentions) EXPECT_NE(r.out.find(mention), std::string::npos) << mention << "\n" << r.out;
        EXPECT_EQ(r.out.find("Without --emulator this command works on the real controller") != std::string::npos,
                  c.realHost)
            << r.out;
        // `zemt help COMMAND` says the same.
        std::vector<std::string> help = {"help"};
        help.insert(help.end(), c.command.begin(), c.command.end());
        EXPECT_EQ(RunZemt(help).out, r.out);
    }
    EXPECT_TRUE(Requests().empty());
}

TEST_F(ToolTest, VersionNamesTheToolTheLibraryAndTheEmulator) {
    Init();
    ProcessResult r = RunZemt({"--version"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.rfind("zemt 0.1.0\nlibzemt 0.1.0 (/", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("/libzemt.so.0.1.0)\n"), std::string::npos) << "the file that was loaded: " << r.out;

    r = RunZemt({"--version", "--emulator", stateDir_});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("emulator 0.1.0 (state directory " + stateDir_ +
                         ", made by emulator 0.1.0; controller firmware 2.30)\n"),
              std::string::npos)
        << r.out;
    json doc = ParseJson(RunZemt({"--json", "--emulator", stateDir_, "--version"}).out);
    EXPECT_EQ(doc["tool"], "0.1.0");
    EXPECT_EQ(doc["library"]["version"], "0.1.0");
    EXPECT_EQ(doc["emulator"]["madeBy"], "0.1.0");

    r = RunZemt({"--version", "--json", "--emulator", tempDir_ + "/nowhere"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(ParseJson(r.out)["ok"], false);
    EXPECT_TRUE(Requests().empty());
}

struct UsageCase {
    std::vector<std::string> args;  // STATE stands for the state directory
    const char* says;
};

TEST_F(ToolTest, UsageMistakesAnswerOneLineNamingTheProblemAndExitTwo) {
    Init();
    WriteWorkFile("a.bin", "a");
    const UsageCase cases[] = {
        {{}, "no command given"},
        {{"bogus"}, "unknown command 'bogus'"},
        {{"--emulator"}, "--emulator"},
        {{"--emulator", "STATE", "flag", "set", "256"}, "not a byte"},
        {{"--emulator", "STATE", "flag", "set", "abc"}, "not a byte"},
        {{"--emulator", "STATE", "flag"}, "wants a sub-command: one of get, set"},
        {{"--emulator", "STATE", "info", "--yaml"}, "unexpected argument '--yaml'"},
        {{"--emulator", "STATE", "init", "--now"}, "--now"},
        {{"--emulator", "STATE", "partitions", "KAV001"}, "KAV001"},
        {{"--version", "info"}, "--version goes without a command"},
        {{"info", "--", "x"}, "'--' goes only with 'emulator exec'"},
        {{"stage", "a.bin"}, "--to"},
        {{"stage", "a.bin", "--to"}, "--to"},
        {{"stage", "a.bin", "--to", "KAV022", "--max-drop-box", "1"}, "--max-drop-box"},
        {{"stage", "a.bin", "--to", "KAV999/x"}, "KAV999"},
        {{"stage", "a.bin", "--to", "KAV022/../etc"}, ".."},
        {{"rm", "KAV022"}, "not the whole partition"},
        {{"rm", "KAV022/fw/*.bin"}, "wildcard"},
        {{"rm", "KAV022/fw/?.bin"}, "wildcard"},
        {{"rm", "KAV022/a", "KAV022/b"}, "KAV022/b"},
        {{"inventory", "everything"}, "everything not in"},
        {{"inventory", "add"}, "--component ID"},
        {{"inventory", "add", "--component", "1", "--devices", "d.xml"}, "excludes"},
        {{"depcheck", "a", "b"}, "'b'"},
        {{"emulator"}, "wants a sub-command: one of init, fault, clock, reset, exec"},
        {{"emulator", "bogus"}, "unknown sub-command 'bogus' (one of: init, fault"},
        {{"emulator", "init"}, "DIR is required"},
        {{"emulator", "init", "STATE/x", "--os", "windows"}, "windows not in {redhat,suse,centos"},
        {{"emulator", "init", "STATE/x", "--generation", "next"}, "pre-vemo, vemo, sarn or a byte"},
        {{"emulator", "init", "STATE/x", "--access", "300"}, "from 0 to 255"},
        {{"emulator", "init", "STATE/x", "--firmware", "2"}, "MAJOR.MINOR"},
        {{"emulator", "init", "STATE/x", "--psu", "123456789"}, "VERSION[:COMPID[:absent]]"},
        {{"emulator", "init", "STATE/x", "--psu", "1.0", "--no-psu"}, "excludes"},
        {{"emulator", "init", "STATE/x", "--monolithic", "--modular"}, "excludes"},
        {{"emulator", "init", "STATE/x", "--partitions", "KAV001,,KAV002"}, "LABEL[:MIB]"},
        {{"emulator", "init", "STATE/x", "--partitions", "KAV001,"}, "LABEL[:MIB]"},
        {{"emulator", "init", "STATE/x", "--partitions", "KAV1"}, "not a label the library can use"},
        {{"emulator", "init", "STATE/x", "--partitions", "ABCDEF"}, "not a label the library can use"},
        {{"emulator", "init", "STATE/x", "--partitions", "KAV000"}, "not a label the library can use"},
        {{"emulator", "init", "STATE/x", "--partitions", "KAV022:0"}, "1 to 4096 MiB"},
        {{"emulator", "init", "STATE/x", "--dynamic-slots", "17"}, "from 0 to 16"},
        {{"emulator", "init", "STATE/x", "--dynamic-space", "-1"}, "from 0 to"},
        {{"emulator", "init", "STATE/x", "--sg-driver", "maybe"}, "maybe not in {loaded,absent}"},
        {{"emulator", "init", "STATE/x", "--emulator", "STATE"}, "--emulator does not go with"},
        {{"emulator", "fault", "STATE"}, "LINE is required"},
        {{"emulator", "fault", "STATE", "cmd=0xA2/0 sometimes=1"}, "sometimes"},
        {{"emulator", "fault", "STATE", "# only a comment"}, "the line holds no fault"},
        {{"emulator", "clock"}, "DIR is required"},
        {{"emulator", "clock", "STATE", "--advance", "-5"}, "--advance"},
        {{"emulator", "reset"}, "DIR is required"},
        {{"emulator", "exec", "STATE"}, "-- PROGRAM"},
        {{"emulator", "exec", "STATE", "--"}, "-- PROGRAM"},
    };
    for (const UsageCase& c : cases) {
        std::vector<std::string> args;
        for (const std::string& a : c.args) args.push_back(a.rfind("STATE", 0) == 0 ? stateDir_ + a.substr(5) : a);
        SCOPED_TRACE(Shown(args));
        ProcessResult r = RunZemt(args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("zemt: ", 0), 0u) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("--help')"), std::string::npos) << r.err;

        // With --json the same failure is a document too.
        args.insert(args.begin(), "--json");
        r = RunZemt(args);
        EXPECT_EQ(r.exitCode, 2);
        json doc = ParseJson(r.out);
        EXPECT_EQ(doc["ok"], false);
        EXPECT_NE(doc["error"]["message"].get<std::string>().find(c.says), std::string::npos) << r.out;
    }
    EXPECT_TRUE(Requests().empty()) << "no usage error reaches the controller";
    EXPECT_FALSE(fs::exists(stateDir_ + "/x"));
}

TEST_F(ToolTest, GlobalOptionsStandBeforeOrAfterTheCommand) {
    Init();
    const std::vector<std::vector<std::string>> spellings = {
        {"--emulator", stateDir_, "--json", "flag", "get"},
        {"flag", "get", "--json", "--emulator", stateDir_},
        {"--json", "flag", "get", "--emulator", stateDir_},
        {"flag", "--emulator", stateDir_, "get", "--json"},
    };
    for (const auto& args : spellings) {
        SCOPED_TRACE(Shown(args));
        ProcessResult r = RunZemt(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(ParseJson(r.out)["name"], "STATE_FLAG_NORMAL_BOOT");
    }
}

// A script reads the same keys whether the command worked or not.
TEST_F(ToolTest, FailuresPrintTheSameJsonShapeAsSuccesses) {
    Init();
    WriteWorkFile("fw.bin", "firmware\n");
    ASSERT_EQ(RunZemt({"--emulator", stateDir_, "stage", "fw.bin", "--to", "KAV022/fw"}).exitCode, 0);
    const std::string package = std::string(ZEMT_E2E_EXAMPLES_DIR) + "/nx2-adapter-firmware";
    const std::vector<std::vector<std::string>> commands = {
        {"info"},
        {"flag", "get"},
        {"init"},
        {"partitions"},
        {"ls", "KAV022/fw"},
        {"inventory", "history"},
        {"depcheck", package},
        {"stage", "fw.bin", "--to", "KAV022/again"},
        {"rm", "KAV022/fw/fw.bin"},
    };
    for (const auto& command : commands) {
        SCOPED_TRACE(Shown(command));
        std::vector<std::string> args = {"--json", "--emulator", stateDir_};
        args.insert(args.end(), command.begin(), command.end());
        ProcessResult worked = RunZemt(args);
        EXPECT_EQ(worked.exitCode, 0) << worked.err;
        json good = ParseJson(worked.out);
        EXPECT_EQ(good["ok"], true);
        EXPECT_EQ(good["error"], nullptr);

        args[2] = tempDir_ + "/nowhere";
        ProcessResult failed = RunZemt(args);
        EXPECT_EQ(failed.exitCode, command[0] == "depcheck" ? 3 : 1) << failed.err;
        json bad = ParseJson(failed.out);
        EXPECT_EQ(Keys(bad), Keys(good)) << failed.out;
        EXPECT_EQ(bad["ok"], false);
        EXPECT_NE(bad["error"]["message"].get<std::string>().find("is not an emulator state directory"),
                  std::string::npos)
            << failed.out;
        for (const char* key : {"code", "name", "meaning", "message", "reason"}) EXPECT_TRUE(bad["error"].contains(key)) << key;
    }
}

// Names that are not UTF-8 still give a valid document; UTF-8 passes as it is.
TEST_F(ToolTest, JsonCarriesUtf8AsItIsAndReplacesWhatIsNotUtf8) {
    Init([](zemt_emu::InitOptions& o) { o.powerSupplies = {{"\xc3\xa9t\xc3\xa9", 1, true}, {"x\xff\xfey", 2, true}}; });
    ProcessResult r = RunZemt({"--emulator", stateDir_, "info", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("\"\xc3\xa9t\xc3\xa9\""), std::string::npos) << "UTF-8 unescaped: " << r.out;
    json info = ParseJson(r.out);
    EXPECT_EQ(info["powerSupplies"][0]["version"], "\xc3\xa9t\xc3\xa9");
    EXPECT_EQ(info["powerSupplies"][1]["version"], "x\xef\xbf\xbd\xef\xbf\xbdy") << "U+FFFD for each stray byte";
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

    r = RunZemt({"emulator", "fault", tempDir_ + "/nowhere", "cmd=0xAD status=3", "--json"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(ParseJson(r.out)["ok"], false);
    r = RunZemt({"emulator", "fault", dir, "cmd=0xAE completion=0x01"});
    ASSERT_EQ(r.exitCode, 0) << r.err;

    r = RunZemt({"--emulator", dir, "info", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    json info = ParseJson(r.out);
    EXPECT_EQ(info["generation"]["name"], "pre-vemo");
    EXPECT_EQ(info["repository"], "lite");
    EXPECT_EQ(info["access"]["known"], false) << "the scripted fault hit the access query";
    ASSERT_EQ(info["powerSupplies"].size(), 2u);
    EXPECT_EQ(info["powerSupplies"][1]["componentId"], 6);
    EXPECT_EQ(info["powerSupplies"][1]["present"], false);

    r = RunZemt({"--emulator", tempDir_ + "/nowhere", "info"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("not an emulator state directory"), std::string::npos) << r.err;
}

TEST_F(ToolTest, EmulatorInitTakesThePartitionOptions) {
    std::string dir = tempDir_ + "/parts";
    ProcessResult r = RunZemt({"emulator", "init", dir, "--partitions", "KAV002,KAV050:3", "--partition-table",
                               "--dynamic-space", "16", "--dynamic-slots", "2", "--sg-driver", "absent",
                               "--tren-lib", ZEMT_E2E_TREN_LIBRARY, "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ParseJson(r.out)["stateDirectory"], dir);
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
    EXPECT_EQ(ParseJson(r.out)["hostOS"]["name"], "centos");
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
