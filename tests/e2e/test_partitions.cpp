// SPDX-License-Identifier: Apache-2.0
// Partitions end to end: the real library attaches, mounts, lists, writes,
// detaches and deletes against the emulated controller, whose partitions
// are FAT images, and the emulated host, whose disks appear and vanish.
#include <algorithm>
#include <filesystem>
#include <memory>

#include "EmulatorFixture.h"
#include "secureKaver.h"
#include "zemt_emulator/Disks.h"

namespace fs = std::filesystem;

namespace {

class PartitionTest : public EmulatorTest {
protected:
    long CountCommands(const std::string& text) const {
        std::vector<std::string> texts = CommandTexts();
        return std::count(texts.begin(), texts.end(), text);
    }

    std::string ProcMounts() const {
        std::string text;
        zemt_emu::ReadWholeFile(InRoot("/proc/mounts"), text);
        return text;
    }

};

TEST_F(PartitionTest, EmulatorSizesFollowTheCatalogue) {
    for (int id = 1; id <= 256; ++id)
        EXPECT_EQ(zemt_emu::CatalogueSizeMiB(kaverPartInfo[id].i_volumeLabel), kaverPartInfo[id].i_mbSize)
            << kaverPartInfo[id].i_volumeLabel;
}

TEST_F(PartitionTest, InitialisationLearnsTheBitsAndDeletesALeftOverDropBox) {
    Init();
    {
        std::unique_ptr<secureKaver> kaver = Start();
        uint32_t granted = 0;
        ASSERT_TRUE(kaver->CreateDropBox("x", 65536, &granted));
        EXPECT_EQ(granted, 65536u);
        // The process "crashes" with the drop box still there.
    }
    EXPECT_EQ(ControllerState("dynamic.0.units"), "2");
    EXPECT_TRUE(fs::exists(Image("dynamic-0.img")));
    std::size_t before = Requests().size();
    {
        std::unique_ptr<secureKaver> kaver = Start();
        EXPECT_EQ(kaverPartInfo[1].i_bitmap, 0x0001);
        EXPECT_EQ(kaverPartInfo[22].i_bitmap, 0x0002);
        EXPECT_EQ(kaverPartInfo[23].i_bitmap, 0x0004);
        EXPECT_TRUE(kaverPartInfo[22].i_present);
        EXPECT_EQ(kaver->MAX_DYN_PART_SIZE, 0x12400000u);
    }
    // Exactly one delete, naming the left-over drop box's bit (0x0001, sent
    // most significant byte first).
    std::vector<LoggedRequest> requests = Requests();
    std::vector<LoggedRequest> deletes;
    for (std::size_t i = before; i < requests.size(); ++i)
        if (requests[i].Is({0xC0, 0xA2, 0x08})) deletes.push_back(requests[i]);
    ASSERT_EQ(deletes.size(), 1u);
    ASSERT_GE(deletes[0].request.size(), 7u);
    EXPECT_EQ(deletes[0].request[5], 0x00u);
    EXPECT_EQ(deletes[0].request[6], 0x01u);
    EXPECT_EQ(ControllerState("dynamic.0.units"), "");
    EXPECT_FALSE(fs::exists(Image("dynamic-0.img")));
}

TEST_F(PartitionTest, AttachMountListDetachLeavesTheSandboxClean) {
    for (bool table : {false, true}) {
        SCOPED_TRACE(table ? "behind a partition table" : "whole disk");
        Fresh([&](zemt_emu::InitOptions& o) { o.partitionTable = table; });
        std::unique_ptr<secureKaver> kaver = Start();
        ASSERT_TRUE(kaver->AttachKaverPartition("KAV022")) << int(kaver->getZEMTError());
        EXPECT_EQ(kaver->mountedVolName, "/dev/seckavupd-KAV022");
        std::string text;
        ASSERT_TRUE(zemt_emu::ReadWholeFile(InRoot("/tmp/KAV022/CANARY.TXT"), text));
        EXPECT_EQ(text, "canary of KAV022\n");
        EXPECT_EQ(ProcMounts().rfind(std::string("/dev/sdb") + (table ? "1" : "") + " /tmp/KAV022 vfat ro,", 0), 0u)
            << ProcMounts();
        EXPECT_EQ(CountCommands("mount -t vfat -oshortname=mixed,ro /dev/seckavupd-KAV022 /tmp/KAV022"), 1);
        ASSERT_TRUE(kaver->DetachKaverPartition("KAV022")) << int(kaver->getZEMTError());
        ExpectNothingMounted("KAV022");
        EXPECT_FALSE(RootHas("/dev/sdb"));
        EXPECT_FALSE(RootHas("/sys/class/scsi_generic/sg1"));
    }
}

TEST_F(PartitionTest, DropBoxWrittenThroughTheMountIsInTheImageAfterDetach) {
    Init();
    std::unique_ptr<secureKaver> kaver = Start();
    uint32_t granted = 0;
    ASSERT_TRUE(kaver->CreateDropBox("x", 100000, &granted));
    EXPECT_EQ(granted, 131072u);
    uint16_t bit = kaverPartInfo[0].i_bitmap;
    ASSERT_EQ(bit, 0x0001);
    ASSERT_TRUE(kaver->AttachPartition(0, bit, 0)) << int(kaver->getZEMTError());
    EXPECT_NE(ProcMounts().find(" /tmp/SECUPD vfat rw,"), std::string::npos);
    ASSERT_TRUE(zemt_emu::WriteWholeFile(InRoot("/tmp/SECUPD/update.xml"), "<update/>\n"));
    ASSERT_TRUE(kaver->DetachPartition(0, bit, 0, false));
    ExpectNothingMounted("SECUPD");
    EXPECT_EQ(ImageFile(Image("dynamic-0.img"), "update.xml"), "<update/>\n");
    ASSERT_TRUE(kaver->DeleteDropBox(0));
    EXPECT_FALSE(fs::exists(Image("dynamic-0.img")));
    EXPECT_EQ(ControllerState("dynamic.0.units"), "");
}

TEST_F(PartitionTest, EveryMountFailingGivesFiveAttachesAndSixDetaches) {
    Init();
    std::unique_ptr<secureKaver> kaver = Start();
    Fault("host=mount exit=32 times=always");
    std::size_t before = Requests().size();
    EXPECT_FALSE(kaver->AttachPartition(kaverPartInfo[22].i_bitmap, 0, 22));
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_FINDMOUNTERR);
    EXPECT_EQ(CountRequests({0xC0, 0xA2, 0x05}, before), 5);
    EXPECT_EQ(CountRequests({0xC0, 0xA2, 0x06}, before), 6);
    EXPECT_EQ(ControllerState("attached.static"), "0");
    ExpectNothingMounted("KAV022");
}

