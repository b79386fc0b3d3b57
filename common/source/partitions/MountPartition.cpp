// SPDX-License-Identifier: Apache-2.0
// Mounting attached partitions under /tmp/ and unmounting them again, plus
// the two small command helpers the rest of the library uses.
#include <algorithm>
#include <string>
#include <vector>

#include "partitions/HostPaths.h"
#include "PlatformLayer.h"
#include "core/FailureReason.h"
#include "secureKaver.h"

namespace {

const int kMountAttempts = 60;
const unsigned int kExecuteCmdLimit = 512;
// /proc/mounts of a busy host stays far below this; a longer read is
// treated as unreadable rather than trusted half-way.
const unsigned int kMountTableLimit = 4u << 20;

const char* const kDropCaches = "echo 1 >> /proc/sys/vm/drop_caches";

std::string text(const char* global) { return global ? global : ""; }

std::string mountDirOf(const std::string& label) { return text(RHatPartDir) + label; }
std::string deviceLinkOf(const std::string& label) { return text(StatSecKavDev) + label; }

// /proc/mounts writes blanks, tabs, newlines and backslashes of a mount
// point as three-digit octal escapes.
std::string unescapeMountField(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3' &&
            field[i + 2] >= '0' && field[i + 2] <= '7' && field[i + 3] >= '0' && field[i + 3] <= '7') {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

// The mount points /proc/mounts lists, in its order; false when the table
// cannot be read whole.
bool readMountPoints(std::vector<std::string>& dirs) {
    std::string table;
    if (!CPlatformLayer::ReadFileText("/proc/mounts", table, kMountTableLimit) || table.size() >= kMountTableLimit)
        return false;
    std::string::size_type pos = 0;
    while (pos < table.size()) {
        std::string::size_type end = table.find('\n', pos);
        if (end == std::string::npos) end = table.size();
        const std::string line = table.substr(pos, end - pos);
        pos = end + 1;
        // device, mount point, type, options, ...
        const std::string::size_type first = line.find(' ');
        if (first == std::string::npos) continue;
        std::string::size_type second = line.find(' ', first + 1);
        if (second == std::string::npos) second = line.size();
        dirs.push_back(unescapeMountField(line.substr(first + 1, second - first - 1)));
    }
    return true;
}

// Removes the mount directory unless a file system is (or may be) still
// mounted on it: rm -rf would then delete the partition's files.
void removeMountDir(const std::string& dir, const std::string& cmd) {
    if (hostpaths::mountStateOf(dir) != hostpaths::NotMounted) {
        KAVER_LOG("Mount directory " + dir + " may still be mounted; not removing it");
        return;
    }
    CPlatformLayer::Run(cmd);
}

}  // namespace

namespace hostpaths {

bool isSafeVolumeLabel(const std::string& label) {
    if (label.empty() || label.size() > 11) return false;
    for (char c : label) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                        c == '-';
        if (!ok) return false;
    }
    return true;
}

MountState mountStateOf(const std::string& dir) {
    std::vector<std::string> dirs;
    if (!readMountPoints(dirs)) return MountStateUnknown;
    // A file system mounted below dir would lose its files to rm -rf dir too.
    const std::string below = dir + "/";
    for (const std::string& mounted : dirs)
        if (mounted == dir || mounted.compare(0, below.size(), below) == 0) return Mounted;
    return NotMounted;
}

void unmountLeftOvers(secureKaver& kaver) {
    std::vector<std::string> dirs;
    if (!readMountPoints(dirs)) return;
    const std::string dropBox = text(dynDriveName);
    for (const std::string& dir : dirs) {
        if (isSafeVolumeLabel(dropBox) && dir == mountDirOf(dropBox)) {
            KAVER_LOG("Unmounting " + dir + ", left mounted by an earlier run");
            kaver.unmountDynPartition();
            continue;
        }
        for (int id = dynPartSlot + 1; id < MaxPartInfoEntry; ++id) {
            const std::string& label = kaverPartInfo[id].i_volumeLabel;
            if (!isSafeVolumeLabel(label) || dir != mountDirOf(label)) continue;
            KAVER_LOG("Unmounting " + dir + ", left mounted by an earlier run");
            kaver.unmountStatPartition(label);
            break;
        }
    }
}

}  // namespace hostpaths

