// SPDX-License-Identifier: Apache-2.0
// One scan of the host's SCSI disks, and the naming of candidate devices.
#include "CLinuxEnumerateDevices.h"

#include <fcntl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "PlatformLayer.h"
#include "zemt.h"

namespace {

const unsigned long kSgEmulatedHost = 0x2203;        // SG_EMULATED_HOST
const unsigned long kSgGetScsiId = 0x2276;           // SG_GET_SCSI_ID
const unsigned long kScsiIoctlGetIdlun = 0x5382;     // SCSI_IOCTL_GET_IDLUN
const unsigned long kScsiIoctlGetBusNumber = 0x5386;  // SCSI_IOCTL_GET_BUS_NUMBER

// Every name of the letter scheme: a..z, aa..zz, aaa..zzz.
const int kSdNames = 18278;
const int kSgNames = 4096;

// k of a letter-scheme suffix (the inverse of MakeDeviceName), or -1 when
// the text is not one.
int letterIndex(const std::string& suffix) {
    if (suffix.empty() || suffix.size() > 3) return -1;
    int digits[3];
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        if (suffix[i] < 'a' || suffix[i] > 'z') return -1;
        digits[i] = suffix[i] - 'a';
    }
    switch (suffix.size()) {
        case 1:
            return digits[0];
        case 2:
            return 26 + 26 * digits[0] + digits[1];
        default:
            return 702 + 676 * digits[0] + 26 * digits[1] + digits[2];
    }
}

// The k values (ascending, below `limit`) of the names prefix + letters
// that exist in /dev.  Listing /dev once costs one directory read instead
// of one failed open per possible name; the probing order is the one a
// walk over every k would have.  Should /dev list nothing at all (a host
// layer that cannot list it), every k is returned and probed as before.
std::vector<int> existingLetterNames(const char* prefix, int limit) {
    std::vector<int> ks;
    const std::vector<std::string> entries = CPlatformLayer::GetFileList("/dev");
    if (entries.empty()) {
        for (int k = 0; k < limit; ++k) ks.push_back(k);
        return ks;
    }
    const std::size_t prefixLength = std::strlen(prefix);
    for (const std::string& entry : entries) {
        // Entries may come as bare names or as paths under /dev.
        const std::string name = entry.substr(entry.rfind('/') + 1);
        if (name.compare(0, prefixLength, prefix) != 0) continue;
        const int k = letterIndex(name.substr(prefixLength));
        if (k >= 0 && k < limit) ks.push_back(k);
    }
    std::sort(ks.begin(), ks.end());
    ks.erase(std::unique(ks.begin(), ks.end()), ks.end());
    return ks;
}

// GetFileList gives the same empty list for an empty directory and for one
// that cannot be opened; opening it as opendir would tells them apart.
bool opensAsDirectory(const std::string& dir) {
    const int fd = CPlatformLayer::OpenDevice(dir, O_RDONLY | O_DIRECTORY);
    if (fd < 0) return false;
    CPlatformLayer::CloseDevice(fd);
    return true;
}

std::string deviceName(const char* prefix, int k) {
    char buffer[MAX_DEVICE_NAME];
    return CLinuxEnumerateDevices::MakeDeviceName(buffer, prefix, k, false, sizeof buffer);
}

}  // namespace

CLinuxEnumerateDevices::CLinuxEnumerateDevices(bool scanAll) : m_bScanAllDevices(scanAll) {
    KAVER_LOG("CEnumerateDevices::CLinuxEnumerateDevices");
}

CLinuxEnumerateDevices::~CLinuxEnumerateDevices() {}

char* CLinuxEnumerateDevices::MakeDeviceName(char* buffer, const char* prefix, int k, bool numeric,
                                             unsigned int bufferSize) {
    if (buffer == nullptr || bufferSize == 0) return buffer;
    if (prefix == nullptr) prefix = "/dev/sg";
    if (numeric) {
        std::snprintf(buffer, bufferSize, "%s%d", prefix, k);
        return buffer;
    }
    // a..z, aa..zz, aaa..zzz; anything outside that (negative k included)
    // gets a name no device has.
    char suffix[5] = "xxxx";
    if (k >= 0 && k <= 25) {
        suffix[0] = static_cast<char>('a' + k);
        suffix[1] = '\0';
    } else if (k >= 26 && k <= 701) {
        suffix[0] = static_cast<char>('a' + (k - 26) / 26 % 26);
        suffix[1] = static_cast<char>('a' + k % 26);
        suffix[2] = '\0';
    } else if (k >= 702 && k <= 18277) {
        suffix[0] = static_cast<char>('a' + (k - 702) / 676 % 26);
        suffix[1] = static_cast<char>('a' + (k - 26) / 26 % 26);
        suffix[2] = static_cast<char>('a' + k % 26);
        suffix[3] = '\0';
    }
    std::snprintf(buffer, bufferSize, "%s%s", prefix, suffix);
    return buffer;
}

