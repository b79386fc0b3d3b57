// SPDX-License-Identifier: Apache-2.0
#include "SoftwareComponentInfo.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>
#include <strings.h>

#include <memory>

#include "Logger.h"
#include "PlatformLayer.h"
#include "XmlRead.h"

namespace {

const char* const kPackageXml = "package.xml";
const char* const kEnableDebug = "enabledebug.txt";
const char* const kComponentExpr = "//SoftwareComponent";
const char* const kComponentTypeExpr = "//SoftwareComponent/ComponentType";
const char* const kDeviceExpr = "//SoftwareComponent/SupportedDevices/Device";
const char* const kRollbackExpr = "//SoftwareComponent/SupportedDevices/Device/RollbackInformation";
const char* const kDependencyExpr =
    " //SoftwareComponent/SupportedDevices/Device/Dependency | //SoftwareComponent/SupportedDevices/Device/SoftDependency";
const char* const QUERYCOMPID = "/SVMInventory/Device[@componentID = \"";
const char* const XPATH_SUFFIX = "\"]";

// Releases a node set when the query that asked for it is done.
struct NodeSetFree {
    void operator()(xmlXPathObject* set) const { xmlXPathFreeObject(set); }
};
typedef std::unique_ptr<xmlXPathObject, NodeSetFree> NodeSet;

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

int count(const NodeSet& set) { return set && set->nodesetval ? set->nodesetval->nodeNr : 0; }
xmlNode* nodeAt(const NodeSet& set, int i) { return set->nodesetval->nodeTab[i]; }

bool named(const xmlNode* node, const char* name) {
    return node->type == XML_ELEMENT_NODE && xmlStrcmp(node->name, BAD_CAST name) == 0;
}
bool namedIgnoringCase(const xmlNode* node, const char* name) {
    return node->type == XML_ELEMENT_NODE && xmlStrcasecmp(node->name, BAD_CAST name) == 0;
}

bool equalIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

std::string padded(const std::string& id) { return id.size() >= 4 ? id : std::string(4 - id.size(), '0') + id; }

// Evaluates `expr` on `doc`; a result without nodes is released and null.
xmlXPathObject* evaluate(xmlDoc* doc, const std::string& expr, const char* contextError, const char* evalError,
                         bool logEmpty) {
    if (doc == nullptr) return nullptr;
    xmlXPathContext* context = xmlXPathNewContext(doc);
    if (context == nullptr) {
        BASEUTILS_LOG(contextError);
        return nullptr;
    }
    xmlXPathObject* result = xmlXPathEvalExpression(BAD_CAST expr.c_str(), context);
    xmlXPathFreeContext(context);
    if (result == nullptr) {
        BASEUTILS_LOG(evalError);
        return nullptr;
    }
    if (xmlXPathNodeSetIsEmpty(result->nodesetval)) {
        xmlXPathFreeObject(result);
        if (logEmpty) BASEUTILS_LOG("CSoftwareComponentInfo::GetNodeSet() Empty nodeset");
        return nullptr;
    }
    return result;
}

SPCIInfo pciIdsOf(const xmlNode* pci) {
    SPCIInfo info;
    info.m_strDeviceID = xmlread::attribute(pci, "deviceID");
    info.m_strSubDeviceID = xmlread::attribute(pci, "subDeviceID");
    info.m_strVendorID = xmlread::attribute(pci, "vendorID");
    info.m_strSubVendorID = xmlread::attribute(pci, "subVendorID");
    return info;
}

// One attribute of a dependency element into the record; a missing one is
// logged with the attribute's name.
void readDependencyAttribute(const xmlNode* node, const char* name, void (CDeviceInfo::*set)(const std::string&),
                             CDeviceInfo& device) {
    const std::string value = xmlread::attribute(node, name);
    if (value.empty())
        BASEUTILS_LOG(std::string("CSoftwareComponentInfo::getDependencyInfo() failed to get the ") + name +
                      " info from package.xml for dependent device");
    (device.*set)(value);
}

}  // namespace

