// SPDX-License-Identifier: Apache-2.0
// Fuzz target: arbitrary bytes as the device list a caller hands to an
// inventory-log update.  Whatever the bytes, the records document is one
// <Records> element holding nothing but serialised Device elements, and
// the walk ends (the sanitizers catch every bad access and leak).
#include <stddef.h>
#include <stdint.h>

#include <cstdlib>
#include <string>

#include "inventory/RecordsDocument.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string list(reinterpret_cast<const char*>(data), size);
    const std::string devices = records::devicesOf(list);
    if (!devices.empty() && devices.compare(0, 7, "<Device") != 0) std::abort();
    const std::string document = records::document(devices);
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><Records>";
    if (document.compare(0, head.size(), head) != 0 || document.size() < head.size() + 10 ||
        document.compare(document.size() - 10, 10, "</Records>") != 0)
        std::abort();
    return 0;
}
