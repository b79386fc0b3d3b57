// SPDX-License-Identifier: Apache-2.0
#include "XmlRead.h"

#include <libxml/parser.h>

#include "PlatformLayer.h"

namespace xmlread {

xmlDocPtr parseText(const std::string& text) {
    if (text.size() > kMaxXmlBytes) return nullptr;
    const int options = XML_PARSE_NONET | XML_PARSE_NOBLANKS | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    return xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr, options);
}

xmlDocPtr parseFile(const std::string& path) {
    std::string text;
    if (!CPlatformLayer::ReadFileText(path, text, kMaxXmlBytes + 1)) return nullptr;
    return parseText(text);
}

std::string attribute(const xmlNode* node, const char* name) {
    if (node == nullptr) return std::string();
    xmlChar* value = xmlGetProp(node, BAD_CAST name);
    if (value == nullptr) return std::string();
    std::string text = reinterpret_cast<const char*>(value);
    xmlFree(value);
    return text;
}

std::string content(const xmlNode* node) {
    xmlChar* value = xmlNodeGetContent(node);
    if (value == nullptr) return std::string();
    std::string text = reinterpret_cast<const char*>(value);
    xmlFree(value);
    return text;
}

}  // namespace xmlread