CSoftwareComponentInfo::CSoftwareComponentInfo() : m_pDocXml(nullptr) {
    if (CPlatformLayer::IsFileExits(kEnableDebug)) CLogger::GetInstance()->Initialize("baseutils.log");
    BASEUTILS_LOG("CSoftwareComponentInfo::CSoftwareComponentInfo() Entering Constructor Method");
    ParseXMl();
}

CSoftwareComponentInfo::~CSoftwareComponentInfo() { freeDocument(); }

void CSoftwareComponentInfo::freeDocument() {
    if (m_pDocXml != nullptr) xmlFreeDoc(m_pDocXml);
    m_pDocXml = nullptr;
}

void CSoftwareComponentInfo::ParseXMl() {
    BASEUTILS_LOG("CSoftwareComponentInfo::Init() Entering");
    xmlKeepBlanksDefault(0);
    freeDocument();
    m_strFileName = CPlatformLayer::getCurrentDirectory() + kPackageXml;
    if (!CPlatformLayer::IsFileExits(kPackageXml)) return;
    m_pDocXml = xmlread::parseFile(m_strFileName);
    if (m_pDocXml == nullptr)
        BASEUTILS_LOG("CSoftwareComponentInfo::Init() Document " + m_strFileName + " not parsed successfully ");
    BASEUTILS_LOG("CSoftwareComponentInfo::Init() Exiting");
}

xmlXPathObject* CSoftwareComponentInfo::GetNodeSet(xmlDoc* doc, const std::string& expr) {
    BASEUTILS_LOG("CSoftwareComponentInfo::GetNodeSet() Entering");
    xmlXPathObject* result = evaluate(doc, expr, "CSoftwareComponentInfo::GetNodeSet() Error in xmlXPathNewContext",
                                      "CSoftwareComponentInfo::GetNodeSet() Error in xmlXPathEvalExpression", true);
    if (result != nullptr) BASEUTILS_LOG("CSoftwareComponentInfo::GetNodeSet() Exiting");
    return result;
}

xmlXPathObject* CSoftwareComponentInfo::getnodeset(xmlDoc* doc, const std::string& expr) {
    return evaluate(doc, expr, "CIdentityModuleInventory::getnodeset :: Error in xmlXPathNewContext",
                    "CIdentityModuleInventory::getnodeset :: Error in xmlXPathEvalExpression", false);
}

xmlXPathObject* CSoftwareComponentInfo::ParseXmlUsingXpath(const std::string& expr) {
    freeDocument();
    if (!CPlatformLayer::IsFileExits(kPackageXml)) return nullptr;
    m_pDocXml = xmlread::parseFile(m_strFileName);
    return GetNodeSet(m_pDocXml, expr);
}

xmlXPathObject* CSoftwareComponentInfo::ParseXmlUsingXpath() {
    BASEUTILS_LOG("CSoftwareComponentInfo::ParseXmlUsingXpath() Entering");
    xmlXPathObject* result = ParseXmlUsingXpath(kDeviceExpr);
    BASEUTILS_LOG("CSoftwareComponentInfo::ParseXmlUsingXpath() Exiting");
    return result;
}

std::string CSoftwareComponentInfo::GetAttributeValue(xmlNode* node, const std::string& name) {
    return xmlread::attribute(node, name.c_str());
}

std::string CSoftwareComponentInfo::GetComponentVersion() {
    NodeSet set(ParseXmlUsingXpath(kComponentExpr));
    std::string version;
    for (int i = 0; i < count(set); ++i) version = GetAttributeValue(nodeAt(set, i), "vendorVersion");
    return version;
}

std::string CSoftwareComponentInfo::GetComponentType() {
    NodeSet set(ParseXmlUsingXpath(kComponentTypeExpr));
    std::string type;
    for (int i = 0; i < count(set); ++i) type = GetAttributeValue(nodeAt(set, i), "value");
    return type;
}

