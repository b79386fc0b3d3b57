// SPDX-License-Identifier: Apache-2.0
#include "DeviceInfo.h"

#include <cstdio>

#include "Logger.h"

namespace {

std::string& downloadSiteBaseURL() {
    static std::string url = "https://downloads.example.invalid/";
    return url;
}

std::string hex(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(value));
    return text;
}

bool samePCIIds(const SPCIInfo& a, const SPCIInfo& b) {
    return a.m_strCompID == b.m_strCompID && a.m_strDeviceID == b.m_strDeviceID &&
           a.m_strSubDeviceID == b.m_strSubDeviceID && a.m_strVendorID == b.m_strVendorID &&
           a.m_strSubVendorID == b.m_strSubVendorID;
}

}  // namespace

CDeviceInfo::CDeviceInfo()
    : m_deviceType(UNKNOWN_DEVICE),
      m_dependencyType(NODEP),
      m_msgID(0),
      m_nStatus(0),
      m_nUpdateStatus(0),
      m_bRebootRequired(false),
      m_SBDFInfo{0, 0, 0} {}

bool CDeviceInfo::operator==(const CDeviceInfo& other) const {
    return m_componentType == other.m_componentType && m_strComponentID == other.m_strComponentID &&
           m_dependencyType == other.m_dependencyType && m_strVersion == other.m_strVersion &&
           m_strDisplay == other.m_strDisplay && m_strDetail == other.m_strDetail &&
           m_strFilePath == other.m_strFilePath && samePCIIds(m_PCIInfo, other.m_PCIInfo);
}

void CDeviceInfo::setPCIInfo(uint16_t deviceId, uint16_t subDeviceId, uint16_t vendorId, uint16_t subVendorId) {
    m_PCIInfo.m_strDeviceID = hex(deviceId);
    BASEUTILS_LOG("CDeviceInfo::setPCIInfo() Device id " + m_PCIInfo.m_strDeviceID);
    m_PCIInfo.m_strSubDeviceID = hex(subDeviceId);
    BASEUTILS_LOG("CDeviceInfo::setPCIInfo() SubDevice id " + m_PCIInfo.m_strSubDeviceID);
    m_PCIInfo.m_strVendorID = hex(vendorId);
    BASEUTILS_LOG("CDeviceInfo::setPCIInfo() Vendor id " + m_PCIInfo.m_strVendorID);
    m_PCIInfo.m_strSubVendorID = hex(subVendorId);
    BASEUTILS_LOG("CDeviceInfo::setPCIInfo() SubVendor id " + m_PCIInfo.m_strSubVendorID);
}

void CDeviceInfo::setPCIInfo(const SPCIInfo& info) { m_PCIInfo = info; }
SPCIInfo CDeviceInfo::getPCIInfo() const { return m_PCIInfo; }

void CDeviceInfo::setBDFInfo(uint8_t bus, uint8_t dev, uint8_t fun) {
    m_SBDFInfo.u8Bus = bus;
    BASEUTILS_LOG("CNVMeAdapter::setBDFInfo() Bus Number is " + std::to_string(bus));
    m_SBDFInfo.u8Dev = dev;
    BASEUTILS_LOG("CNVMeAdapter::setBDFInfo() Device Number is " + std::to_string(dev));
    m_SBDFInfo.u8Fun = fun;
    BASEUTILS_LOG("CNVMeAdapter::setBDFInfo() Function Number is " + std::to_string(fun));
}

void CDeviceInfo::setBDFInfo(const BDFInfo& info) { m_SBDFInfo = info; }
BDFInfo CDeviceInfo::getBDFInfo() const { return m_SBDFInfo; }

std::string CDeviceInfo::getFilePath() {
    for (char& c : m_strFilePath)
        if (c == '\\') c = '/';
    return downloadSiteBaseURL() + m_strFilePath;
}

std::string CDeviceInfo::getRelativeFilePath() const { return m_strFilePath; }
void CDeviceInfo::setFilePath(const std::string& path) { m_strFilePath = path; }

void CDeviceInfo::setDownloadSiteBaseURL(const std::string& url) { downloadSiteBaseURL() = url; }
std::string CDeviceInfo::getDownloadSiteBaseURL() { return downloadSiteBaseURL(); }

void CDeviceInfo::setReleaseID(const std::string& value) { m_strReleaseID = value; }
std::string CDeviceInfo::getReleaseID() const { return m_strReleaseID; }
void CDeviceInfo::setComponentID(const std::string& value) { m_strComponentID = value; }
std::string CDeviceInfo::getComponentID() const { return m_strComponentID; }
void CDeviceInfo::setParentComponentID(const std::string& value) { m_strParentComponentID = value; }
std::string CDeviceInfo::getParentComponentID() const { return m_strParentComponentID; }
void CDeviceInfo::setComponentType(const std::string& value) { m_componentType = value; }
std::string CDeviceInfo::getComponentType() const { return m_componentType; }
void CDeviceInfo::setDeviceName(const std::string& value) { m_strDeviceName = value; }
std::string CDeviceInfo::getDeviceName() const { return m_strDeviceName; }
void CDeviceInfo::setVersion(const std::string& value) { m_strVersion = value; }
std::string CDeviceInfo::getVersion() const { return m_strVersion; }
void CDeviceInfo::setDeviceType(eDeviceType value) { m_deviceType = value; }
eDeviceType CDeviceInfo::getDeviceType() const { return m_deviceType; }
void CDeviceInfo::setDependencyType(eDependencyType value) { m_dependencyType = value; }
eDependencyType CDeviceInfo::getDependencyType() const { return m_dependencyType; }
void CDeviceInfo::setMsgID(int value) { m_msgID = value; }
int CDeviceInfo::getMsgID() const { return m_msgID; }
void CDeviceInfo::setStatus(int value) { m_nStatus = value; }
int CDeviceInfo::getStatus() const { return m_nStatus; }
void CDeviceInfo::setErrMsg(const std::string& value) { m_strErrMsg = value; }
std::string CDeviceInfo::getErrMsg() const { return m_strErrMsg; }
void CDeviceInfo::setUpdateStatus(int value) { m_nUpdateStatus = value; }
int CDeviceInfo::getUpdateStatus() const { return m_nUpdateStatus; }
void CDeviceInfo::setDisplay(const std::string& value) { m_strDisplay = value; }
std::string CDeviceInfo::getDisplay() const { return m_strDisplay; }
void CDeviceInfo::setDetail(const std::string& value) { m_strDetail = value; }
std::string CDeviceInfo::getDetail() const { return m_strDetail; }
void CDeviceInfo::setCurrentVersion(const std::string& value) { m_strCurrentVersion = value; }
std::string CDeviceInfo::getCurrentVersion() const { return m_strCurrentVersion; }
void CDeviceInfo::setEnumID(const std::string& value) { m_strEnumID = value; }
std::string CDeviceInfo::getEnumID() const { return m_strEnumID; }
void CDeviceInfo::setRebootRequired(bool value) { m_bRebootRequired = value; }
bool CDeviceInfo::getRebootRequired() const { return m_bRebootRequired; }
