// SPDX-License-Identifier: Apache-2.0
// Component id of the package being staged, read from its descriptor.
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdlib>

#include "core/FailureReason.h"
#include "secureKaver.h"

namespace {
const char* kPackageXml = "package.xml";

bool named(const xmlNode* node, const char* name) {
    return node->type == XML_ELEMENT_NODE && xmlStrcmp(node->name, BAD_CAST name) == 0;
}

// The id names folders and files on the host and in the repository
// ("<dir>/<id>.xml", "kav022/<id>/current"): it must stay one plain name.
bool usableAsFolderName(const std::string& id) {
    if (id.empty() || id == "." || id == "..") return false;
    for (char c : id) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                        c == '-' || c == '.';
        if (!ok) return false;
    }
    return true;
}
}  // namespace

bool secureKaver::get_comp_id(std::string& compId) {
    KAVER_LOG("Getting component id from package.xml");
    xmlDocPtr doc = xmlReadFile(kPackageXml, nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (doc == nullptr) {
        KAVER_LOG("Could not open package.xml");
        failure::record("package.xml in the working directory is missing or not well-formed XML");
        errorInfo.lastErr = ZEMT_PACKAGEXMLERROR;
        return false;
    }
    xmlNode* root = xmlDocGetRootElement(doc);
    if (root == nullptr) {
        KAVER_LOG("Could not get root node");
        failure::record("package.xml in the working directory has no root element");
        xmlFreeDoc(doc);
        errorInfo.lastErr = ZEMT_PACKAGEXMLERROR;
        return false;
    }
    if (!named(root, "SoftwareComponent")) {
        KAVER_LOG("Root node is not SoftwareComponent");
        failure::record("package.xml is not a package descriptor (its root is not SoftwareComponent)");
        xmlFreeDoc(doc);
        errorInfo.lastErr = ZEMT_PACKAGEXMLERROR;
        return false;
    }
    std::vector<std::string> ids;
    for (xmlNode* devices = root->children; devices; devices = devices->next) {
        if (!named(devices, "SupportedDevices")) continue;
        for (xmlNode* device = devices->children; device; device = device->next) {
            if (!named(device, "Device")) continue;
            xmlChar* id = xmlGetProp(device, BAD_CAST "componentID");
            if (id == nullptr) continue;
            std::string text = reinterpret_cast<const char*>(id);
            xmlFree(id);
            KAVER_LOG("Found comp id:" + text);
            ids.push_back(text);
        }
    }
    xmlFreeDoc(doc);
    if (ids.empty()) {
        KAVER_LOG("Did not find SupportedDevices or Device or componentID");
        failure::record("package.xml names no component (no SupportedDevices/Device with a componentID)");
        errorInfo.lastErr = ZEMT_PACKAGEXMLERROR;
        return false;
    }
    KAVER_LOG("List of ComponentIds:");
    std::string lowest = ids.front();
    for (const std::string& id : ids) {
        KAVER_LOG(id);
        if (std::strtol(id.c_str(), nullptr, 10) < std::strtol(lowest.c_str(), nullptr, 10)) {
            KAVER_LOG(id + " is lower than " + lowest);
            lowest = id;
        }
    }
    if (!usableAsFolderName(lowest)) {
        KAVER_LOG("Component ID is not usable as a folder name: " + lowest);
        failure::record("package.xml's component id '" + lowest + "' cannot name a folder");
        errorInfo.lastErr = ZEMT_PACKAGEXMLERROR;
        return false;
    }
    compId = lowest;
    KAVER_LOG("Component ID: " + compId);
    return true;
}