std::string CSoftwareComponentInfo::GetComponentID() {
    BASEUTILS_LOG("Entering CSoftwareComponentInfo::GetComponentID()");
    NodeSet set(ParseXmlUsingXpath());
    std::string id;
    if (count(set) > 0) id = GetAttributeValue(nodeAt(set, 0), "componentID");
    BASEUTILS_LOG("Found the component id as " + id);
    BASEUTILS_LOG("Leaving CSoftwareComponentInfo::GetComponentID()");
    return id;
}

std::string CSoftwareComponentInfo::GetComponentDisplayString() {
    NodeSet set(ParseXmlUsingXpath());
    std::string display;
    if (count(set) > 0)
        for (xmlNode* child = nodeAt(set, 0)->children; child; child = child->next)
            if (namedIgnoringCase(child, "Display")) {
                display = xmlread::content(child);
                break;
            }
    if (display.empty())
        BASEUTILS_LOG(
            "CSoftwareComponentInfo::GetComponentDisplayString() failed to get the Display info from package.xml for "
            "device");
    else
        BASEUTILS_LOG("CSoftwareComponentInfo::GetComponentDisplayString() " + display);
    return display;
}

bool CSoftwareComponentInfo::getPresenceOfRollbackInfo() {
    BASEUTILS_LOG("Entering getPresenceOfGuid function");
    NodeSet set(ParseXmlUsingXpath(kRollbackExpr));
    const bool present = count(set) > 0;
    BASEUTILS_LOG(present ? "GUID Tag found in package.xml" : "ParseXmlUsingXpath failed");
    BASEUTILS_LOG("Leaving getPresenceOfGuid function");
    return present;
}

std::vector<CDeviceInfo*> CSoftwareComponentInfo::getDependencyInfo() {
    BASEUTILS_LOG("CSoftwareComponentInfo::getDependencyInfo() Entered Method");
    std::vector<CDeviceInfo*> list;
    NodeSet set(ParseXmlUsingXpath(kDependencyExpr));
    if (count(set) == 0) {
        BASEUTILS_LOG("CSoftwareComponentInfo::getDependencyInfo() ParseXmlUsingXpath failed");
        return list;
    }
    for (int i = 0; i < count(set); ++i) {
        const xmlNode* node = nodeAt(set, i);
        std::unique_ptr<CDeviceInfo> device(new (std::nothrow) CDeviceInfo());
        if (!device) {
            BASEUTILS_LOG("CSoftwareComponentInfo::getDependencyInfo() new  ( std::nothrow ) CDeviceInfo() failed");
            break;
        }
        device->setDeviceType(NON_PCI_DEVICE);
        if (namedIgnoringCase(node, "SoftDependency")) {
            device->setDependencyType(SOFT);
            BASEUTILS_LOG("CSoftwareComponentInfo::getDependencyInfo() Found SoftDependecny");
        } else {
            device->setDependencyType(HARD);
            BASEUTILS_LOG("CSoftwareComponentInfo::getDependencyInfo() Found HardDependency");
        }
        const std::string parent = xmlread::attribute(node->parent, "componentID");
        BASEUTILS_LOG(parent.empty() ? "CSoftwareComponentInfo::getDependencyInfo() failed to get the parent "
                                       "componentID info from package.xml"
                                     : "CSoftwareComponentInfo::getDependencyInfo() got the parent componentID info "
                                       "from package.xml");
        device->setParentComponentID(parent);
        readDependencyAttribute(node, "componentID", &CDeviceInfo::setComponentID, *device);
        readDependencyAttribute(node, "componentType", &CDeviceInfo::setComponentType, *device);
        readDependencyAttribute(node, "version", &CDeviceInfo::setVersion, *device);
        readDependencyAttribute(node, "path", &CDeviceInfo::setFilePath, *device);
        readDependencyAttribute(node, "releaseID", &CDeviceInfo::setReleaseID, *device);

        std::vector<SPCIInfo> pcis;
        for (const xmlNode* child = node->children; child; child = child->next) {
            if (named(child, "Display") || named(child, "Detail")) {
                const bool display = named(child, "Display");
                const std::string text = xmlread::content(child);
                if (text.empty())
                    BASEUTILS_LOG(std::string("CSoftwareComponentInfo::getDependencyInfo() failed to get the ") +
                                  (display ? "Display" : "Detail") + " info from package.xml for dependent device");
                if (display) device->setDisplay(text);
                else device->setDetail(text);
            } else if (named(child, "PCIInfo")) {
                device->setDeviceType(PCI_DEVICE);
                BASEUTILS_LOG("CSoftwareComponentInfo::getDependencyInfo() Found a PCI Device");
                pcis.push_back(pciIdsOf(child));
            }
        }
        if (pcis.empty()) {
            AddDependencyInfo(list, device.release());
            continue;
        }
        for (const SPCIInfo& pci : pcis) {
            CDeviceInfo* copy = new CDeviceInfo(*device);
            copy->setPCIInfo(pci);
            BASEUTILS_LOG("CSoftwareComponentInfo::getDependencyInfo() Adding dependency info for a PCI Device");
            AddDependencyInfo(list, copy);
        }
    }
    BASEUTILS_LOG("CSoftwareComponentInfo::getDependencyInfo() Exiting");
    return list;
}

