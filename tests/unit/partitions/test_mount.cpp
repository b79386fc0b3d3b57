// SPDX-License-Identifier: Apache-2.0
// Mounting and unmounting partitions on the host: the exact commands, the
// ESX 3 differences, the retry loop, and what is refused or left alone.
#include "HostTest.h"

namespace {

const char* const kLsmod = "lsmod | grep -w sg >/dev/null;echo $?";
const char* const kBlockdev = "/sbin/blockdev --report /dev/sd* > /dev/null 2>&1";
const char* const kMkdir = "mkdir -p /tmp/KAV022";
const char* const kLink = "ln -sf /dev/sdb /dev/seckavupd-KAV022";
const char* const kDropCaches = "echo 1 >> /proc/sys/vm/drop_caches";
const char* const kMountRo = "mount -t vfat -oshortname=mixed,ro /dev/seckavupd-KAV022 /tmp/KAV022";
const char* const kUmount = "umount /tmp/KAV022 > /dev/null 2>&1";
const char* const kRmDir = "rm -rf /tmp/KAV022 > /dev/null 2>&1";
const char* const kRmLinks = "rm -f /dev/seckavupd-* > /dev/null 2>&1";

class MountTest : public HostTest {
protected:
    secureKaver& hostWithKav022(int os = REDHAT, bool debugLog = false) {
        buildHost(os, debugLog);
        addUsbDisk("sdb", "sg1", 3, "KAV022");
        return *kaver;
    }
};

TEST_F(MountTest, MountingKav022RunsTheCommandsInOrder) {
    hostWithKav022();
    ASSERT_TRUE(kaver->mountStatPartition("KAV022"));
    EXPECT_EQ(platform.commands,
              (std::vector<std::string>{kLsmod, kBlockdev, kMkdir, kLink, "sync", kDropCaches, kMountRo}));
    // The device search sleeps 5 s; the first mount attempt waits 1 s.
    EXPECT_EQ(platform.sleeps, (std::vector<unsigned int>{5, 1}));
    EXPECT_EQ(kaver->mountedVolName, "/dev/seckavupd-KAV022");
}

TEST_F(MountTest, DropBoxIsMountedReadWrite) {
    buildHost();
    addUsbDisk("sdc", "sg2", 4, "SECUPD", true);
    ASSERT_TRUE(kaver->mountDynPartition());
    EXPECT_EQ(commandsStartingWith("mount "),
              (std::vector<std::string>{"mount -t vfat -oshortname=mixed,rw /dev/seckavupd-SECUPD /tmp/SECUPD"}));
    EXPECT_TRUE(ran("ln -sf /dev/sdc1 /dev/seckavupd-SECUPD"));
    EXPECT_EQ(kaver->mountedVolName, "/dev/seckavupd-SECUPD");
}

TEST_F(MountTest, Esx3NeverFlushesCaches) {
    hostWithKav022(ESX);
    ASSERT_TRUE(kaver->mountStatPartition("KAV022"));
    platform.exitStatus[kMountRo] = 32;
    EXPECT_FALSE(kaver->mountStatPartition("KAV022"));
    EXPECT_TRUE(kaver->unmountStatPartition("KAV022"));
    EXPECT_FALSE(ran("sync"));
    EXPECT_FALSE(ran(kDropCaches));
    EXPECT_TRUE(ran(kRmDir));
}

TEST_F(MountTest, MountRetriesSixtyTimesThenCleansUp) {
    hostWithKav022(REDHAT, true);
    platform.exitStatus[kMountRo] = 32;
    EXPECT_FALSE(kaver->mountStatPartition("KAV022"));
    EXPECT_EQ(commandsStartingWith("mount ").size(), 60u);
    EXPECT_EQ(std::count(platform.sleeps.begin(), platform.sleeps.end(), 1u), 60);
    const std::vector<std::string> tail(platform.commands.end() - 4, platform.commands.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"sync", kDropCaches, "rm -rf /tmp/KAV022", "rm -f /dev/seckavupd-KAV022"}));
    EXPECT_TRUE(logHasInOrder(newLog(), {"Mount Failed. Re-trying", "mount failed"}));
    EXPECT_EQ(kaver->mountedVolName, "");
}

