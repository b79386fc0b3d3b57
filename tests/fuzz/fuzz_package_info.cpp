// SPDX-License-Identifier: Apache-2.0
// Fuzz target: arbitrary bytes as a package's getSystemId output and as its
// package.xml.  The system id is empty or four characters; the descriptor
// reading fills its values and returns an empty or a whole
// versionCompatibilities fragment, whatever the descriptor holds.
#include <stddef.h>
#include <stdint.h>

#include <cstdlib>
#include <string>

#include "inventory/PackageInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string id = packageinfo::systemId(bytes);
    if (!id.empty() && id.size() != 4) std::abort();
    std::string display, type, version;
    const std::string fragment = packageinfo::read(bytes, id.empty() ? "0A1B" : id, display, type, version);
    const std::string open = "<versionCompatibilities>", close = "</versionCompatibilities>";
    if (!fragment.empty() && (fragment.compare(0, open.size(), open) != 0 || fragment.size() < open.size() + close.size() ||
                              fragment.compare(fragment.size() - close.size(), close.size(), close) != 0))
        std::abort();
    if (display.find(',') != std::string::npos) std::abort();
    return 0;
}
