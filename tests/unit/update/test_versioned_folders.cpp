// SPDX-License-Identifier: Apache-2.0
// Versioned component folders: the copy-list actions that rotate
// <id>/current into <id>/previous, seed both on a fresh install or replace
// current when the same version comes again, and every failure on the way.
#include <functional>

#include "UpdateTest.h"

namespace {

const std::string kCur = "kav022/159/current/";
const std::string kPrev = "kav022/159/previous/";

class VersionedFoldersTest : public UpdateTest {
protected:
    void SetUp() override {
        UpdateTest::SetUp();
        writePackage(device("159"), "2.0A");
        payload = cwd->file("bios.hdr");
        writeFile(payload, "firmware");
        ASSERT_TRUE(kaver->StartCopyFile());
    }
    std::string payload;
};

// The actions for each state of the component's folders: the first
// payload file of a copy list attaches KAV022 once and prepares them.
TEST_F(VersionedFoldersTest, FirstPayloadPreparesTheFolders) {
    struct Row {
        const char* name;
        std::function<void()> partition;
        std::vector<Entry> folderActions;
        bool fresh;
        const char* message;
    };
    const Row rows[] = {
        {"component folder missing", [this] { folder("", {"other"}); },
         {{dirmake, "", "kav022/159"}, {dirmake, "", "kav022/159/previous"}, {dirmake, "", "kav022/159/current"}},
         true, "Component ID dir not there, add it and Current"},
        {"component folder empty",
         [this] {
             folder("", {"159"});
             folder("159", {});
         },
         {{dirmake, "", "kav022/159/previous"}, {dirmake, "", "kav022/159/current"}}, true, "Previous Folder not present in Kaver"},
        {"different version",
         [this] {
             folder("", {"159"});
             folder("159", {"current", "previous"});
             folder("159/current", {"package.xml", "old.hdr"});
             folder("159/previous", {"package.xml", "older.hdr"});
             installed("159", "1.9");
         },
         {{filedelete, "", kPrev + "package.xml"},
          {filedelete, "", kPrev + "older.hdr"},
          {filemove, kCur + "package.xml", kPrev + "package.xml"},
          {filemove, kCur + "old.hdr", kPrev + "old.hdr"}},
         false, "Current dir already there, move files to Previous"},
        {"previous only",
         [this] {
             folder("", {"159"});
             folder("159", {"previous"});
             folder("159/previous", {"a.bin"});
         },
         {{filedelete, "", kPrev + "a.bin"}, {dirmake, "", "kav022/159/current"}}, false,
         "Current folder not there or package.xml not found in KAV partition"},
        {"current without descriptor",
         [this] {
             folder("", {"159"});
             folder("159", {"current"});
             folder("159/current", {"old.hdr"});
         },
         {{dirmake, "", "kav022/159/previous"}, {filemove, kCur + "old.hdr", kPrev + "old.hdr"}}, false,
         "Previous dir not there, make it"},
        {"same version, letter case aside",
         [this] {
             folder("", {"159"});
             folder("159", {"current", "previous"});
             folder("159/current", {"package.xml", "bios.hdr"});
             installed("159", "2.0a");
         },
         {{filedelete, "", kCur + "package.xml"}, {filedelete, "", kCur + "bios.hdr"}}, false,
         "Vendor Version Matched"},
        {"same version, no previous",
         [this] {
             folder("", {"159"});
             folder("159", {"current"});
             folder("159/current", {"package.xml"});
             installed("159", "2.0A");
         },
         {{filedelete, "", kCur + "package.xml"}, {dirmake, "", "kav022/159/previous"}}, false,
         "Previous dir not there, so make it"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        clearPartition();
        kaver->EndCopyFile();
        ASSERT_TRUE(kaver->StartCopyFile());
        tren.requests.clear();
        markLog();
        row.partition();

        ASSERT_TRUE(kaver->AddNFile(payload)) << newLog();
        std::vector<Entry> expected = row.folderActions;
        expected.push_back({filecopy, "package.xml", kCur + "package.xml"});
        if (row.fresh) expected.push_back({filecopy, "package.xml", kPrev + "package.xml"});
        expected.push_back({filecopy, payload, kCur + "bios.hdr"});
        if (row.fresh) expected.push_back({filecopy, payload, kPrev + "bios.hdr"});
        EXPECT_EQ(entries(), expected);
        EXPECT_EQ(kaver->isFreshInstall, row.fresh);
        EXPECT_EQ(count(kAttach), 1u);
        EXPECT_EQ(count(kDetach), 1u);
        EXPECT_EQ(subCommands().back(), kDetach) << "KAV022 is detached when the actions are listed";
        EXPECT_TRUE(logHasInOrder(newLog(), {"Adding first N payload file", row.message}));
    }
}

TEST_F(VersionedFoldersTest, LaterPayloadsReuseTheFirstPreparation) {
    folder("", {});
    ASSERT_TRUE(kaver->AddNFile(payload));
    const std::size_t requests = tren.requests.size();
    const std::string second = cwd->file("second.bin");
    writeFile(second, "more");
    writePackage(device("7"), "3.0");  // not read again
    ASSERT_TRUE(kaver->AddNFile(second));
    EXPECT_EQ(tren.requests.size(), requests) << "no second attach";
    const std::vector<Entry> all = entries();
    ASSERT_EQ(all.size(), 9u);
    EXPECT_EQ(all[7], (Entry{filecopy, second, kCur + "second.bin"}));
    EXPECT_EQ(all[8], (Entry{filecopy, second, kPrev + "second.bin"}));
    EXPECT_TRUE(logHasInOrder(newLog(), {"Adding subsequent N payload file"}));
}

// AttachAndCompare prepares the folders but rotates nothing: it reports
// whether the stored version is the package's.
TEST_F(VersionedFoldersTest, AttachAndCompare) {
    struct Row {
        const char* name;
        const char* installedVersion;  // null: no current folder
        bool same;
        std::vector<Entry> actions;
    };
    const Row rows[] = {
        {"same", "2.0a", true, {{filedelete, "", kCur + "package.xml"}}},
        {"different", "1.0", false, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        kaver->EndCopyFile();
        ASSERT_TRUE(kaver->StartCopyFile());
        folder("", {"159"});
        folder("159", {"current", "previous"});
        folder("159/current", {"package.xml"});
        installed("159", row.installedVersion);
        bool same = !row.same;
        ASSERT_TRUE(kaver->AttachAndCompare(same));
        EXPECT_EQ(same, row.same);
        EXPECT_EQ(entries(), row.actions);
    }

    kaver->EndCopyFile();
    ASSERT_TRUE(kaver->StartCopyFile());
    clearPartition();
    folder("", {});
    markLog();
    bool same = true;
    ASSERT_TRUE(kaver->AttachAndCompare(same));
    EXPECT_FALSE(same);
    EXPECT_TRUE(kaver->isFreshInstall);
    EXPECT_EQ(entries(), (std::vector<Entry>{{dirmake, "", "kav022/159"},
                                             {dirmake, "", "kav022/159/previous"},
                                             {dirmake, "", "kav022/159/current"}}));
    EXPECT_TRUE(logHasInOrder(newLog(), {"Component ID Dir not there, so make it"}));
}

// Each failure returns false; after the attach KAV022 is always detached.
// AttachAndCompare names the early failures, AddNFile does not.
TEST_F(VersionedFoldersTest, FailuresDetachAndSayWhy) {
    struct Row {
        const char* name;
        std::function<void()> setUp;
        bool attached;
        int code;  // -1: not checked
        const char* compareMessage;
        bool payloadMessageToo;
    };
    const Row rows[] = {
        {"no descriptor", [this] { std::remove(cwd->file("package.xml").c_str()); }, false, ZEMT_PACKAGEXMLERROR,
         "Get Component ID failed", false},
        {"partition not reported", [] { kaverPartInfo[22].i_present = false; }, false, ZEMT_INVKAVERPART,
         "AttachKaverParition Failed", false},
        {"root not listable", [] {}, true, ZEMT_INTERROR, "Listing files from Mount Point Failed", false},
        {"component folder not listable", [this] { folder("", {"159"}); }, true, ZEMT_INTERROR,
         "Listing files from MountPoint\\CompId Failed", false},
        {"stored descriptor unreadable",
         [this] {
             folder("", {"159"});
             folder("159", {"current"});
             folder("159/current", {"package.xml"});
         },
         true, -1, "getVendorVersion from KAV022 Failed", true},
        {"stored descriptor of another kind",
         [this] {
             folder("", {"159"});
             folder("159", {"current"});
             folder("159/current", {"package.xml"});
             platform.addFile(mount() + "159/current/package.xml", "<Package/>");
         },
         true, ZEMT_PACKAGEXMLERROR, "CompareVendorVersion Failed", true},
        {"package descriptor unreadable through the host",
         [this] {
             folder("", {"159"});
             folder("159", {"current"});
             folder("159/current", {"package.xml"});
             installed("159", "1.0");
             platform.files.erase("package.xml");
         },
         true, -1, "getVendorVersion from TARN Failed", true},
    };
    for (bool comparing : {true, false}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(row.name);
            SCOPED_TRACE(comparing ? "AttachAndCompare" : "AddNFile");
            clearPartition();
            kaverPartInfo[22].i_present = true;
            writePackage(device("159"), "2.0A");
            kaver->EndCopyFile();
            ASSERT_TRUE(kaver->StartCopyFile());
            kaver->errorInfo.lastErr = 0;
            tren.requests.clear();
            markLog();
            row.setUp();

            bool same = false;
            EXPECT_FALSE(comparing ? kaver->AttachAndCompare(same) : kaver->AddNFile(payload));
            EXPECT_EQ(count(kAttach), row.attached ? 1u : 0u);
            EXPECT_EQ(count(kDetach), row.attached ? 1u : 0u);
            if (row.code >= 0) {
                EXPECT_EQ(kaver->getZEMTError(), row.code);
            }
            const bool logged = newLog().find(row.compareMessage) != std::string::npos;
            EXPECT_EQ(logged, comparing || row.payloadMessageToo) << newLog();
        }
    }
}

TEST_F(VersionedFoldersTest, ComponentIdOfTheDescriptor) {
    struct Row {
        std::string devices;
        const char* id;  // null: refused
    };
    const Row rows[] = {
        {device("25") + device("7") + "<Device componentID=\"7 \"/>" + device("30"), "7"},
        {device("030") + device("007") + device("7"), "007"},
        {"<Device/>" + device("12"), "12"},
        {device("../../etc/x") + device("5"), nullptr},
        {device("1/2"), nullptr},
        {device(".."), nullptr},
        {device(""), nullptr},
        {"", nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.devices);
        writePackage(row.devices, "1");
        kaver->errorInfo.lastErr = 0;
        std::string id = "unchanged";
        EXPECT_EQ(kaver->get_comp_id(id), row.id != nullptr);
        EXPECT_EQ(id, row.id ? row.id : "unchanged");
        EXPECT_EQ(kaver->getZEMTError(), row.id ? 0 : ZEMT_PACKAGEXMLERROR);
    }
}

TEST_F(VersionedFoldersTest, FreshInstallIsNeitherFolder) {
    struct Row {
        std::vector<std::string> list;
        bool fresh;
        const char* message;
    };
    const Row rows[] = {
        {{"current", "previous"}, false, "Current dir present in Kaver"},
        {{"current"}, false, "Current dir present in Kaver"},
        {{"previous", "x"}, false, "Preivous Folder present in Kaver"},
        {{"Current", "x"}, true, "Previous Folder not present in Kaver"},
        {{}, true, "Previous Folder not present in Kaver"},
    };
    for (const Row& row : rows) {
        markLog();
        std::vector<std::string> list = row.list;
        bool fresh = !row.fresh;
        EXPECT_TRUE(kaver->IsFreshInstall("159", list, fresh));
        EXPECT_EQ(fresh, row.fresh);
        EXPECT_TRUE(logHasInOrder(newLog(), {"Entering IsFreshInstall", row.message}));
    }
}

TEST_F(VersionedFoldersTest, ListingAHostFolder) {
    platform.addDirectory("/tmp/KAV022/a/b/");
    platform.listings["/tmp/KAV022/a/b/"] = {"/tmp/KAV022/a/b/.", "/tmp/KAV022/a/b/x", "/tmp/KAV022/a/b/..",
                                              "/tmp/KAV022/a/b/y"};
    std::vector<std::string> list = {"stale"};
    ASSERT_TRUE(kaver->system_specific_list_dir("/tmp/KAV022\\a\\b", list));
    EXPECT_EQ(list, (std::vector<std::string>{"x", "y"}));
    EXPECT_TRUE(logHasInOrder(newLog(), {"path at 1:/tmp/KAV022\\a\\b", "path at 2:/tmp/KAV022/a/b/"}));

    EXPECT_FALSE(kaver->system_specific_list_dir("/tmp/KAV022/none", list));
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_INTERROR);
    EXPECT_TRUE(logHasInOrder(newLog(), {"Exit at 1"}));
}

TEST_F(VersionedFoldersTest, ReadyMadeEntriesAreAppendedUnchanged) {
    cfgEntry a;
    a.order = 40;
    a.mode = filecopy;
    a.srcName = "/n1/a.bin";
    a.dstName = "kav022/159/previous/a.bin";
    a.hash = "abc";
    cfgEntry b = a;
    b.mode = dirmake;
    ASSERT_TRUE(kaver->AddN1File({a, b}));
    ASSERT_EQ(kaver->FileList.size(), 2u);
    EXPECT_EQ(kaver->FileList[0].order, 40);
    EXPECT_EQ(kaver->FileList[0].hash, "abc");
    EXPECT_EQ(kaver->FileList[1].mode, dirmake);
}

}  // namespace
