// SPDX-License-Identifier: Apache-2.0
// Device rules on Red Hat hosts and the HAL daemon on SUSE hosts.
#include "KaverTest.h"

namespace {

const std::string kCopyUsb = "cp -fH 98-secupdusb.rules /etc/udev/rules.d/ > /dev/null 2>&1";
const std::string kChmodUsb = "chmod 755 /etc/udev/rules.d//98-secupdusb.rules  > /dev/null 2>&1";
const std::string kCopyNorvik = "cp -fH 00-secupd-norvik.rules /etc/udev/rules.d/ > /dev/null 2>&1";
const std::string kChmodNorvik = "chmod 755 /etc/udev/rules.d//00-secupd-norvik.rules  > /dev/null 2>&1";
const std::string kUdevadm = "/sbin/udevadm control --reload-rules > /dev/null 2>&1";
const std::string kUdevcontrol = "/sbin/udevcontrol reload_rules > /dev/null 2>&1";
const std::string kHalStop = "/etc/init.d/haldaemon stop > /dev/null 2>&1";
const std::string kHalStart = "/etc/init.d/haldaemon start > /dev/null 2>&1";
const std::string kHalStatus = "/etc/init.d/haldaemon status";

class UdevHalTest : public KaverTest {
protected:
    void SetUp() override {
        KaverTest::SetUp();
        enableDebugLog();
        build();
    }
};

TEST_F(UdevHalTest, InstallByHost) {
    struct Row {
        const char* name;
        int os;
        bool halRunning;
        std::vector<std::string> paths;
        std::map<std::string, int> exitStatus;
        bool result;
        std::vector<std::string> commands;
        std::vector<std::string> log;
    };
    const std::string rules = "/etc/udev/rules.d/";
    const Row rows[] = {
        {"Red Hat with udevadm", REDHAT, false, {rules, "/sbin/udevadm", "/sbin/udevcontrol"}, {}, true,
         {kCopyUsb, kChmodUsb, kCopyNorvik, kChmodNorvik, kUdevadm},
         {"RestartUdevRules restarted ", "Udev rule successfully Installed"}},
        {"Red Hat with udevcontrol", REDHAT, false, {rules, "/sbin/udevcontrol"}, {}, true,
         {kCopyUsb, kChmodUsb, kCopyNorvik, kChmodNorvik, kUdevcontrol}, {}},
        {"Red Hat without a reload tool", REDHAT, false, {rules}, {}, true,
         {kCopyUsb, kChmodUsb, kCopyNorvik, kChmodNorvik}, {"Udev rule successfully Installed"}},
        // The command's own exit status is not examined.
        {"Red Hat, failing commands", REDHAT, false, {rules, "/sbin/udevadm"},
         {{kCopyUsb, 1}, {kUdevadm, 256}}, true,
         {kCopyUsb, kChmodUsb, kCopyNorvik, kChmodNorvik, kUdevadm}, {}},
        {"Red Hat without the rules dir", REDHAT, false, {"/sbin/udevadm"}, {}, true, {kUdevadm},
         {"/etc/udev/rules.d/ Path does not exists", "/etc/udev/rules.d/ Path does not exists",
          "Udev rule successfully Installed"}},
        {"Red Hat, shell cannot start for cp", REDHAT, false, {rules}, {{kCopyUsb, -1}}, true,
         {kCopyUsb, kCopyNorvik, kChmodNorvik}, {"CopyFile fdi file failed"}},
        {"Red Hat, shell cannot start for reload", REDHAT, false, {rules, "/sbin/udevadm"}, {{kUdevadm, -1}},
         false, {kCopyUsb, kChmodUsb, kCopyNorvik, kChmodNorvik, kUdevadm},
         {"failed RestartUdevRules", "Udev rule is not successfully Installed"}},
        {"SUSE, HAL running", SUSE, true, {rules, "/sbin/udevadm"}, {}, false, {kHalStop},
         {"stopped haldaemon", "Udev rule is not successfully Installed"}},
        {"SUSE, HAL not running", SUSE, false, {rules, "/sbin/udevadm"}, {}, false, {},
         {"Udev rule is not successfully Installed"}},
        {"ESX", ESX4, true, {rules, "/sbin/udevadm"}, {}, false, {}, {}},
        {"CentOS", CENTOS, true, {rules, "/sbin/udevadm"}, {}, false, {}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        platform.paths = {"zemtdebuglog"};
        platform.paths.insert(row.paths.begin(), row.paths.end());
        platform.exitStatus = row.exitStatus;
        platform.commands.clear();
        kaver->LinuxOSVer = row.os;
        kaver->m_bHaldDaemonRunning = row.halRunning;
        const int syncs = platform.syncs;
        markLog();

        EXPECT_EQ(kaver->udevhalInstall(), row.result);
        EXPECT_EQ(platform.commands, row.commands);
        const std::string text = newLog();
        std::string::size_type pos = 0;
        for (const std::string& line : row.log) {
            pos = text.find(line, pos);
            ASSERT_NE(pos, std::string::npos) << line << "\n" << text;
            pos += line.size();
        }
        if (row.os == REDHAT && row.paths.size() && row.paths[0] == rules && !row.exitStatus.count(kCopyUsb)) {
            EXPECT_EQ(platform.syncs - syncs, 2) << "each copied rule file is synced";
        }
    }
}

TEST_F(UdevHalTest, UninstallByHost) {
    struct Row {
        const char* name;
        int os;
        bool halRunning;
        std::vector<std::string> removed;
        std::vector<std::string> commands;
    };
    const Row rows[] = {
        {"Red Hat", REDHAT, true,
         {"/etc/udev/rules.d/98-secupdusb.rules", "/etc/udev/rules.d/00-secupd-norvik.rules"}, {kUdevadm}},
        {"SUSE, HAL was running", SUSE, true, {}, {kHalStart}},
        {"SUSE, HAL was not running", SUSE, false, {}, {}},
        {"ESX 3", ESX, true, {}, {}},
        {"OS unknown", -1, true, {}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        platform.paths = {"zemtdebuglog", "/sbin/udevadm"};
        platform.commands.clear();
        platform.removedFiles.clear();
        kaver->LinuxOSVer = row.os;
        kaver->m_bHaldDaemonRunning = row.halRunning;
        markLog();

        EXPECT_TRUE(kaver->udevhalUninstall());
        EXPECT_EQ(platform.removedFiles, row.removed);
        EXPECT_EQ(platform.commands, row.commands);
        EXPECT_NE(newLog().find("Udev  successfully Uninstalled"), std::string::npos);
    }
}

TEST_F(UdevHalTest, HalDaemonRunningOnlyWhenItsStatusSaysSo) {
    struct Row {
        const char* name;
        bool executable;
        bool pipeOpens;
        std::string output;
        bool running;
    };
    const Row rows[] = {
        {"no script", false, true, "haldaemon is running", false},
        {"pipe fails", true, false, "", false},
        {"no output", true, true, "", false},
        {"stopped", true, true, "haldaemon is stopped\n", false},
        {"running", true, true, "hald (pid 1234) is running...\n", true},
        // Only the first 1024 bytes are read.
        {"running past 1024 bytes", true, true, std::string(1024, ' ') + "running", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        platform.executables.clear();
        if (row.executable) platform.executables.insert("/etc/init.d/haldaemon");
        platform.failingPipes.clear();
        if (!row.pipeOpens) platform.failingPipes.insert(kHalStatus);
        platform.setOutput(kHalStatus, row.output);
        platform.commands.clear();

        EXPECT_EQ(kaver->IsHalDaemonRunning(), row.running);
        EXPECT_EQ(platform.commands,
                  row.executable ? std::vector<std::string>{kHalStatus} : std::vector<std::string>{});
    }
}

TEST_F(UdevHalTest, RulesLiveExactlyAsLongAsTheObject) {
    // Install on construction, uninstall on destruction.
    platform.addPath("/etc/udev/rules.d/");
    platform.addPath("/sbin/udevadm");
    kaver.reset();
    platform.commands.clear();
    platform.removedFiles.clear();
    build(false);
    EXPECT_EQ(platform.commands, (std::vector<std::string>{kCopyUsb, kChmodUsb, kCopyNorvik, kChmodNorvik, kUdevadm}));
    platform.commands.clear();
    kaver.reset();
    EXPECT_EQ(platform.commands, (std::vector<std::string>{kUdevadm}));
    EXPECT_EQ(platform.removedFiles.size(), 2u);
}

}  // namespace
