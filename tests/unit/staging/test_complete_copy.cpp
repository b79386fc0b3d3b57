// Completing a copy list: the drop-box cycle pass by pass, the hash
// handed to the controller, the clean-up of every failure, verification.
#include <filesystem>
#include <map>

#include "HostTest.h"
#include "md5wrapper.h"

namespace {

const uint32_t MiB = 1048576;
const uint8_t kAttach = 5;
const uint8_t kDetach = 6;
const uint8_t kCreate = 7;
const uint8_t kDelete = 8;
const uint8_t kHash = 9;
const uint16_t kDropBoxBit = 0x0002;
const uint16_t kKav022Bit = 0x0004;

class CompleteTest : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        buildHost(REDHAT, true);
        root = cwd->file("host") + "/";
        std::filesystem::create_directories(root + "SECUPD");
        std::filesystem::create_directories(root + "KAV022/fw");
        savedPartDir = RHatPartDir;
        RHatPartDir = root.c_str();
        kaverPartInfo[22].i_volumeLabel = "KAV022";
        kaverPartInfo[22].i_bitmap = kKav022Bit;
        kaverPartInfo[22].i_present = true;
        kaverPartInfo[dynPartSlot].i_bitmap = 0;
        addUsbDisk("sdb", "sg1", 3, "KAV022");
        addUsbDisk("sdc", "sg2", 4, "SECUPD", true);
        kaver->MAX_DYN_PART_SIZE = 3 * MiB;
        // A row may start over inside one test: nothing scripted survives.
        tren.script.clear();
        tren.onSubCommand.clear();
        tren.subCommandCount.clear();
        platform.exitStatus.clear();
        platform.removedFiles.clear();
        // The controller grants the drop box behind bit 1.
        tren.then(indexReply(0x0004, 0x0000));
        tren.then(TrenReply::Ok());
        tren.then(indexReply(0x0004, kDropBoxBit));
        tren.then(infoReply("SECUPD"));
    }
    void TearDown() override {
        RHatPartDir = savedPartDir;
        HostTest::TearDown();
    }

    std::string source(const std::string& name, uint32_t size, char salt = 0) {
        std::string bytes(size, '\0');
        for (uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 13 + i / 1000 + salt) & 0xFF);
        writeFile(cwd->file(name), bytes);
        return cwd->file(name);
    }

    // A copy list of a small file and a 5 MiB one (four passes with a 3 MiB
    // drop box), whose copies the controller has put into KAV022.
    void stageTwoFiles() {
        const std::string small = source("small.bin", 1500000);
        const std::string big = source("big.bin", 5 * MiB);
        ASSERT_TRUE(kaver->StartCopyFile());
        ASSERT_TRUE(kaver->AddFile(small, "KAV022/fw/small.bin", filecopy));
        ASSERT_TRUE(kaver->AddFile(big, "KAV022/fw/big.bin", filecopy));
        std::filesystem::copy_file(small, root + "KAV022/fw/small.bin");
        std::filesystem::copy_file(big, root + "KAV022/fw/big.bin");
        kaver->UpdateCompletionStatus = false;  // so that only a verification sets it
    }

    std::vector<uint8_t> subs() const { return subCommands(); }
    std::size_t count(uint8_t sub) const {
        std::size_t n = 0;
        for (uint8_t s : subs()) n += s == sub;
        return n;
    }
    // Sub-commands after the last request of `sub`.
    std::vector<uint8_t> after(uint8_t sub) const {
        std::vector<uint8_t> all = subs();
        std::size_t i = all.size();
        while (i > 0 && all[i - 1] != sub) --i;
        return std::vector<uint8_t>(all.begin() + static_cast<long>(i), all.end());
    }

    std::string root;
    const char* savedPartDir = nullptr;
};

