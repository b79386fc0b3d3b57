/* SPDX-License-Identifier: Apache-2.0 */
#ifndef ZEMT_DEVICE_INFO_H
#define ZEMT_DEVICE_INFO_H

#include <stdint.h>

#include <string>

#include "zemt_export.h"

enum eDeviceType { UNKNOWN_DEVICE = 0, PCI_DEVICE = 1, NON_PCI_DEVICE = 2 };
enum eDependencyType { NODEP = 0, HARD = 1, SOFT = 2 };

// PCI identity of a device as a package descriptor writes it (hexadecimal
// text), with the component it belongs to and its marketing name.
struct SPCIInfo {
    std::string m_strCompID;
    std::string m_strDeviceID;
    std::string m_strSubDeviceID;
    std::string m_strVendorID;
    std::string m_strSubVendorID;
    std::string m_strMarketingName;
};

// Bus, device and function number of a PCI device.
struct BDFInfo {
    uint8_t u8Bus;
    uint8_t u8Dev;
    uint8_t u8Fun;
};

// One device or dependency read from a package descriptor.
class ZEMT_API CDeviceInfo {
public:
    CDeviceInfo();

    // Equal when component type, component id, dependency type, version,
    // display text, detail text, file path and the five PCI id texts are
    // equal; the other fields do not count.
    bool operator==(const CDeviceInfo& other) const;

    // The ids as lower-case hexadecimal text without prefix.
    void setPCIInfo(uint16_t deviceId, uint16_t subDeviceId, uint16_t vendorId, uint16_t subVendorId);
    void setPCIInfo(const SPCIInfo& info);
    SPCIInfo getPCIInfo() const;
    void setBDFInfo(uint8_t bus, uint8_t dev, uint8_t fun);
    void setBDFInfo(const BDFInfo& info);
    BDFInfo getBDFInfo() const;

    // Download location of the dependency: the download site's base URL
    // followed by the descriptor's path, whose back-slashes are turned into
    // forward slashes (in the record too).
    std::string getFilePath();
    // The path as the descriptor gave it (after any getFilePath()).
    std::string getRelativeFilePath() const;
    void setFilePath(const std::string& path);

    // Base URL getFilePath() starts with; process-wide.  The maker's site
    // is deployment configuration, so the default is a placeholder that
    // names no real host: "https://downloads.example.invalid/".
    static void setDownloadSiteBaseURL(const std::string& url);
    static std::string getDownloadSiteBaseURL();

    void setReleaseID(const std::string& value);
    std::string getReleaseID() const;
    void setComponentID(const std::string& value);
    std::string getComponentID() const;
    void setParentComponentID(const std::string& value);
    std::string getParentComponentID() const;
    void setComponentType(const std::string& value);
    std::string getComponentType() const;
    void setDeviceName(const std::string& value);
    std::string getDeviceName() const;
    void setVersion(const std::string& value);
    std::string getVersion() const;
    void setDeviceType(eDeviceType value);
    eDeviceType getDeviceType() const;
    void setDependencyType(eDependencyType value);
    eDependencyType getDependencyType() const;
    void setMsgID(int value);
    int getMsgID() const;
    void setStatus(int value);
    int getStatus() const;
    void setErrMsg(const std::string& value);
    std::string getErrMsg() const;
    void setUpdateStatus(int value);
    int getUpdateStatus() const;
    void setDisplay(const std::string& value);
    std::string getDisplay() const;
    void setDetail(const std::string& value);
    std::string getDetail() const;
    void setCurrentVersion(const std::string& value);
    std::string getCurrentVersion() const;
    void setEnumID(const std::string& value);
    std::string getEnumID() const;
    void setRebootRequired(bool value);
    bool getRebootRequired() const;

private:
    std::string m_strReleaseID;
    std::string m_strComponentID;
    std::string m_strParentComponentID;
    std::string m_componentType;
    std::string m_strDeviceName;
    std::string m_strVersion;
    SPCIInfo m_PCIInfo;
    eDeviceType m_deviceType;
    eDependencyType m_dependencyType;
    int m_msgID;
    int m_nStatus;
    std::string m_strErrMsg;
    int m_nUpdateStatus;
    std::string m_strDisplay;
    std::string m_strDetail;
    std::string m_strFilePath;
    std::string m_strCurrentVersion;
    std::string m_strEnumID;
    bool m_bRebootRequired;
    BDFInfo m_SBDFInfo;
};

#endif