TEST_F(MountTest, FailedMountNeverRemovesAMountedDirectory) {
    hostWithKav022();
    platform.exitStatus[kMountRo] = 32;
    // Something else is mounted on the directory already.
    platform.files[kMounts] += "/dev/sdz1 /tmp/KAV022 vfat rw 0 0\n";
    EXPECT_FALSE(kaver->mountStatPartition("KAV022"));
    EXPECT_TRUE(commandsStartingWith("rm -rf").empty());
    EXPECT_TRUE(ran("rm -f /dev/seckavupd-KAV022"));
}

TEST_F(MountTest, MkdirAndLinkFailures) {
    hostWithKav022();
    platform.exitStatus[kMkdir] = 1;
    EXPECT_FALSE(kaver->mountStatPartition("KAV022"));
    EXPECT_FALSE(ran(kLink));

    platform.commands.clear();
    platform.exitStatus[kMkdir] = 0;
    platform.exitStatus[kLink] = 1;
    EXPECT_FALSE(kaver->mountStatPartition("KAV022"));
    EXPECT_EQ(platform.commands.back(), "rm -rf /tmp/KAV022");
    EXPECT_TRUE(commandsStartingWith("mount ").empty());
}

TEST_F(MountTest, UnexpectedThingsInPlaceAreNotFollowed) {
    struct Row {
        const char* path;
        PathKind kind;
        bool mounts;
    };
    const Row rows[] = {
        {"/tmp/KAV022", PathSymlink, false},
        {"/tmp/KAV022", PathFile, false},
        {"/tmp/KAV022", PathOther, false},
        {"/tmp/KAV022", PathDirectory, true},
        {"/dev/seckavupd-KAV022", PathDirectory, false},
        {"/dev/seckavupd-KAV022", PathFile, false},
        {"/dev/seckavupd-KAV022", PathSymlink, true},  // a stale link is replaced
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.path) + " kind " + std::to_string(row.kind));
        platform.devices.clear();
        platform.listings.clear();
        platform.pathKinds.clear();
        hostWithKav022(REDHAT, true);
        platform.pathKinds[row.path] = row.kind;
        EXPECT_EQ(kaver->mountStatPartition("KAV022"), row.mounts);
        if (!row.mounts) {
            EXPECT_TRUE(commandsStartingWith("mkdir").empty());
            EXPECT_TRUE(commandsStartingWith("ln ").empty());
            EXPECT_TRUE(commandsStartingWith("mount ").empty());
            EXPECT_TRUE(commandsStartingWith("rm ").empty());
            EXPECT_TRUE(logHasInOrder(newLog(), {"Partition Not Mounted"}));
        }
    }
}

TEST_F(MountTest, LabelsThatCannotGoIntoACommandAreRefused) {
    const char* labels[] = {"", "../etc", "KAV 22", "KAV;rm", "KAV022$(x)", "ABCDEFGHIJKL"};
    for (const char* label : labels) {
        SCOPED_TRACE(label);
        hostWithKav022();
        EXPECT_FALSE(kaver->mountStatPartition(label));
        EXPECT_FALSE(kaver->unmountStatPartition(label));
        EXPECT_TRUE(platform.commands.empty());
        EXPECT_TRUE(platform.openedDevices.empty());
    }
}

TEST_F(MountTest, LabelNotOnTheHost) {
    buildHost(REDHAT, true);
    EXPECT_FALSE(kaver->mountStatPartition("KAV022"));
    EXPECT_TRUE(logHasInOrder(newLog(), {"Correct Volume Label not found.  Partition Not Mounted"}));
    EXPECT_TRUE(commandsStartingWith("mkdir").empty());
}

