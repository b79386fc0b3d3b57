// SPDX-License-Identifier: Apache-2.0
// Attaching and detaching partitions: the requests, the mount-retry passes,
// refusals before any request, and the ESX clean-up after a detach.
#include <functional>

#include "HostTest.h"

namespace {

const uint8_t kAttach = 5;
const uint8_t kDetach = 6;
const uint16_t kKav022Bit = 0x0004;
const char* const kMountKav022 = "mount -t vfat -oshortname=mixed,ro /dev/seckavupd-KAV022 /tmp/KAV022";

class AttachTest : public HostTest {
protected:
    secureKaver& hostWithKav022(int os = REDHAT, bool debugLog = false) {
        buildHost(os, debugLog);
        kaverPartInfo[22].i_bitmap = kKav022Bit;
        kaverPartInfo[22].i_present = true;
        addUsbDisk("sdb", "sg1", 3, "KAV022");
        return *kaver;
    }
    static std::vector<uint8_t> attachDetachBytes(uint8_t sub, uint16_t stat, uint16_t dyn) {
        return {0xC0, 0xA2, sub, 0x34, 0x12, hi(stat), lo(stat), 0x00, 0x00, hi(dyn), lo(dyn), 0x00, 0x00};
    }
};

TEST_F(AttachTest, AttachByNameMountsAndSettles) {
    hostWithKav022(REDHAT, true);
    ASSERT_TRUE(kaver->AttachKaverPartition("KAV022"));
    ASSERT_EQ(tren.requests.size(), 1u);
    EXPECT_EQ(tren.requestBytes(0), attachDetachBytes(kAttach, kKav022Bit, 0));
    EXPECT_EQ(responseLength(0), 7u);
    EXPECT_EQ(kaver->thisSession.statBitMap, kKav022Bit);
    EXPECT_TRUE(ran(kMountKav022));
    EXPECT_EQ(platform.sleeps.back(), 10u) << "settle wait after the mount";
    EXPECT_TRUE(logHasInOrder(newLog(), {"Mount Point: /tmp/KAV022/", "AttachPartition succeeded",
                                         "AttachKaverPartition successful"}));

    tren.requests.clear();
    platform.commands.clear();
    kaverPartInfo[22].i_mountPoint = "/tmp/KAV022/";
    ASSERT_TRUE(kaver->DetachKaverPartition("KAV022"));
    EXPECT_EQ(tren.requestBytes(0), attachDetachBytes(kDetach, kKav022Bit, 0));
    EXPECT_EQ(platform.commands.front(), "umount /tmp/KAV022 > /dev/null 2>&1") << "host side first";
    EXPECT_EQ(kaver->thisSession.statBitMap, 0);
    EXPECT_EQ(kaverPartInfo[22].i_mountPoint, "");
}

TEST_F(AttachTest, EveryMountFailingGivesFiveAttachesAndSixDetaches) {
    hostWithKav022();
    platform.exitStatus[kMountKav022] = 32;
    EXPECT_FALSE(kaver->AttachPartition(kKav022Bit, 0, 22));
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_FINDMOUNTERR);
    EXPECT_EQ(subCommands(), (std::vector<uint8_t>{kAttach, kDetach, kAttach, kDetach, kAttach, kDetach, kAttach,
                                                   kDetach, kAttach, kDetach, kDetach}));
    EXPECT_EQ(commandsStartingWith("mount ").size(), 5u * 60u);

    // By id the caller sees the attach failure code.
    tren.requests.clear();
    EXPECT_FALSE(kaver->AttachKaverPartition(static_cast<uint16_t>(22)));
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_ATTACHPARTFAIL);
}

TEST_F(AttachTest, DropBoxAndBareAttach) {
    buildHost();
    addUsbDisk("sdc", "sg2", 4, "SECUPD", true);
    ASSERT_TRUE(kaver->AttachPartition(0, 0x0002, 0));
    EXPECT_EQ(tren.requestBytes(0), attachDetachBytes(kAttach, 0, 0x0002));
    EXPECT_TRUE(ran("mount -t vfat -oshortname=mixed,rw /dev/seckavupd-SECUPD /tmp/SECUPD"));
    EXPECT_EQ(kaver->thisSession.statBitMap, 0);

    tren.requests.clear();
    platform.commands.clear();
    platform.sleeps.clear();
    ASSERT_TRUE(kaver->AttachPartition(0, 0, 7));
    EXPECT_EQ(subCommands(), (std::vector<uint8_t>{kAttach}));
    EXPECT_TRUE(platform.commands.empty()) << "nothing to mount";
    EXPECT_EQ(platform.sleeps, (std::vector<unsigned int>{10}));
}

