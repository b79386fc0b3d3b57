// SPDX-License-Identifier: Apache-2.0
// zemt inventory and zemt depcheck against the emulator, with the example
// packages of examples/packages, run from other folders by relative and
// absolute paths.
#include <filesystem>
#include <fstream>

#include "EmulatorFixture.h"
#include "secureKaver.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

const std::string kExamples = ZEMT_E2E_EXAMPLES_DIR;

class ToolPackageTest : public EmulatorTest {
protected:
    // The example package's folder as seen from the working directory.
    std::string Relative(const std::string& package) const {
        return fs::relative(kExamples + "/" + package, workDir_).string();
    }
};

TEST_F(ToolPackageTest, InventoryShowsTheSeededRecordsAndWhatAddChanges) {
    Init();
    ProcessResult r = Zemt({"inventory"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* row : {"COMPONENT  TYPE  VERSION   NAME\n", "25227      FRMW  2.30      Management Controller Firmware\n",
                            "159        BIOS  1.4.2     System BIOS\n",
                            "21500      FRMW  5.1.3     NX-2 Dual-Port 10GbE Adapter\n"})
        EXPECT_NE(r.out.find(row), std::string::npos) << row << r.out;

    // The device the package describes, recorded from another folder.
    r = Zemt({"inventory", "add", "--component", "21500", "--package", Relative("nx2-adapter-firmware")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Recorded 1 device(s)"), std::string::npos) << r.out;
    r = Zemt({"inventory", "current", "--json"});
    json current = ParseJson(r.out);
    ASSERT_EQ(current["recognised"], true) << r.out;
    json adapter;
    for (const json& device : current["records"])
        if (device["componentID"] == "21500") adapter = device;
    EXPECT_EQ(adapter["version"], "5.2.0") << r.out;
    EXPECT_EQ(adapter["type"], "Device");
    r = Zemt({"inventory", "history"});
    EXPECT_NE(r.out.find("replaced  21500      5.1.3  5.2.0     rql_update_records"), std::string::npos) << r.out;
    r = Zemt({"inventory", "events", "--json"});
    const json events = ParseJson(r.out);
    bool updated = false;
    for (const json& event : events["records"]) updated = updated || event["action"] == "records-updated";
    EXPECT_TRUE(updated) << r.out;

    // A caller's device list replaces the whole inventory.
    WriteWorkFile("devices.xml",
                  "<Devices><Device componentID=\"777\" display=\"Test Card\"><Application componentType=\"FRMW\" "
                  "version=\"9.9\" display=\"Test Card\"/></Device></Devices>");
    r = Zemt({"inventory", "add", "--devices", workDir_ + "/devices.xml", "--entire"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = Zemt({"inventory"});
    EXPECT_EQ(r.out, "COMPONENT  TYPE  VERSION  NAME\n777        FRMW  9.9      Test Card\n");
    r = Zemt({"inventory", "--xml"});
    EXPECT_EQ(r.out.rfind("<?xml", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("<Device componentID=\"777\""), std::string::npos) << r.out;

    // An inventory add from a folder that is no package says so.
    r = Zemt({"inventory", "add", "--component", "21500", "--package", workDir_});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("holds no package.xml"), std::string::npos) << r.err;
}

TEST_F(ToolPackageTest, AFailedQuerySaysWhyAndShowsNoRecords) {
    Init();
    Fault("process effect=no-answer");
    ProcessResult r = Zemt({"inventory", "--json"});
    EXPECT_EQ(r.exitCode, 1);
    json doc = ParseJson(r.out);
    EXPECT_EQ(doc["error"]["code"], ZEMT_NOFILEFOUND);
    EXPECT_TRUE(doc["records"].empty());
    EXPECT_NE(r.err.find("the controller wrote no answer"), std::string::npos) << r.err;
}

struct CheckCase {
    const char* package;
    const char* from;  // "work": a relative path from the work folder; "absolute"; "inside": no argument
    int exitCode;
    std::vector<const char*> lines;
};

TEST_F(ToolPackageTest, DepcheckPrintsEveryRuleAndExitsByTheVerdict) {
    Init();
    const CheckCase cases[] = {
        {"nx2-adapter-firmware", "work", 0,
         {"Dependency check of ", "nx2-adapter-firmware: passed\n",
          "  met            Dependency 25227 (Management Controller Firmware) needs version 2.20 or later; the "
          "inventory holds 2.30: met.\n",
          "  not met (soft) Soft dependency 159 (System BIOS) needs version 1.6.0 or later",
          "Summary: passed: all 3 required rules met\n"}},
        {"nx2-adapter-firmware", "inside", 0, {"passed\n"}},
        {"system-bios-update", "absolute", 1,
         {"system-bios-update: failed\n",
          "  NOT MET        Dependency 21500 (NX-2 Dual-Port 10GbE Adapter) needs version 5.10.0 or later; the "
          "inventory holds 5.1.3: not met.\n"}},
        {"sx8-storage-firmware", "work", 1, {"none of them is in the inventory: not met.\n"}},
    };
    for (const CheckCase& c : cases) {
        SCOPED_TRACE(std::string(c.package) + " from " + c.from);
        const std::string folder = kExamples + "/" + c.package;
        ProcessResult r;
        if (std::string(c.from) == "inside")
            r = RunIn(folder, {ZEMT_E2E_TOOL, "--emulator", stateDir_, "depcheck"});
        else
            r = Zemt({"depcheck", std::string(c.from) == "work" ? Relative(c.package) : folder});
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        for (const char* line : c.lines) EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;

        r = Zemt({"depcheck", folder, "--json"});
        json doc = ParseJson(r.out);
        EXPECT_EQ(doc["passed"], c.exitCode == 0);
        EXPECT_EQ(doc["status"], c.exitCode == 0 ? "0" : "1");
        EXPECT_FALSE(doc["rules"].empty());
        EXPECT_EQ(doc["package"], folder);
    }
    ExpectNothingMounted("SECUPD");
}

TEST_F(ToolPackageTest, DepcheckThatCannotBeMadeExitsWithThree) {
    const std::string package = kExamples + "/nx2-adapter-firmware";
    const struct {
        const char* what;
        long firmwareMinor;
        const char* fault;
        std::string folder;
        const char* says;
    } cases[] = {
        {"no answer", 30, "process effect=no-answer", package, "the dependency check could not be made"},
        {"refused document", 30, "process effect=refuse", package, "the dependency check could not be made"},
        {"firmware cannot check", 10, nullptr, package, "the controller's firmware cannot check dependencies"},
        {"no package", 30, nullptr, kExamples, "holds no package.xml"},
        {"no folder", 30, nullptr, kExamples + "/none", "no such folder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Fresh([&](zemt_emu::InitOptions& o) { o.firmwareMinor = c.firmwareMinor; });
        if (c.fault != nullptr) Fault(c.fault);
        ProcessResult r = Zemt({"depcheck", c.folder, "--json"});
        EXPECT_EQ(r.exitCode, 3) << r.err;
        json doc = ParseJson(r.out);
        EXPECT_EQ(doc["passed"], nullptr);
        EXPECT_NE(doc["error"]["message"].get<std::string>().find(c.says), std::string::npos) << r.out;
        ExpectNothingMounted("SECUPD");
    }
}

// A controller may answer in a layout zemt does not know: the answer is
// printed as it came.
TEST_F(ToolPackageTest, AnAnswerWithoutRulesIsPrintedAsItCame) {
    Init();
    Fault("process effect=malformed-answer");
    ProcessResult r = Zemt({"depcheck", kExamples + "/system-bios-update"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.out.find("The controller's answer, as it came"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("<DependencyCheckResult>"), std::string::npos) << r.out;
}

}  // namespace
