// SPDX-License-Identifier: Apache-2.0
// The three inventory-log exchanges on a fake host and a fake controller:
// the documents they place in the drop box, the requests they send, what
// they read back, and the code and clean-up of a failure at every step.
#include <filesystem>
#include <functional>
#include <sstream>

#include "HostTest.h"
#include "md5wrapper.h"

namespace {

namespace fs = std::filesystem;

const uint8_t kIndex = 3;
const uint8_t kInfo = 4;
const uint8_t kAttach = 5;
const uint8_t kDetach = 6;
const uint8_t kCreate = 7;
const uint8_t kDelete = 8;
const uint8_t kHash = 9;
const uint16_t kDropBoxBit = 0x0002;

const std::string kHeader = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KAVER_Update>\n";
const std::string kFooter = "</KAVER_Update>\n\n";
const char* const kDevices = "<Devices><Device componentID=\"1\"/></Devices>";
const char* const kDescriptor = "<SoftwareComponent vendorVersion=\"1.0\"/>\n";

enum Kind { Query, Update, DepCheck };

class ExchangeTest : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        buildHost(REDHAT, true);
        root = cwd->file("host") + "/";
        fs::create_directories(root + "SECUPD");
        savedPartDir = RHatPartDir;
        RHatPartDir = root.c_str();
        kaverPartInfo[dynPartSlot].i_bitmap = 0;
        addUsbDisk("sdc", "sg2", 4, "SECUPD", true);
        writeFile(cwd->file("package.xml"), kDescriptor);
        tren.script.clear();
        tren.onSubCommand.clear();
        tren.subCommandCount.clear();
        platform.exitStatus.clear();
    }
    void TearDown() override {
        RHatPartDir = savedPartDir;
        HostTest::TearDown();
    }

    // What the controller answers up to the drop box: the firmware version
    // (for the dependency check: 2.30 on a modular system) and the creation.
    void scriptController(Kind kind, uint8_t major = 2, uint8_t minor = 30) {
        if (kind == DepCheck) {
            tren.then(TrenReply::Ok({major, minor}));
            tren.then(TrenReply::Code(0));  // modular
        }
        tren.then(indexReply(0x0000, 0x0000));
        tren.then(TrenReply::Ok());
        tren.then(indexReply(0x0000, kDropBoxBit));
        tren.then(infoReply("SECUPD"));
    }

    // The controller's answer as the library will find it in the drop box.
    void answer(const std::string& text) {
        writeFile(root + "SECUPD/output.xml", text);
        platform.addFile(root + "SECUPD/output.xml", text);
    }

    bool run(Kind kind, std::stringstream& buffer) {
        switch (kind) {
            case Query: return kaver->QueryRQL(buffer, rql_query_current_records);
            case Update: return kaver->UpdateRQL("", rql_update_records, kDevices);
            case DepCheck: return kaver->doDepCheck(buffer, rql_query_dependency);
        }
        return false;
    }

    // The sub-commands of the drop-box exchange (version queries left out).
    std::vector<uint8_t> exchangeRequests() const {
        std::vector<uint8_t> out;
        for (std::size_t i = 0; i < tren.requests.size(); ++i)
            if (tren.requestBytes(i).at(1) == 0xA2) out.push_back(subCommand(i));
        return out;
    }
    // Those after occurrence `occurrence` of `sub`.
    std::vector<uint8_t> after(uint8_t sub, int occurrence) const {
        std::vector<uint8_t> all = exchangeRequests();
        int seen = -1;
        for (std::size_t i = 0; i < all.size(); ++i)
            if (all[i] == sub && ++seen == occurrence)
                return std::vector<uint8_t>(all.begin() + static_cast<long>(i) + 1, all.end());
        ADD_FAILURE() << "no request " << int(sub) << " #" << occurrence;
        return {};
    }

    // The 32 hash characters of the last hash handed over.
    std::string sentHash() const {
        std::string sent;
        for (std::size_t i = 0; i < tren.requests.size(); ++i) {
            const std::vector<uint8_t> r = tren.requestBytes(i);
            if (r.at(1) != 0xA2 || r.at(2) != kHash || r.at(5) != 1) continue;
            if (sent.size() == 32) sent.clear();
            for (std::size_t k = 6; k < 16 && r[k] != 0; ++k) sent += static_cast<char>(r[k]);
        }
        return sent;
    }

    std::string inBox(const std::string& name) const { return readFile(root + "SECUPD/" + name); }

    std::string root;
    const char* savedPartDir = nullptr;
};

