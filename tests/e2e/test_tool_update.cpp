// SPDX-License-Identifier: Apache-2.0
// zemt package, update and versions against the emulator, with copies of
// the example packages (an update writes its task files into the
// package's folder).
#include <filesystem>

#include "EmulatorFixture.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

const std::string kExamples = ZEMT_E2E_EXAMPLES_DIR;

class ToolUpdateTest : public EmulatorTest {
protected:
    // A copy of an example package in the test's folder, as a user would
    // unpack one.
    std::string Package(const std::string& name) const {
        const fs::path to = fs::path(tempDir_) / "packages" / name;
        if (!fs::exists(to)) {
            fs::create_directories(to.parent_path());
            fs::copy(kExamples + "/" + name, to, fs::copy_options::recursive);
        }
        return to.string();
    }
    // zemt update --json: the document, with the exit status checked.
    json Update(std::vector<std::string> words, int exitCode) {
        words.insert(words.begin(), "update");
        words.push_back("--json");
        const ProcessResult r = Zemt(words);
        EXPECT_EQ(r.exitCode, exitCode) << r.err;
        return ParseJson(r.out);
    }
    // The firmware version of a component in the controller's inventory.
    std::string Installed(const std::string& id) {
        const json doc = ParseJson(Zemt({"inventory", "--json"}).out);
        for (const json& device : doc["records"])
            if (device["componentID"] == id) return device["version"];
        return "<none>";
    }
    // "current/previous" as zemt versions shows them for one component.
    std::string Versions(const std::string& id) {
        const ProcessResult r = Zemt({"versions", id, "--json"});
        const json doc = ParseJson(r.out);
        if (r.exitCode != 0 || doc["components"].size() != 1) return "<none>";
        const json& c = doc["components"][0];
        auto version = [](const json& folder) { return folder.is_null() ? "-" : folder["version"].get<std::string>(); };
        return version(c["current"]) + "/" + version(c["previous"]);
    }
};