TEST_F(AttachTest, RefusalsSendNothing) {
    struct Row {
        const char* name;
        bool session;
        std::function<bool(secureKaver&)> call;
        uint8_t code;
    };
    const Row rows[] = {
        {"attach id 257", true, [](secureKaver& k) { return k.AttachPartition(0x0004, 0, 257); }, ZEMT_INVKAVERPART},
        {"attach unsafe label", true,
         [](secureKaver& k) {
             kaverPartInfo[22].i_volumeLabel = "K;rm -rf";
             return k.AttachPartition(0x0004, 0, 22);
         },
         ZEMT_INVKAVERPART},
        {"attach without session", false, [](secureKaver& k) { return k.AttachPartition(0x0004, 0, 22); },
         ZEMT_NOKAVERSESS},
        // Attach looks at the id first, then the session, then the label.
        {"attach id 257 without session", false, [](secureKaver& k) { return k.AttachPartition(0x0004, 0, 257); },
         ZEMT_INVKAVERPART},
        {"attach unsafe label without session", false,
         [](secureKaver& k) {
             kaverPartInfo[22].i_volumeLabel = "K;rm -rf";
             return k.AttachPartition(0x0004, 0, 22);
         },
         ZEMT_NOKAVERSESS},
        {"detach id 257", true, [](secureKaver& k) { return k.DetachPartition(0x0004, 0, 257, false); },
         ZEMT_INVKAVERPART},
        {"detach without session", false, [](secureKaver& k) { return k.DetachPartition(0x0004, 0, 22, false); },
         ZEMT_NOKAVERSESS},
        // Detach looks at the session first.
        {"detach id 257 without session", false,
         [](secureKaver& k) { return k.DetachPartition(0x0004, 0, 257, false); }, ZEMT_NOKAVERSESS},
        {"by id 300", true, [](secureKaver& k) { return k.AttachKaverPartition(static_cast<uint16_t>(300)); },
         ZEMT_INVKAVERPART},
        {"by name KAV999", true, [](secureKaver& k) { return k.AttachKaverPartition("KAV999"); },
         ZEMT_INVKAVERPART},
        {"by name not present", true, [](secureKaver& k) { return k.AttachKaverPartition("KAV023"); },
         ZEMT_INVKAVERPART},
        {"detach by id 257", true, [](secureKaver& k) { return k.DetachKaverPartition(static_cast<uint16_t>(257)); },
         ZEMT_INVKAVERPART},
        {"detach by name not present", true, [](secureKaver& k) { return k.DetachKaverPartition("KAV023"); },
         ZEMT_INVKAVERPART},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        hostWithKav022();
        kaverPartInfo[22].i_volumeLabel = "KAV022";
        if (!row.session) kaver->thisSession.sessionActive = false;
        EXPECT_FALSE(row.call(*kaver));
        EXPECT_EQ(kaver->getZEMTError(), row.code);
        EXPECT_TRUE(tren.requests.empty());
        EXPECT_TRUE(platform.commands.empty());
    }
}

// Bits 8-15 travel as given, high byte first, like the low ones.
TEST_F(AttachTest, HighBitmapBitsAreSentAsGiven) {
    hostWithKav022();
    addUsbDisk("sdc", "sg2", 4, "SECUPD", true);
    ASSERT_TRUE(kaver->AttachPartition(0x0104, 0x8000, 22));
    EXPECT_EQ(tren.requestBytes(0), attachDetachBytes(kAttach, 0x0104, 0x8000));
    EXPECT_EQ(kaver->thisSession.statBitMap, 0x0104);
    EXPECT_TRUE(ran(kMountKav022));

    tren.requests.clear();
    ASSERT_TRUE(kaver->DetachPartition(0x0100, 0x8001, 22, false));
    EXPECT_EQ(tren.requestBytes(0), attachDetachBytes(kDetach, 0x0100, 0x8001));
    EXPECT_EQ(kaver->thisSession.statBitMap, 0x0004);
}