const std::vector<uint8_t> kWithAnswer = {kIndex, kCreate, kIndex, kInfo, kAttach, kDetach, kHash, kHash,
                                          kHash,  kHash,   kHash,  kAttach, kDetach, kDelete};

TEST_F(ExchangeTest, QueryWritesItsRequestAndHandsBackTheAnswer) {
    const std::string entry = "\t<File order=\"1\">\n\t\t\t\t<Mode>rql_query_history_records</Mode>\n"
                              "\t\t<Algorithm>MD5</Algorithm>\n\t</File>\n";
    scriptController(Query);
    answer(std::string("<SVMInventory><Change/></SVMInventory>\0after a NUL", 50));
    std::stringstream buffer;
    buffer << "kept:";
    ASSERT_TRUE(kaver->QueryRQL(buffer, rql_query_history_records)) << newLog();
    EXPECT_EQ(buffer.str(), "kept:<SVMInventory><Change/></SVMInventory>");
    EXPECT_EQ(kaver->getZEMTError(), 0);

    const std::string document = inBox("update.xml");
    EXPECT_EQ(document, kHeader + entry + kFooter);
    EXPECT_EQ(sentHash(), md5wrapper().getHashFromString(document));
    EXPECT_EQ(exchangeRequests(), kWithAnswer);
    const std::vector<uint8_t> create = tren.requestBytes(1);
    EXPECT_EQ(create[5] | (create[6] << 8), 32) << "one megabyte";
    EXPECT_TRUE(ran("sync"));
    const std::string hash = md5wrapper().getHashFromString(document);
    EXPECT_TRUE(logHasInOrder(
        newLog(), {hash, "Initiating the update.", "AttachPartition succeeded",
                   "Finding where the dynamic partition was attached.", "Dynamic Partition Mount Point: " + root + "SECUPD/",
                   "update.xml path: " + root + "SECUPD/update.xml", "Update.xml Hash: ", hash, "Update.xml Content: ",
                   "update.xml written", "DetachPartition succeeded", "SecureKaverCopy succeeded",
                   "AttachPartition succeeded.", "Dynamic Partition mount point: " + root + "SECUPD/",
                   "output.xml path: " + root + "SECUPD/output.xml", "Contents of Output.xml",
                   "DetachPartition succeeded", "Delete Drop Box succeeded.", "QueryRQL succeeded"}));

    // An empty answer appends nothing and is still a success.
    TearDown();
    SetUp();
    scriptController(Query);
    answer("");
    std::stringstream empty;
    EXPECT_TRUE(kaver->QueryRQL(empty, rql_query_event_records));
    EXPECT_EQ(empty.str(), "");
}

TEST_F(ExchangeTest, UpdateSendsTheRecordsAndNamesThemInItsRequest) {
    for (xmlMode_t mode : {rql_update_records, rql_update_entire_inventory}) {
        SCOPED_TRACE(mode);
        TearDown();
        SetUp();
        scriptController(Update);
        ASSERT_TRUE(kaver->UpdateRQL("", mode, kDevices)) << newLog();
        const std::string records = inBox("input.xml");
        EXPECT_EQ(records, kaver->getRQLXml("", kDevices));
        const std::string entry =
            mode == rql_update_records
                ? "\t<File order=\"1\">\n\t\t\t\t<Mode>rql_update_records</Mode>\n"
                  "\t\t\t\t<Source>input.xml</Source>\n\t\t<Algorithm>MD5</Algorithm>\n\t</File>\n"
                : "\t<File order=\"1\">\n\t\t<Hash>" + md5wrapper().getHashFromString(records) +
                      "</Hash>\n\t\t<Source>input.xml</Source>\n\t\t<Mode>rql_update_entire_inventory</Mode>\n"
                      "\t\t<Algorithm>MD5</Algorithm>\n\t</File>\n";
        const std::string document = inBox("update.xml");
        EXPECT_EQ(document, kHeader + entry + kFooter);
        EXPECT_EQ(sentHash(), md5wrapper().getHashFromString(document));
        // Nothing is read back.
        EXPECT_EQ(exchangeRequests(), (std::vector<uint8_t>{kIndex, kCreate, kIndex, kInfo, kAttach, kDetach, kHash,
                                                            kHash, kHash, kHash, kHash, kDelete}));
        // The drop box holds the records and 32 KiB more, in 32 KiB units.
        const std::vector<uint8_t> create = tren.requestBytes(1);
        EXPECT_EQ(create[5] | (create[6] << 8), (records.size() + 32768 + 32767) / 32768);
        EXPECT_TRUE(logHasInOrder(newLog(), {"RQL entry: " + records, "AttachPartition succeeded.",
                                             "Finding where the dynamic partition was attached.",
                                             "Dynamic partition mount point found", root + "SECUPD/",
                                             "Constructing the target file name",
                                             "update.xml File Hash: " + md5wrapper().getHashFromString(document),
                                             "update.xml Contents: " + document, "DetachPartition succeeded",
                                             "SecureKaverCopy succeeded", "DeleteDropBox succeeded"}));
    }
}

