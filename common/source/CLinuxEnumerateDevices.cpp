// One scan of the host's SCSI disks, and the naming of candidate devices.
#include "CLinuxEnumerateDevices.h"

#include <cstdio>

#include "zemt.h"

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
