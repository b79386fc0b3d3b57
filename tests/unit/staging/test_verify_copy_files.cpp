// SPDX-License-Identifier: Apache-2.0
// Verification reads each copy back from the partition of the first entry.
#include <filesystem>

#include "HostTest.h"
#include "md5wrapper.h"

namespace {

const uint8_t kAttach = 5;
const uint8_t kDetach = 6;

class VerifyTest : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        buildHost(REDHAT, true);
        useRealMountRoot();
        std::filesystem::create_directories(root + "KAV022/fw");
        kaver->UpdateCompletionStatus = false;
    }
    void entry(exmlMode mode, const std::string& dst, const std::string& content) {
        cfgEntry e;
        e.mode = mode;
        e.dstName = dst;
        e.partNum = 22;
        e.hash = md5wrapper().getHashFromString(content);
        kaver->FileList.push_back(e);
    }
};

TEST_F(VerifyTest, MatchingCopiesPassAndOtherModesAreNotCompared) {
    writeFile(root + "KAV022/fw/a.bin", "alpha");
    writeFile(root + "KAV022/fw/b.bin", "beta");
    entry(filecopy, "KAV022/fw/a.bin", "alpha");
    entry(dirmake, "KAV022/fw/none", "x");
    entry(fileappend, "KAV022/fw/b.bin", "beta");
    entry(filemove, "KAV022/fw/missing", "x");
    ASSERT_TRUE(kaver->VerifyCopyFiles());
    EXPECT_TRUE(kaver->UpdateCompletionStatus);
    EXPECT_EQ(subCommands(), (std::vector<uint8_t>{kAttach, kDetach}));
    EXPECT_TRUE(logHasInOrder(newLog(), {"AttachPartition succeeded", "Verifying: " + root + "KAV022/fw/a.bin",
                                         "Verify Successful", "Verifying: " + root + "KAV022/fw/b.bin",
                                         "DetachPartition succeeded", "VerifyCopyFiles Succeeded"}));

    // Nothing to compare: attach and detach only.
    kaver->FileList.clear();
    tren.requests.clear();
    entry(dirmake, "KAV022/fw", "");
    EXPECT_TRUE(kaver->VerifyCopyFiles());
    EXPECT_EQ(subCommands(), (std::vector<uint8_t>{kAttach, kDetach}));
}

TEST_F(VerifyTest, FirstMismatchFailsWith47AndDetaches) {
    struct Row {
        const char* what;
        std::string onDisk;  // "" : the copy is missing
        std::string dst;
    };
    const Row rows[] = {
        {"one byte differs", "alphA", "KAV022/fw/a.bin"},
        {"copy missing", "", "KAV022/fw/a.bin"},
        {"name outside the partition", "alpha", "KAV022/../KAV022/fw/a.bin"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        kaver->FileList.clear();
        tren.requests.clear();
        std::filesystem::remove(root + "KAV022/fw/a.bin");
        if (!row.onDisk.empty()) writeFile(root + "KAV022/fw/a.bin", row.onDisk);
        entry(filecopy, row.dst, "alpha");
        entry(filecopy, "KAV022/fw/later.bin", "x");
        markLog();
        EXPECT_FALSE(kaver->VerifyCopyFiles());
        EXPECT_EQ(kaver->getZEMTError(), ZEMT_COPYVERIFYFAIL);
        EXPECT_FALSE(kaver->UpdateCompletionStatus);
        EXPECT_EQ(subCommands(), (std::vector<uint8_t>{kAttach, kDetach}));
        EXPECT_EQ(newLog().find("later.bin"), std::string::npos) << "stops at the first mismatch";
        EXPECT_TRUE(logHasInOrder(newLog(), {"The file copied to the kaver did not match the original file.",
                                             "Verification failed."}));
    }
}

TEST_F(VerifyTest, ControllerFailures) {
    writeFile(root + "KAV022/fw/a.bin", "alpha");
    entry(filecopy, "KAV022/fw/a.bin", "alpha");
    tren.onSubCommand[kAttach][tren.subCommandCount[kAttach]] = TrenReply::Code(0xC1);
    EXPECT_FALSE(kaver->VerifyCopyFiles());
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_ATTACHPARTFAIL);
    EXPECT_EQ(subCommands(), (std::vector<uint8_t>{kAttach})) << "nothing attached, nothing to detach";

    tren.requests.clear();
    tren.onSubCommand[kDetach][tren.subCommandCount[kDetach]] = TrenReply::Code(0xC1);
    EXPECT_FALSE(kaver->VerifyCopyFiles());
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_DETACHFAILED);
    EXPECT_TRUE(kaver->UpdateCompletionStatus) << "the copies matched";
}

TEST_F(VerifyTest, EmptyListAsksNothing) {
    EXPECT_TRUE(kaver->VerifyCopyFiles());
    EXPECT_TRUE(tren.requests.empty());
}

}  // namespace
