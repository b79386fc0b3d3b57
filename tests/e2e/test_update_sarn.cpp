// SPDX-License-Identifier: Apache-2.0
// Firmware updates on a generation-three controller: the payload goes to
// the controller through a drop box's /payload folder and the
// stage-and-update command, whose every answer and status is covered here
// against the emulator, scripted or real.
#include <filesystem>
#include <fstream>

#include "UpdateFixture.h"
#include "zemt_emulator/FaultScript.h"

namespace fs = std::filesystem;

namespace {

class SarnUpdateTest : public UpdateTest {
protected:
    // Requests of the stage-and-update command with operation OP.
    long StageRequests(unsigned op) const {
        long n = 0;
        for (const LoggedRequest& r : Requests())
            if (r.Is({0xc0, 0xa2, 0x25}) && r.request.size() > 5 && r.request[5] == op) ++n;
        return n;
    }

    // The BIOS package on a fresh controller, FAULT added after CheckVemo.
    Outcome FreshBiosUpdate(const std::string& fault) {
        FreshUpdate("sarn");
        UsePackage("system-bios-1.7.0");
        return Update("payload/bios170.hdr", nullptr, nullptr, [&]() {
            if (!fault.empty()) Fault(fault);
        });
    }

    void ExpectDropBoxGone() const {
        EXPECT_EQ(ControllerState("dynamic.0.units"), "") << "the drop box is still there";
        ExpectNothingMounted("SECUPD");
    }
};

TEST_F(SarnUpdateTest, AppliedUpdatesReportWhetherTheyNeedAReboot) {
    struct Case {
        const char* package;
        const char* rebootRequired;  // written into the descriptor when not empty
        const char* payload;
        int result;
        const char* text;
        const char* componentId;
        const char* version;
        const char* event;
        std::vector<std::string> staged;  // below /payload, sorted
    };
    const Case cases[] = {
        {"system-bios-1.7.0", "", "payload/bios170.hdr", 0, "", "159", "1.7.0",
         "Updated 159 (System BIOS) 1.4.2 to 1.7.0; a reboot is required", {"bios170.hdr", "package.xml"}},
        // Success without a reboot is 1, which the entry point reports as a
        // failure text all the same.
        {"nx2-adapter-firmware-5.3.0", "", "payload", 1, "Update Using RQ Failed", "21500", "5.3.0",
         "Updated 21500 (NX-2 Dual-Port 10GbE Adapter) 5.1.3 to 5.3.0; no reboot is required",
         {"nx2fw530.bin", "option-rom", "option-rom/nx2rom530.bin", "package.xml"}},
        // The descriptor's own word decides over its type.
        {"nx2-adapter-firmware-5.3.0", "true", "payload/nx2fw530.bin", 0, "", "21500", "5.3.0",
         "Updated 21500 (NX-2 Dual-Port 10GbE Adapter) 5.1.3 to 5.3.0; a reboot is required",
         {"nx2fw530.bin", "package.xml"}},
        {"system-bios-1.7.0", "false", "payload/bios170.hdr", 1, "Update Using RQ Failed", "159", "1.7.0",
         "Updated 159 (System BIOS) 1.4.2 to 1.7.0; no reboot is required", {"bios170.hdr", "package.xml"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.package) + " " + c.rebootRequired);
        FreshUpdate("sarn");
        ASSERT_NO_FATAL_FAILURE(UsePackage(c.package));
        if (*c.rebootRequired) {
            std::string descriptor;
            zemt_emu::ReadWholeFile(workDir_ + "/package.xml", descriptor);
            const std::string::size_type at = descriptor.find(" vendorVersion=");
            descriptor.insert(at, " rebootRequired=\"" + std::string(c.rebootRequired) + "\"");
            WriteWorkFile("package.xml", descriptor);
        }
        const unsigned long started = Clock();
        const Outcome outcome = Update(c.payload);
        EXPECT_EQ(outcome.generation, SarnGen);
        EXPECT_EQ(outcome.result, c.result);
        EXPECT_EQ(outcome.text, c.text);
        EXPECT_EQ(FirmwareVersion(c.componentId), c.version);
        EXPECT_EQ(LastEvent("stage-and-update"), c.event);
        const std::string change = "toVersion=\"" + std::string(c.version) + "\" by=\"stage-and-update\"";
        EXPECT_NE(InventoryFile("history.xml").find(change), std::string::npos);
        // The controller stayed pending for its stage time (10 s), polled
        // every 2 s.
        EXPECT_EQ(StageRequests(4), 1);
        EXPECT_EQ(StageRequests(8), 6);
        EXPECT_GE(Clock() - started, 10u);
        std::vector<std::string> staged;
        const std::string store = stateDir_ + "/staging/payload";
        for (const fs::directory_entry& e : fs::recursive_directory_iterator(store))
            staged.push_back(e.path().string().substr(store.size() + 1));
        std::sort(staged.begin(), staged.end());
        EXPECT_EQ(staged, c.staged);
        EXPECT_EQ(Folder("KAV022.img", ""), std::vector<std::string>{"CANARY.TXT"}) << "no versioned folders";
        ExpectDropBoxGone();
    }
}

// A payload larger than a drop box travels in passes; the controller joins
// its chunks and keeps the files of every pass.
TEST_F(SarnUpdateTest, PayloadOfSeveralPassesIsStagedWhole) {
    InitUpdate("sarn");
    ASSERT_NO_FATAL_FAILURE(UsePackage("nx2-adapter-firmware-5.3.0"));
    const std::string large = VaryingBytes(1048576 + 524288, 3);
    WriteWorkFile("payload/option-rom/large.bin", large);
    WriteWorkFile("payload/empty.bin", "");
    const Outcome outcome = Update("payload", nullptr, nullptr, [] {
        // With the 1 MiB margin every pass keeps, each carries about 1 MiB.
        pUpdRollbackWrapper->MAX_DYN_PART_SIZE = 2 * 1048576;
    });
    EXPECT_EQ(outcome.result, 1);
    long passes = 0;  // hash headers
    for (const LoggedRequest& r : Requests())
        passes += r.Is({0xc0, 0xa2, 0x09}) && r.request.size() > 5 && r.request[5] == 0;
    EXPECT_GE(passes, 2);
    std::string staged;
    EXPECT_TRUE(zemt_emu::ReadWholeFile(stateDir_ + "/staging/payload/option-rom/large.bin", staged));
    EXPECT_TRUE(staged == large) << staged.size() << " bytes of " << large.size();
    EXPECT_TRUE(fs::exists(stateDir_ + "/staging/payload/nx2fw530.bin"));
    EXPECT_EQ(fs::file_size(stateDir_ + "/staging/payload/empty.bin"), 0u);
    EXPECT_FALSE(fs::exists(stateDir_ + "/staging/payload/option-rom/large.bin.zemt-partial"));
    EXPECT_EQ(FirmwareVersion("21500"), "5.3.0");
    ExpectDropBoxGone();
}

TEST_F(SarnUpdateTest, StageOnlyLeavesTheInventoryAsItWas) {
    InitUpdate("sarn");
    ASSERT_NO_FATAL_FAILURE(UsePackage("system-bios-1.7.0"));
    UpdRollbackWrapper* wrapper = MakeWrapper();
    ASSERT_NE(wrapper, nullptr);
    std::string error;
    const int result =
        wrapper->doRollbackAndUpdate({workDir_ + "/payload"}, nullptr, nullptr, false, error, false, false, "");
    EXPECT_EQ(result, 0) << error;
    EXPECT_EQ(StageRequests(2), 1);
    EXPECT_EQ(StageRequests(4), 0);
    EXPECT_EQ(FirmwareVersion("159"), "1.4.2");
    EXPECT_EQ(LastEvent("staged"),
              "Staged 159 (System BIOS) 1.4.2 to 1.7.0, not applied; applying it: a reboot is required");
    EXPECT_EQ(InventoryFile("history.xml").find("by=\"stage-and-update\""), std::string::npos);
}

// Every status a poll can report, scripted: a final status ends the update
// at the first poll; "pending" and unlisted codes keep it polling until the
// controller's own outcome (success with a reboot for the BIOS).
TEST_F(SarnUpdateTest, EachPollStatusGivesItsResult) {
    struct Case {
        const char* fault;
        int result;
        long polls;
    };
    const Case cases[] = {
        {"stage status=1", -1, 1},  {"stage status=4", -1, 1},  {"stage status=9", -1, 1},
        {"stage status=23", -1, 1}, {"stage status=32", -1, 1}, {"stage status=44", -1, 1},
        {"stage status=45", 0, 1},  {"stage status=46", -1, 1}, {"stage status=47", 1, 1},
        {"stage status=48", -1, 1},
        {"stage status=2 times=8", 0, 9},    // the real outcome follows once the stage time has passed
        {"stage status=0x63 times=8", 0, 9}, // unlisted: polled again
        {"stage status=0 times=8", 0, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        const Outcome outcome = FreshBiosUpdate(c.fault);
        EXPECT_EQ(outcome.result, c.result);
        EXPECT_EQ(outcome.text, c.result == 0 ? "" : "Update Using RQ Failed");
        EXPECT_EQ(StageRequests(8), c.polls);
        EXPECT_EQ(FirmwareVersion("159"), c.polls > 1 ? "1.7.0" : "1.4.2") << "only the real outcome applies";
        ExpectDropBoxGone();
    }
}

// The answers to the start request: only "accepted" leads to polling; a
// pending (or unlisted) answer is asked again after 2 s, ten times at most.
TEST_F(SarnUpdateTest, EachStartAnswerGivesItsResult) {
    struct Case {
        const char* fault;
        int result;
        long starts;
        unsigned long waited;  // virtual seconds before polling or giving up
    };
    const Case cases[] = {
        {"stage start=2", -1, 1, 0},
        {"stage start=3 times=10", -1, 10, 20},
        {"stage start=3 times=9", 0, 10, 18},
        {"stage start=0x63 times=always", -1, 10, 20},
        {"stage start=0 times=2", 0, 3, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        const Outcome outcome = FreshBiosUpdate(c.fault);
        EXPECT_EQ(outcome.result, c.result);
        EXPECT_EQ(StageRequests(2) + StageRequests(4), c.starts);
        EXPECT_EQ(StageRequests(8) > 0, c.result == 0);
        // The waits between the start requests, read from the request log.
        std::vector<unsigned long> startTimes;
        for (const LoggedRequest& r : Requests())
            if (r.Is({0xc0, 0xa2, 0x25}) && r.request.size() > 5 && r.request[5] == 4) startTimes.push_back(r.time);
        ASSERT_FALSE(startTimes.empty());
        const unsigned long last = c.result == 0 ? startTimes.back() : Clock();
        EXPECT_EQ(last - startTimes.front(), c.waited);
        EXPECT_EQ(FirmwareVersion("159"), c.result == 0 ? "1.7.0" : "1.4.2");
        ExpectDropBoxGone();
    }
}

TEST(StageFaultLine, NamesOneAnswerByte) {
    zemt_emu::Fault f;
    std::string error;
    ASSERT_TRUE(zemt_emu::ParseFaultLine("stage start=3 times=10", f, error)) << error;
    EXPECT_EQ(f.stageStart, 3);
    EXPECT_EQ(f.stageStatus, -1);
    EXPECT_EQ(f.times, 10);
    ASSERT_TRUE(zemt_emu::ParseFaultLine("stage status=0x63 after=2", f, error)) << error;
    EXPECT_EQ(f.stageStatus, 0x63);
    EXPECT_FALSE(f.hasStatus) << "not a transport status";
    for (const char* bad : {"stage", "stage start=0x100", "stage status=x", "stage start=3 status=2",
                            "stage effect=refuse", "stage times=2"}) {
        EXPECT_FALSE(zemt_emu::ParseFaultLine(bad, f, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

// The controller's own verdicts on a staged payload it cannot apply.
TEST_F(SarnUpdateTest, InvalidPayloadsFailWithTheControllersStatus) {
    struct Case {
        const char* name;
        std::function<void()> prepare;
        const char* package;
        const char* payload;
        int status;
        const char* why;
    };
    const Case cases[] = {
        {"a device the server does not have", nullptr, "sx8-storage-firmware", "payload", 46,
         "no device in the inventory fits the package"},
        {"a descriptor of another kind", [this] { WriteWorkFile("package.xml", "<Package version=\"1\"/>\n"); },
         "system-bios-1.7.0", "payload", 44, "package.xml is not a package descriptor"},
        {"a descriptor without a version",
         [this] { WriteWorkFile("package.xml", "<SoftwareComponent><SupportedDevices><Device componentID=\"159\"/>"
                                               "</SupportedDevices></SoftwareComponent>\n"); },
         "system-bios-1.7.0", "payload", 4, "package.xml names no vendorVersion"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FreshUpdate("sarn");
        ASSERT_NO_FATAL_FAILURE(UsePackage(c.package));
        if (c.prepare) c.prepare();
        const Outcome outcome = Update(c.payload);
        EXPECT_EQ(outcome.result, -1);
        EXPECT_EQ(outcome.text, "Update Using RQ Failed");
        EXPECT_EQ(LastEvent("stage-failed"),
                  "Stage and update failed with status " + std::to_string(c.status) + ": " + c.why);
        EXPECT_EQ(ControllerState("stage.status"), std::to_string(c.status));
        EXPECT_EQ(FirmwareVersion("159"), "1.4.2");
        EXPECT_EQ(InventoryFile("history.xml").find("by=\"stage-and-update\""), std::string::npos);
        ExpectDropBoxGone();
    }
}

TEST_F(SarnUpdateTest, DescriptorGivenByTheCallerMustExist) {
    InitUpdate("sarn");
    ASSERT_NO_FATAL_FAILURE(UsePackage("system-bios-1.7.0"));
    UpdRollbackWrapper* wrapper = MakeWrapper();
    ASSERT_NE(wrapper, nullptr);
    std::string error;
    EXPECT_EQ(wrapper->doRollbackAndUpdate({workDir_ + "/payload"}, nullptr, nullptr, false, error, true, true,
                                           workDir_ + "/missing.xml"),
              UPD_ADDFILEERROR);
    EXPECT_EQ(error, "ZEMT addPayloadFiles failed");
}

// The GUID capability decides the path, whatever the generation.
TEST_F(SarnUpdateTest, GuidCapabilityChoosesThePath) {
    struct Case {
        const char* generation;
        const char* guid;
        bool versionedFolders;
    };
    const Case cases[] = {{"sarn", "off", true}, {"vemo", "on", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.generation) + " --guid " + c.guid);
        FreshUpdate(c.generation, [&](zemt_emu::InitOptions& o) { o.guid = c.guid; });
        ASSERT_NO_FATAL_FAILURE(UsePackage("system-bios-1.7.0"));
        const Outcome outcome = Update("payload/bios170.hdr", "BIOS", "bioswrap");
        EXPECT_EQ(outcome.result, 0);
        EXPECT_EQ(Folder("KAV022.img", "/159/current") == (std::vector<std::string>{"bios170.hdr", "package.xml"}),
                  c.versionedFolders);
        EXPECT_EQ(StageRequests(4), c.versionedFolders ? 0 : 1);
        EXPECT_EQ(FirmwareVersion("159"), "1.7.0") << "by the task or by the stage-and-update command";
    }
}

}  // namespace
