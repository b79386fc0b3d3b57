/* SPDX-License-Identifier: Apache-2.0 */
// Parsing of XML the library reads for itself (package descriptors, answer
// documents).  Library-internal.
#ifndef ZEMT_XML_READ_H
#define ZEMT_XML_READ_H

#include <libxml/tree.h>

#include <string>

namespace xmlread {

// Descriptors and answer documents are a few kilobytes; anything longer
// than this is refused rather than parsed.
const unsigned int kMaxXmlBytes = 4u << 20;

// Parses `text` without network access, DTD loading or entity
// substitution, and without printing errors.  Blank text between elements
// is always dropped, so the tree is the same whatever the process-wide
// xmlKeepBlanksDefault says.  Null when the text is too long or not
// well-formed; the caller frees the document.
xmlDocPtr parseText(const std::string& text);

// Reads a file through the platform layer (a descriptor may lie on a
// mounted partition) and parses it as above; null when it cannot be read.
xmlDocPtr parseFile(const std::string& path);

// Text of the attribute, empty when it is missing or has no text.
std::string attribute(const xmlNode* node, const char* name);

// Text content of the element, empty when it has none.
std::string content(const xmlNode* node);

}  // namespace xmlread

#endif
