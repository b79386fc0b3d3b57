// The secure-update steps through TREN and the signed-package completer.
#include <filesystem>

#include "HostTest.h"
#include "md5wrapper.h"

namespace {

const uint8_t kStatusPoll = 0x0A;

class SecureUpdateTest : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        buildHost(REDHAT, true);
        ASSERT_NE(zolipmiLib, nullptr);
    }
    bool step(const std::string& name) {
        if (name == "Begin") return kaver->beginSecureUpdate(0x00123456);
        if (name == "Process") return kaver->processSecureUpdate("0f1e2d3c4b5a69788796a5b4c3d2e1f0");
        return kaver->endSecureUpdate();
    }
};

TEST_F(SecureUpdateTest, StepsPassTheirArgumentsAndReleaseTheBuffer) {
    ASSERT_TRUE(kaver->beginSecureUpdate(0x00123456));
    ASSERT_TRUE(kaver->processSecureUpdate("0f1e2d3c4b5a69788796a5b4c3d2e1f0"));
    ASSERT_TRUE(kaver->endSecureUpdate());
    ASSERT_EQ(tren.secureCalls.size(), 3u);
    EXPECT_EQ(tren.secureCalls[0].args, (std::vector<int>{0, 0xFF, 1200, 0x0024, 0x1234, 750}));
    EXPECT_EQ(tren.secureCalls[1].args, (std::vector<int>{0, 0xFF, 0, 16, 0x1234, 750}));
    EXPECT_EQ(tren.secureCalls[1].digest,
              (std::vector<uint8_t>{0x0F, 0x1E, 0x2D, 0x3C, 0x4B, 0x5A, 0x69, 0x78, 0x87, 0x96, 0xA5, 0xB4, 0xC3,
                                    0xD2, 0xE1, 0xF0}));
    EXPECT_EQ(tren.secureCalls[2].args, (std::vector<int>{0, 0xFF, 0, 0x1234, 750}));
    EXPECT_EQ(tren.freeCalls, 3);
    EXPECT_TRUE(tren.requests.empty()) << "no poll without a pending answer";
    EXPECT_TRUE(logHasInOrder(newLog(), {"Entering beginSecureUpdate", "beginSecureUpdate : Payload Size : 36",
                                         "beginSecureUpdate Succeeded", "Entering processSecureUpdate",
                                         "Entering endSecureUpdate", "endSecureUpdate Succeeded"}));
}

TEST_F(SecureUpdateTest, FailuresPendingAnswersAndMissingFunctions) {
    struct Row {
        const char* step;
        const char* lower;
        const char* function;
        uint8_t pollSub;
    };
    const Row rows[] = {
        {"Begin", "beginSecureUpdate", "ZOLIPMOEMKaverBeginSecureUpdate", 0x20},
        {"Process", "processSecureUpdate", "ZOLIPMOEMKaverProcessSecureUpdate", 0x22},
        {"End", "endSecureUpdate", "ZOLIPMOEMKaverEndSecureUpdate", 0x23},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.step);
        const std::string pfn = std::string(" : pfn") + row.step + "SecureUpdate";
        tren.secureStatus.clear();
        tren.secureNullBuffer.clear();
        tren.requests.clear();

        tren.secureStatus[row.step] = 0x1b;
        EXPECT_FALSE(step(row.step));
        EXPECT_TRUE(logHasInOrder(newLog(), {row.lower + pfn + " failed : Return Code - 0x001b"}));

        tren.secureStatus[row.step] = 0;
        tren.secureNullBuffer.insert(row.step);
        EXPECT_FALSE(step(row.step)) << "no buffer is a failure";
        EXPECT_TRUE(logHasInOrder(newLog(), {row.lower + pfn + " failed : Return Code - 0x0000"}));
        tren.secureNullBuffer.clear();

        // Pending: the status poll asks about the step's own sub-command.
        tren.secureStatus[row.step] = 0x1002;
        EXPECT_TRUE(step(row.step));
        ASSERT_EQ(tren.requests.size(), 1u);
        EXPECT_EQ(tren.requestBytes(0)[2], kStatusPoll);
        EXPECT_EQ(tren.requestBytes(0)[5], row.pollSub);
        tren.then(TrenReply::Ok({0, 0, 0x05}));  // the controller reports a failed step
        EXPECT_FALSE(step(row.step));
        EXPECT_TRUE(logHasInOrder(newLog(), {row.lower + pfn + " returned Pending status",
                                             std::string(row.lower) + " : PollKaverCmdComplete function returned false"}));

        tren.missing.insert(row.function);
        const std::size_t calls = tren.secureCalls.size();
        EXPECT_FALSE(step(row.step));
        EXPECT_EQ(tren.secureCalls.size(), calls);
        EXPECT_TRUE(logHasInOrder(newLog(), {row.lower + pfn + " is NULL"}));
        tren.missing.clear();
    }
    tren.missing.insert("ZOLIPMIFreeGeneric");
    int dummy = 0;
    kaver->freeResponsePtr(&dummy);
    EXPECT_TRUE(logHasInOrder(newLog(), {"freeResponsePtr : Unable to Free Memory"}));
}

