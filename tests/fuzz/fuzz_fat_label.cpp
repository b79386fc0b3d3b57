// SPDX-License-Identifier: Apache-2.0
// Fuzz target: arbitrary bytes as the whole content of a block device,
// read by the FAT label probe.  Whatever the bytes, the probe must return
// at most an 11-character label and leave no device open; the sanitizers
// catch every out-of-bounds access, overflow and leak on the way.
#include <stddef.h>
#include <stdint.h>

#include <cstdlib>
#include <string>

#include "CLinuxEnumerateDevices.h"
#include "MemoryDevicePlatform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static MemoryDevicePlatform* platform = new MemoryDevicePlatform();
    platform->addDevice("/dev/sdf", data, size);
    std::string label = CLinuxEnumerateDevices::getLabel("/dev/sdf");
    if (label.size() > 11 || platform->openCount() != 0) std::abort();
    return 0;
}
