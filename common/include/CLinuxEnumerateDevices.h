/* SPDX-License-Identifier: Apache-2.0 */
#ifndef ZEMT_CLINUXENUMERATEDEVICES_H
#define ZEMT_CLINUXENUMERATEDEVICES_H

#include <scsi/sg.h>
#include <stddef.h>

#include <list>
#include <map>
#include <string>

#include "zemt_export.h"

// A candidate disk: the SCSI address of an sg device and the sd device
// found at the same address (empty until paired).
struct sg_device_info {
    struct sg_scsi_id sg_data;
    std::string sdDeviceName;
};

// Answer of the SCSI_IOCTL_GET_IDLUN request.  In dev_id, bits 0-7 are the
// SCSI id, bits 8-15 the LUN and bits 16-23 the channel.
struct scsi_idlun {
    int dev_id;
    int host_unique_id;
};

// Room MakeDeviceName assumes when the caller does not state the size.
const unsigned int MAX_DEVICE_NAME = 64;

// One scan of the host's SCSI disks for the one carrying a FAT volume label.
class ZEMT_API CLinuxEnumerateDevices {
public:
    explicit CLinuxEnumerateDevices(bool scanAll);
    ~CLinuxEnumerateDevices();

    // The k-th name of a device family: prefix ("/dev/sg" when null) plus
    // k in decimal, or plus letters a..z, aa..zz, aaa..zzz (k 0..18277) and
    // "xxxx" beyond.  The result is cut to fit bufferSize bytes.
    static char* MakeDeviceName(char* buffer, const char* prefix, int k, bool numeric,
                                unsigned int bufferSize = MAX_DEVICE_NAME);

    // The FAT volume label stored in the root directory of the device
    // (11 characters, blank-padded), or empty text when the device cannot
    // be read, holds no FAT file system or has no label entry.
    static std::string getLabel(const std::string& path);

    // One scan: the sd device (or its first partition) whose FAT label
    // starts with strLabel.  False when a scan step failed; true otherwise,
    // with strDeviceName set only when a disk matched.
    bool GetDeviceWithLabel(const std::string& strLabel, std::string& strDeviceName);
    // The sg device paths of the host, into m_sgDevices.
    bool GetAllSGDevices();
    // The sg devices on emulated SCSI hosts (USB storage), into m_deviceInfo.
    bool GetEumlatedSGDevices();
    // The sd devices answering the SCSI address requests, paired with the
    // candidates (or, in scan-all mode, taken as candidates themselves).
    bool GetSDDevices();
    // Pairs sdName with every candidate at the same SCSI address.
    bool SearchSGDevice(const std::string& sdName, const scsi_idlun& idlun, int busNumber);

    std::map<std::string, sg_device_info> m_deviceInfo;
    std::list<std::string> m_sgDevices;
    bool m_bScanAllDevices;

private:
    CLinuxEnumerateDevices(const CLinuxEnumerateDevices&) = delete;
    CLinuxEnumerateDevices& operator=(const CLinuxEnumerateDevices&) = delete;
};

#endif