// The signed-package completer on a fake host: package, signature and
// descriptor copied to the dynamic partition, the document's digest sent.
class SignedUnzipTest : public SecureUpdateTest {
protected:
    void SetUp() override {
        SecureUpdateTest::SetUp();
        root = cwd->file("host") + "/";
        std::filesystem::create_directories(root + "SECUPD");
        savedPartDir = RHatPartDir;
        RHatPartDir = root.c_str();
        kaverPartInfo[dynPartSlot].i_bitmap = 0x0002;
        addUsbDisk("sdc", "sg2", 4, "SECUPD", true);
        kaver->MAX_DYN_PART_SIZE = 64 * 1048576;
        writeFile(cwd->file("p.zip"), std::string(100000, 'z'));
        writeFile(cwd->file("p.zip.sig"), "sig");
        writeFile(cwd->file("package.xml"), "<x/>");
        ASSERT_TRUE(kaver->StartCopyFile());
        ASSERT_TRUE(kaver->AddFile("p.zip", "KAV022/p.zip", signedunzip));
        kaver->UpdateCompletionStatus = false;
    }
    void TearDown() override {
        RHatPartDir = savedPartDir;
        SecureUpdateTest::TearDown();
    }
    std::vector<std::string> calls() const {
        std::vector<std::string> out;
        for (const FakeTren::SecureCall& c : tren.secureCalls) out.push_back(c.name);
        return out;
    }
    std::string root;
    const char* savedPartDir = nullptr;
};

TEST_F(SignedUnzipTest, PackageIsStagedAndTheDocumentDigestSent) {
    ASSERT_TRUE(kaver->CompleteSignedUnzip()) << newLog();
    EXPECT_TRUE(kaver->UpdateCompletionStatus);
    EXPECT_EQ(kaver->l_state, 0);
    EXPECT_EQ(calls(), (std::vector<std::string>{"Begin", "Process", "End"}));
    // 100000 + 3 + 4 bytes round up to 4 units, plus five margins.
    EXPECT_EQ(tren.secureCalls[0].args[3], (4 * 32768 + 5 * 1048576) >> 15);
    const std::string doc = readFile(root + "SECUPD/update.xml");
    EXPECT_NE(doc.find("<Mode>signedunzip</Mode>"), std::string::npos);
    const std::string hash = md5wrapper().getHashFromString(doc);
    std::vector<uint8_t> digest;
    for (std::size_t i = 0; i < 32; i += 2) digest.push_back(static_cast<uint8_t>(std::stoi(hash.substr(i, 2), nullptr, 16)));
    EXPECT_EQ(tren.secureCalls[1].digest, digest);
    EXPECT_TRUE(ran("/bin/cp package.xml " + root + "SECUPD/package.xml > /dev/null"));
    EXPECT_TRUE(ran("umount " + root + "SECUPD > /dev/null 2>&1"));
    for (uint8_t sub : subCommands()) EXPECT_NE(sub, 7) << "no drop box is created on this path";
}

TEST_F(SignedUnzipTest, FailuresEndTheUpdateWhereItWasBegun) {
    struct Row {
        const char* what;
        uint8_t code;
        std::vector<std::string> calls;
    };
    const Row rows[] = {
        {"too big", ZEMT_PAYLOADSIZEGTMAX, {}},
        {"begin", ZEMT_BEGIN_SECUREUPDATE_FAILED, {"Begin"}},
        {"mount", ZEMT_FINDMOUNTERR, {"Begin", "End"}},
        {"copy", ZEMT_FINDMOUNTERR, {"Begin", "End"}},
        {"process", ZEMT_PROCESS_SECUREUPDATE_FAILED, {"Begin", "Process", "End"}},
        {"end", ZEMT_END_SECUREUPDATE_FAILED, {"Begin", "Process", "End"}},
    };
    // With the log off too: a clean-up must not hide inside a log statement.
    for (const Row& row : rows) for (bool logged : {true, false}) {
        SCOPED_TRACE(std::string(row.what) + (logged ? ", log on" : ", log off"));
        TearDown();
        SetUp();
        if (!logged) DebugLog = false;
        tren.secureCalls.clear();
        tren.secureStatus.clear();
        platform.exitStatus.clear();
        const std::string what = row.what;
        if (what == "too big") kaver->MAX_DYN_PART_SIZE = 1048576;
        if (what == "begin") tren.secureStatus["Begin"] = 1;
        if (what == "mount")
            platform.exitStatus["mount -t vfat -oshortname=mixed,rw /dev/seckavupd-SECUPD " + root + "SECUPD"] = 32;
        if (what == "copy") platform.exitStatus["/bin/cp p.zip.sig " + root + "SECUPD/p.zip.sig > /dev/null"] = -1;
        if (what == "process") tren.secureStatus["Process"] = 1;
        if (what == "end") tren.secureStatus["End"] = 1;
        platform.commands.clear();

        EXPECT_FALSE(kaver->CompleteSignedUnzip());
        EXPECT_EQ(kaver->getZEMTError(), row.code);
        EXPECT_EQ(kaver->l_state, 0);
        EXPECT_FALSE(kaver->UpdateCompletionStatus);
        EXPECT_EQ(calls(), row.calls);
        if (what == "copy") {
            EXPECT_TRUE(ran("umount " + root + "SECUPD > /dev/null 2>&1")) << "no mount left";
        }
        if (logged) {
            EXPECT_TRUE(logHasInOrder(newLog(), {"copyPayload failed"}));
        }
    }
}

}  // namespace
