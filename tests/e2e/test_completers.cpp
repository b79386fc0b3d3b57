// SPDX-License-Identifier: Apache-2.0
// The three completers end to end: a copy list carried through drop boxes
// pass by pass (general and generation-three), one signed package through
// the secure-update steps, and what each leaves behind when the controller
// or the host fails part-way.
#include <filesystem>
#include <fstream>
#include <memory>

#include "EmulatorFixture.h"
#include "secureKaver.h"

namespace fs = std::filesystem;

namespace {

// With the 1 MiB margin every size rule keeps, a pass carries about 1 MiB.
const uint32_t kDropBoxSize = 2 * 1048576;
const char* const kDropBoxUnits = "64";  // kDropBoxSize in 32 KiB units
const char* const kCanary = "canary of KAV022\n";

enum class Box {
    Gone,      // never made, or deleted
    Attached,  // still there and still attached to the host
    Detached,  // still there, detached
};

class CompleterTest : public EmulatorTest {
protected:
    // The multi-pass copy list: a folder, a small file, a file larger than
    // a pass can carry and another small file.  The first pass carries the
    // folder, the small file and the large file's first chunk; the second
    // the rest of the large file; a pass ends with its chunk, so the last
    // small file goes in a third pass.
    void StartMultiPass(secureKaver& kaver) {
        small_ = "small file of the first pass\n";
        large_ = VaryingBytes(1048576 + 524288, 7);
        last_ = "small file of the third pass\n";
        WriteWorkFile("small.txt", small_);
        WriteWorkFile("large.bin", large_);
        WriteWorkFile("last.txt", last_);
        kaver.MAX_DYN_PART_SIZE = kDropBoxSize;
        ASSERT_TRUE(kaver.StartCopyFile());
        ASSERT_TRUE(kaver.AddFile("", "kav022/made/here", dirmake));
        ASSERT_TRUE(kaver.AddFile(workDir_ + "/small.txt", "kav022/pkg/small.txt", filecopy));
        ASSERT_TRUE(kaver.AddFile(workDir_ + "/large.bin", "kav022/pkg/large.bin", filecopy));
        ASSERT_TRUE(kaver.AddFile(workDir_ + "/last.txt", "kav022/pkg/last.txt", filecopy));
    }

    // KAV022 holds what the first PASSES passes carried and nothing of the
    // others.  LASTDAMAGED: the controller flipped the first byte of the
    // third pass's file.
    void ExpectTargetAfter(int passes, bool lastDamaged = false) const {
        const std::string kav022 = Image("KAV022.img");
        EXPECT_EQ(ImageFile(kav022, "/CANARY.TXT"), kCanary);
        EXPECT_EQ(ImageHasDir(kav022, "/made/here"), passes >= 1);
        EXPECT_EQ(ImageFile(kav022, "/pkg/small.txt"), passes >= 1 ? small_ : "<missing>");
        const std::string large = ImageFile(kav022, "/pkg/large.bin");
        const std::string partial = ImageFile(kav022, "/pkg/large.bin.zemt-partial");
        if (passes == 0) {
            EXPECT_EQ(large, "<missing>");
            EXPECT_EQ(partial, "<missing>");
        } else if (passes == 1) {
            // Only the first chunk, under the temporary name beside the
            // target: a proper, non-empty beginning of the file.
            EXPECT_EQ(large, "<missing>") << "a half-copied file never takes the target's name";
            EXPECT_GT(partial.size(), 0u);
            EXPECT_LT(partial.size(), large_.size());
            EXPECT_TRUE(large_.compare(0, partial.size(), partial) == 0) << "the first chunk is not the file's start";
        } else {
            EXPECT_TRUE(large == large_) << "joined " << large.size() << " bytes of " << large_.size();
            EXPECT_EQ(partial, "<missing>") << "moved onto the target";
        }
        std::string last = last_;
        if (lastDamaged) last[0] = static_cast<char>(last[0] ^ 0xFF);
        EXPECT_EQ(ImageFile(kav022, "/pkg/last.txt"), passes >= 3 ? last : "<missing>");
    }

    void ExpectDropBox(Box box) const {
        switch (box) {
            case Box::Gone:
                EXPECT_EQ(ControllerState("dynamic.0.units"), "") << "the drop box is still there";
                EXPECT_FALSE(fs::exists(Image("dynamic-0.img")));
                break;
            case Box::Attached:
            case Box::Detached:
                EXPECT_EQ(ControllerState("dynamic.0.units"), kDropBoxUnits);
                EXPECT_EQ(ControllerState("attached.dynamic"), box == Box::Attached ? "1" : "0");
                break;
        }
    }