TEST_F(CompleteTest, MultiPassCopyIsHandedOverPassByPassAndVerified) {
    stageTwoFiles();
    ASSERT_TRUE(kaver->CompleteCopyFile()) << newLog();
    EXPECT_EQ(kaver->l_state, 0);
    EXPECT_EQ(kaver->getZEMTError(), 0);
    EXPECT_TRUE(kaver->UpdateCompletionStatus);

    EXPECT_EQ(count(kCreate), 1u);
    EXPECT_EQ(count(kHash), 4u * 5u) << "a header and four parts per pass";
    EXPECT_EQ(count(kDelete), 1u);
    EXPECT_EQ(count(kAttach), 5u) << "four passes and the verification";
    const std::vector<uint8_t> create = tren.requestBytes(1);
    EXPECT_EQ(create[5] | (create[6] << 8), 3 * MiB / 32768) << "capped at MAX_DYN_PART_SIZE";

    // Each pass starts clean: earlier copies and chunks are removed.
    EXPECT_EQ(commandsStartingWith("rm -f " + root + "SECUPD/FileChunk*"),
              std::vector<std::string>(4, "rm -f " + root + "SECUPD/FileChunk* > /dev/null 2>&1"));
    EXPECT_EQ(platform.removedFiles, std::vector<std::string>(3, root + "SECUPD/fw/small.bin"));

    // The last document on the drop box is the one whose hash was sent last.
    const std::string doc = readFile(root + "SECUPD/update.xml");
    EXPECT_NE(doc.find("<Source>FileChunk3</Source><Destination>KAV022/fw/big.bin.zemt-partial</Destination>"
                       "<Mode>fileappend"),
              std::string::npos)
        << doc;
    EXPECT_NE(doc.find("<SourceKAVER>KAV022/fw/big.bin.zemt-partial</SourceKAVER>\n<Destination>KAV022/fw/big.bin"
                       "</Destination>\n<Mode>filemove</Mode>"),
              std::string::npos)
        << doc;
    const std::string hash = md5wrapper().getHashFromString(doc);
    std::string sent;
    for (std::size_t i = 0; i < tren.requests.size(); ++i) {
        if (subCommand(i) != kHash || tren.requestBytes(i)[5] != 1) continue;
        if (sent.size() == 32) sent.clear();
        const std::vector<uint8_t> part = tren.requestBytes(i);
        for (std::size_t k = 6; k < 16 && part[k] != 0; ++k) sent += static_cast<char>(part[k]);
    }
    EXPECT_EQ(sent, hash);
    EXPECT_STREQ(targetFilePath, (root + "SECUPD/update.xml").c_str());
    EXPECT_TRUE(logHasInOrder(newLog(), {"CreateDropBox succeeded", "AttachPartition succeeded",
                                         "Dynamic Partition Mount Point: " + root + "SECUPD/", "update.xml Hash: ",
                                         "DetachPartition succeeded", "SecureKaverCopy succeeded",
                                         "DeleteDropBox succeeded", "Verifying: " + root + "KAV022/fw/small.bin",
                                         "VerifyCopyFiles Succeeded", "Copy verification Succeeded"}));
}

// The handler hears of every pass the controller accepted, and of no other.
TEST_F(CompleteTest, ProgressIsReportedPerAcceptedPass) {
    std::vector<copyProgress> heard;
    auto record = [](const copyProgress* p, void* context) {
        static_cast<std::vector<copyProgress>*>(context)->push_back(*p);
    };
    setCopyProgressHandler(record, &heard);
    stageTwoFiles();
    const bool copied = kaver->CompleteCopyFile();
    setCopyProgressHandler(nullptr, nullptr);
    ASSERT_TRUE(copied) << newLog();
    const uint64_t total = 1500000 + 5 * MiB;
    ASSERT_EQ(heard.size(), 4u);
    // Pass 1 holds the small file and a chunk filling the 3 MiB drop box
    // up to its 1 MiB margin; the others a chunk of at most 2 MiB each.
    const uint64_t done[] = {2 * MiB, 4 * MiB, 6 * MiB, total};
    const uint32_t entries[] = {1, 1, 1, 2};
    for (uint32_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(heard[i].pass, i + 1);
        EXPECT_EQ(heard[i].bytesDone, done[i]);
        EXPECT_EQ(heard[i].bytes, total);
        EXPECT_EQ(heard[i].entriesDone, entries[i]);
        EXPECT_EQ(heard[i].entries, 2u);
    }

    TearDown();
    SetUp();
    heard.clear();
    setCopyProgressHandler(record, &heard);
    stageTwoFiles();
    tren.onSubCommand[kHash][14] = TrenReply::Code(0xC1);  // last part of pass 3
    const bool failed = !kaver->CompleteCopyFile();
    setCopyProgressHandler(nullptr, nullptr);
    EXPECT_TRUE(failed);
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard.back().bytesDone, 4 * MiB);
}

