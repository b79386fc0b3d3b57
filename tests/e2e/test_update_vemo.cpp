// SPDX-License-Identifier: Apache-2.0
// Firmware updates on a generation-two controller through the entry points:
// the versioned folders of KAV022 (read from the partition image), the
// controller's task that applies the payload to the inventory, and every
// code of the update the emulator can provoke.
#include <filesystem>
#include <fstream>

#include "UpdateFixture.h"

namespace fs = std::filesystem;

namespace {

class VemoUpdateTest : public UpdateTest {
protected:
    // The BIOS example packages run the controller's BIOS wrapper.
    Outcome UpdateBios(const std::string& payload, const char* wrapper = "bioswrap",
                       const std::function<void()>& between = nullptr) {
        return Update(payload, "BIOS", wrapper, between);
    }

    std::string TaskLog() const {
        std::string text;
        zemt_emu::ReadWholeFile(stateDir_ + "/tasks.log", text);
        return text;
    }

    // A task file made by hand, handed to the controller through a copy list
    // (after a file of KAV022, which the copy's verification reads back).
    void HandTask(const std::string& text) {
        WriteWorkFile("ssibinput.xml", text);
        WriteWorkFile("note.txt", "handed with a task\n");
        std::unique_ptr<secureKaver> kaver = Start();
        ASSERT_TRUE(kaver->StartCopyFile());
        ASSERT_TRUE(kaver->AddFile(workDir_ + "/note.txt", "kav022/note.txt", filecopy));
        ASSERT_TRUE(kaver->AddFile(workDir_ + "/ssibinput.xml", "", ssib)) << int(kaver->getZEMTError());
        ASSERT_TRUE(kaver->CompleteCopyFile()) << int(kaver->getZEMTError());
    }
};

std::string taskFor(const std::string& wrapper, const std::string& id) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><SSIB><Record type=\"0\" blockid=\"6\" reboot_required=\"1\" "
           "reboot_type=\"1\" timeout=\"300\" returncode=\"0\" retrycount=\"0\" cmd=\"" +
           wrapper + " /u frmw:\\" + id + "\\" + id + ".xml ramfs:\\output.xml\" /></SSIB>\n";
}

TEST_F(VemoUpdateTest, FreshInstallUpdateReinstallAndRollbackKeepTheVersionedFolders) {
    InitUpdate("vemo");
    // What KAV022 holds for the BIOS: each folder's files and the version
    // of its descriptor, and the version the inventory shows.
    auto expectStored = [this](const std::string& current, const std::string& previous) {
        auto files = [](const std::string& version) {
            return std::vector<std::string>{version == "1.5.0" ? "bios150.hdr" : "bios170.hdr", "package.xml"};
        };
        EXPECT_EQ(Folder("KAV022.img", "/159"), (std::vector<std::string>{"159.xml", "current", "previous"}));
        EXPECT_EQ(Folder("KAV022.img", "/159/current"), files(current));
        EXPECT_EQ(Folder("KAV022.img", "/159/previous"), files(previous));
        EXPECT_EQ(StoredVersion("/159/current"), current);
        EXPECT_EQ(StoredVersion("/159/previous"), previous);
        EXPECT_EQ(FirmwareVersion("159"), current);
    };
    {
        SCOPED_TRACE("fresh install from a payload folder: both folders get the version");
        ASSERT_NO_FATAL_FAILURE(UsePackage("system-bios-1.5.0"));
        const Outcome outcome = UpdateBios("payload");
        EXPECT_EQ(outcome.generation, VemoGen);
        ASSERT_EQ(outcome.result, 0) << outcome.text;
        EXPECT_EQ(outcome.text, "");
        expectStored("1.5.0", "1.5.0");
    }
    {
        SCOPED_TRACE("update from a single file: current moves to previous");
        ASSERT_NO_FATAL_FAILURE(UsePackage("system-bios-1.7.0"));
        ASSERT_EQ(UpdateBios("payload/bios170.hdr").result, 0);
        expectStored("1.7.0", "1.5.0");
        EXPECT_EQ(ImageFile(Image("KAV022.img"), "/159/previous/bios150.hdr"),
                  "Example BIOS image 1.5.0 for the emulated server (not a real image).\n");
    }
    {
        SCOPED_TRACE("the same version again: current is replaced, previous stays");
        std::ofstream(workDir_ + "/payload/bios170.hdr") << "rebuilt image 1.7.0\n";
        ASSERT_EQ(UpdateBios("payload/bios170.hdr").result, 0);
        expectStored("1.7.0", "1.5.0");
        EXPECT_EQ(ImageFile(Image("KAV022.img"), "/159/current/bios170.hdr"), "rebuilt image 1.7.0\n");
    }
    {
        SCOPED_TRACE("rollback: the previous package run again");
        ASSERT_NO_FATAL_FAILURE(UsePackage("system-bios-1.5.0"));
        ASSERT_EQ(UpdateBios("payload").result, 0);
        expectStored("1.5.0", "1.7.0");
    }
    EXPECT_EQ(ImageFile(Image("KAV022.img"), "/CANARY.TXT"), "canary of KAV022\n");
    EXPECT_EQ(ControllerState("dynamic.0.units"), "") << "a drop box was left behind";
    ExpectNothingMounted("KAV022");
    ExpectNothingMounted("SECUPD");
}