namespace {

// The common mount sequence; `mode` is "ro" or "rw".
bool mountPartition(secureKaver& kaver, const std::string& label, const char* mode, bool isStatic) {
    if (!hostpaths::isSafeVolumeLabel(label)) {
        KAVER_LOG("Invalid volume label " + std::string(isStatic ? "for mountStatPartition" : "for mountDynPartition") +
                  ".  Partition Not Mounted");
        failure::record("unusable volume label " + label);
        return false;
    }
    const std::string device = kaver.getDevicePath(label);
    if (device.empty()) {
        KAVER_LOG("Correct Volume Label not found.  Partition Not Mounted");
        failure::record("no disk labelled " + label + " appeared on the host");
        return false;
    }
    const std::string mountDir = mountDirOf(label);
    const std::string link = deviceLinkOf(label);
    // mkdir -p, ln -sf and mount all follow what is already there: a mount
    // directory that is a symlink would mount (and later rm -rf) elsewhere,
    // and a directory in place of the link would receive the link inside it.
    const PathKind dirKind = CPlatformLayer::GetPathKind(mountDir);
    if (dirKind != PathMissing && dirKind != PathDirectory) {
        KAVER_LOG("Mount directory " + mountDir + " exists and is not a directory.  Partition Not Mounted");
        failure::record(mountDir + " exists and is not a directory");
        return false;
    }
    const PathKind linkKind = CPlatformLayer::GetPathKind(link);
    if (linkKind != PathMissing && linkKind != PathSymlink) {
        KAVER_LOG("Device link " + link + " exists and is not a link.  Partition Not Mounted");
        failure::record(link + " exists and is not a link");
        return false;
    }

    KAVER_LOG("Creating directory ");
    const std::string makeDir = "mkdir -p " + mountDir;
    const int made = CPlatformLayer::Run(makeDir);
    if (made != 0) {
        KAVER_LOG("mkdir failed");
        failure::record(makeDir + " " + failure::commandStatus(made));
        return false;
    }
    KAVER_LOG("Directory Created");

    const std::string linkCmd = "ln -sf " + device + " " + link;
    KAVER_LOG("Creating Link " + linkCmd);
    const int linked = CPlatformLayer::Run(linkCmd);
    if (linked != 0) {
        KAVER_LOG("Link creation failed");
        failure::record(linkCmd + " " + failure::commandStatus(linked));
        removeMountDir(mountDir, "rm -rf " + mountDir);
        return false;
    }
    KAVER_LOG("Link created");

    const bool esx3 = kaver.LinuxOSVer == ESX;
    if (!esx3) {
        KAVER_LOG("Invalidating Linux FS Caching");
        CPlatformLayer::Run("sync");
        CPlatformLayer::Run(kDropCaches);
        KAVER_LOG("Invalidating Linux FS Caching done");
    }

    KAVER_LOG("Mounting partition " + link + " on " + mountDir);
    const std::string mountCmd = std::string("mount -t vfat -oshortname=mixed,") + mode + " " + link + " " + mountDir;
    KAVER_LOG(mountCmd);
    int mounted = 0;
    for (int attempt = 0; attempt < kMountAttempts; ++attempt) {
        CPlatformLayer::Sleep(1);
        mounted = CPlatformLayer::Run(mountCmd);
        if (mounted == 0) {
            KAVER_LOG(isStatic ? "Partition Mounted" : "Dynamic Partition Mounted");
            kaver.mountedVolName = link;
            return true;
        }
        KAVER_LOG("Mount Failed. Re-trying");
    }

    KAVER_LOG("mount failed");
    failure::record(mountCmd + " " + failure::commandStatus(mounted) + " (" + std::to_string(kMountAttempts) +
                    " attempts)");
    if (!esx3) {
        CPlatformLayer::Run("sync");
        CPlatformLayer::Run(kDropCaches);
    }
    removeMountDir(mountDir, "rm -rf " + mountDir);
    CPlatformLayer::Run("rm -f " + link);
    return false;
}

bool unmountPartition(secureKaver& kaver, const std::string& label, bool isStatic) {
    KAVER_LOG(isStatic ? "-- umountStatPartition Entry" : "-- umountDynPartition Entry");
    if (!kaver.getLinuxOSVer()) return false;
    if (!hostpaths::isSafeVolumeLabel(label)) {
        KAVER_LOG("Invalid volume label, nothing unmounted");
        return false;
    }
    const std::string mountDir = mountDirOf(label);
    CPlatformLayer::Run("umount " + mountDir + " > /dev/null 2>&1");
    KAVER_LOG(isStatic ? "static partition umounted." : "dynamic partition umounted.");

    // umount's status says little (busy, not mounted, lazy); what counts is
    // whether the directory is still a mount point.
    const hostpaths::MountState state = hostpaths::mountStateOf(mountDir);
    if (state != hostpaths::NotMounted) {
        KAVER_LOG(state == hostpaths::Mounted
                      ? "umount failed: " + mountDir + " is still mounted or holds a mount; its files are left in place"
                      : "umount not confirmed: /proc/mounts unreadable; " + mountDir + " is left in place");
        return false;
    }
    CPlatformLayer::Run("rm -rf " + mountDir + " > /dev/null 2>&1");
    CPlatformLayer::Run("rm -f " + text(StatSecKavDev) + "* > /dev/null 2>&1");
    if (kaver.LinuxOSVer != ESX) {
        CPlatformLayer::Run("sync");
        CPlatformLayer::Run(kDropCaches);
    }
    kaver.mountedVolName.clear();
    return true;
}

}  // namespace

bool secureKaver::mountStatPartition(const std::string& label) {
    KAVER_LOG("mountStatPartition");
    return mountPartition(*this, label, "ro", true);
}

bool secureKaver::mountDynPartition() {
    KAVER_LOG("mountDynPartition");
    return mountPartition(*this, text(dynDriveName), "rw", false);
}

bool secureKaver::unmountStatPartition(const std::string& label) { return unmountPartition(*this, label, true); }

bool secureKaver::unmountDynPartition() { return unmountPartition(*this, text(dynDriveName), false); }

std::string secureKaver::executeCmd(const std::string& cmd) {
    KAVER_LOG(cmd);
    std::string output;
    if (!CPlatformLayer::ReadCommandOutput(cmd, output, kExecuteCmdLimit)) {
        KAVER_LOG("executeCmd : popen failed");
        return std::string();
    }
    if (output.size() > kExecuteCmdLimit) output.resize(kExecuteCmdLimit);
    output = output.substr(0, output.find('\0'));
    KAVER_LOG(output);
    return output;
}

void secureKaver::syncAll(const std::string& mountPoint) {
    KAVER_LOG("Entering syncAll and the mount point is " + mountPoint);
    CPlatformLayer::Run("sync");
    KAVER_LOG("Leaving syncAll");
}