TEST_F(CompleteTest, FileChangedAfterItWasAddedFailsVerification) {
    stageTwoFiles();
    // The source changes on disk after AddFile; the copy carries the new bytes.
    source("small.bin", 1500000, 1);
    std::filesystem::copy_file(cwd->file("small.bin"), root + "KAV022/fw/small.bin",
                               std::filesystem::copy_options::overwrite_existing);
    EXPECT_FALSE(kaver->CompleteCopyFile());
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_COPYVERIFYFAIL);
    EXPECT_EQ(kaver->l_state, 0);
    EXPECT_FALSE(kaver->UpdateCompletionStatus);
    EXPECT_EQ(after(kAttach), (std::vector<uint8_t>{kDetach})) << "KAV022 detached after the mismatch";
    EXPECT_EQ(count(kDelete), 1u) << "the drop box was already deleted";
    EXPECT_TRUE(logHasInOrder(newLog(), {"The file copied to the kaver did not match the original file.",
                                         "Verification failed.", "Copy verification Failed", "copyPayload failed"}));
}

// Every controller failure at every pass ends with its code and its
// clean-up: which requests follow the failure is the clean-up.
TEST_F(CompleteTest, EveryControllerFailureHasItsCodeAndCleanUp) {
    struct Row {
        const char* what;
        uint8_t sub;
        int occurrence;
        uint8_t code;
        std::vector<uint8_t> afterwards;  // requests after the failing one
    };
    const Row rows[] = {
        {"create", kCreate, 0, ZEMT_CREATE_DYN_PART_FAILED, {}},
        {"attach, pass 1", kAttach, 0, ZEMT_FINDMOUNTERR, {kDetach, kDelete}},
        {"attach, pass 3", kAttach, 2, ZEMT_FINDMOUNTERR, {kDetach, kDelete}},
        {"detach, pass 2", kDetach, 1, ZEMT_DETACHFAILED, {}},
        {"hash part 4, pass 1", kHash, 4, ZEMT_SMCFAILED, {kDelete}},
        {"hash part 4, pass 4", kHash, 19, ZEMT_SMCFAILED, {kDelete}},
        {"delete", kDelete, 0, ZEMT_DELETEDROPBOXERR, {}},
        {"verification attach", kAttach, 4, ZEMT_COPYVERIFYFAIL, {}},
        {"verification detach", kDetach, 4, ZEMT_COPYVERIFYFAIL, {}},
    };
    // With the log off too: a clean-up must not hide inside a log statement.
    for (const Row& row : rows) for (bool logged : {true, false}) {
        SCOPED_TRACE(std::string(row.what) + (logged ? ", log on" : ", log off"));
        TearDown();
        SetUp();
        if (!logged) DebugLog = false;
        stageTwoFiles();
        tren.onSubCommand[row.sub][row.occurrence] = TrenReply::Code(0xC1);
        EXPECT_FALSE(kaver->CompleteCopyFile());
        EXPECT_EQ(kaver->getZEMTError(), row.code);
        EXPECT_EQ(kaver->l_state, 0);
        // The failing request is the last of its kind only when no clean-up
        // repeats it; compare what followed its occurrence.
        std::vector<uint8_t> all = subs();
        int seen = -1;
        std::size_t at = 0;
        for (; at < all.size(); ++at)
            if (all[at] == row.sub && ++seen == row.occurrence) break;
        ASSERT_LT(at, all.size());
        std::vector<uint8_t> followed(all.begin() + static_cast<long>(at) + 1, all.end());
        EXPECT_EQ(followed, row.afterwards);
        if (logged) {
            EXPECT_TRUE(logHasInOrder(newLog(), {"copyPayload failed"}));
        }
    }
}