TEST_F(MountTest, UnmountRemovesDirectoryAndEveryLink) {
    hostWithKav022();
    kaver->mountedVolName = "/dev/seckavupd-KAV022";
    ASSERT_TRUE(kaver->unmountStatPartition("KAV022"));
    EXPECT_EQ(platform.commands, (std::vector<std::string>{kUmount, kRmDir, kRmLinks, "sync", kDropCaches}));
    EXPECT_EQ(kaver->mountedVolName, "");

    platform.commands.clear();
    ASSERT_TRUE(kaver->unmountDynPartition());
    EXPECT_EQ(platform.commands.front(), "umount /tmp/SECUPD > /dev/null 2>&1");
    EXPECT_TRUE(ran("rm -rf /tmp/SECUPD > /dev/null 2>&1"));
    EXPECT_TRUE(ran(kRmLinks)) << "static links go too";
}

TEST_F(MountTest, StillMountedAfterUmountKeepsTheFiles) {
    struct Row {
        const char* name;
        bool readable;
        const char* mounts;
        bool removed;
    };
    const Row rows[] = {
        {"still mounted", true, "/dev/sdb /tmp/KAV022 vfat ro 0 0\n", false},
        {"mounted twice", true, "/dev/sdb /tmp/KAV022 vfat ro 0 0\n/dev/sdb /tmp/KAV022 vfat ro 0 0\n", false},
        {"last line without newline", true, "/dev/sdb /tmp/KAV022 vfat ro 0 0", false},
        {"mount table unreadable", false, "", false},
        {"something mounted inside it", true, "/dev/sdc /tmp/KAV022/inner vfat rw 0 0\n", false},
        {"other mount points only", true, "/dev/sdb /tmp/KAV0221 vfat ro 0 0\n/dev/sdc /tmp vfat rw 0 0\n", true},
        {"escaped blank is a different directory", true, "/dev/sdb /tmp/KAV022\\040x vfat ro 0 0\n", true},
        {"device field only", true, "/tmp/KAV022 /mnt vfat ro 0 0\n", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        hostWithKav022(REDHAT, true);
        kaver->mountedVolName = "/dev/seckavupd-KAV022";
        if (row.readable)
            platform.files[kMounts] = row.mounts;
        else
            platform.files.erase(kMounts);
        EXPECT_EQ(kaver->unmountStatPartition("KAV022"), row.removed);
        EXPECT_EQ(ran(kRmDir), row.removed);
        EXPECT_TRUE(ran(kUmount));
        if (!row.removed) {
            EXPECT_EQ(kaver->mountedVolName, "/dev/seckavupd-KAV022");
            EXPECT_TRUE(logHasInOrder(newLog(), {"/tmp/KAV022 is "}));
        }
    }
}

TEST_F(MountTest, UnmountWithoutOsDetectionDoesNothing) {
    buildWithSession();
    kaver->LinuxOSVer = -1;
    platform.setUserIdResult = -1;  // detection cannot run
    EXPECT_FALSE(kaver->unmountStatPartition("KAV022"));
    EXPECT_FALSE(kaver->unmountDynPartition());
    EXPECT_TRUE(platform.commands.empty());
}

TEST_F(MountTest, ExecuteCmdReadsAtMost512Bytes) {
    buildHost(REDHAT, true);
    platform.setOutput("long", std::string(600, 'a'));
    EXPECT_EQ(kaver->executeCmd("long"), std::string(512, 'a'));
    platform.setOutput("nul", std::string("ab\0cd", 5));
    EXPECT_EQ(kaver->executeCmd("nul"), "ab");
    platform.failingPipes.insert("broken");
    EXPECT_EQ(kaver->executeCmd("broken"), "");
    EXPECT_TRUE(logHasInOrder(newLog(), {"executeCmd : popen failed"}));
}

TEST_F(MountTest, SyncAllSyncsOnce) {
    buildHost(REDHAT, true);
    kaver->syncAll("/tmp/SECUPD/");
    EXPECT_EQ(platform.commands, (std::vector<std::string>{"sync"}));
    EXPECT_TRUE(logHasInOrder(newLog(), {"Entering syncAll and the mount point is /tmp/SECUPD/", "Leaving syncAll"}));
}

}  // namespace
