// SPDX-License-Identifier: Apache-2.0
#include "inventory/XmlInput.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>

namespace xmlinput {

namespace {

// Stops the parser at a document type declaration, before its internal
// subset (and any entity in it) is read.
void refuseDoctype(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
    xmlParserCtxtPtr ctxt = static_cast<xmlParserCtxtPtr>(context);
    *static_cast<bool*>(ctxt->_private) = true;
    xmlStopParser(ctxt);
}

// Element nesting below `root`, walked without recursion.
bool nestsTooDeep(xmlNode* root) {
    int depth = 1;
    xmlNode* node = root;
    while (node != nullptr) {
        if (node->type == XML_ELEMENT_NODE && depth > kMaxDepth) return true;
        if (node->type == XML_ELEMENT_NODE && node->children != nullptr) {
            node = node->children;
            ++depth;
            continue;
        }
        while (node != root && node->next == nullptr) {
            node = node->parent;
            --depth;
        }
        if (node == root) return false;
        node = node->next;
    }
    return false;
}

}  // namespace

xmlDocPtr parse(const std::string& text, Blanks blanks) {
    if (text.size() > kMaxDocumentBytes) return nullptr;
    std::unique_ptr<xmlParserCtxt, void (*)(xmlParserCtxtPtr)> ctxt(xmlNewParserCtxt(), &xmlFreeParserCtxt);
    if (!ctxt) return nullptr;
    bool doctype = false;
    ctxt->_private = &doctype;
    ctxt->sax->internalSubset = refuseDoctype;
    int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    if (blanks == DropBlanks) {
        options |= XML_PARSE_NOBLANKS;
    } else {
        // The context starts from the process-wide default, which another
        // part of the process may have switched to dropping blanks.
        ctxt->sax->ignorableWhitespace = xmlSAX2Characters;
    }
    xmlDocPtr doc = xmlCtxtReadMemory(ctxt.get(), text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                                      options);
    if (doc == nullptr) return nullptr;
    xmlNode* root = xmlDocGetRootElement(doc);
    if (doctype || doc->intSubset != nullptr || (root != nullptr && nestsTooDeep(root))) {
        xmlFreeDoc(doc);
        return nullptr;
    }
    return doc;
}

bool readFile(const std::string& path, std::string& text) {
    text.clear();
    struct stat st;
    // A FIFO or device would block or never end.
    if (path.find('\0') != std::string::npos || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<unsigned long long>(st.st_size) > kMaxDocumentBytes)
        return false;
    std::unique_ptr<FILE, int (*)(FILE*)> in(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!in) return false;
    char chunk[65536];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, in.get())) > 0) {
        if (text.size() + got > kMaxDocumentBytes) return false;  // it grew meanwhile
        text.append(chunk, got);
    }
    return std::ferror(in.get()) == 0;
}

bool isElement(const xmlNode* node, const char* name) {
    return node != nullptr && node->type == XML_ELEMENT_NODE && xmlStrEqual(node->name, BAD_CAST name);
}

std::string text(const xmlNode* element) {
    std::string out;
    for (const xmlNode* n = element ? element->children : nullptr; n != nullptr; n = n->next)
        if ((n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) && n->content != nullptr)
            out += reinterpret_cast<const char*>(n->content);
    return out;
}

std::string escaped(const std::string& value) {
    if (value.find_first_of("&<>\"") == std::string::npos) return value;
    std::string out;
    for (char c : value) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

}  // namespace xmlinput

std::optional<std::string> getAttr(const xmlNode* node, const char* name) {
    if (node == nullptr || node->type != XML_ELEMENT_NODE || xmlHasProp(node, BAD_CAST name) == nullptr)
        return std::nullopt;
    xmlChar* value = xmlGetProp(node, BAD_CAST name);
    std::string out = value ? reinterpret_cast<const char*>(value) : "";
    xmlFree(value);
    return out;
}