// The rollback walkthrough on a generation-two controller: each step's
// outcome, the inventory, and what KAV022's folders hold afterwards.
TEST_F(ToolUpdateTest, VemoUpdatesRotateTheVersionedFoldersAndRollBack) {
    Init([](zemt_emu::InitOptions& o) { o.generation = "vemo"; });
    EXPECT_EQ(Versions("159"), "<none>");
    const struct {
        const char* step;
        const char* package;
        const char* folders;  // current/previous afterwards
    } steps[] = {
        {"fresh install seeds both folders", "system-bios-1.5.0", "1.5.0/1.5.0"},
        {"an update rotates current into previous", "system-bios-1.7.0", "1.7.0/1.5.0"},
        {"reinstalling the same version replaces current only", "system-bios-1.7.0", "1.7.0/1.5.0"},
        {"the older package rolls back", "system-bios-1.5.0", "1.5.0/1.7.0"},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.step);
        const json doc = Update({Package(s.package)}, 0);
        EXPECT_EQ(doc["path"], "versioned-folders");
        EXPECT_EQ(doc["dependencyCheck"]["passed"], true);
        EXPECT_EQ(doc["result"], 0);
        EXPECT_EQ(doc["outcome"], "applied");
        EXPECT_EQ(doc["rebootRequired"], true);
        EXPECT_EQ(doc["inventory"][0]["version"], doc["version"]);
        EXPECT_EQ(Installed("159"), doc["version"]);
        EXPECT_EQ(Versions("159"), s.folders);
    }
    // The text form: the outcome in words, the folders with their files.
    ProcessResult r = Zemt({"update", Package("system-bios-1.7.0")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "Dependency check: passed\n"
              "Update: applied by the controller's task (bioswrap): 159 (System BIOS) at 1.7.0; the task says a "
              "reboot is required\n");
    for (const char* line : {"checking the package's dependencies (Depcheck)…\n",
                             "updating with payload/bios170.hdr (UpdateBiosUsingRQ)…\n", "pass 1: ",
                             "copy-list entries complete\n"})
        EXPECT_NE(r.err.find(line), std::string::npos) << line << r.err;
    r = Zemt({"versions"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "KAV022/159 (component file 159.xml)\n"
              "  current   1.7.0\n"
              "    file                69  bios170.hdr\n"
              "    file               921  package.xml\n"
              "  previous  1.5.0\n"
              "    file                69  bios150.hdr\n"
              "    file               921  package.xml\n");
    ExpectNothingMounted("KAV022");
    ExpectNothingMounted("SECUPD");
}

TEST_F(ToolUpdateTest, SarnUpdatesSayWhetherARebootIsNeeded) {
    const struct {
        const char* package;
        bool stageOnly;
        const char* outcome;
        bool reboot;
        const char* installed;  // the component's version afterwards
        const char* says;
    } cases[] = {
        {"system-bios-1.7.0", false, "applied", true, "1.7.0",
         "Update: applied by the controller (stage and update); a reboot is required\n"},
        {"nx2-adapter-firmware-5.3.0", false, "applied", false, "5.3.0",
         "Update: applied by the controller (stage and update); no reboot is required\n"},
        {"system-bios-1.7.0", true, "staged", true, "1.4.2",
         "Update: staged by the controller, not applied (stage only); applying it: a reboot is required\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.package) + (c.stageOnly ? " --stage-only" : ""));
        Fresh();
        auto words = [&]() {
            std::vector<std::string> list{"update", Package(c.package)};
            if (c.stageOnly) list.push_back("--stage-only");
            return list;
        };
        ProcessResult r = Zemt(words());
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << r.out;
        Fresh();
        std::vector<std::string> asJson = words();
        asJson.push_back("--json");
        const json doc = ParseJson(Zemt(asJson).out);
        EXPECT_EQ(doc["path"], "stage-and-update");
        EXPECT_EQ(doc["outcome"], c.outcome);
        EXPECT_EQ(doc["rebootRequired"], c.reboot);
        EXPECT_EQ(Installed(doc["componentID"]), c.installed);
        EXPECT_EQ(Versions(doc["componentID"]), "<none>") << "the controller keeps no versioned folders here";
        ExpectNothingMounted("SECUPD");
    }
}

// Stage only on a generation-two controller: the payload goes into the
// versioned folders, but no task files are written and nothing is applied.
TEST_F(ToolUpdateTest, VemoStageOnlyStoresThePayloadWithoutATask) {
    Init([](zemt_emu::InitOptions& o) { o.generation = "vemo"; });
    const std::string package = Package("system-bios-1.7.0");
    fs::remove(package + "/ssibinput.xml");  // left by an earlier run in the example's folder
    const json doc = Update({package, "--stage-only"}, 0);
    EXPECT_EQ(doc["outcome"], "staged");
    EXPECT_EQ(doc["rebootRequired"], nullptr);
    EXPECT_FALSE(fs::exists(package + "/ssibinput.xml"));
    EXPECT_EQ(Versions("159"), "1.7.0/1.7.0");
    EXPECT_EQ(Installed("159"), "1.4.2");
}

// Failures keep the success's shape, exit by kind and say why, with the
// library's and the emulator's account.
TEST_F(ToolUpdateTest, FailedUpdatesSayWhyAndExitByKind) {
    const std::vector<std::string> keys = [&]() {
        Fresh([](zemt_emu::InitOptions& o) { o.generation = "vemo"; });
        const json done = Update({Package("system-bios-1.7.0")}, 0);
        std::vector<std::string> names;
        for (const auto& item : done.items()) names.push_back(item.key());
        return names;
    }();
    const struct {
        const char* what;
        const char* generation;
        const char* fault;
        std::vector<std::string> words;
        int exitCode;
        std::vector<const char*> says;  // in the message or the reason
    } cases[] = {
        {"dependencies not met", "vemo", nullptr, {"system-bios-update"}, 4,
         {"the package's dependencies are not met; nothing was changed"}},
        {"dependency check not made", "vemo", "process effect=no-answer", {"system-bios-1.7.0"}, 1,
         {"the dependency check could not be made (Depcheck returned 248)"}},
        {"missing wrapper", "vemo", nullptr, {"system-bios-1.7.0", "--wrapper", "nosuch"}, 1,
         {"the controller's task did not apply 1.7.0", "the controller has no wrapper program 'nosuch'"}},
        {"device not found", "sarn", "stage status=46", {"nx2-adapter-firmware-5.3.0"}, 1,
         {"UpdateBiosUsingRQ returned -1", "46 (No Matching / Supported Device Found)"}},
        {"request not accepted", "sarn", "stage start=2", {"system-bios-1.7.0", "--stage-only"}, 1,
         {"the controller did not accept the request (answer 2)"}},
        {"never started", "sarn", "stage start=3 times=always", {"system-bios-1.7.0"}, 1,
         {"its last of 10 answers was 3 (pending)"}},
        {"payload missing", "vemo", nullptr, {"system-bios-1.7.0", "--payload", "payload/none.hdr"}, 1,
         {"the package has no payload payload/none.hdr"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Fresh([&](zemt_emu::InitOptions& o) { o.generation = c.generation; });
        const std::string before = Installed("159") + Installed("21500");
        if (c.fault != nullptr) Fault(c.fault);
        std::vector<std::string> words = c.words;
        words[0] = Package(words[0]);
        const json doc = Update(words, c.exitCode);
        EXPECT_EQ(doc["ok"], false);
        std::vector<std::string> names;
        for (const auto& item : doc.items()) names.push_back(item.key());
        EXPECT_EQ(names, keys);
        const std::string said = doc["error"]["message"].get<std::string>() + " | " +
                                 (doc["error"]["reason"].is_null() ? "" : doc["error"]["reason"].get<std::string>());
        for (const char* text : c.says) EXPECT_NE(said.find(text), std::string::npos) << text << "\n" << said;
        EXPECT_EQ(said.find("mkdir"), std::string::npos) << "an unheeded mkdir is no reason: " << said;
        EXPECT_EQ(Installed("159") + Installed("21500"), before);
        ExpectNothingMounted("SECUPD");
    }
}

// --no-depcheck updates with a package whose dependencies are not met.
TEST_F(ToolUpdateTest, NoDepcheckSkipsTheCheck) {
    Init([](zemt_emu::InitOptions& o) { o.generation = "sarn"; });
    const json doc = Update({Package("system-bios-update"), "--no-depcheck"}, 0);
    EXPECT_EQ(doc["dependencyCheck"], nullptr);
    EXPECT_EQ(doc["outcome"], "applied");
    EXPECT_EQ(Installed("159"), "1.6.0");
}

TEST_F(ToolUpdateTest, UsageErrorsAreOneLineWithExitTwo) {
    Init();
    const std::vector<std::vector<std::string>> cases = {
        {"update", "--stage-onyl"},
        {"update", "a", "b"},
        {"versions", "159/current"},
        {"versions", ".."},
        {"package", "--json", "a", "b"},
    };
    for (const auto& words : cases) {
        SCOPED_TRACE(words[0] + " " + words[1]);
        const ProcessResult r = Zemt(words);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find("(see 'zemt " + words[0] + " --help')"), std::string::npos) << r.err;
    }
    for (const char* command : {"update", "versions", "package"}) {
        const ProcessResult r = RunZemt({command, "--help"});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_NE(r.out.find("Examples:"), std::string::npos) << r.out;
    }
    // A missing folder, or a folder that is no package, is not a usage error.
    for (const std::string& folder : {tempDir_ + "/none", tempDir_}) {
        const ProcessResult r = Zemt({"update", folder});
        EXPECT_EQ(r.exitCode, 1) << folder;
        EXPECT_NE(r.err.find(folder), std::string::npos) << r.err;
    }
}

TEST_F(ToolUpdateTest, PackageShowsWhatTheDescriptorReaderSees) {
    const struct {
        const char* package;
        std::vector<const char*> lines;
        const char* componentId;
        std::size_t dependencies;
        bool rollback;
    } cases[] = {
        {"nx2-adapter-firmware-5.3.0",
         {"  component  21500 (NX-2 Dual-Port 10GbE Adapter)\n", "  version    5.3.0\n", "  type       FRMW\n",
          "  21500      f1c7:0a10 (sub f1c7:0001)  NX-2 Dual-Port 10GbE Adapter\n"},
         "21500", 1, false},
        {"system-bios-update",
         {"  rollback   no rollback information\n", "  hard  21500      FRMW  5.10.0    -    NX-2 Dual-Port 10GbE Adapter\n",
          "  soft  8010       FRMW  00.1C.4D  -    Power Supply\n"},
         "159", 3, false},
        {"system-bios-1.7.0", {"  rollback   rollback information present\n"}, "159", 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.package);
        const std::string folder = kExamples + "/" + c.package;
        ProcessResult r = RunZemt({"package", folder});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        for (const char* line : c.lines) EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;
        r = RunIn(folder, {ZEMT_E2E_TOOL, "package", "--json"});
        const json doc = ParseJson(r.out);
        EXPECT_EQ(doc["package"], folder);
        EXPECT_EQ(doc["componentID"], c.componentId);
        EXPECT_EQ(doc["dependencies"].size(), c.dependencies);
        EXPECT_EQ(doc["rollbackInformation"], c.rollback);
    }
    WriteWorkFile("package.xml", "<Other/>");
    const ProcessResult r = RunZemt({"package", "--json"});
    EXPECT_EQ(r.exitCode, 1);
    const json doc = ParseJson(r.out);
    EXPECT_EQ(doc["recognised"], false);
    EXPECT_NE(doc["error"]["message"].get<std::string>().find("is not a package descriptor"), std::string::npos);
}

}  // namespace