TEST_F(ExchangeTest, DependencyCheckSendsTheDescriptorAndJudgesTheAnswer) {
    scriptController(DepCheck);
    answer("<?xml version=\"1.0\"?>\n<Result><status>0</status></Result>");
    std::stringstream buffer;
    ASSERT_TRUE(kaver->doDepCheck(buffer, rql_query_dependency)) << newLog();
    EXPECT_EQ(buffer.str(), "");
    const std::string document = inBox("update.xml");
    EXPECT_EQ(document, kHeader + "\t<File order=\"1\">\n\t\t<Source>package.xml</Source>\n\t\t<Hash>" +
                            md5wrapper().getHashFromString(kDescriptor) +
                            "</Hash>\n\t\t<Mode>rql_query_dependency</Mode>\n\t\t<Algorithm>MD5</Algorithm>\n"
                            "\t</File>\n" + kFooter);
    EXPECT_TRUE(ran("/bin/cp package.xml " + root + "SECUPD/package.xml > /dev/null"));
    EXPECT_EQ(sentHash(), md5wrapper().getHashFromString(document));
    EXPECT_EQ(exchangeRequests(), kWithAnswer);
    EXPECT_TRUE(logHasInOrder(newLog(), {"Dependency Checking is supported by the iVELD FW", "Initiating the update.",
                                         "update.xml Hash: ", "update.xml Content: ", "update.xml written",
                                         "package.xml written", "SecureKaverCopy succeeded", "Contents of output.xml",
                                         "Delete Drop Box succeeded.", "doDepCheck succeeded",
                                         "Dependency Check successful"}));

    // What the library makes of an answer: a pass anywhere in it, or the
    // answer without its declaration handed back.
    struct Row {
        const char* name;
        std::string answer;
        bool passes;
        std::string buffer;
        uint8_t code;
    };
    const Row rows[] = {
        {"status 0 anywhere", "<Result>note<status>0</status>", true, "", 0},
        {"another status", "<?xml version=\"1.0\"?>\n<Result><status>1</status></Result>", false,
         "\n<Result><status>1</status></Result>", 0},
        {"only the first declaration end counts", "<?xml?><?pi?>text", false, "<?pi?>text", 0},
        {"no declaration: the first character goes", "<Result><status> 0</status></Result>", false,
         "Result><status> 0</status></Result>", 0},
        {"empty: nothing to judge", "", false, "", ZEMT_INTERROR},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TearDown();
        SetUp();
        scriptController(DepCheck);
        answer(row.answer);
        std::stringstream out;
        EXPECT_EQ(kaver->doDepCheck(out, rql_query_dependency), row.passes);
        EXPECT_EQ(out.str(), row.buffer);
        EXPECT_EQ(kaver->getZEMTError(), row.code);
        EXPECT_EQ(exchangeRequests(), kWithAnswer) << "the exchange itself went through";
        if (!row.passes) {
            EXPECT_TRUE(logHasInOrder(newLog(), {"doDepCheck succeeded", "Dependency Check failed"}));
        }
    }
}

TEST_F(ExchangeTest, DependencyCheckIsAPassWhereTheFirmwareCannotCheck) {
    scriptController(DepCheck, 3, 10);  // minor 10: no
    std::stringstream buffer;
    EXPECT_TRUE(kaver->doDepCheck(buffer, rql_query_dependency));
    EXPECT_TRUE(exchangeRequests().empty());
    EXPECT_EQ(tren.requests.size(), 2u) << "the version and the system kind";
    EXPECT_TRUE(logHasInOrder(newLog(),
                              {"Dependency Checking is NOT supported by the iVELD FW.  Reporting success"}));
}

