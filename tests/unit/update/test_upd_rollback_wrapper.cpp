// SPDX-License-Identifier: Apache-2.0
// The update wrapper: construction, the choice of path, the copy lists of
// both paths (versioned folders, drop-box /payload), payload folders, and
// every result code.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "UpdateTest.h"

namespace {

const uint8_t kCreate = 7;
const uint8_t kDelete = 8;
const uint8_t kStage = 37;
const std::string kCur = "kav022/159/current";
const std::string kPrev = "kav022/159/previous";

class WrapperTest : public UpdateTest {
protected:
    void SetUp() override {
        UpdateTest::SetUp();
        buildWrapper();
        writePackage(device("159"), "2.0");
        // Single payload files travel with the descriptor beside the program.
        platform.processDirectory = cwd->path() + "/";
        descriptor = cwd->path() + "//package.xml";
        payload = cwd->file("bios.hdr");
        writeFile(payload, "firmware");
    }

    // The controller's answer to the capability query.
    void generationThree(bool yes) { tren.onSubCommand[kStage][0] = TrenReply::Ok({0x00, 0x00, static_cast<uint8_t>(yes ? 1 : 0)}); }
    // The drop box the completers ask for is granted behind bit 1.
    void grantDropBox() {
        tren.onSubCommand[3][0] = indexReply(0x0004, 0x0000);
        tren.onSubCommand[3][1] = indexReply(0x0004, 0x0002);
        tren.onSubCommand[4][0] = infoReply("SECUPD");
    }
    // The controller accepts the start request and then reports `status`.
    void stageOutcome(uint8_t status) {
        tren.onSubCommand[kStage][1] = TrenReply::Ok({0x00, 0x00, 1});
        tren.onSubCommand[kStage][2] = TrenReply::Ok({0x00, 0x00, status});
    }
    // KAV022 holds version 1.0 of the component in both folders.
    void olderVersionInstalled() {
        folder("", {"159"});
        folder("159", {"current", "previous"});
        folder("159/current", {"package.xml", "bios.hdr"});
        folder("159/previous", {"package.xml", "bios.hdr"});
        installed("159", "1.0");
    }
    // What verification will read back from KAV022 after the controller
    // carried the copy list out.
    void placeCopies(const std::string& inside) {
        std::filesystem::create_directories(mount() + inside);
        std::filesystem::copy_file(cwd->file("package.xml"), mount() + inside + "/package.xml");
        std::filesystem::copy_file(payload, mount() + inside + "/bios.hdr");
    }

    int run(std::vector<std::string> payloads, const char* subsystem = nullptr, const char* wrapperName = nullptr,
            bool singleFile = true, bool stageAndUpdate = true, bool packageGiven = false,
            const std::string& packagePath = "") {
        error.clear();
        return wrapper().doRollbackAndUpdate(payloads, const_cast<char*>(subsystem), const_cast<char*>(wrapperName),
                                             singleFile, error, stageAndUpdate, packageGiven, packagePath);
    }

