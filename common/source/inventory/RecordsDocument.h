/* SPDX-License-Identifier: Apache-2.0 */
// The records document an inventory-log update carries as input.xml.
// Library-internal.
#ifndef ZEMT_INVENTORY_RECORDS_DOCUMENT_H
#define ZEMT_INVENTORY_RECORDS_DOCUMENT_H

#include <string>

namespace records {

// The declaration, then <Records> BODY </Records>, with nothing between.
std::string document(const std::string& body);

// One Device element with one Application, followed by the package's
// compatibility fragment (given as it is).  The four values are escaped
// where they hold markup characters.
std::string generatedDevice(const std::string& componentId, const std::string& display, const std::string& type,
                            const std::string& version, const std::string& fragment);

// The Device elements of a caller's list, each serialised with AgentID="3"
// added where it has no AgentID; empty when the list does not parse.  The
// walk starts at the root: text nodes (and elements named "text") are
// passed over, any other node that is not a Device is entered and never
// left again, so only a flat run of Device elements under one root (or one
// element chain down to it) is taken whole.
std::string devicesOf(const std::string& list);

}  // namespace records

#endif
