// SPDX-License-Identifier: Apache-2.0
#include "inventory/RecordsDocument.h"

#include <libxml/tree.h>

#include <memory>

#include "inventory/XmlInput.h"

namespace records {

std::string document(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><Records>" + body + "</Records>";
}

std::string generatedDevice(const std::string& componentId, const std::string& display, const std::string& type,
                            const std::string& version, const std::string& fragment) {
    using xmlinput::escaped;
    return "<Device AgentID=\"3\" componentID=\"" + escaped(componentId) + "\" display=\"" + escaped(display) +
           "\" ><Application componentType=\"" + escaped(type) + "\" version=\"" + escaped(version) +
           "\" display=\"" + escaped(display) + "\" />" + fragment + "</Device>";
}

std::string devicesOf(const std::string& list) {
    std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> doc(xmlinput::parse(list, xmlinput::KeepBlanks), &xmlFreeDoc);
    if (!doc) return "";
    std::unique_ptr<xmlBuffer, void (*)(xmlBufferPtr)> buffer(xmlBufferCreate(), &xmlBufferFree);
    if (!buffer) return "";
    std::string out;
    xmlNode* node = xmlDocGetRootElement(doc.get());
    while (node != nullptr) {
        if (xmlStrEqual(node->name, BAD_CAST "text")) {
            node = node->next;
        } else if (!xmlinput::isElement(node, "Device")) {
            node = node->children;
        } else {
            if (xmlHasProp(node, BAD_CAST "AgentID") == nullptr) xmlSetProp(node, BAD_CAST "AgentID", BAD_CAST "3");
            // The buffer grows with the element, however large it is.
            xmlBufferEmpty(buffer.get());
            if (xmlNodeDump(buffer.get(), doc.get(), node, 0, 1) >= 0)
                out += reinterpret_cast<const char*>(xmlBufferContent(buffer.get()));
            node = node->next;
        }
    }
    return out;
}

}  // namespace records