TEST_F(AttachTest, ControllerRefusals) {
    hostWithKav022();
    tren.then(TrenReply::Code(0xC1));
    EXPECT_FALSE(kaver->AttachPartition(kKav022Bit, 0, 22));
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_ATTACHPARTFAIL);
    EXPECT_EQ(tren.requests.size(), 1u) << "no retry";
    EXPECT_TRUE(commandsStartingWith("mount").empty());

    // A refused detach comes after the host side was unmounted.
    tren.requests.clear();
    tren.then(TrenReply::Code(0xC1));
    kaver->thisSession.statBitMap = kKav022Bit;
    EXPECT_FALSE(kaver->DetachKaverPartition(static_cast<uint16_t>(22)));
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_DETACHFAILED);
    EXPECT_TRUE(ran("umount /tmp/KAV022 > /dev/null 2>&1"));
    EXPECT_EQ(kaver->thisSession.statBitMap, kKav022Bit);

    // A failed unmount does not stop the detach.
    tren.requests.clear();
    platform.files[kMounts] = "/dev/sdb /tmp/KAV022 vfat ro 0 0\n";
    EXPECT_TRUE(kaver->DetachPartition(kKav022Bit, 0, 22, false));
    EXPECT_EQ(subCommands(), (std::vector<uint8_t>{kDetach}));
}

TEST_F(AttachTest, DetachAllIsOneRequestAndAlwaysTrue) {
    hostWithKav022();
    tren.then(TrenReply::Code(0xC1));
    EXPECT_TRUE(kaver->DetachAll());
    ASSERT_EQ(tren.requests.size(), 1u);
    EXPECT_EQ(tren.requestBytes(0), attachDetachBytes(kDetach, 0x00FF, 0x00FF));
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_DETACHFAILED);

    tren.requests.clear();
    kaver->thisSession.sessionActive = false;
    EXPECT_TRUE(kaver->DetachAll());
    EXPECT_TRUE(tren.requests.empty());
}

TEST_F(AttachTest, EsxCleanUpAfterDetach) {
    const std::string esx3Sed = "/bin/cat /proc/scsi/scsi | /bin/sed -n '/KAV022/{g;1!p;};h'";
    const std::string esx4Rescan =
        "for i in `/usr/sbin/esxcfg-scsidevs -A | /bin/awk '{print $1}' | uniq` ; do /usr/sbin/esxcfg-rescan $i "
        "&> /dev/null ; done";
    struct Row {
        int os;
        std::string output;
        std::vector<std::string> cleanUp;  // commands after the unmount's
    };
    const Row rows[] = {
        {ESX, "Host: scsi2 Channel: 00 Id: 00 Lun: 00\n",
         {esx3Sed, "echo \"scsi remove-single-entry 2  00 00 00\" > /proc/scsi/scsi"}},
        {ESX, "Host: scsi12 Channel: 01 Id: 03 Lun: 07\n",
         {esx3Sed, "echo \"scsi remove-single-entry 12 01 03 07\" > /proc/scsi/scsi"}},
        {ESX, "", {esx3Sed}},                                     // nothing listed: nothing removed
        {ESX, "Host: scsi2 Channel: $(reboot) Id: 00 Lun: 00\n", {esx3Sed}},  // not an address
        {ESX4, "", {esx4Rescan}},
        {ESX4_1, "", {}},
        {REDHAT, "", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.os);
        hostWithKav022(row.os);
        platform.setOutput(esx3Sed, row.output);
        ASSERT_TRUE(kaver->DetachPartition(kKav022Bit, 0, 22, false));
        std::vector<std::string> after;
        bool seen = false;
        for (const std::string& c : platform.commands) {
            if (seen) after.push_back(c);
            if (c == "rm -f /dev/seckavupd-* > /dev/null 2>&1") seen = true;
        }
        if (row.os != ESX) after.erase(after.begin(), after.begin() + 2);  // sync, drop_caches
        EXPECT_EQ(after, row.cleanUp);
    }
}

TEST_F(AttachTest, Esx3DetachAllPatternNamesBothDefaultLabels) {
    hostWithKav022(ESX);
    EXPECT_TRUE(kaver->DetachAll());
    EXPECT_TRUE(ran("/bin/cat /proc/scsi/scsi | /bin/sed -n '/SECUPDSECUPD/{g;1!p;};h'"));
}

}  // namespace