TEST_F(CompleteTest, HostFailuresFailThePassAndRemoveTheDropBox) {
    // The mount point never appears: every attach attempt fails to mount.
    stageTwoFiles();
    platform.defaultExitStatus = 0;
    platform.exitStatus["mount -t vfat -oshortname=mixed,rw /dev/seckavupd-SECUPD " + root + "SECUPD"] = 32;
    EXPECT_FALSE(kaver->CompleteCopyFile());
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_FINDMOUNTERR);
    EXPECT_EQ(subs().back(), kDelete);
    EXPECT_EQ(kaver->l_state, 0);
    const std::string mountReason = "pass #1: attaching the drop box: mount -t vfat -oshortname=mixed,rw "
                                    "/dev/seckavupd-SECUPD " + root + "SECUPD ";
    EXPECT_EQ(std::string(zemtLastFailureReason()).compare(0, mountReason.size(), mountReason), 0)
        << zemtLastFailureReason();

    // A copy command fails in pass 1 (a full device makes cp fail).
    TearDown();
    SetUp();
    stageTwoFiles();
    platform.exitStatus["/bin/cp " + cwd->file("small.bin") + " " + root + "SECUPD/fw/small.bin > /dev/null"] = 256;
    EXPECT_FALSE(kaver->CompleteCopyFile());
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_FINDMOUNTERR);
    EXPECT_EQ(after(kAttach), (std::vector<uint8_t>{kDetach, kDelete}));
    EXPECT_EQ(count(kHash), 0u) << "nothing handed over";
    EXPECT_TRUE(logHasInOrder(newLog(), {"populateDynPart failed", "copyPayload failed", "DetachPartition succeeded",
                                         "DeleteDropBox succeeded"}));
    EXPECT_EQ(std::string(zemtLastFailureReason()),
              "pass #1: copying " + cwd->file("small.bin") + " to KAV022/fw/small.bin: /bin/cp exited 1");
}

// The reason of a failure survives a clean-up that fails in turn, and the
// next completion starts without one.
TEST_F(CompleteTest, FailureReasonSurvivesTheCleanUp) {
    stageTwoFiles();
    platform.exitStatus["/bin/cp " + cwd->file("small.bin") + " " + root + "SECUPD/fw/small.bin > /dev/null"] = 256;
    tren.onSubCommand[kDetach][0] = TrenReply::Code(0xC1);  // the clean-up's detach
    EXPECT_FALSE(kaver->CompleteCopyFile());
    EXPECT_EQ(std::string(zemtLastFailureReason()),
              "pass #1: copying " + cwd->file("small.bin") + " to KAV022/fw/small.bin: /bin/cp exited 1");

    TearDown();
    SetUp();
    stageTwoFiles();
    EXPECT_TRUE(kaver->CompleteCopyFile());
    EXPECT_STREQ(zemtLastFailureReason(), "");
}

