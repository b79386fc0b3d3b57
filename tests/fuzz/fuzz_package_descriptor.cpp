// SPDX-License-Identifier: Apache-2.0
// Fuzz target: arbitrary bytes as an update package's descriptor, read by
// every query of the descriptor reader, and as the inventory document it
// extracts a component from.  Whatever the bytes, the queries must answer
// within their contracts; the sanitizers catch every out-of-bounds access
// and leak on the way.
#include <stddef.h>
#include <stdint.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "SoftwareComponentInfo.h"
#include "StandInHost.h"

namespace {

// A working directory holding nothing but the descriptor under test.
class DescriptorHost : public CStandInHost {
public:
    DescriptorHost() { CPlatformLayer::SetPlatform(this); }
    std::string getCurrentDirectory() override { return "/fuzz/"; }
    bool IsFileExits(const std::string& name) override { return name == "package.xml"; }
    bool ReadFileText(const std::string& path, std::string& out, unsigned int maxBytes) override {
        if (path != "/fuzz/package.xml") return false;
        out = descriptor.substr(0, maxBytes);
        return true;
    }
    std::string descriptor;
};

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static DescriptorHost* host = new DescriptorHost();
    host->descriptor.assign(reinterpret_cast<const char*>(data), size);

    CSoftwareComponentInfo reader;
    reader.GetComponentVersion();
    reader.GetComponentType();
    std::string id = reader.GetComponentID();
    reader.GetComponentDisplayString();
    reader.getPresenceOfRollbackInfo();
    for (SPCIInfo& pci : reader.GetSupportedDevices()) {
        check(pci.m_strDeviceID.size() >= 4 && pci.m_strSubDeviceID.size() >= 4 && pci.m_strVendorID.size() >= 4 &&
              pci.m_strSubVendorID.size() >= 4);
        reader.getMarketingNameForPCIDevice(pci);
    }
    for (CDeviceInfo* device : reader.getDependencyInfo()) {
        check(device->getDependencyType() == HARD || device->getDependencyType() == SOFT);
        check(device->getFilePath().find('\\') == std::string::npos);
        delete device;
    }
    reader.getMarketingNameForNonPCIDevice(id);

    std::stringstream in(host->descriptor), out;
    const bool found = reader.GetInvFromRQL(id, in, out);
    check(found || out.str().empty());
    return 0;
}