void CSoftwareComponentInfo::AddDependencyInfo(std::vector<CDeviceInfo*>& list, CDeviceInfo* device) {
    for (const CDeviceInfo* listed : list) {
        if (*listed == *device) {
            BASEUTILS_LOG("CSoftwareComponentInfo::AddDependencyInfo() Found a duplicate entry");
            delete device;
            return;
        }
    }
    list.push_back(device);
}

std::vector<SPCIInfo> CSoftwareComponentInfo::GetSupportedDevices() {
    BASEUTILS_LOG("CSoftwareComponentInfo::GetSupportedDevices() Entering");
    std::vector<SPCIInfo> devices;
    NodeSet set(ParseXmlUsingXpath(kDeviceExpr));
    if (count(set) == 0)
        BASEUTILS_LOG("CSoftwareComponentInfo::GetSupportedDevices() Error during calculating xpath expression");
    else
        BASEUTILS_LOG("CSoftwareComponentInfo::GetSupportedDevices() Found Some Device Nodes");
    for (int i = 0; i < count(set); ++i) {
        const xmlNode* device = nodeAt(set, i);
        BASEUTILS_LOG("CSoftwareComponentInfo::GetSupportedDevices() Finding the Component ID and PCI Info");
        const std::string compId = xmlread::attribute(device, "componentID");
        const std::size_t first = devices.size();
        std::string name;
        for (const xmlNode* child = device->children; child; child = child->next) {
            if (named(child, "PCIInfo")) {
                BASEUTILS_LOG("CSoftwareComponentInfo::GetSupportedDevices() Found a PCI Device");
                SPCIInfo pci = pciIdsOf(child);
                pci.m_strCompID = compId;
                pci.m_strDeviceID = padded(pci.m_strDeviceID);
                pci.m_strSubDeviceID = padded(pci.m_strSubDeviceID);
                pci.m_strVendorID = padded(pci.m_strVendorID);
                pci.m_strSubVendorID = padded(pci.m_strSubVendorID);
                devices.push_back(pci);
            } else if (named(child, "Display")) {
                BASEUTILS_LOG("CSoftwareComponentInfo::GetSupportedDevices() Found a Display element under Device "
                              "element");
                name = xmlread::content(child);
                BASEUTILS_LOG(
                    "CSoftwareComponentInfo::GetSupportedDevices() Got the marketing name/Display name for a PCI "
                    "Device as " +
                    name);
            }
        }
        for (std::size_t k = first; k < devices.size(); ++k) devices[k].m_strMarketingName = name;
    }
    BASEUTILS_LOG("CSoftwareComponentInfo::GetSupportedDevices() Exiting");
    return devices;
}

