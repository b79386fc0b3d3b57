// SPDX-License-Identifier: Apache-2.0
// Device rules (Red Hat) and the HAL daemon (SUSE) keep the host's
// automounters away from the repository's disks while an object lives.
#include "PlatformLayer.h"
#include "secureKaver.h"

namespace {
const char* kUsbRules = "98-secupdusb.rules";
const char* kNorvikRules = "00-secupd-norvik.rules";
const char* kHalScript = "/etc/init.d/haldaemon";
const char* kUdevadm = "/sbin/udevadm";
const char* kUdevcontrol = "/sbin/udevcontrol";
// A shell that could not be started is the only failure the callers see.
const int kShellNotStarted = -1;
}  // namespace

bool secureKaver::udevhalInstall() {
    if (LinuxOSVer == REDHAT) {
        CopyFile(std::string(kUsbRules) + " ", RHatUdevLibDir);
        CopyFile(std::string(kNorvikRules) + " ", RHatUdevLibDir);
        if (RestartUdevRules()) {
            KAVER_LOG("Udev rule successfully Installed");
            return true;
        }
    } else if (LinuxOSVer == SUSE && m_bHaldDaemonRunning) {
        StopHalDaemon();
    }
    KAVER_LOG("Udev rule is not successfully Installed");
    return false;
}

bool secureKaver::udevhalUninstall() {
    if (LinuxOSVer == REDHAT) {
        CPlatformLayer::RemoveFile(std::string(RHatUdevLibDir) + kUsbRules);
        CPlatformLayer::RemoveFile(std::string(RHatUdevLibDir) + kNorvikRules);
        RestartUdevRules();
    } else if (LinuxOSVer == SUSE && m_bHaldDaemonRunning) {
        StartHalDaemon();
    }
    KAVER_LOG("Udev  successfully Uninstalled");
    return true;
}

bool secureKaver::RestartUdevRules() {
    KAVER_LOG("secureKaver::RestartUdevRules()");
    std::string cmd;
    if (CPlatformLayer::PathExists(kUdevadm))
        cmd = std::string(kUdevadm) + " control --reload-rules > /dev/null 2>&1";
    else if (CPlatformLayer::PathExists(kUdevcontrol))
        cmd = std::string(kUdevcontrol) + " reload_rules > /dev/null 2>&1";
    KAVER_LOG(cmd);
    if (cmd.empty()) return true;
    if (CPlatformLayer::Run(cmd) == kShellNotStarted) {
        KAVER_LOG("failed RestartUdevRules");
        return false;
    }
    KAVER_LOG("RestartUdevRules restarted ");
    return true;
}

bool secureKaver::CopyFile(const std::string& file, const std::string& dir) {
    if (!CPlatformLayer::PathExists(dir)) {
        KAVER_LOG(dir + " Path does not exists");
        return false;
    }
    std::string cmd = "cp -fH " + file + dir + " > /dev/null 2>&1";
    KAVER_LOG(cmd);
    if (CPlatformLayer::Run(cmd) == kShellNotStarted) {
        KAVER_LOG("CopyFile fdi file failed");
        return false;
    }
    cmd = "chmod 755 " + dir + "/" + file + " > /dev/null 2>&1";
    KAVER_LOG(cmd);
    int status = CPlatformLayer::Run(cmd);
    CPlatformLayer::SyncFileSystems();
    if (status == kShellNotStarted) {
        KAVER_LOG("Change file permission to 755");
        return false;
    }
    return true;
}

bool secureKaver::StopHalDaemon() {
    if (CPlatformLayer::Run(std::string(kHalScript) + " stop > /dev/null 2>&1") == kShellNotStarted) {
        KAVER_LOG("failed to stop the haldaemon");
        return false;
    }
    KAVER_LOG("stopped haldaemon");
    return true;
}

bool secureKaver::StartHalDaemon() {
    if (CPlatformLayer::Run(std::string(kHalScript) + " start > /dev/null 2>&1") == kShellNotStarted) {
        KAVER_LOG("failed to start the haldaemon");
        return false;
    }
    KAVER_LOG("started haldaemon");
    return true;
}

bool secureKaver::IsHalDaemonRunning() {
    KAVER_LOG("Inside secureKaver::IsHalDaemonRunning");
    if (!CPlatformLayer::IsExecutable(kHalScript)) return false;
    std::string output;
    if (!CPlatformLayer::ReadCommandOutput(std::string(kHalScript) + " status", output, 1024))
        return false;
    if (output.empty()) return false;
    if (output.find("running") == std::string::npos) return false;
    KAVER_LOG("haldaemon is running");
    return true;
}
