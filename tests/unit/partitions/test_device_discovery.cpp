// SPDX-License-Identifier: Apache-2.0
// Finding an attached partition's disk by its FAT label: the sg/sd pairing,
// the search order, the retry loop and what one scan attempt costs.
#include <algorithm>
#include <cstring>

#include "CLinuxEnumerateDevices.h"
#include "HostTest.h"

namespace {

class DiscoveryTest : public HostTest {
protected:
    // One scan, as getDevicePath runs it per attempt.
    std::string scanOnce(const std::string& label, bool scanAll = false, bool* ok = nullptr) {
        CLinuxEnumerateDevices devices(scanAll);
        std::string path;
        const bool result = devices.GetDeviceWithLabel(label, path);
        if (ok) *ok = result;
        return path;
    }
};

TEST_F(DiscoveryTest, FindsTheUsbDiskCarryingTheLabel) {
    buildHost();
    platform.addSg("sg0", 0, 0, 0, 0, false);  // the system disk, not USB
    platform.addSd("sda", 0, 0, 0, 0, fat12Image("KAV022"));
    addUsbDisk("sdb", "sg1", 3, "KAV021");
    addUsbDisk("sdc", "sg2", 4, "KAV022");

    EXPECT_EQ(kaver->getDevicePath("KAV022"), "/dev/sdc");
    EXPECT_EQ(platform.sleeps, (std::vector<unsigned int>{5}));
    EXPECT_EQ(commandsStartingWith("/sbin/blockdev"),
              (std::vector<std::string>{"/sbin/blockdev --report /dev/sd* > /dev/null 2>&1"}));
    EXPECT_EQ(platform.failedOpens, 0) << "only names that exist are opened";
    EXPECT_TRUE(platform.openFds.empty()) << "every device is closed again";
}

TEST_F(DiscoveryTest, LabelMatchAndFirstPartitionRule) {
    struct Row {
        const char* diskLabel;
        bool partitioned;
        const char* wanted;
        const char* found;
    };
    const Row rows[] = {
        {"KAV022", false, "KAV022", "/dev/sdc"},
        {"KAV022", true, "KAV022", "/dev/sdc1"},    // label only on partition 1
        {"KAV0221", false, "KAV022", "/dev/sdc"},   // prefix of the wanted length
        {"kav022", false, "KAV022", ""},            // case counts
        {"KAV02", false, "KAV022", ""},
        {"", false, "KAV022", ""},                  // FAT without a label entry
        {"SECUPD", true, "SECUPD", "/dev/sdc1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.diskLabel) + " wanted " + row.wanted);
        platform.devices.clear();
        platform.listings.clear();
        buildHost();
        addUsbDisk("sdc", "sg2", 4, row.diskLabel, row.partitioned);
        bool ok = false;
        EXPECT_EQ(scanOnce(row.wanted, false, &ok), row.found);
        EXPECT_TRUE(ok);
    }
}

TEST_F(DiscoveryTest, TwoDisksWithTheLabelTheFirstKeyWins) {
    buildHost();
    // Key order of the sg paths ("/dev/sg10" < "/dev/sg2"), not sd order.
    addUsbDisk("sdb", "sg2", 3, "KAV022");
    addUsbDisk("sdd", "sg10", 5, "KAV022");
    EXPECT_EQ(scanOnce("KAV022"), "/dev/sdd");
}

TEST_F(DiscoveryTest, PairingUsesEveryPartOfTheScsiAddress) {
    buildHost();
    platform.addSd("sdb", 3, 1, 2, 4, fat12Image("KAV022"));
    // Decoys that differ from sdb's address in one part each.
    platform.addSg("sg1", 2, 1, 2, 4);
    platform.addSg("sg2", 3, 0, 2, 4);
    platform.addSg("sg3", 3, 1, 4, 2);
    platform.addSg("sg4", 3, 4, 2, 1);
    CLinuxEnumerateDevices devices(false);
    std::string path;
    EXPECT_TRUE(devices.GetDeviceWithLabel("KAV022", path));
    EXPECT_EQ(path, "");

    platform.addSg("sg5", 3, 1, 2, 4);
    EXPECT_EQ(scanOnce("KAV022"), "/dev/sdb");
}

TEST_F(DiscoveryTest, ScanAllOnEsxSkipsTheSgDevices) {
    const int oses[] = {REDHAT, SUSE, ESX, ESX4, ESX4_1};
    for (int os : oses) {
        SCOPED_TRACE(os);
        platform.devices.clear();
        platform.listings.clear();
        platform.openedDevices.clear();
        platform.sleeps.clear();
        buildHost(os);
        // On ESX a USB disk has no emulated sg node to pair with.
        platform.addSd("sdb", 2, 0, 0, 0, fat12Image("KAV022"));
        platform.addSg("sg1", 7, 0, 0, 0);
        const bool esx = os == ESX || os == ESX4 || os == ESX4_1;
        if (esx) {
            EXPECT_EQ(kaver->getDevicePath("KAV022"), "/dev/sdb");
            for (const std::string& opened : platform.openedDevices)
                EXPECT_EQ(opened.find("/dev/sg"), std::string::npos) << opened;
        } else {
            bool ok = true;
            EXPECT_EQ(scanOnce("KAV022", false, &ok), "");
        }
    }
}

TEST_F(DiscoveryTest, WithoutSysfsTheSgLetterNamesAreProbed) {
    buildHost();
    FakePlatform::FakeDevice& sg = platform.devices["/dev/sgb"];
    sg.sgNode = true;
    sg.host = 3;
    platform.addSd("sdb", 3, 0, 0, 0, fat12Image("KAV022"));
    ASSERT_FALSE(platform.IsDirectory(FakePlatform::kSysfsSg));

    EXPECT_EQ(scanOnce("KAV022"), "/dev/sdb");
    const std::vector<std::string>& opened = platform.openedDevices;
    EXPECT_NE(std::find(opened.begin(), opened.end(), "/dev/sgb"), opened.end());
    EXPECT_EQ(platform.failedOpens, 0);
}

TEST_F(DiscoveryTest, ScanStepFailuresMakeTheScanFail) {
    struct Row {
        const char* name;
        void (*setUp)(FakePlatform&);
        const char* message;
    };
    const Row rows[] = {
        {"no emulated sg", [](FakePlatform& p) { p.devices["/dev/sg1"].emulatedHost = 0; },
         "CEnumerateDevices::GetEumlatedSGDevices failed"},
        {"sd without idlun", [](FakePlatform& p) { p.devices["/dev/sdb"].idlunFails = true; },
         "CEnumerateDevices::GetSDDevices failed"},
        {"sd without bus", [](FakePlatform& p) { p.devices["/dev/sdb"].busFails = true; },
         "CEnumerateDevices::GetSDDevices failed"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        platform.devices.clear();
        platform.listings.clear();
        buildHost(REDHAT, true);
        addUsbDisk("sdb", "sg1", 3, "KAV022");
        row.setUp(platform);
        markLog();
        bool ok = true;
        EXPECT_EQ(scanOnce("KAV022", false, &ok), "");
        EXPECT_FALSE(ok);
        EXPECT_TRUE(logHasInOrder(newLog(), {row.message}));
    }
}

TEST_F(DiscoveryTest, DiskThatNeverAppearsCostsSixtyAttempts) {
    buildHost(REDHAT, true);
    addUsbDisk("sdb", "sg1", 3, "KAV021");

    EXPECT_EQ(kaver->getDevicePath("KAV022"), "");
    EXPECT_EQ(platform.now(), 300u);
    EXPECT_EQ(commandsStartingWith("/sbin/blockdev").size(), 60u);
    EXPECT_TRUE(logHasInOrder(newLog(), {"Trying to find device ", "Could not find the device after all the retries "}));
}

TEST_F(DiscoveryTest, EmptyLabelReturnsAtOnce) {
    buildHost(REDHAT, true);
    addUsbDisk("sdb", "sg1", 3, "KAV022");
    EXPECT_EQ(kaver->getDevicePath(""), "");
    EXPECT_TRUE(platform.commands.empty());
    EXPECT_TRUE(platform.sleeps.empty());
    EXPECT_TRUE(platform.openedDevices.empty());
    EXPECT_TRUE(logHasInOrder(newLog(), {"getDevicePath: Volume name is empty "}));
}

TEST_F(DiscoveryTest, SgDriverCheck) {
    struct Row {
        const char* output;
        bool loaded;
    };
    const Row rows[] = {{"0\n", true}, {"1\n", false}, {" 0", true}, {"", true}};
    buildHost();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.output);
        platform.setOutput("lsmod | grep -w sg >/dev/null;echo $?", row.output);
        EXPECT_EQ(kaver->isSGDriverLoaded(), row.loaded);
    }
    // Not loaded is only noted: the search goes on.
    platform.setOutput("lsmod | grep -w sg >/dev/null;echo $?", "1\n");
    addUsbDisk("sdb", "sg1", 3, "KAV022");
    EXPECT_EQ(kaver->getDevicePath("KAV022"), "/dev/sdb");
}

TEST_F(DiscoveryTest, SdNamesAreProbedInLetterOrderOnly) {
    buildHost();
    // Listed out of order, with partitions and look-alikes that are not
    // names of the letter scheme.
    platform.listings["/dev"] = {"/dev/sdab", "/dev/sdb1", "/dev/null", "/dev/sdb", "/dev/sdaaa", "/dev/sdA",
                                 "/dev/sdz", "/dev/sdzzzz", "/dev/sda"};
    platform.addSd("sdb", 9, 0, 0, 0);
    CLinuxEnumerateDevices devices(true);
    devices.GetSDDevices();
    EXPECT_EQ(platform.openedDevices,
              (std::vector<std::string>{"/dev/sda", "/dev/sdb", "/dev/sdz", "/dev/sdab", "/dev/sdaaa"}));
}

TEST_F(DiscoveryTest, UnlistableDevFallsBackToEveryName) {
    buildHost();
    platform.listings["/dev"] = {};
    platform.addSd("sdzzz", 2, 0, 0, 0, fat12Image("KAV022"));
    EXPECT_EQ(scanOnce("KAV022", true), "/dev/sdzzz");
    EXPECT_EQ(platform.openedDevices.size(), 18278u + 1u) << "every sd name, then the label probe";
}

// A sysfs sg directory that cannot be listed fails the scan at once; an
// empty one is listed and simply offers no USB disk.
TEST_F(DiscoveryTest, UnlistableSysfsDirectoryFailsTheSgListing) {
    struct Row {
        const char* name;
        bool listable;
        const char* failedStep;
        const char* notLogged;
    };
    const Row rows[] = {
        {"unlistable", false, "CEnumerateDevices::GetAllSGDevices failed",
         "CEnumerateDevices::GetEumlatedSGDevices failed"},
        {"listable and empty", true, "CEnumerateDevices::GetEumlatedSGDevices failed",
         "CEnumerateDevices::GetAllSGDevices failed"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        platform.devices.clear();
        platform.listings.clear();
        platform.unlistable.clear();
        buildHost(REDHAT, true);
        addUsbDisk("sdb", "sg1", 3, "KAV022");
        if (row.listable)
            platform.listings[FakePlatform::kSysfsSg].clear();
        else
            platform.unlistable.insert(FakePlatform::kSysfsSg);
        bool ok = true;
        EXPECT_EQ(scanOnce("KAV022", false, &ok), "");
        EXPECT_FALSE(ok);
        const std::string log = newLog();
        EXPECT_NE(log.find(row.failedStep), std::string::npos) << log;
        EXPECT_EQ(log.find(row.notLogged), std::string::npos) << log;
        EXPECT_TRUE(platform.openFds.empty());
    }
}

TEST_F(DiscoveryTest, MountPointPaths) {
    buildHost();
    std::string out = "old";
    EXPECT_TRUE(kaver->getPartDrive("KAV022", out));
    EXPECT_EQ(out, "/tmp/KAV022/");

    char buffer[MAXPATH_LEN + 8];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_TRUE(kaver->getDynPartDrive("SECUPD", buffer));
    EXPECT_STREQ(buffer, "/tmp/SECUPD/");

    // A label longer than the buffer is cut, never written past MAXPATH_LEN.
    const std::string longLabel(1000, 'x');
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_TRUE(kaver->getDynPartDrive(longLabel.c_str(), buffer));
    EXPECT_EQ(std::strlen(buffer), static_cast<std::size_t>(MAXPATH_LEN - 1));
    for (std::size_t i = MAXPATH_LEN; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], '#');
}

}  // namespace
