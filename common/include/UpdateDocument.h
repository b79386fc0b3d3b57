/* SPDX-License-Identifier: Apache-2.0 */
#ifndef ZEMT_UPDATE_DOCUMENT_H
#define ZEMT_UPDATE_DOCUMENT_H

#include <sstream>
#include <string>
#include <vector>

#include "cfgEntry.h"
#include "zemt_export.h"

// Writers of the update document the controller reads from a drop box.
// The text is a byte-exact contract: element order, tabs and line breaks
// are the format.  Names are written as they are, except that "&", "<"
// and ">" become character references so that an unusual file name
// cannot change the document's structure.

// The XML declaration and the opening root element.
ZEMT_API void AddCfgHdr(std::ostringstream* xmlStr);
// One File element of a staging run.  `mntPnt` is accepted for
// compatibility and not used; `chunk` marks an entry for a chunk file, whose
// Source is its own name.  False (after logging) only when formatting failed;
// the stream may then hold a partial entry.
ZEMT_API bool AddCfgEntry(std::ostringstream* xmlStr, cfgEntry file, std::string mntPnt, bool chunk);
// The closing root element and an empty line.
ZEMT_API void AddCfgFtr(std::ostringstream* xmlStr);
// A whole inventory-log request document for the given entries.
ZEMT_API bool CreateRQLConfigFile(std::ostringstream* Stage, std::vector<cfgEntry> queryRequest);

#endif
