// SPDX-License-Identifier: Apache-2.0
// What the library's descriptor reader finds in package.xml, gathered from
// its queries: the component, the supported devices (those with PCI
// identities from GetSupportedDevices, the others from their names), the
// dependencies and whether rollback information is there.
#include "Package.h"

#include <libxml/xpath.h>

#include <map>
#include <memory>

#include "SoftwareComponentInfo.h"

namespace zemt_tool {

namespace {

Json jsonPci(const SPCIInfo& pci) {
    return Json{{"vendorID", pci.m_strVendorID},
                {"deviceID", pci.m_strDeviceID},
                {"subVendorID", pci.m_strSubVendorID},
                {"subDeviceID", pci.m_strSubDeviceID}};
}

Json textOrNull(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

}  // namespace

std::string pciText(const SPCIInfo& pci) {
    return pci.m_strVendorID + ":" + pci.m_strDeviceID + " (sub " + pci.m_strSubVendorID + ":" +
           pci.m_strSubDeviceID + ")";
}

PackageView readPackage() {
    PackageView view;
    CSoftwareComponentInfo reader;
    std::unique_ptr<xmlXPathObject, void (*)(xmlXPathObjectPtr)> root(reader.ParseXmlUsingXpath("/SoftwareComponent"),
                                                                      &xmlXPathFreeObject);
    view.recognised = root != nullptr;
    if (!view.recognised) return view;
    view.componentId = reader.GetComponentID();
    view.version = reader.GetComponentVersion();
    view.type = reader.GetComponentType();
    view.display = reader.GetComponentDisplayString();
    view.rollbackInformation = reader.getPresenceOfRollbackInfo();

    std::map<std::string, PackageDevice> devices;
    for (const auto& named : reader.getCompIDMarkNameInfo()) devices[named.first] = {named.first, named.second, {}};
    for (const SPCIInfo& pci : reader.GetSupportedDevices()) {
        PackageDevice& device = devices[pci.m_strCompID];
        device.componentId = pci.m_strCompID;
        if (device.name.empty()) device.name = pci.m_strMarketingName;
        device.pci.push_back(pci);
    }
    for (const auto& device : devices) view.devices.push_back(device.second);

    for (CDeviceInfo* info : reader.getDependencyInfo()) {
        std::unique_ptr<CDeviceInfo> owned(info);
        PackageDependency d;
        d.soft = info->getDependencyType() == SOFT;
        d.componentId = info->getComponentID();
        d.componentType = info->getComponentType();
        d.version = info->getVersion();
        d.name = info->getDisplay();
        d.detail = info->getDetail();
        d.parentComponentId = info->getParentComponentID();
        d.releaseId = info->getReleaseID();
        d.path = info->getRelativeFilePath();
        d.hasPci = info->getDeviceType() == PCI_DEVICE;
        d.pci = info->getPCIInfo();
        view.dependencies.push_back(d);
    }
    return view;
}

Json jsonPackage(const PackageView& p) {
    Json devices = Json::array();
    for (const PackageDevice& d : p.devices) {
        Json pci = Json::array();
        for (const SPCIInfo& ids : d.pci) pci.push_back(jsonPci(ids));
        devices.push_back(Json{{"componentID", d.componentId}, {"name", textOrNull(d.name)}, {"pci", pci}});
    }
    Json dependencies = Json::array();
    for (const PackageDependency& d : p.dependencies)
        dependencies.push_back(Json{{"kind", d.soft ? "soft" : "hard"},
                                    {"componentID", d.componentId},
                                    {"componentType", textOrNull(d.componentType)},
                                    {"version", textOrNull(d.version)},
                                    {"name", textOrNull(d.name)},
                                    {"detail", textOrNull(d.detail)},
                                    {"forComponentID", textOrNull(d.parentComponentId)},
                                    {"releaseID", textOrNull(d.releaseId)},
                                    {"path", textOrNull(d.path)},
                                    {"pci", d.hasPci ? jsonPci(d.pci) : Json(nullptr)}});
    return Json{{"recognised", p.recognised},
                {"componentID", textOrNull(p.componentId)},
                {"version", textOrNull(p.version)},
                {"type", textOrNull(p.type)},
                {"name", textOrNull(p.display)},
                {"rollbackInformation", p.rollbackInformation},
                {"supportedDevices", devices},
                {"dependencies", dependencies}};
}

}  // namespace zemt_tool
