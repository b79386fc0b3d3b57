/* SPDX-License-Identifier: Apache-2.0 */
// Reading the XML the library did not write itself: package descriptors,
// a caller's device list, the controller's answers.  Library-internal.
#ifndef ZEMT_INVENTORY_XML_INPUT_H
#define ZEMT_INVENTORY_XML_INPUT_H

#include <libxml/tree.h>

#include <cstddef>
#include <optional>
#include <string>

namespace xmlinput {

// The largest document the library takes in (4 MiB): descriptors and
// device lists are a few KiB, and an answer has to fit the 1 MiB drop box
// the exchange asks for, with room for a controller that grants more.
const std::size_t kMaxDocumentBytes = 4 * 1048576;
// The deepest element nesting accepted; descriptors nest about six deep.
const int kMaxDepth = 64;

enum Blanks { KeepBlanks, DropBlanks };

// Parses `text` without network access, without loading or expanding
// anything external and without libxml2's huge-document mode.  Null when
// the text is larger than kMaxDocumentBytes, carries a document type
// declaration (none of these documents needs one, and it is what entity
// expansion would need), is not well-formed, or nests deeper than
// kMaxDepth.  Whitespace-only text nodes are kept or dropped as asked,
// whatever libxml2's process-wide default says.  Free with xmlFreeDoc.
xmlDocPtr parse(const std::string& text, Blanks blanks);

// The whole content of a regular file of at most kMaxDocumentBytes (read
// directly: the files this serves are the caller's own).  False when it
// cannot be opened or read, or is larger.
bool readFile(const std::string& path, std::string& text);

// An element named `name` (null-safe: not every node has a name).
bool isElement(const xmlNode* node, const char* name);
// The text directly inside an element: its text and CDATA children joined.
std::string text(const xmlNode* element);

// `value` as XML text or attribute value: unchanged unless it holds one of
// & < > ", which become references so no value can change the structure of
// a document it is pasted into.
std::string escaped(const std::string& value);

}  // namespace xmlinput

// The value of attribute `name` of element `node`, or none.
std::optional<std::string> getAttr(const xmlNode* node, const char* name);

#endif
