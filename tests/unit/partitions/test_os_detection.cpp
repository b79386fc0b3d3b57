// SPDX-License-Identifier: Apache-2.0
// Host OS detection from the release files.
#include <map>

#include "KaverTest.h"

namespace {

class OsDetectionTest : public KaverTest {};

TEST_F(OsDetectionTest, ReleaseFilesDecideTheHost) {
    struct Row {
        const char* name;
        std::map<std::string, std::string> files;
        std::vector<std::string> bare;  // exist, unreadable
        int os;
        const char* log;  // null: not checked
    };
    const std::string esx = "/etc/vmware-release", rh = "/etc/redhat-release", suse = "/etc/SuSE-release",
                      qev = "/qev-version", version = "/VERSION", verInfo = "/VER_INFO";
    const Row rows[] = {
        {"nothing: run as Red Hat", {}, {}, REDHAT, nullptr},
        {"ESX 3", {{esx, "VMware ESX Server 3 (Dali)\n"}}, {}, ESX, "getLinuxOSVer: ESX 3 Found"},
        {"ESX 4.1 is not ESX 4", {{esx, "VMware ESX 4.1.0 build-260247\n"}}, {}, ESX4_1,
         "getLinuxOSVer: ESX 4 Found"},
        {"ESX 4", {{esx, "VMware ESX 4.0.0 build-164009\n"}}, {}, ESX4, "getLinuxOSVer: ESX 4 Found"},
        {"VMware wins over Red Hat", {{esx, "VMware ESX 4\n"}, {rh, "Red Hat Enterprise Linux"}}, {}, ESX4,
         nullptr},
        {"only the first line counts", {{esx, "release\nVMware ESX 4\n"}}, {}, REDHAT,
         "getLinuxOSVer: Unrecognized VMWare Found"},
        {"unknown VMware falls through", {{esx, "VMware Workstation"}, {suse, ""}}, {}, SUSE,
         "getLinuxOSVer: SLES Found"},
        {"NUL before the key", {{esx, std::string("\0VMware ESX 4", 13)}}, {}, REDHAT, nullptr},
        {"empty VMware file", {{esx, ""}}, {}, REDHAT, "getLinuxOSVer: Unrecognized VMWare Found"},
        {"Red Hat", {{rh, "Red Hat Enterprise Linux Server release 5.5 (Tikanga)\n"}, {suse, ""}}, {}, REDHAT,
         "getLinuxOSVer REDHAT found"},
        {"XenServer", {{rh, "XenServer release 5.6.0-31188p (xenenterprise)\n"}}, {}, XENSERVER,
         "getLinuxOSVer Xenserver found"},
        {"CentOS without qev-version", {{rh, "CentOS release 5.5 (Final)\n"}}, {}, CENTOS,
         "getLinuxOSVer CentOS found"},
        {"CentOS with a keyless qev-version", {{rh, "CentOS release 5.5 (Final)\n"}, {qev, "build 12\n"}}, {},
         REDHAT, nullptr},
        {"keyless qev-version then SUSE", {{rh, "CentOS release 5.5\n"}, {qev, "x\n"}, {suse, "SLES"}}, {}, SUSE,
         nullptr},
        {"qev-version key on a later line", {{rh, "CentOS release 5.5\n"}, {qev, "a\nb\nQEV_MAJOR_VERSION=3\n"}},
         {}, ELI_NEW, "getLinuxOSVer: NEW ELI(WYR) Found"},
        {"SUSE by existence alone", {}, {suse}, SUSE, "getLinuxOSVer: SLES Found"},
        {"Red Hat file wins over SUSE", {{rh, "Red Hat"}}, {suse}, REDHAT, nullptr},
        {"image by /VERSION", {{version, "NAME=x\nQEV_MAJOR_VERSION=2\n"}}, {}, ELI,
         "getLinuxOSVer: ELI(QEV) Found"},
        {"image by /VER_INFO", {{version, "nothing"}, {verInfo, "a\nWYR_MAJOR_VERSION=1"}}, {}, ELI,
         "getLinuxOSVer: ELI(WYR) Found"},
        {"wrong key in /VER_INFO", {{verInfo, "QEV_MAJOR_VERSION=1"}}, {}, REDHAT, nullptr},
        {"binary /VERSION", {{version, std::string("\x7f" "ELF\0QEV_MAJOR_VERSION", 22)}}, {}, REDHAT, nullptr},
        {"keys are case-sensitive", {{rh, "red hat"}, {version, "qev_major_version"}}, {}, REDHAT, nullptr},
    };

    enableDebugLog();
    build();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        platform.files = row.files;
        platform.paths = {"zemtdebuglog"};
        for (const std::string& p : row.bare) platform.addPath(p);
        kaver->LinuxOSVer = -1;
        markLog();
        EXPECT_TRUE(kaver->getLinuxOSVer());
        EXPECT_EQ(kaver->LinuxOSVer, row.os);
        if (row.log) {
            EXPECT_NE(newLog().find(row.log), std::string::npos) << newLog();
        }
    }
}

TEST_F(OsDetectionTest, DetectionRunsOncePerObject) {
    enableDebugLog();
    build();
    platform.addFile("/etc/SuSE-release", "");
    kaver->LinuxOSVer = -1;
    ASSERT_TRUE(kaver->getLinuxOSVer());
    ASSERT_EQ(kaver->LinuxOSVer, SUSE);

    platform.files.clear();
    platform.addFile("/etc/vmware-release", "VMware ESX 4\n");
    const int reads = platform.fileReads;
    const std::size_t setuids = platform.userIds.size();
    markLog();
    EXPECT_TRUE(kaver->getLinuxOSVer());
    EXPECT_EQ(kaver->LinuxOSVer, SUSE);
    EXPECT_EQ(platform.fileReads, reads);
    EXPECT_EQ(platform.userIds.size(), setuids);
    EXPECT_NE(newLog().find("getLinuxOSVer OS Version previously set"), std::string::npos);
}

TEST_F(OsDetectionTest, NotRootLeavesItUndetected) {
    enableDebugLog();
    build();
    platform.addFile("/etc/redhat-release", "Red Hat");
    platform.setUserIdResult = -1;
    kaver->LinuxOSVer = -1;
    markLog();
    EXPECT_FALSE(kaver->getLinuxOSVer());
    EXPECT_EQ(kaver->LinuxOSVer, -1);
    EXPECT_EQ(platform.userIds.back(), 0u);
    EXPECT_NE(newLog().find("getLinuxOSVer:user is not root"), std::string::npos);

    // The next call tries again.
    platform.setUserIdResult = 0;
    EXPECT_TRUE(kaver->getLinuxOSVer());
    EXPECT_EQ(kaver->LinuxOSVer, REDHAT);
}

}  // namespace
