// SPDX-License-Identifier: Apache-2.0
// Host OS detection from the release files, cached per object.
#include "PlatformLayer.h"
#include "secureKaver.h"

namespace {
// Release files are small; anything beyond this is not a release file.
const unsigned int kReleaseFileLimit = 1 << 20;
// Lines are read the way fgets with a 1024-byte buffer reads them.
const std::size_t kLineLimit = 1023;

std::vector<std::string> readLines(const std::string& path) {
    std::vector<std::string> lines;
    std::string text;
    if (!CPlatformLayer::ReadFileText(path, text, kReleaseFileLimit)) return lines;
    std::string::size_type pos = 0;
    while (pos < text.size()) {
        std::string::size_type newline = text.find('\n', pos);
        std::string::size_type end = newline == std::string::npos ? text.size() : newline + 1;
        if (end - pos > kLineLimit) end = pos + kLineLimit;
        // A C-string search stops at the first NUL of a line.
        std::string line = text.substr(pos, end - pos);
        lines.push_back(line.substr(0, line.find('\0')));
        pos = end;
    }
    return lines;
}

std::string firstLine(const std::string& path) {
    std::vector<std::string> lines = readLines(path);
    return lines.empty() ? std::string() : lines.front();
}

bool anyLineContains(const std::string& path, const std::string& key) {
    for (const std::string& line : readLines(path))
        if (line.find(key) != std::string::npos) return true;
    return false;
}

bool contains(const std::string& text, const char* key) { return text.find(key) != std::string::npos; }
}  // namespace

bool secureKaver::getLinuxOSVer() {
    if (LinuxOSVer != -1) {
        KAVER_LOG("getLinuxOSVer OS Version previously set");
        return true;
    }
    if (CPlatformLayer::SetUserId(0) != 0) {
        KAVER_LOG("getLinuxOSVer:user is not root");
        return false;
    }
    if (CPlatformLayer::PathExists(ESXRel)) {
        std::string line = firstLine(ESXRel);
        if (contains(line, "VMware ESX Server 3")) {
            KAVER_LOG("getLinuxOSVer: ESX 3 Found");
            LinuxOSVer = ESX;
            return true;
        }
        if (contains(line, "VMware ESX 4.1")) {
            KAVER_LOG("getLinuxOSVer: ESX 4 Found");
            LinuxOSVer = ESX4_1;
            return true;
        }
        if (contains(line, "VMware ESX 4")) {
            KAVER_LOG("getLinuxOSVer: ESX 4 Found");
            LinuxOSVer = ESX4;
            return true;
        }
        KAVER_LOG("getLinuxOSVer: Unrecognized VMWare Found");
    }
    if (CPlatformLayer::PathExists(RedHatRel)) {
        std::string line = firstLine(RedHatRel);
        if (contains(line, "Red Hat")) {
            LinuxOSVer = REDHAT;
            KAVER_LOG("getLinuxOSVer REDHAT found");
            return true;
        }
        if (contains(line, "XenServer")) {
            LinuxOSVer = XENSERVER;
            KAVER_LOG("getLinuxOSVer Xenserver found");
            return true;
        }
        if (CPlatformLayer::PathExists(NewWYRRel)) {
            if (anyLineContains(NewWYRRel, "QEV_MAJOR_VERSION")) {
                LinuxOSVer = ELI_NEW;
                KAVER_LOG("getLinuxOSVer: NEW ELI(WYR) Found");
                return true;
            }
        } else if (contains(line, "Cent")) {
            LinuxOSVer = CENTOS;
            KAVER_LOG("getLinuxOSVer CentOS found");
            return true;
        }
    }
    if (CPlatformLayer::PathExists(SuseRel)) {
        LinuxOSVer = SUSE;
        KAVER_LOG("getLinuxOSVer: SLES Found");
        return true;
    }
    if (CPlatformLayer::PathExists(QEVRel) && anyLineContains(QEVRel, "QEV_MAJOR_VERSION")) {
        LinuxOSVer = ELI;
        KAVER_LOG("getLinuxOSVer: ELI(QEV) Found");
        return true;
    }
    if (CPlatformLayer::PathExists(WYRRel) && anyLineContains(WYRRel, "WYR_MAJOR_VERSION")) {
        LinuxOSVer = ELI;
        KAVER_LOG("getLinuxOSVer: ELI(WYR) Found");
        return true;
    }
    // An unrecognised host runs as a Red Hat host; say so in the log.
    KAVER_LOG("getLinuxOSVer: Unsupported OS, defaulting to REDHAT");
    LinuxOSVer = REDHAT;
    return true;
}
