// The zemt commands over the repository's partitions: init, partitions and
// ls, run as separate processes against the emulated controller and host.
#include <filesystem>
#include <functional>
#include <memory>

#include "EmulatorFixture.h"
#include "secureKaver.h"
#include "zemt_emulator/Disks.h"

namespace fs = std::filesystem;

namespace {

class ToolPartitionTest : public EmulatorTest {
protected:
    static nlohmann::json Json(const ProcessResult& r) { return ParseJson(r.out); }

    // No mount, no mount directory, no device link and nothing attached.
    void ExpectClean(const std::string& label) const {
        ExpectNothingMounted(label);
        EXPECT_EQ(ControllerState("attached.static"), "0");
        EXPECT_EQ(ControllerState("session.handle"), "0") << "the tool's session was closed";
    }

    // A drop box left behind by a process that ended without deleting it.
    void LeaveDropBox() {
        secureKaver kaver;
        ASSERT_TRUE(kaver.secureKaverInit()) << int(kaver.getZEMTError());
        uint32_t granted = 0;
        ASSERT_TRUE(kaver.CreateDropBox("x", 65536, &granted));
        ASSERT_EQ(ControllerState("dynamic.0.units"), "2");
    }
};

struct DefaultPartition {
    unsigned id;
    const char* label;
    unsigned bit;
};
// The emulator's default partitions, in the bit order it reports them.
const DefaultPartition kDefaults[] = {
    {1, "KAV001", 0x01}, {22, "KAV022", 0x02}, {23, "KAV023", 0x04}, {2, "KAV002", 0x08}, {4, "KAV004", 0x10},
};

void ExpectDefaultPartitions(const nlohmann::json& rows) {
    ASSERT_TRUE(rows.is_array());
    ASSERT_EQ(rows.size(), 5u);
    for (const DefaultPartition& p : kDefaults) {
        SCOPED_TRACE(p.label);
        const nlohmann::json* found = nullptr;
        for (const nlohmann::json& row : rows)
            if (row["label"] == p.label) found = &row;
        ASSERT_NE(found, nullptr);
        EXPECT_EQ((*found)["id"], p.id);
        EXPECT_EQ((*found)["bit"], p.bit);
        // The emulator reports the catalogue's sizes unless told otherwise.
        EXPECT_EQ((*found)["sizeMiB"], kaverPartInfo[p.id].i_mbSize);
        EXPECT_EQ((*found)["sizeBytes"], kaverPartInfo[p.id].i_mbSize * 1048576ull);
        EXPECT_EQ((*found)["catalogueMiB"], kaverPartInfo[p.id].i_mbSize);
        EXPECT_EQ((*found)["image"], kaverPartInfo[p.id].i_image_name);
        EXPECT_FALSE((*found)["format"].get<std::string>().empty());
    }
}

TEST_F(ToolPartitionTest, InitOnAFreshControllerReportsEveryStep) {
    Init();
    ProcessResult r = RunZemt({"--emulator", stateDir_, "init", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    nlohmann::json init = Json(r);
    EXPECT_EQ(init["ok"], true);
    EXPECT_EQ(init["error"], nullptr);
    EXPECT_EQ(init["generation"]["name"], "sarn");
    EXPECT_EQ(init["repository"], "full");
    EXPECT_EQ(init["access"]["enabled"], true);
    EXPECT_EQ(init["access"]["state"], 0);
    EXPECT_GT(init["sessionHandle"], 0);
    ExpectDefaultPartitions(init["partitions"]);
    EXPECT_EQ(init["dropBox"]["before"], 0);
    EXPECT_EQ(init["dropBox"]["after"], 0);
    EXPECT_EQ(init["dropBox"]["removed"], false);
    EXPECT_EQ(init["maxDropBoxSize"], 0x12400000);
    // Progress goes to stderr, announced before the initialisation ran.
    EXPECT_NE(r.err.find("detaching all partitions"), std::string::npos) << r.err;
    EXPECT_GT(CountRequests({0xC0, 0xA2, 0x06}), 0) << "initialisation detaches everything";
    ExpectClean("KAV022");

    r = RunZemt({"--emulator", stateDir_, "init"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* line : {"Initialisation:          done\n", "Repository:              full\n",
                             "Repository access:       enabled (state 0)\n", "Static partitions:       5\n",
                             "Left-over drop box:      none\n", "Largest drop box:        306184192 bytes"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    EXPECT_NE(r.out.find("KAV022  0x0002"), std::string::npos) << r.out;
}

TEST_F(ToolPartitionTest, InitRemovesALeftOverDropBoxAndSaysSo) {
    Init();
    LeaveDropBox();
    ProcessResult r = RunZemt({"--emulator", stateDir_, "init", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    nlohmann::json init = Json(r);
    EXPECT_EQ(init["dropBox"]["before"], 1);
    EXPECT_EQ(init["dropBox"]["after"], 0);
    EXPECT_EQ(init["dropBox"]["removed"], true);
    EXPECT_EQ(CountRequests({0xC0, 0xA2, 0x08}), 1) << "one delete request";
    EXPECT_EQ(ControllerState("dynamic.0.units"), "");
    EXPECT_FALSE(fs::exists(stateDir_ + "/partitions/dynamic-0.img"));

    LeaveDropBox();
    r = RunZemt({"--emulator", stateDir_, "init"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Left-over drop box:      0x0001 before initialisation, 0x0000 after (removed)"),
              std::string::npos)
        << r.out;
}

TEST_F(ToolPartitionTest, PartitionsListsWhatTheControllerReports) {
    Init();
    ProcessResult r = RunZemt({"--emulator", stateDir_, "partitions", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    nlohmann::json listed = Json(r);
    EXPECT_EQ(listed["ok"], true);
    ExpectDefaultPartitions(listed["partitions"]);

    // A controller made with other partitions reports other bits, and its
    // own sizes, which the catalogue's do not replace.
    std::string dir = tempDir_ + "/custom";
    r = RunZemt({"emulator", "init", dir, "--partitions", "KAV050,KAV022:400", "--tren-lib", ZEMT_E2E_TREN_LIBRARY});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = RunZemt({"--emulator", dir, "partitions", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    listed = Json(r);
    const nlohmann::json& rows = listed["partitions"];
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0]["label"], "KAV022");  // listed by id
    EXPECT_EQ(rows[0]["bit"], 2);
    EXPECT_EQ(rows[0]["bitHex"], "0x0002");
    EXPECT_EQ(rows[0]["sizeMiB"], 400);
    EXPECT_EQ(rows[0]["catalogueMiB"], 160);
    EXPECT_EQ(rows[1]["label"], "KAV050");
    EXPECT_EQ(rows[1]["bit"], 1);

    r = RunZemt({"--emulator", dir, "partitions"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("50   KAV050  0x0001"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("22   KAV022  0x0002       400  FAT32   FirmwareImages  (catalogue: 160 MiB)\n"),
              std::string::npos)
        << r.out;
}

TEST_F(ToolPartitionTest, LsListsThePartitionAndLeavesTheSandboxClean) {
    for (bool table : {false, true}) {
        SCOPED_TRACE(table ? "behind a partition table" : "whole disk");
        Fresh([&](zemt_emu::InitOptions& o) { o.partitionTable = table; });
        ProcessResult r = RunZemt({"--emulator", stateDir_, "ls", "KAV022"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, "file                17  CANARY.TXT\n");
        EXPECT_NE(r.err.find("attaching KAV022 (this can take a while)"), std::string::npos) << r.err;
        EXPECT_EQ(CountRequests({0xC0, 0xA2, 0x05}), 1);
        ExpectClean("KAV022");
    }

    // A directory on the partition, listed by path; the canary is not in it.
    std::string image = stateDir_ + "/partitions/KAV022.img";
    std::string file = tempDir_ + "/payload.bin";
    ASSERT_TRUE(zemt_emu::WriteWholeFile(file, "payload\n"));
    long offset = 16384;  // the partition table case above is the last state
    ASSERT_EQ(zemt_emu::RunTool({"mmd", "-i", zemt_emu::MtoolsImage(image, offset), "::FW", "::FW/OLD"}), 0);
    ASSERT_EQ(zemt_emu::RunTool({"mcopy", "-i", zemt_emu::MtoolsImage(image, offset), file, "::FW/PAYLOAD.BIN"}), 0);
    ProcessResult r = RunZemt({"--emulator", stateDir_, "ls", "KAV022/./FW/", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    nlohmann::json listed = Json(r);
    EXPECT_EQ(listed["ok"], true);
    EXPECT_EQ(listed["path"], "/FW");
    EXPECT_EQ(listed["detached"], true);
    const nlohmann::json& entries = listed["entries"];
    ASSERT_EQ(entries.size(), 2u) << r.out;
    EXPECT_EQ(entries[0]["name"], "OLD");
    EXPECT_EQ(entries[0]["kind"], "directory");
    EXPECT_EQ(entries[0]["bytes"], nullptr);
    EXPECT_EQ(entries[1]["name"], "PAYLOAD.BIN");
    EXPECT_EQ(entries[1]["kind"], "file");
    EXPECT_EQ(entries[1]["bytes"], 8);
    ExpectClean("KAV022");

    // A path that is not there fails, and the partition is still detached.
    long detachesBefore = CountRequests({0xC0, 0xA2, 0x06});
    r = RunZemt({"--emulator", stateDir_, "ls", "KAV022/NOPE"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("no such file or directory"), std::string::npos) << r.err;
    EXPECT_GT(CountRequests({0xC0, 0xA2, 0x06}), detachesBefore);
    ExpectClean("KAV022");
}

TEST_F(ToolPartitionTest, LsRefusesBadTargetsBeforeAskingTheController) {
    Init();
    const std::vector<std::vector<std::string>> cases = {
        {"ls"},
        {"ls", "KAV022", "KAV023"},
        {"ls", "KAV000"},
        {"ls", "KAV257"},
        {"ls", "kav022"},
        {"ls", "KAV22"},
        {"ls", "KAV0222"},
        {"ls", "SECUPD"},
        {"ls", "/KAV022"},
        {"ls", "KAV022/../KAV023"},
        {"ls", "KAV022/FW/.."},
        {"ls", "KAV022/a/../../etc"},
    };
    for (const auto& words : cases) {
        std::vector<std::string> args = {"--emulator", stateDir_};
        args.insert(args.end(), words.begin(), words.end());
        ProcessResult r = RunZemt(args);
        std::string shown = words.size() > 1 ? words[1] : "(nothing)";
        EXPECT_EQ(r.exitCode, 2) << shown;
        EXPECT_NE(r.err.find("(see 'zemt ls --help')"), std::string::npos) << shown << r.err;
        EXPECT_TRUE(Requests().empty()) << shown << ": the controller was asked";
    }
}

struct InitFailure {
    const char* name;
    std::function<void(zemt_emu::InitOptions&)> configure;
    const char* fault;  // or null
    unsigned code;
    const char* message;
};

TEST_F(ToolPartitionTest, FailuresExitWithOneAndTheErrorCode) {
    const InitFailure cases[] = {
        {"no repository", [](zemt_emu::InitOptions& o) { o.kaver = "none"; }, nullptr, ZEMT_NOKAVERPRESENT,
         "the controller has no repository"},
        {"repository disabled", [](zemt_emu::InitOptions& o) { o.access = 2; }, nullptr, ZEMT_KAVER_DISABLED,
         "the repository is disabled"},
        {"session refused", nullptr, "cmd=0xA2 completion=0x07 times=always", ZEMT_GETSESSFAIL_Vemo,
         "the controller refused a session"},
    };
    for (const InitFailure& c : cases) {
        SCOPED_TRACE(c.name);
        Fresh(c.configure);
        if (c.fault != nullptr) Fault(c.fault);
        ProcessResult r = RunZemt({"--emulator", stateDir_, "init", "--json"});
        EXPECT_EQ(r.exitCode, 1) << r.err;
        nlohmann::json init = Json(r);
        EXPECT_EQ(init["ok"], false);
        EXPECT_EQ(init["error"]["message"], c.message);
        EXPECT_EQ(init["error"]["code"], c.code);
        EXPECT_NE(r.err.find("error " + std::to_string(c.code) + " ("), std::string::npos) << r.err;
        EXPECT_TRUE(init["partitions"].empty());
        EXPECT_EQ(init["sessionHandle"], nullptr);

        // The commands that need an initialised library fail the same way,
        // and ls never gets to attach.
        for (const char* command : {"partitions", "ls"}) {
            std::vector<std::string> args = {"--emulator", stateDir_, command, "--json"};
            if (std::string(command) == "ls") args.push_back("KAV022");
            r = RunZemt(args);
            EXPECT_EQ(r.exitCode, 1) << command;
            nlohmann::json out = Json(r);
            EXPECT_EQ(out["ok"], false) << command;
            if (c.code != 0) {
                EXPECT_EQ(out["error"]["code"], c.code) << command;
            }
        }
        EXPECT_EQ(CountRequests({0xC0, 0xA2, 0x05}), 0);
    }
}

// A repository query that fails is never read as "no repository".
TEST_F(ToolPartitionTest, AFailedRepositoryQueryIsNotTakenForNoRepository) {
    const struct {
        const char* fault;
        const char* init;       // init's message
        const char* partitions; // the message of a command that initialises first
    } cases[] = {
        {"cmd=0xAD completion=0xC3 after=1",  // the constructor asks first
         "the repository query failed during initialisation (asked again, the controller reports a full "
         "repository: try once more)",
         nullptr},
        {"cmd=0xAD completion=0xC3 times=always",
         "the controller did not answer the repository query; whether it has a repository is not known",
         "initialisation failed: the controller did not answer the repository query; whether it has a "
         "repository is not known"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        Fresh();
        Fault(c.fault);
        ProcessResult r = RunZemt({"--emulator", stateDir_, "init", "--json"});
        EXPECT_EQ(r.exitCode, 1);
        nlohmann::json init = Json(r);
        EXPECT_EQ(init["error"]["message"], c.init) << r.out;
        EXPECT_EQ(init["error"]["code"], ZEMT_NOKAVERPRESENT);
        if (c.partitions == nullptr) continue;
        r = RunZemt({"--emulator", stateDir_, "partitions", "--json"});
        EXPECT_EQ(Json(r)["error"]["message"], c.partitions) << r.out;
    }
}

}  // namespace