    // A zip (made with the zip tool) of two files, its signature and the
    // package descriptor, in the working directory.
    void MakeSignedPackage() {
        fs::create_directories(workDir_ + "/pkg/sub");
        std::ofstream(workDir_ + "/pkg/fw.bin") << "firmware\n";
        std::ofstream(workDir_ + "/pkg/sub/inside.txt") << "from the archive\n";
        ASSERT_EQ(Run({"/bin/sh", "-c", "cd pkg && zip -q -r ../fw.zip fw.bin sub"}).exitCode, 0);
        WriteWorkFile("fw.zip.sig", "signature of fw.zip\n");
        WriteWorkFile("package.xml", "<Package name=\"fw\"/>\n");
    }

    bool AddSignedPackage(secureKaver& kaver) {
        return kaver.StartCopyFile() && kaver.AddFile(workDir_ + "/fw.zip", "kav022/fw.zip", signedunzip);
    }

    // KAV022 holds the unpacked archive, or nothing of it.
    void ExpectUnpacked(bool unpacked) const {
        const std::string kav022 = Image("KAV022.img");
        EXPECT_EQ(ImageFile(kav022, "/fw.bin"), unpacked ? "firmware\n" : "<missing>");
        EXPECT_EQ(ImageFile(kav022, "/sub/inside.txt"), unpacked ? "from the archive\n" : "<missing>");
        EXPECT_EQ(ImageFile(kav022, "/CANARY.TXT"), kCanary);
    }

    // Runs the multi-pass copy once per row of the failure table below.
    void RunPassFailures(bool sarn);

