/* SPDX-License-Identifier: Apache-2.0 */
// Helpers of the versioned component folders.  Library-internal.
#ifndef ZEMT_UPDATE_VERSIONED_FOLDERS_H
#define ZEMT_UPDATE_VERSIONED_FOLDERS_H

#include <libxml/tree.h>

#include <string>
#include <vector>

// Text of the node's attribute; empty when it is missing.
std::string GetAttribute(xmlNode* node, const char* name);

// Exact, case-sensitive membership.
bool string_in_list(std::string name, std::vector<std::string> list);

#endif
