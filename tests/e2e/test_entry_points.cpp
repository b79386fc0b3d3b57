// SPDX-License-Identifier: Apache-2.0
// The four plain entry points against the emulator: what CheckVemo and
// Depcheck report and when they keep or release the update object, and a
// whole update driven by the example C program under `zemt emulator exec`.
#include <cstring>
#include <filesystem>

#include "UpdateFixture.h"
#include "zemt_error.h"

namespace fs = std::filesystem;

namespace {

class EntryPointTest : public UpdateTest {};

const char* const kUntouched = "untouched";

TEST_F(EntryPointTest, CheckVemoReportsTheGenerationOrWhyNot) {
    struct Case {
        const char* name;
        std::function<void(zemt_emu::InitOptions&)> configure;
        std::vector<std::string> faults;
        int generation;
        int code;          // *nRetVal afterwards (77: left alone)
        const char* text;  // errString afterwards
        bool kept;         // the update object
    };
    const Case cases[] = {
        {"vemo", [](zemt_emu::InitOptions& o) { o.generation = "vemo"; }, {}, VemoGen, 77, kUntouched, true},
        {"sarn", nullptr, {}, SarnGen, 77, kUntouched, true},
        {"pre-vemo: the object is released at once", [](zemt_emu::InitOptions& o) { o.generation = "pre-vemo"; },
         {}, PreVemo, 77, kUntouched, false},
        {"no repository", [](zemt_emu::InitOptions& o) { o.kaver = "none"; }, {}, 0, 77,
         "CheckVemo : There is no kaver present on the system ", false},
        {"repository disabled", [](zemt_emu::InitOptions& o) { o.access = 5; }, {}, SarnGen, ZEMT_KAVER_DISABLED,
         "CheckVemo :kaver is disabled ", false},
        {"any other failure: no session", nullptr,
         {"cmd=0xA2/18 completion=0x07 times=always", "cmd=0xA2/0 completion=0x07 times=always"}, SarnGen,
         ZEMT_GETSESSFAIL_Vemo, "ZEMT Initialization failed", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FreshUpdate("sarn", c.configure);
        for (const std::string& fault : c.faults) Fault(fault);
        char text[ZEMT_ERRSTRING_SIZE];
        std::strcpy(text, kUntouched);
        int code = 77;
        EXPECT_EQ(CheckVemo(text, &code), c.generation);
        EXPECT_EQ(code, c.code);
        EXPECT_STREQ(text, c.text);
        EXPECT_EQ(pUpdRollbackWrapper != nullptr, c.kept);
        CleanUp_UpdRollbackWrapper();
        EXPECT_EQ(pUpdRollbackWrapper, nullptr);
        const std::string session = ControllerState("session.handle");
        EXPECT_TRUE(session == "0" || session.empty()) << "a released object ends its session: " << session;
    }
}

// A second CheckVemo replaces the object: the first one's session would
// otherwise keep the new one from starting.
TEST_F(EntryPointTest, SecondCheckVemoReplacesTheFirstObject) {
    InitUpdate("sarn");
    ASSERT_NO_FATAL_FAILURE(UsePackage("nx2-adapter-firmware-5.3.0"));
    char text[ZEMT_ERRSTRING_SIZE] = "";
    int code = 0;
    ASSERT_EQ(CheckVemo(text, &code), SarnGen);
    ASSERT_EQ(CheckVemo(text, &code), SarnGen);
    EXPECT_EQ(code, 0);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(CountRequests({0xc0, 0xa2, 0x01}), 1) << "the first object ended its session";
    EXPECT_EQ(UpdateBiosUsingRQ(const_cast<char*>("payload"), nullptr, nullptr, false, text), 1);
    EXPECT_EQ(FirmwareVersion("21500"), "5.3.0");
}

TEST_F(EntryPointTest, DepcheckReportsTheVerdictAndKeepsTheObjectOnlyWhenItPassed) {
    struct Case {
        const char* name;
        const char* package;
        std::function<void(zemt_emu::InitOptions&)> configure;
        const char* fault;
        int result;
        const char* reason;  // the failure reason it leaves, from its start
    };
    const Case cases[] = {
        {"a package that fits", "nx2-adapter-firmware", nullptr, "", 0, ""},
        {"a hard dependency not met", "system-bios-update", nullptr, "", 249,
         "the controller's dependency check rejected the package"},
        {"the exchange fails", "nx2-adapter-firmware", nullptr, "process effect=refuse", 248,
         "the dependency check could not be made: "},
        {"firmware without the check", "system-bios-update",
         [](zemt_emu::InitOptions& o) { o.firmwareMinor = 10; }, "", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FreshUpdate("sarn", c.configure);
        ASSERT_NO_FATAL_FAILURE(UsePackage(c.package));
        char text[ZEMT_ERRSTRING_SIZE] = "";
        int code = 0;
        ASSERT_EQ(CheckVemo(text, &code), SarnGen);
        if (*c.fault) Fault(c.fault);
        EXPECT_EQ(Depcheck(), c.result);
        const std::string reason = zemtLastFailureReason();
        EXPECT_EQ(reason.compare(0, std::strlen(c.reason), c.reason), 0) << reason;
        if (c.result == 0) {
            EXPECT_EQ(reason, "");
        }
        EXPECT_EQ(pUpdRollbackWrapper != nullptr, c.result == 0);
        if (c.result != 0) {
            EXPECT_EQ(Depcheck(), -1);
            EXPECT_STREQ(zemtLastFailureReason(),
                         "no update object: CheckVemo was not called, or the object was released");
            EXPECT_EQ(UpdateBiosUsingRQ(const_cast<char*>("payload"), nullptr, nullptr, false, text), -1);
        }
    }
}

TEST_F(EntryPointTest, WithoutCheckVemoNothingReachesTheController) {
    InitUpdate("sarn");
    ASSERT_NO_FATAL_FAILURE(UsePackage("system-bios-1.7.0"));
    char text[ZEMT_ERRSTRING_SIZE];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(UpdateBiosUsingRQ(const_cast<char*>("payload/bios170.hdr"), const_cast<char*>("BIOS"),
                                const_cast<char*>("bioswrap"), true, text),
              -1);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(Depcheck(), -1);
    CleanUp_UpdRollbackWrapper();
    EXPECT_TRUE(Requests().empty());
}

// What UpdateBiosUsingRQ reports when a step fails, on each path where the
// emulator can make that step fail (0: the step is not on that path or does
// not fail the update there).  Only a failure after the controller carried
// out the document leaves the new version applied.
TEST_F(EntryPointTest, EachFailingStepGivesItsCode) {
    struct Case {
        const char* name;
        std::function<void()> prepare;  // in the package's folder
        const char* payload;
        const char* fault;  // added after CheckVemo
        int vemoCode;
        int sarnCode;
        bool applied;  // on the Vemo path
        const char* reason;  // part of the failure reason on both paths
    };
    const Case cases[] = {
        {"no descriptor in the working directory", [this] { fs::remove(workDir_ + "/package.xml"); },
         "payload/bios170.hdr", "", ZEMT_PACKAGEXMLERROR, UPD_PKGERROR, false, "package.xml"},
        {"no payload file", nullptr, "payload/bios171.hdr", "", UPD_PAYLOADERROR, UPD_PAYLOADERROR, false,
         "payload/bios171.hdr: No such file or directory"},
        {"an empty payload folder", [this] { fs::create_directory(workDir_ + "/empty"); }, "empty", "",
         UPD_NOPAYLOAD, UPD_NOPAYLOAD, false, "the payload folder empty is empty"},
        {"no descriptor beside the payload folder", [this] { fs::create_directories(workDir_ + "/deep/payload/x"); },
         "deep/payload", "", UPD_PKGERROR, 0, false, "the package's descriptor deep/payload/../package.xml"},
        {"the component file cannot be written", [this] { fs::create_directory(workDir_ + "/159.xml"); },
         "payload/bios170.hdr", "", UPD_COMPIDOPENERROR, 0, false, "writing the component file: "},
        {"the task file cannot be written", [this] { fs::create_directory(workDir_ + "/ssibinput.xml"); },
         "payload/bios170.hdr", "", UPD_SSIBOPENERROR, 0, false, "writing the task file: "},
        {"KAV022 cannot be attached", nullptr, "payload/bios170.hdr", "cmd=0xA2/5 completion=0x01 times=always",
         UPD_PAYLOADERROR, 0, false, "reading the component's folders in KAV022: AttachPartitions refused"},
        {"no drop box", nullptr, "payload/bios170.hdr", "cmd=0xA2/7 completion=0x01 times=always",
         ZEMT_CREATE_DYN_PART_FAILED, ZEMT_CREATE_DYN_PART_FAILED, false,
         "creating the drop box: CreateDynamicPartition refused"},
        {"the drop box never shows up", nullptr, "payload/bios170.hdr", "disk label=SECUPD appear=never times=always",
         ZEMT_FINDMOUNTERR, ZEMT_FINDMOUNTERR, false, "no disk labelled SECUPD appeared"},
        {"the drop box is not detached", nullptr, "payload/bios170.hdr", "cmd=0xA2/6 completion=0x01 after=1",
         ZEMT_DETACHFAILED, 0, false, "detaching the drop box: DetachPartitions refused"},
        {"the controller refuses the document", nullptr, "payload/bios170.hdr", "process effect=refuse",
         ZEMT_SMCFAILED, ZEMT_SMCFAILED, false, "handing the update document to the controller"},
        {"the drop box is not deleted", nullptr, "payload/bios170.hdr", "cmd=0xA2/8 completion=0x01",
         ZEMT_DELETEDROPBOXERR, 0, true, "deleting the drop box: DeleteDynamicPartition refused"},
        // The damaged file is the last one written, the component file: the
        // task cannot read it either.
        {"a stored file comes back damaged", nullptr, "payload/bios170.hdr", "process effect=corrupt",
         ZEMT_COPYVERIFYFAIL, 0, false, "verifying the copies: kav022/159/159.xml does not match"},
        {"the stage request is refused", nullptr, "payload/bios170.hdr", "cmd=0xA2/37 completion=0xC1 after=1", 0,
         -1, false, "stage and update: asking the controller to start: sub-command 37 refused"},
    };
    for (const Case& c : cases) {
        for (const char* generation : {"vemo", "sarn"}) {
            const int code = std::string(generation) == "vemo" ? c.vemoCode : c.sarnCode;
            if (code == 0) continue;
            SCOPED_TRACE(std::string(generation) + ": " + c.name);
            FreshUpdate(generation);
            ASSERT_NO_FATAL_FAILURE(UsePackage("system-bios-1.7.0"));
            if (c.prepare) c.prepare();
            const Outcome outcome = Update(c.payload, "BIOS", "bioswrap", [&]() {
                if (*c.fault) Fault(c.fault);
            });
            EXPECT_EQ(outcome.result, code);
            EXPECT_EQ(outcome.text, "Update Using RQ Failed");
            EXPECT_NE(std::string(zemtLastFailureReason()).find(c.reason), std::string::npos)
                << c.reason << "\n" << zemtLastFailureReason();
            EXPECT_EQ(FirmwareVersion("159"), c.applied ? "1.7.0" : "1.4.2");
        }
    }
}

// An update package written in C, which loads the library by its name, run
// from its package's folder against the emulator.
TEST_F(EntryPointTest, ExampleProgramRunsTheWholeUpdate) {
    struct Case {
        const char* generation;
        const char* package;
        std::vector<std::string> args;
        int exitCode;
        const char* output;
        const char* componentId;
        const char* version;
    };
    const Case cases[] = {
        {"vemo", "system-bios-1.7.0", {"payload/bios170.hdr", "BIOS", "bioswrap"}, 0,
         "Server generation: 1\nDependency check: passed\n"
         "Update staged in the component's current folder; the controller's task applies it\n",
         "159", "1.7.0"},
        {"sarn", "nx2-adapter-firmware-5.3.0", {"payload"}, 0,
         "Server generation: 2\nDependency check: passed\nUpdate applied; no reboot is required\n", "21500",
         "5.3.0"},
        {"sarn", "system-bios-1.7.0", {"payload/bios170.hdr"}, 0,
         "Server generation: 2\nDependency check: passed\nUpdate applied; a reboot is required\n", "159", "1.7.0"},
        {"sarn", "system-bios-update", {"payload"}, 1,
         "Server generation: 2\nDependency check: the controller rejected the package\n", "159", "1.4.2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.generation) + " " + c.package);
        Fresh([&](zemt_emu::InitOptions& o) { o.generation = c.generation; });
        ASSERT_NO_FATAL_FAILURE(UsePackage(c.package));
        fs::copy_file(ZEMT_E2E_UPDATE_PACKAGE, workDir_ + "/update-package");
        std::vector<std::string> args = {"emulator", "exec", stateDir_, "--", "./update-package"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ProcessResult run = RunZemt(args, {{"LD_LIBRARY_PATH", ZEMT_E2E_LIBRARY_DIR}});
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_EQ(run.out, c.output);
        EXPECT_EQ(FirmwareVersion(c.componentId), c.version);
        EXPECT_EQ(ControllerState("session.handle"), "0");
        ExpectNothingMounted("SECUPD");
    }
}

}  // namespace