TEST_F(CompleteTest, SarnCompleterNeitherDeletesNorVerifies) {
    stageTwoFiles();
    ASSERT_TRUE(kaver->AddFile("", "KAV022/payload", dirmake));
    ASSERT_TRUE(kaver->CompleteCopyFileSarn());
    EXPECT_EQ(kaver->l_state, 0);
    EXPECT_EQ(count(kDelete), 0u);
    EXPECT_EQ(count(kAttach), 5u) << "five passes, no verification";
    EXPECT_EQ(commandsStartingWith("rm -f " + root + "SECUPD/FileChunk*").front(),
              "rm -f " + root + "SECUPD/FileChunk* &> /dev/null");
    EXPECT_TRUE(logHasInOrder(newLog(), {"Entering CompleteCopyFileSarn", "Entering populateDynPartSarn"}));

    TearDown();
    SetUp();
    stageTwoFiles();
    tren.onSubCommand[kCreate][0] = TrenReply::Code(0xC1);
    EXPECT_FALSE(kaver->CompleteCopyFileSarn());
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_CREATE_DYN_PART_FAILED);
    EXPECT_TRUE(logHasInOrder(newLog(), {"copyPayload failed", "create drop box failed"}));
}

TEST_F(CompleteTest, SecureKaverCopyRequestBytes) {
    kaverPartInfo[dynPartSlot].i_bitmap = kDropBoxBit;
    tren.script.clear();
    const std::string hash = "0123456789abcdef0123456789ABCDEF";
    ASSERT_TRUE(kaver->SecureKaverCopy(kaver->thisSession, hash, 0xBEEF));
    ASSERT_EQ(tren.requests.size(), 5u);
    EXPECT_EQ(tren.requestBytes(0), (std::vector<uint8_t>{0xC0, 0xA2, 9, 0x34, 0x12, 0, 0x00, 0x02, 0, 0, 0, 0xEF,
                                                          0xBE}));
    for (int part = 0; part < 4; ++part) {
        std::vector<uint8_t> expected = {0xC0, 0xA2, 9, 0x34, 0x12, 1};
        for (int k = 0; k < 10; ++k) {
            const int pos = part * 10 + k;
            expected.push_back(pos < 32 ? static_cast<uint8_t>(hash[pos]) : 0);
        }
        expected.push_back(0);
        EXPECT_EQ(tren.requestBytes(part + 1), expected) << "part " << part + 1;
    }
    EXPECT_TRUE(logHasInOrder(newLog(), {"Secure Kaver CopyPart 1 Hash: 0 1 2 3 4 5 6 7 8 9 ",
                                         "Secure Kaver CopyPart 4 Hash: E F "}));

}

// Every one of the five requests must be accepted; the first refusal ends
// the hand-over, so the controller never holds a partial hash.
TEST_F(CompleteTest, SecureKaverCopyFailsOnAnyRefusedRequest) {
    kaverPartInfo[dynPartSlot].i_bitmap = kDropBoxBit;
    const std::string hash = "0123456789abcdef0123456789abcdef";
    const struct {
        const char* name;
        int refused;  // 0 = the header, 1-4 = a hash part, -1 = none
        TrenReply reply;
    } rows[] = {
        {"all accepted", -1, TrenReply::Ok()},
        {"header refused", 0, TrenReply::Code(KAVER_FAILURE)},
        {"part 1 refused", 1, TrenReply::Code(KAVER_FAILURE)},
        {"part 2 invalid", 2, TrenReply::Code(KAVER_INVALID)},
        {"part 3 not delivered", 3, TrenReply::NoExchange()},
        {"part 4 refused", 4, TrenReply::Code(KAVER_FAILURE)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        tren.script.clear();
        tren.requests.clear();
        markLog();
        for (int i = 0; i < 5; ++i) tren.then(i == row.refused ? row.reply : TrenReply::Ok());
        EXPECT_EQ(kaver->SecureKaverCopy(kaver->thisSession, hash, 0), row.refused < 0);
        EXPECT_EQ(tren.requests.size(), row.refused < 0 ? 5u : static_cast<std::size_t>(row.refused) + 1);
        for (std::size_t i = 0; i < tren.requests.size(); ++i) {
            EXPECT_EQ(subCommand(i), kHash);
            EXPECT_EQ(tren.requestBytes(i)[5], i == 0 ? 0 : 1) << "header first, then the parts in turn";
        }
    }
}

}  // namespace
