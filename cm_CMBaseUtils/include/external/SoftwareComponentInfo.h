/* SPDX-License-Identifier: Apache-2.0 */
#ifndef ZEMT_SOFTWARE_COMPONENT_INFO_H
#define ZEMT_SOFTWARE_COMPONENT_INFO_H

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "DeviceInfo.h"
#include "zemt_export.h"

// libxml2's document, node and XPath result types, declared here so that
// users of this header need not include libxml2's.
struct _xmlDoc;
struct _xmlNode;
struct _xmlXPathObject;

// Reader of the update package's descriptor "package.xml" in the current
// directory.  A missing or malformed descriptor (or one larger than 4 MiB)
// gives empty results, false or null from every query.  Node sets handed
// out by the public XPath helpers belong to the caller
// (xmlXPathFreeObject); the queries release their own.
class ZEMT_API CSoftwareComponentInfo {
public:
    CSoftwareComponentInfo();
    ~CSoftwareComponentInfo();

    void ParseXMl();
    _xmlXPathObject* ParseXmlUsingXpath();
    _xmlXPathObject* ParseXmlUsingXpath(const std::string& expr);
    _xmlXPathObject* GetNodeSet(_xmlDoc* doc, const std::string& expr);
    _xmlXPathObject* getnodeset(_xmlDoc* doc, const std::string& expr);
    // Empty when the attribute is missing or has no text.
    std::string GetAttributeValue(_xmlNode* node, const std::string& name);

    std::string GetComponentVersion();
    std::string GetComponentType();
    std::string GetComponentID();
    std::string GetComponentDisplayString();
    bool getPresenceOfRollbackInfo();
    std::vector<SPCIInfo> GetSupportedDevices();

    // Hard and soft dependencies, one record per PCI identity, without
    // duplicates; the caller deletes the records.
    std::vector<CDeviceInfo*> getDependencyInfo();
    // Appends `device` unless an equal record is listed; takes ownership
    // either way (a duplicate is deleted).
    void AddDependencyInfo(std::vector<CDeviceInfo*>& list, CDeviceInfo* device);

    void getMarketingNameForPCIDevice(SPCIInfo& pci);
    std::map<std::string, std::string> getCompIDMarkNameInfo();
    std::string getMarketingNameForNonPCIDevice(std::string& compId);

    // Writes the Device elements of the inventory document `in` whose
    // componentID is `compId` to `out`; false when there is none.
    bool GetInvFromRQL(std::string compId, std::stringstream& in, std::stringstream& out);

private:
    CSoftwareComponentInfo(const CSoftwareComponentInfo&) = delete;
    CSoftwareComponentInfo& operator=(const CSoftwareComponentInfo&) = delete;

    void freeDocument();

    std::string m_strFileName;
    _xmlDoc* m_pDocXml;
};

#endif