TEST_F(VemoUpdateTest, TaskAppliesThePackageVersionWithAHistoryRecordAndAnEvent) {
    InitUpdate("vemo");
    ASSERT_NO_FATAL_FAILURE(UsePackage("system-bios-1.7.0"));
    ASSERT_EQ(UpdateBios("payload/bios170.hdr").result, 0);

    EXPECT_EQ(FirmwareVersion("159"), "1.7.0");
    EXPECT_NE(InventoryFile("history.xml")
                  .find("action=\"updated\" componentID=\"159\" display=\"System BIOS\" fromVersion=\"1.4.2\" "
                        "toVersion=\"1.7.0\" by=\"ssib\""),
              std::string::npos)
        << InventoryFile("history.xml");
    EXPECT_EQ(LastEvent("task-applied"),
              "Task ssibinput.xml: bioswrap updated 159 (System BIOS) 1.4.2 to 1.7.0; a reboot is required");
    EXPECT_NE(TaskLog().find(" ssibinput.xml "), std::string::npos);
    EXPECT_EQ(TaskLog().substr(TaskLog().size() - 9), " applied\n");
    // The component file the task read, as the library wrote it.
    EXPECT_EQ(ImageFile(Image("KAV022.img"), "/159/159.xml"),
              "<Wrapper name=\"BIOS\" filePathName=\"bioswrap\" digitalSignature=\"false\" timeout=\"300\" >"
              "<SupportedDevices><Device componentID=\"159\" impactsTPMmeasurements=\"true\" fieldservice=\"forced\" >"
              "<FmpInfo vendorcode=\"\" vendorcodetype=\"UINT32\" FileExtension=\".hdr\" "
              "fmpGUID=\"B1FF281A-918F-4603-B8D2-125E02299D50\" /></Device></SupportedDevices>"
              "<Inventory supported=\"true\" source=\"Device\" /><Update supported=\"true\" rollback=\"true\" "
              "validationNeeded=\"true\" /></Wrapper>\n");
}

TEST_F(VemoUpdateTest, WithoutSubsystemOrWrapperNoTaskRuns) {
    InitUpdate("vemo");
    ASSERT_NO_FATAL_FAILURE(UsePackage("system-bios-1.7.0"));
    ASSERT_EQ(Update("payload/bios170.hdr", "BIOS", nullptr).result, 0);
    EXPECT_EQ(Folder("KAV022.img", "/159/current"), (std::vector<std::string>{"bios170.hdr", "package.xml"}));
    EXPECT_EQ(Folder("KAV022.img", "/159"), (std::vector<std::string>{"current", "previous"}));
    EXPECT_EQ(TaskLog(), "");
    EXPECT_EQ(FirmwareVersion("159"), "1.4.2") << "staged, not applied";
}

// A task that cannot run changes nothing in the inventory and says why; the
// copy itself succeeded.
TEST_F(VemoUpdateTest, FailedTasksSayWhyAndLeaveTheInventory) {
    struct Case {
        const char* name;
        std::function<void()> run;
        const char* why;
        const char* version;  // of the BIOS afterwards
    };
    const Case cases[] = {
        {"a wrapper the controller does not have",
         [this] {
             UsePackage("system-bios-1.7.0");
             EXPECT_EQ(UpdateBios("payload/bios170.hdr", "flashall").result, 0);
         },
         "the controller has no wrapper program 'flashall' (it has bioswrap, cpldwrap, psuwrap)", "1.4.2"},
        {"a component file that is not there", [this] { HandTask(taskFor("bioswrap", "777")); },
         "the component file frmw:\\777\\777.xml is not in the repository", "1.4.2"},
        {"a component file for another wrapper",
         [this] {
             UsePackage("system-bios-1.7.0");
             EXPECT_EQ(UpdateBios("payload/bios170.hdr").result, 0);
             HandTask(taskFor("cpldwrap", "159"));
         },
         "the component file frmw:\\159\\159.xml names the wrapper 'bioswrap', the task runs 'cpldwrap'",
         "1.7.0"},
        {"a BIOS payload without an image file",
         [this] {
             UsePackage("system-bios-1.7.0");
             fs::rename(workDir_ + "/payload/bios170.hdr", workDir_ + "/payload/bios170.bin");
             EXPECT_EQ(UpdateBios("payload").result, 0);
         },
         "frmw:\\159\\current holds no *.hdr payload file", "1.4.2"},
        {"a device the server does not have",
         [this] {
             UsePackage("sx8-storage-firmware");
             EXPECT_EQ(Update("payload", "PSU", "psuwrap").result, 0);
         },
         "no device of component 30117 in the inventory fits the payload", "1.4.2"},
        {"not a task file", [this] { HandTask("task text\n"); },
         "it is not a task file (no SSIB record)", "1.4.2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FreshUpdate("vemo");
        c.run();
        EXPECT_EQ(LastEvent("task-failed"), std::string("Task ssibinput.xml failed: ") + c.why);
        EXPECT_EQ(TaskLog().substr(TaskLog().size() - 8), " failed\n");
        EXPECT_EQ(FirmwareVersion("159"), c.version);
        EXPECT_EQ(FirmwareVersion("30117"), "<absent>");
    }
}

}  // namespace