    std::string descriptor;
    std::string payload;
    std::string error;
};

TEST_F(WrapperTest, ConstructionThrowsItsCode) {
    EXPECT_TRUE(wrapper().InitOk);
    buildWrapper();
    EXPECT_TRUE(logHasInOrder(log(), {"Secure Kaver initialized successfully"}));

    struct Row {
        const char* name;
        std::function<void()> setUp;  // after the scripted construction
        uint8_t code;
        const char* message;
    };
    const Row rows[] = {
        {"no hardware-access library", [this] { platform.libraries.clear(); }, ZEMT_TRENINSTALLERROR,
         "Could not create Secure Kaver object"},
        {"unknown repository kind",
         [this] {
             tren.script[1] = TrenReply::Ok({0x03});
         },
         ZEMT_NOKAVERPRESENT, " Error in Update Rollback Wrapper Constructor Could not initialize Secure Kaver error code 20"},
        {"no repository",
         [this] {
             tren.script[1] = TrenReply::Code(1);
         },
         ZEMT_NOKAVERPRESENT, "error code 20"},
        {"repository disabled", [this] { tren.script[2] = TrenReply::Ok({0x01}); }, ZEMT_KAVER_DISABLED,
         "error code 55"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        kaver.reset();
        platform.useTren(tren);
        tren.script.clear();
        for (int i = 0; i < 3; ++i) tren.then(TrenReply::Ok({0x00}));
        tren.then(TrenReply::Ok({0x34, 0x12}));
        row.setUp();
        int thrown = -1;
        try {
            UpdRollbackWrapper broken;
        } catch (unsigned char code) {
            thrown = code;
        }
        EXPECT_EQ(thrown, row.code);
        EXPECT_TRUE(logHasInOrder(log(), {row.message}));
    }
}

TEST_F(WrapperTest, EmptyPayloadListIsRefusedBeforeAnything) {
    EXPECT_EQ(run({}), -1);
    EXPECT_EQ(error, "Payload list is empty");
    EXPECT_TRUE(tren.requests.empty()) << "not even the capability query";
    EXPECT_EQ(kaver->l_state, 0);
    EXPECT_TRUE(logHasInOrder(newLog(), {"Entering to doRollbackAndUpdate", "Payload list is empty",
                                         "Leaving doRollbackAndUpdate"}));
}

// The copy list of the versioned folders for each state of KAV022.
TEST_F(WrapperTest, VersionedFolderCopyLists) {
    struct Row {
        const char* name;
        std::function<void()> partition;
        std::vector<Entry> entries;
    };
    const Row rows[] = {
        {"fresh install", [this] { folder("", {}); },
         {{dirmake, "", "kav022/159"},
          {dirmake, "", kPrev},
          {dirmake, "", kCur},
          {filecopy, descriptor, kCur + "/package.xml"},
          {filecopy, descriptor, kPrev + "/package.xml"},
          {filecopy, payload, kCur + "/bios.hdr"},
          {filecopy, payload, kPrev + "/bios.hdr"}}},
        {"different version", [this] { olderVersionInstalled(); },
         {{dirmake, "", "kav022/159"},
          {dirdelete, kPrev, ""},
          {dirmove, kCur, kPrev},
          {dirmake, "", kCur},
          {filecopy, descriptor, kCur + "/package.xml"},
          {filecopy, payload, kCur + "/bios.hdr"}}},
        {"same version",
         [this] {
             olderVersionInstalled();
             installed("159", "2.0");
         },
         {{filedelete, "", kCur + "/package.xml"},
          {filedelete, "", kCur + "/bios.hdr"},
          {filecopy, descriptor, kCur + "/package.xml"},
          {filecopy, payload, kCur + "/bios.hdr"}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        clearPartition();
        kaver->EndCopyFile();
        row.partition();
        ASSERT_EQ(wrapper().addPayloadFiles({payload}, true, false, ""), 0) << newLog();
        EXPECT_EQ(entries(), row.entries);
        EXPECT_EQ(kaver->l_state, 1) << "left open for the completion";
    }
}

// A payload folder is copied whole, each sub-folder made before its files;
// its descriptor is the one beside it, in the package's root.
TEST_F(WrapperTest, PayloadFolders) {
    ScopedTempDir package;
    std::filesystem::create_directories(package.file("payload/sub"));
    writeFile(package.file("package.xml"), readFile(cwd->file("package.xml")));
    writeFile(package.file("payload/sub/b.bin"), "b");
    const std::string root = package.file("payload");

    folder("", {"159"});
    folder("159", {});
    ASSERT_EQ(wrapper().addPayloadFiles({root}, false, false, ""), 0) << newLog();
    const std::string beside = root + "/../package.xml";
    EXPECT_EQ(entries(), (std::vector<Entry>{{dirmake, "", kPrev},
                                             {dirmake, "", kCur},
                                             {filecopy, beside, kCur + "/package.xml"},
                                             {filecopy, beside, kPrev + "/package.xml"},
                                             {dirmake, "", kCur + "/sub"},
                                             {filecopy, root + "/sub/b.bin", kCur + "/sub/b.bin"},
                                             {dirmake, "", kPrev + "/sub"},
                                             {filecopy, root + "/sub/b.bin", kPrev + "/sub/b.bin"}}));

    // Files and folders side by side: each folder's dirmake comes before
    // the files inside it (the order of siblings is the folder's own).
    writeFile(package.file("payload/a.bin"), "a");
    std::filesystem::create_directories(package.file("payload/sub/deeper"));
    writeFile(package.file("payload/sub/deeper/c.bin"), "c");
    kaver->EndCopyFile();
    ASSERT_EQ(wrapper().addPayloadandPackageFiles({root}, false, false, ""), 0) << newLog();
    std::vector<Entry> got = entries();
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ(got[0], (Entry{dirmake, "", "/payload"}));
    EXPECT_EQ(got[1], (Entry{filecopy, descriptor, "/payload/package.xml"})) << "the Sarn descriptor is the program's";
    auto at = [&got](const std::string& dst) {
        return std::find_if(got.begin(), got.end(), [&dst](const Entry& e) { return e.dst == dst; }) - got.begin();
    };
    EXPECT_EQ(got.size(), 7u);
    EXPECT_LT(at("/payload/sub"), at("/payload/sub/b.bin"));
    EXPECT_LT(at("/payload/sub"), at("/payload/sub/deeper"));
    EXPECT_LT(at("/payload/sub/deeper"), at("/payload/sub/deeper/c.bin"));
    EXPECT_LT(at("/payload/a.bin"), static_cast<long>(got.size()));
}

TEST_F(WrapperTest, PayloadWalkFailures) {
    ScopedTempDir dir;
    std::filesystem::create_directories(dir.file("empty"));
    std::filesystem::create_directories(dir.file("loop/inner"));
    writeFile(dir.file("loop/inner/x.bin"), "x");
    symlink("..", dir.file("loop/inner/up").c_str());
    std::filesystem::create_directories(dir.file("dangling"));
    symlink("nowhere", dir.file("dangling/link").c_str());
    std::filesystem::create_directories(dir.file("linked"));
    std::filesystem::create_directories(dir.file("elsewhere"));
    writeFile(dir.file("elsewhere/y.bin"), "y");
    symlink("../elsewhere", dir.file("linked/other").c_str());

    struct Row {
        const char* name;
        std::string source;
        bool singleFile;
        int result;
        std::string message;
    };
    const Row rows[] = {
        {"missing file", dir.file("none.bin"), true, UPD_PAYLOADERROR,
         "Could not stat file " + dir.file("none.bin") + " in the Payload Directory"},
        {"missing folder", dir.file("none"), false, UPD_PAYLOADERROR,
         "Could not create handle to get files in Payload Directory"},
        {"empty folder", dir.file("empty"), false, UPD_NOPAYLOAD, "No Files found in Payload Directory"},
        {"link back to an ancestor", dir.file("loop"), false, UPD_PAYLOADERROR,
         "Symbolic link loop at " + dir.file("loop/inner/up")},
        {"dangling link", dir.file("dangling"), false, UPD_PAYLOADERROR,
         "Could not stat file link in the Payload Directory"},
        {"link to another folder", dir.file("linked"), false, 0, "Leaving UpdRollbackWrapper::addPayloadToFileList"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        markLog();
        std::vector<fDetails*> list;
        EXPECT_EQ(wrapper().addPayloadToFileList(row.source, "/payload", list, row.singleFile), row.result);
        EXPECT_TRUE(logHasInOrder(newLog(), {row.message}));
        if (row.result == 0) {
            ASSERT_EQ(list.size(), 2u);
            EXPECT_EQ(list[1]->srcName, dir.file("linked/other/y.bin"));
            EXPECT_EQ(list[1]->destName, "/payload/other/y.bin");
        }
        wrapper().freeUpList(list);
        EXPECT_TRUE(list.empty());
    }
}

// Every failure of a run, on both paths, with its code and text.
TEST_F(WrapperTest, ResultCodes) {
    struct Row {
        const char* name;
        bool sarn;
        std::function<std::vector<std::string>()> setUp;  // the payload list
        int result;
        const char* error;
        const char* message;
        bool singleFile = true;
        bool givenDescriptor = false;  // a descriptor path that does not exist
    };
    auto single = [this] { return std::vector<std::string>{payload}; };
    const Row rows[] = {
        {"no descriptor", false,
         [&] {
             std::remove(cwd->file("package.xml").c_str());
             return single();
         },
         ZEMT_PACKAGEXMLERROR, "ZEMT addPayloadFiles failed", "Could not get Component ID"},
        {"copy list already open", false,
         [&] {
             kaver->StartCopyFile();
             return single();
         },
         ZEMT_EWRONGORDER, "ZEMT addPayloadFiles failed", "StartCopyFile Error : 12"},
        {"KAV022 not listed", false,
         [&] {
             kaverPartInfo[22].i_present = false;
             return single();
         },
         UPD_PAYLOADERROR, "ZEMT addPayloadFiles failed", "Could not create FileList"},
        {"no descriptor beside the program", false,
         [&] {
             platform.processDirectory = "/nonexistent-zemt-dir/";
             return single();
         },
         UPD_PKGERROR, "ZEMT addPayloadFiles failed", "Could not stat file /nonexistent-zemt-dir//package.xml"},
        {"payload missing", false, [&] { return std::vector<std::string>{cwd->file("none.bin")}; }, UPD_PAYLOADERROR,
         "ZEMT addPayloadFiles failed", "Could not stat file"},
        {"first of two payloads missing", false,
         [&] { return std::vector<std::string>{cwd->file("none.bin"), payload}; }, UPD_PAYLOADERROR,
         "ZEMT addPayloadFiles failed", "Could not create FileList"},
        {"given descriptor missing", false, [&] { return single(); }, UPD_ADDFILEERROR, "ZEMT addPayloadFiles failed",
         "Could not add files to FileList", true, true},
        {"component file cannot be written", false,
         [&] {
             std::filesystem::create_directories(cwd->file("159.xml"));
             return single();
         },
         UPD_COMPIDOPENERROR, "ZEMT createComponentIdFile failed", "Could not open file "},
        {"task file cannot be written", false,
         [&] {
             std::filesystem::create_directories(cwd->file("ssibinput.xml"));
             return single();
         },
         UPD_SSIBOPENERROR, "ZEMT createSSIBUpdateFile failed", "Could not open file "},
        {"no drop box", false,
         [&] {
             tren.onSubCommand[kCreate][0] = TrenReply::Code(1);
             return single();
         },
         ZEMT_CREATE_DYN_PART_FAILED, "ZEMT updateFirmwarePartition failed",
         "CompleteCopyFile Error :  with error code 64"},
        {"Sarn: no descriptor beside the program", true,
         [&] {
             platform.processDirectory = "/nonexistent-zemt-dir/";
             return single();
         },
         UPD_PKGERROR, "ZEMT addPayloadFiles failed", "ZEMT addPayloadandPackageFiles failed"},
        {"Sarn: payload folder empty", true,
         [&] {
             std::filesystem::create_directories(cwd->file("empty"));
             return std::vector<std::string>{cwd->file("empty")};
         },
         UPD_NOPAYLOAD, "ZEMT addPayloadFiles failed", "Leaving addPayloadandPackageFiles because of file list error",
         false},
        {"Sarn: given descriptor missing", true, [&] { return single(); }, UPD_ADDFILEERROR,
         "ZEMT addPayloadFiles failed", "Leaving addPayloadandPackageFiles because of AddFile error", true, true},
        {"Sarn: no drop box", true,
         [&] {
             tren.onSubCommand[kCreate][0] = TrenReply::Code(1);
             return single();
         },
         ZEMT_CREATE_DYN_PART_FAILED, "ZEMT updateFirmwarePartition failed", "ZEMT updateFirmwarePartitionSarn failed"},
        {"Sarn: not accepted", true,
         [&] {
             tren.onSubCommand[kStage][1] = TrenReply::Ok({0x00, 0x00, 2});
             return single();
         },
         -1, "ZEMT updateFirmwarePartition failed", "DeleteDropBox Success"},
        {"Sarn: validation failed", true,
         [&] {
             stageOutcome(4);
             return single();
         },
         -1, "ZEMT updateFirmwarePartition failed", "Failed Payload and Package Validation"},
        {"Sarn: applied, no reboot needed", true,
         [&] {
             stageOutcome(47);
             return single();
         },
         1, "ZEMT updateFirmwarePartition failed", "ZEMT updateFirmwarePartitionSarn failed"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        kaverPartInfo[22].i_present = true;
        buildWrapper();
        writePackage(device("159"), "2.0");
        platform.processDirectory = cwd->path() + "/";
        clearPartition();
        folder("", {});
        tren.onSubCommand.clear();
        generationThree(row.sarn);
        grantDropBox();
        std::vector<std::string> payloads = row.setUp();
        EXPECT_EQ(run(payloads, "BIOS", "fwup.exe", row.singleFile, true, row.givenDescriptor,
                      cwd->file("missing/package.xml")),
                  row.result)
            << newLog();
        EXPECT_EQ(error, row.error);
        EXPECT_TRUE(logHasInOrder(newLog(), {row.sarn ? "Going Through Sarn Path" : "Going Through Vemo Path", row.message}));
        std::filesystem::remove_all(cwd->file("159.xml"));
        std::filesystem::remove_all(cwd->file("ssibinput.xml"));
    }
}

// A whole run on the older path: folders rotated, copy verified in KAV022,
// and with subsystem and wrapper named, the two task files listed.
TEST_F(WrapperTest, VersionedFolderUpdateRunsThrough) {
    olderVersionInstalled();
    generationThree(false);
    grantDropBox();
    placeCopies("159/current");
    EXPECT_EQ(run({payload}), 0) << newLog();
    EXPECT_EQ(error, "");
    EXPECT_EQ(kaver->l_state, 0);
    EXPECT_TRUE(logHasInOrder(newLog(), {"Going Through Vemo Path : Check GUID Enable false or Rollbackwrapper node is "
                                         "not present in pacakge.xml",
                                         "Entering to rollbackUsingVemoMethod Method", "Entering addPayloadFiles",
                                         "StartCopyFile done successfully", "FileList constructed successfully",
                                         "Leaving addPayloadFiles", "VerifyCopyFiles Succeeded",
                                         "Payload copied and copy verified successfully",
                                         "Leaving rollbackUsingVemoMethod Method"}));
    const std::vector<uint8_t> subs = subCommands();
    EXPECT_EQ(std::count(subs.begin(), subs.end(), kStage), 1) << "the capability query only";

    // With the names, the task files follow the payload; without stage and
    // update they are left out.
    for (bool stageAndUpdate : {true, false}) {
        SCOPED_TRACE(stageAndUpdate);
        buildWrapper();
        generationThree(false);
        tren.onSubCommand[kCreate][0] = TrenReply::Code(1);  // stop after the list
        run({payload}, "BIOS", "fwup.exe", true, stageAndUpdate);
        const std::vector<Entry> got = entries();
        const bool listed = std::find(got.begin(), got.end(), Entry{ssib, cwd->file("ssibinput.xml"), ""}) != got.end();
        EXPECT_EQ(listed, stageAndUpdate);
        if (stageAndUpdate) {
            ASSERT_GE(got.size(), 2u);
            EXPECT_EQ(got[got.size() - 2], (Entry{filecopy, cwd->file("159.xml"), "kav022/159/159.xml"}));
            EXPECT_TRUE(logHasInOrder(newLog(), {"Creating the compid.xml & ssibinput.xml for creating the SSIB Task"}));
        }
        std::remove(cwd->file("159.xml").c_str());
        std::remove(cwd->file("ssibinput.xml").c_str());
    }
}

// A whole run on the newer path: the drop box's /payload is staged (or
// staged and applied) and deleted afterwards.
TEST_F(WrapperTest, StageAndUpdateRunsThrough) {
    for (bool stageAndUpdate : {true, false}) {
        SCOPED_TRACE(stageAndUpdate);
        buildWrapper();
        generationThree(true);
        grantDropBox();
        stageOutcome(45);
        EXPECT_EQ(run({payload}, "BIOS", "fwup.exe", true, stageAndUpdate), 0) << newLog();
        EXPECT_EQ(error, "");
        EXPECT_EQ(entries(), (std::vector<Entry>{{dirmake, "", "/payload"},
                                                 {filecopy, descriptor, "/payload/package.xml"},
                                                 {filecopy, payload, "/payload/bios.hdr"}}))
            << "no task files on this path";
        const std::vector<uint8_t> subs = subCommands();
        std::vector<uint8_t> stageOps;
        for (std::size_t i = 0; i < subs.size(); ++i)
            if (subs[i] == kStage) stageOps.push_back(tren.requestBytes(i)[5]);
        EXPECT_EQ(stageOps, (std::vector<uint8_t>{1, static_cast<uint8_t>(stageAndUpdate ? 4 : 2), 8}));
        EXPECT_EQ(subs.back(), kDelete) << "the drop box goes after the outcome";
        EXPECT_TRUE(logHasInOrder(newLog(), {"Going Through Sarn Path", "Entering rollbackUsingSarnMethod",
                                             "Entering addPayloadandPackageFiles", "Current process directory is ",
                                             "PackageXMLPath  " + descriptor, "Leaving addPayloadandPackageFiles",
                                             "Entering updateFirmwarePartitionSarn", "Success and Reboot is required",
                                             "DeleteDropBox Success", "Leaving updateFirmwarePartitionSarn",
                                             "Leaving rollbackUsingSarnMethod"}));
        EXPECT_FALSE(fileExists(cwd->file("ssibinput.xml")));
    }
}

TEST_F(WrapperTest, PathOperations) {
    struct Row {
        std::string path;
        const char* file;
        const char* dir;
    };
    const Row rows[] = {
        {"/a/b/c.bin", "c.bin", "/a/b"},
        {"C:\\pkg\\fw.hdr", "fw.hdr", "C:\\pkg"},
        {"a/b\\c", "c", "a/b"},
        {"plain", "plain", ""},
    };
    for (const Row& row : rows) {
        std::string path = row.path;
        EXPECT_EQ(wrapper().getFileNameFromPath(path), row.file);
        EXPECT_EQ(wrapper().getDirectoryFromPath(path), row.dir);
    }
    EXPECT_EQ(wrapper().getCurrentDir(), cwd->path());
}

}  // namespace
