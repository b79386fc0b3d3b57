// SPDX-License-Identifier: Apache-2.0
// Waiting for an attached partition's disk to show up on the host, and the
// directories partitions are mounted on.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "CLinuxEnumerateDevices.h"
#include "PlatformLayer.h"
#include "secureKaver.h"

namespace {
const int kDeviceAttempts = 60;
const unsigned int kAttemptSeconds = 5;
}  // namespace

std::string secureKaver::getDevicePath(const std::string& label) {
    if (label.empty()) {
        KAVER_LOG("getDevicePath: Volume name is empty ");
        return std::string();
    }
    if (!isSGDriverLoaded()) KAVER_LOG("getDevicePath: SG driver is not loaded ");
    // ESX service consoles do not present USB disks as emulated sg hosts.
    const bool scanAll = LinuxOSVer == ESX || LinuxOSVer == ESX4 || LinuxOSVer == ESX4_1;
    for (int attempt = 0; attempt < kDeviceAttempts; ++attempt) {
        CPlatformLayer::Run("/sbin/blockdev --report /dev/sd* > /dev/null 2>&1");
        CLinuxEnumerateDevices devices(scanAll);
        CPlatformLayer::Sleep(kAttemptSeconds);
        std::string path;
        if (devices.GetDeviceWithLabel(label, path) && !path.empty()) {
            KAVER_LOG("CEnumerateDevices found a device " + path);
            return path;
        }
        KAVER_LOG("Trying to find device ");
    }
    KAVER_LOG("Could not find the device after all the retries ");
    return std::string();
}

bool secureKaver::isSGDriverLoaded() {
    const std::string output = executeCmd("lsmod | grep -w sg >/dev/null;echo $?");
    // strtol semantics: leading blanks skipped, no digits reads as 0.
    return std::strtol(output.c_str(), nullptr, 10) == 0;
}

bool secureKaver::getPartDrive(const std::string& label, std::string& out) {
    out = std::string(RHatPartDir ? RHatPartDir : "") + label + "/";
    return true;
}

bool secureKaver::getDynPartDrive(const char* label, char* out) {
    if (out == nullptr) return true;
    // The same directory mountDynPartition mounts on ("/tmp/" by default).
    std::snprintf(out, MAXPATH_LEN, "%s%s/", RHatPartDir ? RHatPartDir : "", label ? label : "");
    return true;
}
