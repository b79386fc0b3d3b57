// SPDX-License-Identifier: Apache-2.0
// The package's side of the records document: getSysID and getPkgInfo.
#include "inventory/PackageInfo.h"

#include <cstring>

#include "PlatformLayer.h"
#include "internal/ShellText.h"
#include "inventory/XmlInput.h"
#include "secureKaver.h"

namespace packageinfo {

namespace {

const char kSystemIdMarker[] = "\nSystem ID";

// <verCompat type="…" componentType="…" componentID="…" min_version="…"></verCompat>
std::string compatibility(const xmlNode* verCompat) {
    std::string out = "<verCompat ";
    for (const char* name : {"type", "componentType", "componentID"}) {
        std::optional<std::string> value = getAttr(verCompat, name);
        if (value) out += std::string(name) + "=\"" + xmlinput::escaped(*value) + "\" ";
    }
    std::optional<std::string> minimum = getAttr(verCompat, "min_version");
    if (minimum) out += "min_version=\"" + xmlinput::escaped(*minimum) + "\"";
    return out + "></verCompat>";
}

// Every verCompat entry listing `sysId` among its supported systems, once
// per listing.
std::string fragment(const xmlNode* compatibilities, const std::string& sysId) {
    std::string out = "<versionCompatibilities>";
    for (const xmlNode* entry = compatibilities->children; entry; entry = entry->next) {
        if (!xmlinput::isElement(entry, "verCompat")) continue;
        for (const xmlNode* systems = entry->children; systems; systems = systems->next) {
            if (!xmlinput::isElement(systems, "versionSupportedSystems")) continue;
            for (const xmlNode* id = systems->children; id; id = id->next)
                if (xmlinput::isElement(id, "versionSystemID") && xmlinput::text(id) == sysId)
                    out += compatibility(entry);
        }
    }
    return out + "</versionCompatibilities>";
}

}  // namespace

std::string read(const std::string& descriptor, const std::string& sysId, std::string& disp,
                 std::string& compType, std::string& ver) {
    disp.clear();
    compType.clear();
    ver.clear();
    xmlDocPtr doc = xmlinput::parse(descriptor, xmlinput::DropBlanks);
    if (doc == nullptr) return "";
    std::string out;
    const xmlNode* root = xmlDocGetRootElement(doc);
    if (xmlinput::isElement(root, "SoftwareComponent")) {
        std::optional<std::string> version = getAttr(root, "vendorVersion");
        if (version) ver = *version;
        for (const xmlNode* child = root->children; child; child = child->next) {
            if (xmlinput::isElement(child, "Name") && disp.empty() && compType.empty()) {
                const xmlNode* display = child->children;
                while (display != nullptr && !xmlinput::isElement(display, "Display")) display = display->next;
                if (display != nullptr) {
                    const std::string name = xmlinput::text(display);
                    disp = name.substr(0, name.find(','));
                }
            } else if (xmlinput::isElement(child, "ComponentType")) {
                std::optional<std::string> value = getAttr(child, "value");
                if (value) compType = *value;
            } else if (xmlinput::isElement(child, "versionCompatibilities")) {
                out = fragment(child, sysId);
                break;
            }
        }
    }
    xmlFreeDoc(doc);
    return out;
}

std::string systemId(const std::string& output) {
    // The program's output is read as C text: it ends at a NUL.
    const std::string text = output.substr(0, output.find('\0'));
    const std::string::size_type at = text.find(kSystemIdMarker);
    if (at == std::string::npos || at == 0) return "";
    // The line's text starts after the marker and one separator character.
    const std::string::size_type start = at + std::strlen(kSystemIdMarker) + 1;
    if (start > text.size()) return "";
    const std::string::size_type end = text.find('\n', start);
    // The identifier is the line's last four characters, all of them after
    // the separator.
    if (end == std::string::npos || end - start < 4) return "";
    return text.substr(end - 4, 4);
}

}  // namespace packageinfo

std::string secureKaver::getSysID() {
    std::string dir = CPlatformLayer::getCurrentDirectory();
    // The platform layer ends the directory with a "/" of its own.
    if (!dir.empty() && dir.back() == '/') dir.pop_back();
    if (dir.empty() || dir.size() > 1023) return "";
    std::string output;
    // Quoted only where a character of the path would mean something to
    // the shell: ordinary paths give the plain command.
    if (!CPlatformLayer::ReadCommandOutput(shelltext::arg(dir + "/getSystemId"), output, 1024)) return "";
    return packageinfo::systemId(output);
}

std::string secureKaver::getPkgInfo(std::string sysId, std::string& disp, std::string& compType,
                                    std::string& ver) {
    std::string descriptor;
    if (!xmlinput::readFile("package.xml", descriptor)) {
        disp.clear();
        compType.clear();
        ver.clear();
        return "";
    }
    return packageinfo::read(descriptor, sysId, disp, compType, ver);
}