void CSoftwareComponentInfo::getMarketingNameForPCIDevice(SPCIInfo& pci) {
    BASEUTILS_LOG("CSoftwareComponentInfo::getMarketingNameForPCIDevice() Entering");
    for (const SPCIInfo& device : GetSupportedDevices()) {
        if (equalIgnoringCase(device.m_strDeviceID, pci.m_strDeviceID) &&
            equalIgnoringCase(device.m_strSubDeviceID, pci.m_strSubDeviceID) &&
            equalIgnoringCase(device.m_strVendorID, pci.m_strVendorID) &&
            equalIgnoringCase(device.m_strSubVendorID, pci.m_strSubVendorID)) {
            pci.m_strMarketingName = device.m_strMarketingName;
            BASEUTILS_LOG(
                "CSoftwareComponentInfo::getMarketingNameForPCIDevice() Found a match with PCI Devices from "
                "package.xml");
            break;
        }
    }
    BASEUTILS_LOG("CSoftwareComponentInfo::getMarketingNameForPCIDevice() Exiting");
}

std::map<std::string, std::string> CSoftwareComponentInfo::getCompIDMarkNameInfo() {
    std::map<std::string, std::string> names;
    NodeSet set(ParseXmlUsingXpath(kDeviceExpr));
    for (int i = 0; i < count(set); ++i) {
        const xmlNode* device = nodeAt(set, i);
        const std::string compId = xmlread::attribute(device, "componentID");
        if (compId.empty()) continue;
        BASEUTILS_LOG("GetCompIDMarkNameInfo() Found the Component ID as " + compId);
        for (const xmlNode* child = device->children; child; child = child->next) {
            if (!named(child, "Display")) continue;
            const std::string name = xmlread::content(child);
            BASEUTILS_LOG("GetCompIDMarkNameInfo() Got the marketing name/Display name for a Non-PCI Device with "
                          "Component ID " +
                          compId + " as " + name);
            names[compId] = name;
            break;
        }
    }
    return names;
}

std::string CSoftwareComponentInfo::getMarketingNameForNonPCIDevice(std::string& compId) {
    for (const auto& entry : getCompIDMarkNameInfo()) {
        if (equalIgnoringCase(entry.first, compId)) {
            BASEUTILS_LOG("getMarketingNameForNonPCIDevice() Found a match with Non-PCI Devices from package.xml");
            return entry.second;
        }
    }
    return std::string();
}

bool CSoftwareComponentInfo::GetInvFromRQL(std::string compId, std::stringstream& in, std::stringstream& out) {
    std::unique_ptr<xmlDoc, DocFree> doc(xmlread::parseText(in.str()));
    if (!doc) return false;
    // The id is placed inside a quoted XPath literal: a quote in it would
    // end the literal and turn the rest into expression text.
    NodeSet set;
    if (compId.find('"') == std::string::npos)
        set.reset(getnodeset(doc.get(), QUERYCOMPID + compId + XPATH_SUFFIX));
    if (count(set) == 0) {
        BASEUTILS_LOG("CIdentityModuleInventory::GetInvFromRQL:: component ID not found");
        return false;
    }
    BASEUTILS_LOG("CIdentityModuleInventory::GetInvFromRQL:: component ID found");
    for (int i = 0; i < count(set); ++i) {
        xmlBuffer* buffer = xmlBufferCreate();
        if (buffer == nullptr) continue;
        if (xmlNodeDump(buffer, doc.get(), nodeAt(set, i), 0, 0) >= 0)
            out << reinterpret_cast<const char*>(xmlBufferContent(buffer));
        xmlBufferFree(buffer);
    }
    return true;
}