// Refusals before any drop box exists: nothing is sent, nothing deleted
// (a catalogue row left from an earlier drop box is not this call's).
TEST_F(ExchangeTest, RefusedRequestsSendNothing) {
    kaverPartInfo[dynPartSlot].i_bitmap = 0x0004;
    struct Row {
        const char* name;
        std::function<bool(secureKaver&, std::stringstream&)> call;
        bool session;
        uint8_t code;
        const char* message;
    };
    const Row rows[] = {
        {"query of a dependency", [](secureKaver& k, std::stringstream& b) { return k.QueryRQL(b, rql_query_dependency); },
         true, ZEMT_INVRQLREQ, "Invalid update RQL request."},
        {"query of a log update", [](secureKaver& k, std::stringstream& b) { return k.QueryRQL(b, rql_update_records); },
         true, ZEMT_INVRQLREQ, "Invalid update RQL request."},
        {"query without a session",
         [](secureKaver& k, std::stringstream& b) { return k.QueryRQL(b, rql_query_current_records); }, false,
         ZEMT_NOKAVERSESS, "QueryRQL called with NO active session"},
        {"update of type 12",
         [](secureKaver& k, std::stringstream&) { return k.UpdateRQL("1", rql_query_current_records, kDevices); },
         true, ZEMT_INVRQLREQ, "Invalid update RQL request."},
        {"update without a session",
         [](secureKaver& k, std::stringstream&) { return k.UpdateRQL("1", rql_update_records, kDevices); }, false,
         ZEMT_NOKAVERSESS, "UpdateRQL called with NO Active Session"},
        {"dependency check of type 12, even without a session",
         [](secureKaver& k, std::stringstream& b) { return k.doDepCheck(b, rql_query_current_records); }, false,
         ZEMT_INVALID_QUERY, "doDepCheck called with incorrect queryType"},
        {"dependency check without a session",
         [](secureKaver& k, std::stringstream& b) { return k.doDepCheck(b, rql_query_dependency); }, false,
         ZEMT_NOKAVERSESS, "doDepCheck called with NO active session"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        kaver->thisSession.sessionActive = row.session;
        tren.requests.clear();
        tren.then(TrenReply::Ok({2, 30}));
        tren.then(TrenReply::Code(0));
        std::stringstream buffer;
        buffer << "untouched";
        EXPECT_FALSE(row.call(*kaver, buffer));
        EXPECT_EQ(kaver->getZEMTError(), row.code);
        EXPECT_EQ(buffer.str(), "untouched");
        EXPECT_TRUE(exchangeRequests().empty());
        EXPECT_TRUE(logHasInOrder(newLog(), {row.message}));
        tren.script.clear();
    }
}

// A failure at each step: its code, and the requests that follow it (the
// clean-up).  With the log off too: no clean-up may hide in a log line.
TEST_F(ExchangeTest, EveryControllerFailureHasItsCodeAndCleanUp) {
    struct Row {
        Kind kind;
        const char* step;
        uint8_t sub;
        int occurrence;
        uint8_t code;
        std::vector<uint8_t> afterwards;
    };
    std::vector<Row> rows;
    for (Kind kind : {Query, Update, DepCheck}) {
        rows.push_back({kind, "create", kCreate, 0, ZEMT_DYNPARTERR, {}});
        rows.push_back({kind, "attach", kAttach, 0, ZEMT_NODYNPRESENT, {kDetach, kDelete}});
        rows.push_back({kind, "detach", kDetach, 0, ZEMT_DETACHFAILED, {kDelete}});
        rows.push_back({kind, "last hash part", kHash, 4, ZEMT_SMCFAILED, {kDelete}});
    }
    for (Kind kind : {Query, DepCheck}) {
        rows.push_back({kind, "second attach", kAttach, 1, ZEMT_NODYNPRESENT, {kDetach, kDelete}});
        rows.push_back({kind, "second detach", kDetach, 1, ZEMT_DETACHFAILED, {kDelete}});
        rows.push_back({kind, "delete, tried again", kDelete, 0, ZEMT_DELETEDROPBOXERR, {kDelete}});
    }
    rows.push_back({Update, "delete, not tried again", kDelete, 0, ZEMT_DELETEDROPBOXERR, {}});

    const char* const names[] = {"query", "update", "dependency check"};
    for (const Row& row : rows) for (bool logged : {true, false}) {
        SCOPED_TRACE(std::string(names[row.kind]) + ", " + row.step + (logged ? ", log on" : ", log off"));
        TearDown();
        SetUp();
        if (!logged) DebugLog = false;
        scriptController(row.kind);
        answer("<r><status>1</status></r>");
        tren.onSubCommand[row.sub][row.occurrence] = TrenReply::Code(0xC1);
        std::stringstream buffer;
        EXPECT_FALSE(run(row.kind, buffer));
        EXPECT_EQ(kaver->getZEMTError(), row.code);
        EXPECT_EQ(after(row.sub, row.occurrence), row.afterwards);
        if (logged && row.code != ZEMT_DYNPARTERR) {
            EXPECT_TRUE(logHasInOrder(newLog(), {row.kind == Update ? "UpdateRQL Failed."
                                                 : row.kind == Query ? "QueryRQL failed"
                                                                      : "doDepCheck failed"}));
        }
    }
}

// Failures of the host side: the drop box's files, the answer, the copy.
TEST_F(ExchangeTest, EveryHostFailureHasItsCodeAndCleanUp) {
    struct Row {
        const char* name;
        std::vector<Kind> kinds;
        std::function<void()> spoil;
        uint8_t code;
        uint8_t failedAfter;  // the last request before the clean-up
        int occurrence;
        const char* message;
    };
    const Row rows[] = {
        {"volume label unknown", {Query, DepCheck},
         [] { kaverPartInfo[dynPartSlot].i_volumeLabel.clear(); }, ZEMT_FINDMOUNTERR, kAttach, 0,
         "update.xml path could not be constructed"},
        {"volume label unknown", {Update},
         [] { kaverPartInfo[dynPartSlot].i_volumeLabel.clear(); }, ZEMT_FINDMOUNTERR, kAttach, 0,
         "UpdateRQL Failed."},
        {"update.xml cannot be written", {Query, Update, DepCheck},
         [this] { fs::create_directories(root + "SECUPD/update.xml"); }, ZEMT_FINDMOUNTERR, kAttach, 0,
         "Could not write"},
        {"input.xml cannot be written", {Update},
         [this] { fs::create_directories(root + "SECUPD/input.xml"); }, ZEMT_FINDMOUNTERR, kAttach, 0,
         "Could not write"},
        {"descriptor copy fails", {DepCheck},
         [this] {
             platform.exitStatus["/bin/cp package.xml " + root + "SECUPD/package.xml > /dev/null"] = 256;
         },
         ZEMT_INTERROR, kAttach, 0, "doCopy failed"},
        {"no answer", {Query}, [this] { platform.files.clear(); }, ZEMT_NOFILEFOUND, kAttach, 1,
         "Output.xml file does NOT exist"},
        {"no answer", {DepCheck}, [this] { platform.files.clear(); }, ZEMT_NOFILEFOUND, kAttach, 1,
         "output.xml file does NOT exist"},
        {"answer cannot be opened", {Query, DepCheck},
         [this] { fs::remove(root + "SECUPD/output.xml"); }, ZEMT_NOFILEFOUND, kAttach, 1,
         "Open of output.xml failed."},
        {"answer larger than 4 MiB", {Query, DepCheck},
         [this] { answer("<r>" + std::string(4 * 1048576, 'x') + "</r>"); }, ZEMT_NOFILEFOUND,
         kAttach, 1, "output.xml is larger than 4194304 bytes"},
    };
    for (const Row& row : rows) for (Kind kind : row.kinds) {
        SCOPED_TRACE(std::string(row.name) + ", kind " + std::to_string(kind));
        TearDown();
        SetUp();
        scriptController(kind);
        answer("<r><status>0</status></r>");
        row.spoil();
        std::stringstream buffer;
        EXPECT_FALSE(run(kind, buffer));
        EXPECT_EQ(kaver->getZEMTError(), row.code);
        EXPECT_EQ(buffer.str(), "");
        EXPECT_EQ(after(row.failedAfter, row.occurrence), (std::vector<uint8_t>{kDetach, kDelete}))
            << "detached and deleted";
        EXPECT_TRUE(logHasInOrder(newLog(), {row.message}));
    }

    // The exact limit is still read.
    scriptController(Query);
    const std::string largest = "<r>" + std::string(4 * 1048576 - 7, 'x') + "</r>";
    answer(largest);
    std::stringstream buffer;
    EXPECT_TRUE(kaver->QueryRQL(buffer, rql_query_current_records));
    EXPECT_EQ(buffer.str().size(), 4u * 1048576);
}

// A clean-up that itself fails does not hide why the exchange failed.
TEST_F(ExchangeTest, FailingCleanUpKeepsTheReason) {
    scriptController(Query);
    tren.onSubCommand[kAttach][0] = TrenReply::Code(0xC1);
    tren.onSubCommand[kDetach][0] = TrenReply::Code(0xC1);
    tren.onSubCommand[kDelete][0] = TrenReply::Code(0xC1);
    std::stringstream buffer;
    EXPECT_FALSE(kaver->QueryRQL(buffer, rql_query_current_records));
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_NODYNPRESENT);
    EXPECT_TRUE(logHasInOrder(newLog(), {"AttachPartition failed.", "QueryRQL failed", "DetachPartition Failed.",
                                         "DeleteDropBox Failed."}));
}

}  // namespace
