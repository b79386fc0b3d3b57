// SPDX-License-Identifier: Apache-2.0
// Building and destroying the library object against the emulated host:
// the hardware-access library install, host OS detection, device rules and
// the HAL daemon.
#include <sys/stat.h>

#include <algorithm>
#include <memory>

#include "EmulatorFixture.h"
#include "PlatformLayer.h"
#include "secureKaver.h"

namespace {

const char* const kTrenPath = "/opt/norvik/tarn/lib/libzolipm32.so";
const char* const kUsbRules = "/etc/udev/rules.d/98-secupdusb.rules";
const char* const kNorvikRules = "/etc/udev/rules.d/00-secupd-norvik.rules";

std::string installCommand(const char* action) {
    return ProcessDirectory() + "/tarnvelmoinstall.sh " + action;
}

bool contains(const std::vector<std::string>& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

class LifecycleTest : public EmulatorTest {};

TEST_F(LifecycleTest, ScriptInstallsTrenForTheObjectsLifetimeAndRemovesItAfter) {
    Init();
    {
        secureKaver kaver;
        EXPECT_EQ(kaver.getZEMTError(), 0);
        EXPECT_TRUE(kaver.InitOk);
        EXPECT_NE(zolipmiLib, nullptr);
        EXPECT_TRUE(RootHas(kTrenPath));
        EXPECT_EQ(kaver.KAVERType, fullKaverPresent);
        std::vector<std::string> texts = CommandTexts();
        EXPECT_EQ(std::count(texts.begin(), texts.end(), installCommand("install")), 1);
        // The repository kind is asked for while building the object.
        std::vector<LoggedRequest> requests = Requests();
        ASSERT_FALSE(requests.empty());
        EXPECT_TRUE(requests[0].Is({0xC0, 0xAD, 0x00, 0x00}));
    }
    EXPECT_FALSE(RootHas(kTrenPath));
    EXPECT_EQ(zolipmiLib, nullptr);
    EXPECT_EQ(CommandTexts().back(), installCommand("uninstall"));
}

TEST_F(LifecycleTest, PreinstalledTrenIsUsedAndLeftInPlace) {
    Init([](zemt_emu::InitOptions& o) { o.tren = "preinstalled"; });
    {
        secureKaver kaver;
        EXPECT_EQ(kaver.getZEMTError(), 0);
        EXPECT_TRUE(kaver.InitOk);
    }
    EXPECT_TRUE(RootHas(kTrenPath));
    for (const std::string& text : CommandTexts())
        EXPECT_EQ(text.find("tarnvelmoinstall"), std::string::npos) << text;
    EXPECT_FALSE(Requests().empty());
}

TEST_F(LifecycleTest, TrenOnTheLibraryPathIsTheFallbackWhenTheScriptFails) {
    Init([](zemt_emu::InitOptions& o) { o.tren = "pavo"; });
    {
        secureKaver kaver;
        EXPECT_EQ(kaver.getZEMTError(), 0);
        EXPECT_TRUE(kaver.InitOk);
        EXPECT_FALSE(RootHas(kTrenPath));
    }
    std::vector<LoggedCommand> commands = Commands();
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[1].text, installCommand("install"));
    EXPECT_NE(commands[1].status, 0);
    EXPECT_TRUE(RootHas("/usr/lib/libzolipm32.so"));
}

TEST_F(LifecycleTest, AbsentTrenGivesCode46AndTheDestructorStillUnloads) {
    Init([](zemt_emu::InitOptions& o) { o.tren = "absent"; });
    {
        secureKaver kaver;
        EXPECT_EQ(kaver.getZEMTError(), ZEMT_TRENINSTALLERROR);
        EXPECT_FALSE(kaver.InitOk);
        EXPECT_EQ(zolipmiLib, nullptr);
        EXPECT_EQ(CommandTexts(), (std::vector<std::string>{"/etc/init.d/haldaemon status",
                                                            installCommand("install")}));
    }
    // The destructor's unload step ran the uninstall script; the controller
    // was never reached.
    EXPECT_EQ(CommandTexts().back(), installCommand("uninstall"));
    EXPECT_TRUE(Requests().empty());
}

TEST_F(LifecycleTest, RedHatRuleFilesExistExactlyWhileTheObjectLives) {
    Init([](zemt_emu::InitOptions& o) { o.os = "redhat"; });
    WriteWorkFile("98-secupdusb.rules", "# keep automounters away\n");
    WriteWorkFile("00-secupd-norvik.rules", "# norvik rules\n");
    {
        secureKaver kaver;
        EXPECT_EQ(kaver.LinuxOSVer, REDHAT);
        ASSERT_TRUE(RootHas(kUsbRules));
        ASSERT_TRUE(RootHas(kNorvikRules));
        struct stat st;
        ASSERT_EQ(stat(InRoot(kUsbRules).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0755u);
        std::vector<std::string> expected = {
            "/etc/init.d/haldaemon status",
            installCommand("install"),
            "cp -fH 98-secupdusb.rules /etc/udev/rules.d/ > /dev/null 2>&1",
            "chmod 755 /etc/udev/rules.d//98-secupdusb.rules  > /dev/null 2>&1",
            "cp -fH 00-secupd-norvik.rules /etc/udev/rules.d/ > /dev/null 2>&1",
            "chmod 755 /etc/udev/rules.d//00-secupd-norvik.rules  > /dev/null 2>&1",
            "/sbin/udevadm control --reload-rules > /dev/null 2>&1",
        };
        EXPECT_EQ(CommandTexts(), expected);
        for (const LoggedCommand& c : Commands()) EXPECT_EQ(c.status, 0) << c.text;
    }
    EXPECT_FALSE(RootHas(kUsbRules));
    EXPECT_FALSE(RootHas(kNorvikRules));
    std::vector<std::string> texts = CommandTexts();
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[texts.size() - 2], "/sbin/udevadm control --reload-rules > /dev/null 2>&1");
}

TEST_F(LifecycleTest, OlderUdevIsReloadedWithUdevcontrolAndNoToolMeansNoReload) {
    Init([](zemt_emu::InitOptions& o) { o.udev = "udevcontrol"; });
    { secureKaver kaver; }
    EXPECT_TRUE(contains(CommandTexts(), "/sbin/udevcontrol reload_rules > /dev/null 2>&1"));

    Fresh([](zemt_emu::InitOptions& o) { o.udev = "none"; });
    {
        secureKaver kaver;
        EXPECT_TRUE(kaver.udevhalInstall());
    }
    for (const std::string& text : CommandTexts()) {
        EXPECT_EQ(text.find("udevadm"), std::string::npos) << text;
        EXPECT_EQ(text.find("udevcontrol"), std::string::npos) << text;
    }
}

TEST_F(LifecycleTest, SuseHalDaemonIsStoppedWhileTheObjectLivesAndRestartedAfter) {
    Init([](zemt_emu::InitOptions& o) {
        o.os = "suse";
        o.hal = "running";
    });
    {
        secureKaver kaver;
        EXPECT_EQ(kaver.LinuxOSVer, SUSE);
        EXPECT_TRUE(kaver.m_bHaldDaemonRunning);
        EXPECT_EQ(HostSetting("hal"), "stopped");
        EXPECT_TRUE(contains(CommandTexts(), "/etc/init.d/haldaemon stop > /dev/null 2>&1"));
        EXPECT_FALSE(RootHas(kUsbRules));
    }
    EXPECT_EQ(HostSetting("hal"), "running");
    EXPECT_EQ(CommandTexts().back(), installCommand("uninstall"));
    EXPECT_TRUE(contains(CommandTexts(), "/etc/init.d/haldaemon start > /dev/null 2>&1"));
}

TEST_F(LifecycleTest, SuseHalDaemonThatWasNotRunningIsLeftAlone) {
    Init([](zemt_emu::InitOptions& o) {
        o.os = "suse";
        o.hal = "stopped";
    });
    {
        secureKaver kaver;
        EXPECT_FALSE(kaver.m_bHaldDaemonRunning);
    }
    EXPECT_EQ(HostSetting("hal"), "stopped");
    for (const std::string& text : CommandTexts()) {
        EXPECT_EQ(text.find("haldaemon start"), std::string::npos);
        EXPECT_EQ(text.find("haldaemon stop"), std::string::npos);
    }
}

TEST_F(LifecycleTest, EsxWithTheUsbArbitratorRunningRefusesToStart) {
    Init([](zemt_emu::InitOptions& o) {
        o.os = "esx4";
        o.usbArbitratorRunning = true;
    });
    WriteWorkFile("98-secupdusb.rules", "x\n");
    {
        secureKaver kaver;
        EXPECT_EQ(kaver.getZEMTError(), ZEMT_ESX_USBARBITRATOR_SERVICE_RUNNING);
        EXPECT_FALSE(kaver.InitOk);
    }
    std::vector<LoggedCommand> commands = Commands();
    bool checked = false;
    for (const LoggedCommand& c : commands) {
        if (c.text == "ps aux | grep -v grep | grep -q vmware-usbarbitrator > /dev/null") {
            checked = true;
            EXPECT_EQ(c.status, 0);
        }
        EXPECT_EQ(c.text.find("cp -fH"), std::string::npos) << "rules installed on a refused start";
    }
    EXPECT_TRUE(checked);
}

TEST_F(LifecycleTest, EsxWithTheUsbArbitratorStoppedStarts) {
    Init([](zemt_emu::InitOptions& o) {
        o.os = "esx41";
        o.usbArbitratorRunning = false;
    });
    secureKaver kaver;
    EXPECT_EQ(kaver.getZEMTError(), 0);
    EXPECT_TRUE(kaver.InitOk);
    EXPECT_EQ(kaver.LinuxOSVer, ESX4_1);
    std::vector<LoggedCommand> commands = Commands();
    auto check = std::find_if(commands.begin(), commands.end(), [](const LoggedCommand& c) {
        return c.text.compare(0, 6, "ps aux") == 0;
    });
    ASSERT_NE(check, commands.end());
    EXPECT_EQ(check->status, 1);
}

TEST_F(LifecycleTest, HostOsIsDetectedFromTheSandboxReleaseFiles) {
    const std::pair<const char*, int> cases[] = {
        {"redhat", REDHAT}, {"suse", SUSE},   {"centos", CENTOS}, {"esx3", ESX},
        {"esx4", ESX4},     {"esx41", ESX4_1}, {"xenserver", XENSERVER},
        {"eli", ELI},       {"none", REDHAT},
    };
    for (const auto& c : cases) {
        Fresh([&](zemt_emu::InitOptions& o) { o.os = c.first; });
        secureKaver kaver;
        EXPECT_EQ(kaver.LinuxOSVer, c.second) << c.first;
    }
}

TEST_F(LifecycleTest, HostWhereRootCannotBeBecomeLeavesTheOsUnknown) {
    Init([](zemt_emu::InitOptions& o) { o.root = false; });
    WriteWorkFile("98-secupdusb.rules", "x\n");
    {
        secureKaver kaver;
        EXPECT_EQ(kaver.LinuxOSVer, -1);
        EXPECT_EQ(kaver.getZEMTError(), 0);
    }
    for (const std::string& text : CommandTexts()) EXPECT_EQ(text.find("cp -fH"), std::string::npos);
}

}  // namespace