TEST_F(PartitionTest, DiskThatNeverAppearsIsWaitedForThreeHundredVirtualSeconds) {
    Init();
    std::unique_ptr<secureKaver> kaver = Start();
    Fault("disk label=KAV022 appear=never times=always");
    unsigned long start = Clock();
    EXPECT_EQ(kaver->getDevicePath("KAV022"), "");
    EXPECT_GE(Clock() - start, 300u);
    EXPECT_EQ(CountCommands("/sbin/blockdev --report /dev/sd* > /dev/null 2>&1"), 60);
    // A disk that shows up on the third scan is found on the third attempt.
    kaver.reset();
    Fresh();
    kaver = Start();
    Fault("disk label=KAV022 appear=3");
    ASSERT_TRUE(kaver->AttachKaverPartition("KAV022"));
    EXPECT_EQ(CountCommands("/sbin/blockdev --report /dev/sd* > /dev/null 2>&1"), 3);
    EXPECT_TRUE(kaver->DetachKaverPartition("KAV022"));
    ExpectNothingMounted("KAV022");
}

TEST_F(PartitionTest, EsxHostsRunTheirCleanUpCommands) {
    Init([](zemt_emu::InitOptions& o) { o.os = "esx3"; });
    {
        std::unique_ptr<secureKaver> kaver = Start();
        ASSERT_TRUE(kaver->AttachKaverPartition("KAV022"));
        ASSERT_TRUE(kaver->DetachKaverPartition("KAV022"));
    }
    EXPECT_EQ(CountCommands("/bin/cat /proc/scsi/scsi | /bin/sed -n '/KAV022/{g;1!p;};h'"), 1);
    // The host field is the two characters after "scsi": "2 " here.
    EXPECT_EQ(CountCommands("echo \"scsi remove-single-entry 2  00 00 00\" > /proc/scsi/scsi"), 1)
        << ::testing::PrintToString(CommandTexts());
    std::string listing;
    zemt_emu::ReadWholeFile(InRoot("/proc/scsi/scsi"), listing);
    EXPECT_EQ(listing.find("KAV022"), std::string::npos) << listing;
    EXPECT_EQ(CountCommands("sync"), 0);
    ExpectNothingMounted("KAV022");

    Fresh([](zemt_emu::InitOptions& o) { o.os = "esx4"; });
    {
        std::unique_ptr<secureKaver> kaver = Start();
        ASSERT_TRUE(kaver->AttachKaverPartition("KAV022"));
        ASSERT_TRUE(kaver->DetachKaverPartition("KAV022"));
    }
    EXPECT_GE(CountCommands("for i in `/usr/sbin/esxcfg-scsidevs -A | /bin/awk '{print $1}' | uniq` ; do "
                            "/usr/sbin/esxcfg-rescan $i &> /dev/null ; done"),
              1);
    ExpectNothingMounted("KAV022");
}

struct Refusal {
    const char* fault;
    const char* operation;  // attach, detach, create, delete
    uint8_t code;
};

