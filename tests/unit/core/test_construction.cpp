// SPDX-License-Identifier: Apache-2.0
// Building and destroying the library object on different hosts.
#include "KaverTest.h"

namespace {

const std::string kInstallScript = "/opt/zemt-pkg//tarnvelmoinstall.sh install";
const std::string kUninstallScript = "/opt/zemt-pkg//tarnvelmoinstall.sh uninstall";
const std::string kArbitratorCheck = "ps aux | grep -v grep | grep -q vmware-usbarbitrator > /dev/null";

class ConstructionTest : public KaverTest {};

TEST_F(ConstructionTest, OrdinaryHost) {
    dynHandleIdx = 7;
    platform.addPath("benchtest");
    tren.fallback = TrenReply::Ok({1});  // repository kind: Lite
    secureKaver& k = build(false);

    EXPECT_EQ(k.getZEMTError(), 0);
    EXPECT_TRUE(k.InitOk);
    EXPECT_EQ(k.sessionEc, objectInitializationFailed);
    EXPECT_EQ(k.KAVERType, KaverLite);
    EXPECT_EQ(k.LinuxOSVer, REDHAT);
    EXPECT_EQ(k.restart, 0);
    EXPECT_FALSE(k.thisSession.sessionActive);
    EXPECT_TRUE(k.UpdateCompletionStatus);
    EXPECT_EQ(dynHandleIdx, 0);
    EXPECT_TRUE(BenchFlag);
    EXPECT_FALSE(DebugLog);
    ASSERT_EQ(tren.requests.size(), 1u) << "construction asks only for the repository kind";
    EXPECT_EQ(tren.requestBytes(0)[1], 0xAD);
    EXPECT_TRUE(platform.commands.empty()) << "TREN already present: nothing installed";

    const std::size_t freed = platform.freedLibraries.size();
    kaver.reset();
    EXPECT_TRUE(platform.commands.empty());
    EXPECT_EQ(platform.freedLibraries.size(), freed + 1);
    EXPECT_EQ(platform.freedLibraries.back(), tren.handle());
    EXPECT_EQ(zolipmiLib, nullptr);
    EXPECT_EQ(CLinuxImpl::nTRENInstallRefCount, 0);
}

TEST_F(ConstructionTest, WithoutTrenTheObjectReportsAndStillCleansUp) {
    enableDebugLog();
    platform.libraries.clear();  // no TREN anywhere
    platform.setExitStatus(kInstallScript, 1);
    secureKaver& k = build(false);

    EXPECT_EQ(k.getZEMTError(), ZEMT_TRENINSTALLERROR);
    EXPECT_FALSE(k.InitOk);
    EXPECT_EQ(k.sessionEc, objectInitializationFailed);
    EXPECT_EQ(k.LinuxOSVer, -1) << "nothing after the failed load";
    EXPECT_TRUE(tren.requests.empty());
    EXPECT_EQ(platform.commands, std::vector<std::string>{kInstallScript});

    kaver.reset();
    EXPECT_EQ(platform.commands, (std::vector<std::string>{kInstallScript, kUninstallScript}));
    EXPECT_FALSE(DebugLog);
    EXPECT_TRUE(logHasInOrder(log(), {
        "Debug message logging started.",
        "InstallIPMI : InstallTren failed",
        "loadTrenLib failed",
        "ZEMT Library initialization failed",
        "Udev  successfully Uninstalled",
        "Udev and Hal udevhalUninstall ",
        "InstallIPMI CPlatformLayer:UninstallTren success",
        "secureKaver::~secureKaver() after delete m_pNotificationThread ",
    }));
}

TEST_F(ConstructionTest, TrenThatCannotBeLoaded) {
    // Installed by the script, but the library then does not load.
    platform.libraries.clear();
    secureKaver& k = build(false);
    EXPECT_EQ(k.getZEMTError(), ZEMT_TRENINSTALLERROR);
    EXPECT_FALSE(k.InitOk);
    EXPECT_EQ(platform.loadAttempts.back(), "libzolipm32.so");
}

TEST_F(ConstructionTest, TrenWithoutCommandFunction) {
    tren.missing.insert("ZOLIPMCommand");
    secureKaver& k = build(false);
    EXPECT_TRUE(k.InitOk);
    EXPECT_EQ(k.getZEMTError(), 0);
    EXPECT_EQ(k.KAVERType, noKaverPresent);
    EXPECT_EQ(pfnCommandWithoutRetry, nullptr);
}

TEST_F(ConstructionTest, EsxUsbArbitrator) {
    struct Row {
        const char* name;
        int arbitratorStatus;
        uint8_t lastErr;
        bool initOk;
    };
    const Row rows[] = {
        {"arbitrator running", 0, ZEMT_ESX_USBARBITRATOR_SERVICE_RUNNING, false},
        {"arbitrator stopped", 1, 0, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        kaver.reset();
        platform.commands.clear();
        platform.addFile("/etc/vmware-release", "VMware ESX 4.1.0 build-260247\n");
        platform.addPath("/etc/udev/rules.d/");
        platform.setExitStatus(kArbitratorCheck, row.arbitratorStatus);
        secureKaver& k = build(false);
        EXPECT_EQ(k.LinuxOSVer, ESX4_1);
        EXPECT_EQ(k.getZEMTError(), row.lastErr);
        EXPECT_EQ(k.InitOk, row.initOk);
        EXPECT_EQ(platform.commands, std::vector<std::string>{kArbitratorCheck}) << "no rules on ESX";
    }
}

TEST_F(ConstructionTest, ArbitratorIsNotCheckedOffEsx) {
    platform.addFile("/etc/redhat-release", "Red Hat Enterprise Linux Server release 5.5\n");
    platform.setExitStatus(kArbitratorCheck, 0);
    secureKaver& k = build(false);
    EXPECT_EQ(k.getZEMTError(), 0);
    for (const std::string& cmd : platform.commands) EXPECT_NE(cmd, kArbitratorCheck);
}

TEST_F(ConstructionTest, SuseHalDaemonIsRecordedAndStopped) {
    platform.addPath("/etc/SuSE-release");
    platform.executables.insert("/etc/init.d/haldaemon");
    platform.setOutput("/etc/init.d/haldaemon status", "haldaemon is running\n");
    secureKaver& k = build(false);
    EXPECT_TRUE(k.m_bHaldDaemonRunning);
    EXPECT_EQ(platform.commands, (std::vector<std::string>{"/etc/init.d/haldaemon status",
                                                           "/etc/init.d/haldaemon stop > /dev/null 2>&1"}));
    platform.commands.clear();
    kaver.reset();
    EXPECT_EQ(platform.commands, std::vector<std::string>{"/etc/init.d/haldaemon start > /dev/null 2>&1"});
}

TEST_F(ConstructionTest, DestructorEndsAnOpenSession) {
    build();
    openSession(0x0033);
    kaver.reset();
    ASSERT_EQ(tren.requests.size(), 1u);
    EXPECT_EQ(tren.requestBytes(0), (std::vector<uint8_t>{0xC0, 0xA2, 0x01, 0x33, 0x00, 0x00, 0x00}));
}

}  // namespace
