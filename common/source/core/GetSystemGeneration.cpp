// SPDX-License-Identifier: Apache-2.0
// Server generation from the system-information parameter of TREN.
#include "core/TrenFunctions.h"
#include "secureKaver.h"

int secureKaver::GetSystemGeneration() {
    KAVER_LOG("Entering GetSystemGeneration");
    if (GenerationType != Failure) {
        KAVER_LOG("GetSystemGeneration : Returning Cached Value:" +
                  std::to_string(static_cast<int>(GenerationType)));
        return GenerationType;
    }
    FPROCZOLIPMGETSYSTEMINFOPARAMETER getSystemInfo = tren::lookup(tren::kGetSystemInfoParameter);
    if (getSystemInfo == nullptr) {
        KAVER_LOG("GetSystemGeneration : pfnGetSystemInfo is NULL ");
        return Failure;
    }
    int status = 1;
    uint8_t* buffer = getSystemInfo(0x00, 0x00, 0xDD, 0x02, 0x00, 0x12, &status, 750);
    if (status != 0 || buffer == nullptr) {
        KAVER_LOG("GetSystemGeneration : pfnGetSystemInfo failed : Return Code - " +
                  std::to_string(status));
        return Failure;
    }
    int result;
    uint8_t generation = buffer[10];
    if (generation <= 0x0F) {
        KAVER_LOG("Pre Vemo System ");
        result = PreVemo;
    } else if (generation <= 0x15) {
        KAVER_LOG("Vemo or Vemo Plus System ");
        result = VemoGen;
    } else {
        KAVER_LOG("Sarn System");
        result = SarnGen;
    }
    FPROCZOLIPMIFREEGENERIC freeGeneric = tren::lookup(tren::kFreeGeneric);
    if (freeGeneric != nullptr)
        freeGeneric(buffer);
    else
        KAVER_LOG("Unable to Free Memory");
    return result;
}