TEST_F(PartitionTest, RefusalsAndHostFailuresGiveTheirCodeAndLeaveNothingBehind) {
    const Refusal cases[] = {
        {"cmd=0xA2/5 completion=0x01", "attach", ZEMT_ATTACHPARTFAIL},
        {"cmd=0xA2/5 status=7", "attach", ZEMT_ATTACHPARTFAIL},
        {"cmd=0xA2/6 completion=0x01", "detach", ZEMT_DETACHFAILED},
        {"cmd=0xA2/7 completion=0x04", "create", ZEMT_DYNPARTERR},
        {"cmd=0xA2/8 completion=0x08", "delete", ZEMT_DELDYNPARTERR},
        {"host=mkdir exit=1 times=always", "attach", ZEMT_FINDMOUNTERR},
        {"host=ln exit=1 times=always", "attach", ZEMT_FINDMOUNTERR},
        {"host=mount exit=32 times=always", "attach-dropbox", ZEMT_FINDMOUNTERR},
        {"disk appear=never times=always", "attach-dropbox", ZEMT_FINDMOUNTERR},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(std::string(c.fault) + " on " + c.operation);
        Fresh();
        std::unique_ptr<secureKaver> kaver = Start();
        std::string op = c.operation;
        uint16_t bit = kaverPartInfo[22].i_bitmap;
        uint32_t granted = 0;
        if (op == "detach") {
            ASSERT_TRUE(kaver->AttachPartition(bit, 0, 22));
        }
        if (op == "delete" || op == "attach-dropbox") {
            ASSERT_TRUE(kaver->CreateDropBox("x", 65536, &granted));
        }
        Fault(c.fault);
        bool ok = true;
        if (op == "attach") ok = kaver->AttachPartition(bit, 0, 22);
        if (op == "detach") ok = kaver->DetachPartition(bit, 0, 22, false);
        if (op == "create") ok = kaver->CreateDropBox("x", 65536, &granted);
        if (op == "delete") ok = kaver->DeleteDropBox(0);
        if (op == "attach-dropbox") ok = kaver->AttachPartition(0, kaverPartInfo[0].i_bitmap, 0);
        EXPECT_FALSE(ok);
        EXPECT_EQ(kaver->getZEMTError(), c.code);
        ExpectNothingMounted(op == "attach-dropbox" ? "SECUPD" : "KAV022");
    }
}

TEST_F(PartitionTest, AFailedUnmountNeverRemovesTheFilesOfTheMountedPartition) {
    Init();
    std::unique_ptr<secureKaver> kaver = Start();
    uint32_t granted = 0;
    ASSERT_TRUE(kaver->CreateDropBox("x", 262144, &granted));
    uint16_t bit = kaverPartInfo[0].i_bitmap;
    ASSERT_TRUE(kaver->AttachPartition(0, bit, 0));
    ASSERT_TRUE(zemt_emu::WriteWholeFile(InRoot("/tmp/SECUPD/CANARY.TXT"), "still here\n"));
    Fault("host=umount exit=32 times=always");
    kaver->DetachPartition(0, bit, 0, false);
    // Still mounted: the files are where they were.
    EXPECT_NE(ProcMounts().find(" /tmp/SECUPD "), std::string::npos);
    std::string text;
    EXPECT_TRUE(zemt_emu::ReadWholeFile(InRoot("/tmp/SECUPD/CANARY.TXT"), text));
    EXPECT_EQ(text, "still here\n");
    // The unmount goes through later; the disk was detached meanwhile, so
    // the write went with it, as with a pulled USB disk.
    ASSERT_TRUE(zemt_emu::WriteWholeFile(stateDir_ + "/faults", ""));
    std::string out;
    EXPECT_EQ(host_->RunCommandLine("umount /tmp/SECUPD", out, "system"), 0);
    EXPECT_EQ(ProcMounts(), "");
    EXPECT_EQ(ImageFile(Image("dynamic-0.img"), "CANARY.TXT"), "<missing>");
}

TEST_F(PartitionTest, AWriteBackThatDoesNotFitKeepsTheImageAndStillUnmounts) {
    Init();
    std::unique_ptr<secureKaver> kaver = Start();
    uint32_t granted = 0;
    ASSERT_TRUE(kaver->CreateDropBox("x", 65536, &granted));
    uint16_t bit = kaverPartInfo[0].i_bitmap;
    ASSERT_TRUE(kaver->AttachPartition(0, bit, 0));
    // Put past the emulated host, which would refuse it at once.
    ASSERT_TRUE(zemt_emu::WriteWholeFile(InRoot("/tmp/SECUPD/BIG.BIN"), std::string(200000, 'x')));
    std::string out;
    EXPECT_EQ(host_->RunCommandLine("umount /tmp/SECUPD 2>&1", out, "system"), 0);
    EXPECT_NE(out.find("No space left on device"), std::string::npos) << out;
    EXPECT_EQ(ProcMounts(), "");
    EXPECT_EQ(ImageFile(Image("dynamic-0.img"), "BIG.BIN"), "<missing>");
}

}  // namespace
