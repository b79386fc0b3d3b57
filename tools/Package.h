/* SPDX-License-Identifier: Apache-2.0 */
// An update package's descriptor (package.xml of the working directory) as
// the library's reader, CSoftwareComponentInfo, sees it.
#ifndef ZEMT_TOOLS_PACKAGE_H
#define ZEMT_TOOLS_PACKAGE_H

#include <string>
#include <vector>

#include "DeviceInfo.h"
#include "Tool.h"

namespace zemt_tool {

struct PackageDevice {
    std::string componentId;
    std::string name;
    std::vector<SPCIInfo> pci;  // none for a device without PCI identity
};

struct PackageDependency {
    bool soft = false;
    std::string componentId, componentType, version, name, detail, parentComponentId, releaseId, path;
    bool hasPci = false;
    SPCIInfo pci;
};

struct PackageView {
    bool recognised = false;  // the reader found a SoftwareComponent
    std::string componentId;  // of the first supported device
    std::string version, type, display;
    bool rollbackInformation = false;
    std::vector<PackageDevice> devices;
    std::vector<PackageDependency> dependencies;
};

// Reads ./package.xml with the library's reader.
PackageView readPackage();
Json jsonPackage(const PackageView& package);
// "f1c7:0a10 (sub f1c7:0001)"
std::string pciText(const SPCIInfo& pci);

}  // namespace zemt_tool

#endif