    std::string small_, large_, last_;
};

TEST_F(CompleterTest, SarnCarriesALargeFileInPassesAndLeavesTheDropBoxToTheCaller) {
    Init();
    std::unique_ptr<secureKaver> kaver = Start();
    ASSERT_NO_FATAL_FAILURE(StartMultiPass(*kaver));
    const std::size_t from = Requests().size();

    ASSERT_TRUE(kaver->CompleteCopyFileSarn()) << int(kaver->getZEMTError());

    ExpectTargetAfter(3);
    EXPECT_EQ(kaver->l_state, 0);
    std::vector<LoggedRequest> requests = Requests();
    long passes = 0, staticAttaches = 0;  // hash headers, attaches of a static partition
    for (std::size_t i = from; i < requests.size(); ++i) {
        const LoggedRequest& r = requests[i];
        if (r.Is({0xc0, 0xa2, 0x09}) && r.request.size() > 5 && r.request[5] == 0) ++passes;
        if (r.Is({0xc0, 0xa2, 0x05}) && r.request.size() > 6 && (r.request[5] | r.request[6]) != 0)
            ++staticAttaches;
    }
    EXPECT_EQ(passes, 3);
    // Nothing is read back from KAV022 and the drop box is not deleted.
    EXPECT_EQ(staticAttaches, 0);
    EXPECT_EQ(CountRequests({0xc0, 0xa2, 0x08}, from), 0);
    ExpectDropBox(Box::Detached);
    ExpectNothingMounted("SECUPD");
}

TEST_F(CompleterTest, SignedPackageIsUnpackedAndItsDropBoxRemoved) {
    Init();
    MakeSignedPackage();
    std::unique_ptr<secureKaver> kaver = Start();
    ASSERT_TRUE(AddSignedPackage(*kaver)) << int(kaver->getZEMTError());
    kaver->UpdateCompletionStatus = false;  // it starts true; only the completion may set it
    const std::size_t from = Requests().size();

    ASSERT_TRUE(kaver->CompleteSignedUnzip()) << int(kaver->getZEMTError());

    ExpectUnpacked(true);
    EXPECT_TRUE(kaver->UpdateCompletionStatus);
    EXPECT_EQ(kaver->l_state, 0);
    EXPECT_EQ(CountRequests({0xc0, 0xa2, 0x20}, from), 1);
    EXPECT_EQ(CountRequests({0xc0, 0xa2, 0x22}, from), 1);
    EXPECT_EQ(CountRequests({0xc0, 0xa2, 0x23}, from), 1);
    ExpectDropBox(Box::Gone);
    EXPECT_EQ(ControllerState("secure.bit"), "");
    ExpectNothingMounted("SECUPD");
}

// Where a multi-pass copy fails, and what the general and the
// generation-three completer report and leave behind.
struct PassFailure {
    const char* name;
    const char* fault;  // added after initialisation, so counts start there
    int passesDone;     // passes the controller carried out before the failure
    bool lastDamaged;
    int generalCode;    // 0: the completer succeeds
    Box generalBox;
    int sarnCode;
    Box sarnBox;
};

const PassFailure kPassFailures[] = {
    {"drop box not created", "cmd=0xA2/7 completion=0xC0", 0, false,
     ZEMT_CREATE_DYN_PART_FAILED, Box::Gone, ZEMT_CREATE_DYN_PART_FAILED, Box::Gone},
    {"attach refused, first pass", "cmd=0xA2/5 completion=0xC0", 0, false,
     ZEMT_FINDMOUNTERR, Box::Gone, ZEMT_FINDMOUNTERR, Box::Gone},
    {"attach refused, second pass", "cmd=0xA2/5 completion=0xC0 after=1", 1, false,
     ZEMT_FINDMOUNTERR, Box::Gone, ZEMT_FINDMOUNTERR, Box::Gone},
    {"disk never appears, first pass", "disk label=SECUPD appear=never times=always", 0, false,
     ZEMT_FINDMOUNTERR, Box::Gone, ZEMT_FINDMOUNTERR, Box::Gone},
    {"disk never appears, second pass", "disk label=SECUPD appear=never after=1 times=always", 1, false,
     ZEMT_FINDMOUNTERR, Box::Gone, ZEMT_FINDMOUNTERR, Box::Gone},
    {"mount fails, first pass", "host=mount exit=32 times=always", 0, false,
     ZEMT_FINDMOUNTERR, Box::Gone, ZEMT_FINDMOUNTERR, Box::Gone},
    {"mount fails, second pass", "host=mount exit=32 after=1 times=always", 1, false,
     ZEMT_FINDMOUNTERR, Box::Gone, ZEMT_FINDMOUNTERR, Box::Gone},
    {"copy command fails, first pass", "host=cp exit=1", 0, false,
     ZEMT_FINDMOUNTERR, Box::Gone, ZEMT_FINDMOUNTERR, Box::Gone},
    {"copy command fails, third pass", "host=cp exit=1 after=1", 2, false,
     ZEMT_FINDMOUNTERR, Box::Gone, ZEMT_FINDMOUNTERR, Box::Gone},
    {"detach refused, first pass", "cmd=0xA2/6 completion=0xC0", 0, false,
     ZEMT_DETACHFAILED, Box::Attached, ZEMT_DETACHFAILED, Box::Attached},
    {"detach refused, second pass", "cmd=0xA2/6 completion=0xC0 after=1", 1, false,
     ZEMT_DETACHFAILED, Box::Attached, ZEMT_DETACHFAILED, Box::Attached},
    {"hash refused, first pass", "process effect=refuse", 0, false,
     ZEMT_SMCFAILED, Box::Gone, ZEMT_SMCFAILED, Box::Gone},
    {"hash refused, third pass", "process effect=refuse after=2", 2, false,
     ZEMT_SMCFAILED, Box::Gone, ZEMT_SMCFAILED, Box::Gone},
    // The generation-three completer deletes nothing after the last pass
    // and verifies nothing: both faults pass unnoticed there.
    {"drop box not deleted", "cmd=0xA2/8 completion=0xC0", 3, false,
     ZEMT_DELETEDROPBOXERR, Box::Detached, 0, Box::Detached},
    // The general path has deleted the drop box before it reads the copy back.
    {"controller damages the last pass", "process effect=corrupt after=2", 3, true,
     ZEMT_COPYVERIFYFAIL, Box::Gone, 0, Box::Detached},
};

void CompleterTest::RunPassFailures(bool sarn) {
    for (const PassFailure& c : kPassFailures) {
        SCOPED_TRACE(c.name);
        Fresh();
        std::unique_ptr<secureKaver> kaver = Start();
        ASSERT_NO_FATAL_FAILURE(StartMultiPass(*kaver));
        Fault(c.fault);
        const std::size_t from = Requests().size();
        const int code = sarn ? c.sarnCode : c.generalCode;

        const bool done = sarn ? kaver->CompleteCopyFileSarn() : kaver->CompleteCopyFile();

        EXPECT_EQ(done, code == 0);
        if (code != 0) {
            EXPECT_EQ(int(kaver->getZEMTError()), code);
        }
        EXPECT_EQ(kaver->l_state, 0);
        ExpectTargetAfter(c.passesDone, c.lastDamaged);
        ExpectDropBox(sarn ? c.sarnBox : c.generalBox);
        if (code == ZEMT_SMCFAILED) {
            // The refused drop box was detached before it was handed over.
            std::vector<LoggedRequest> requests = Requests();
            std::size_t lastPart = from;
            for (std::size_t i = from; i < requests.size(); ++i)
                if (requests[i].Is({0xc0, 0xa2, 0x09})) lastPart = i;
            EXPECT_EQ(CountRequests({0xc0, 0xa2, 0x06}, lastPart), 0) << "detached again";
        }
        EXPECT_EQ(ControllerState("attached.static"), "0");
        ExpectNothingMounted("SECUPD");
        EXPECT_FALSE(RootHas("/tmp/KAV022"));
    }
}

TEST_F(CompleterTest, GeneralCleansUpAfterEachFailure) { RunPassFailures(false); }

TEST_F(CompleterTest, SarnCleansUpAfterEachFailure) { RunPassFailures(true); }

// Where the signed-package path fails, the code it reports, and whether it
// ends the secure update (which removes the drop box) or leaves it.
struct SignedFailure {
    const char* name;
    const char* fault;  // "" for none
    uint32_t maxSize;   // 0: the controller's own limit
    int code;
    int endRequests;    // end steps sent: only an update begun and not ended is ended by the clean-up
    Box box;
    bool unpacked;
};

const SignedFailure kSignedFailures[] = {
    // The package and its five margins need 5 MiB + 64 KiB.
    {"payload larger than a drop box may be", "", 5 * 1048576, ZEMT_PAYLOADSIZEGTMAX, 0, Box::Gone, false},
    {"begin refused", "cmd=0xA2/0x20 completion=0xC0", 0, ZEMT_BEGIN_SECUREUPDATE_FAILED, 0, Box::Gone, false},
    {"begin pending, then refused", "cmd=0xA2/0x20 pending=2 final=0xC0", 0, ZEMT_BEGIN_SECUREUPDATE_FAILED, 0,
     Box::Gone, false},
    {"disk never appears", "disk label=SECUPD appear=never times=always", 0, ZEMT_FINDMOUNTERR, 1, Box::Gone,
     false},
    {"mount fails", "host=mount exit=32 times=always", 0, ZEMT_FINDMOUNTERR, 1, Box::Gone, false},
    {"package copy fails", "host=cp exit=1", 0, ZEMT_FINDMOUNTERR, 1, Box::Gone, false},
    {"descriptor copy fails", "host=cp exit=1 after=2", 0, ZEMT_FINDMOUNTERR, 1, Box::Gone, false},
    {"process refused", "cmd=0xA2/0x22 completion=0xC0", 0, ZEMT_PROCESS_SECUREUPDATE_FAILED, 1, Box::Gone, false},
    {"hash refused", "process effect=refuse", 0, ZEMT_PROCESS_SECUREUPDATE_FAILED, 1, Box::Gone, false},
    {"end refused", "cmd=0xA2/0x23 completion=0xC0", 0, ZEMT_END_SECUREUPDATE_FAILED, 1, Box::Detached, true},
};

TEST_F(CompleterTest, SignedUnzipCleansUpAfterEachFailure) {
    for (const SignedFailure& c : kSignedFailures) {
        SCOPED_TRACE(c.name);
        Fresh();
        MakeSignedPackage();
        std::unique_ptr<secureKaver> kaver = Start();
        ASSERT_TRUE(AddSignedPackage(*kaver)) << int(kaver->getZEMTError());
        if (c.maxSize != 0) kaver->MAX_DYN_PART_SIZE = c.maxSize;
        kaver->UpdateCompletionStatus = false;
        if (*c.fault) Fault(c.fault);
        const std::size_t from = Requests().size();

        EXPECT_FALSE(kaver->CompleteSignedUnzip());

        EXPECT_EQ(int(kaver->getZEMTError()), c.code);
        EXPECT_EQ(kaver->l_state, 0);
        EXPECT_FALSE(kaver->UpdateCompletionStatus);
        EXPECT_EQ(CountRequests({0xc0, 0xa2, 0x20}, from), c.code == ZEMT_PAYLOADSIZEGTMAX ? 0 : 1);
        EXPECT_EQ(CountRequests({0xc0, 0xa2, 0x23}, from), c.endRequests) << "end steps sent";
        ExpectUnpacked(c.unpacked);
        if (c.box == Box::Gone) {
            EXPECT_EQ(ControllerState("dynamic.0.units"), "") << "the drop box is still there";
            EXPECT_FALSE(fs::exists(Image("dynamic-0.img")));
        } else {
            // Left as the controller's processing found it: package,
            // signature, descriptor and document.
            EXPECT_NE(ControllerState("dynamic.0.units"), "");
            EXPECT_EQ(ControllerState("attached.dynamic"), "0");
            std::string zip;
            zemt_emu::ReadWholeFile(workDir_ + "/fw.zip", zip);
            const std::string box = Image("dynamic-0.img");
            EXPECT_TRUE(ImageFile(box, "/fw.zip") == zip);
            EXPECT_EQ(ImageFile(box, "/fw.zip.sig"), "signature of fw.zip\n");
            EXPECT_EQ(ImageFile(box, "/package.xml"), "<Package name=\"fw\"/>\n");
            EXPECT_NE(ImageFile(box, "/update.xml").find("<Mode>signedunzip</Mode>"), std::string::npos);
        }
        ExpectNothingMounted("SECUPD");
    }
}

}  // namespace