bool CLinuxEnumerateDevices::GetDeviceWithLabel(const std::string& strLabel, std::string& strDeviceName) {
    KAVER_LOG("CEnumerateDevices::GetDeviceWithLabel Start");
    if (!m_bScanAllDevices) {
        if (!GetAllSGDevices()) {
            KAVER_LOG("CEnumerateDevices::GetAllSGDevices failed");
            return false;
        }
        if (!GetEumlatedSGDevices()) {
            KAVER_LOG("CEnumerateDevices::GetEumlatedSGDevices failed");
            return false;
        }
    }
    if (!GetSDDevices()) {
        KAVER_LOG("CEnumerateDevices::GetSDDevices failed");
        return false;
    }
    for (const auto& candidate : m_deviceInfo) {
        if (candidate.second.sdDeviceName.empty()) continue;
        std::string name = candidate.second.sdDeviceName;
        std::string label = getLabel(name);
        if (label.empty()) {
            // No file system on the whole disk: try its first partition.
            name += "1";
            label = getLabel(name);
        }
        if (!label.empty() && label.compare(0, strLabel.size(), strLabel) == 0) {
            strDeviceName = name;
            KAVER_LOG("CEnumerateDevices::GetDeviceWithLabel -> found a device " + name);
            break;
        }
    }
    KAVER_LOG("CEnumerateDevices::GetDeviceWithLabel :End");
    return true;
}

bool CLinuxEnumerateDevices::GetAllSGDevices() {
    KAVER_LOG("CEnumerateDevices::GetAllSGDevices Start");
    if (CPlatformLayer::PathExists(sysfs_sg_dir) && CPlatformLayer::IsDirectory(sysfs_sg_dir)) {
        KAVER_LOG("CEnumerateDevices::GetAllSGDevices sysfs_sg_dir exists");
        const std::vector<std::string> entries = CPlatformLayer::GetFileList(sysfs_sg_dir);
        if (entries.empty() && !opensAsDirectory(sysfs_sg_dir)) return false;
        for (const std::string& entry : entries) m_sgDevices.push_back("/dev/" + entry.substr(entry.rfind('/') + 1));
    } else {
        for (int k : existingLetterNames("sg", kSgNames)) {
            const std::string name = deviceName("/dev/sg", k);
            const int fd = CPlatformLayer::OpenDevice(name, O_RDONLY | O_NONBLOCK);
            if (fd < 0) continue;
            m_sgDevices.push_back(name);
            CPlatformLayer::CloseDevice(fd);
        }
    }
    KAVER_LOG("CEnumerateDevices::GetAllSGDevices Start");
    return true;
}

bool CLinuxEnumerateDevices::GetEumlatedSGDevices() {
    bool found = false;
    for (const std::string& path : m_sgDevices) {
        const int fd = CPlatformLayer::OpenDevice(path, O_RDONLY | O_NONBLOCK);
        if (fd < 0) continue;
        int emulated = 0;
        sg_device_info info;
        std::memset(&info.sg_data, 0, sizeof info.sg_data);
        if (CPlatformLayer::IoctlDevice(fd, kSgEmulatedHost, &emulated) >= 0 && emulated != 0 &&
            CPlatformLayer::IoctlDevice(fd, kSgGetScsiId, &info.sg_data) >= 0) {
            m_deviceInfo[path] = info;
            found = true;
        }
        CPlatformLayer::CloseDevice(fd);
    }
    return found;
}

bool CLinuxEnumerateDevices::GetSDDevices() {
    bool found = false;
    for (int k : existingLetterNames("sd", kSdNames)) {
        const std::string name = deviceName("/dev/sd", k);
        const int fd = CPlatformLayer::OpenDevice(name, O_RDONLY | O_NONBLOCK);
        if (fd < 0) continue;
        scsi_idlun idlun = {0, 0};
        int bus = 0;
        if (CPlatformLayer::IoctlDevice(fd, kScsiIoctlGetIdlun, &idlun) >= 0 &&
            CPlatformLayer::IoctlDevice(fd, kScsiIoctlGetBusNumber, &bus) >= 0) {
            found = true;
            if (m_bScanAllDevices) {
                sg_device_info info;
                std::memset(&info.sg_data, 0, sizeof info.sg_data);
                info.sdDeviceName = name;
                m_deviceInfo[name] = info;
            } else {
                SearchSGDevice(name, idlun, bus);
            }
        }
        CPlatformLayer::CloseDevice(fd);
    }
    return found;
}

bool CLinuxEnumerateDevices::SearchSGDevice(const std::string& sdName, const scsi_idlun& idlun, int busNumber) {
    const int scsiId = idlun.dev_id & 0xFF;
    const int lun = (idlun.dev_id >> 8) & 0xFF;
    const int channel = (idlun.dev_id >> 16) & 0xFF;
    bool matched = false;
    for (auto& candidate : m_deviceInfo) {
        const sg_scsi_id& sg = candidate.second.sg_data;
        if (sg.host_no == busNumber && sg.scsi_id == scsiId && sg.lun == lun && sg.channel == channel) {
            candidate.second.sdDeviceName = sdName;
            matched = true;
        }
    }
    return matched;
}
