/* SPDX-License-Identifier: Apache-2.0 */
// The functions of the hardware-access library the library calls, each
// bound once to its exported name and its type: a caller cannot look one
// up under another name or call it through another type.
//
// ZOLIPMCommand is resolved when the library is loaded, into the exported
// pfnCommandWithoutRetry (InstallIPMI); the others are resolved where they
// are used, so that a function the loaded library lacks fails that use.
#ifndef ZEMT_CORE_TREN_FUNCTIONS_H
#define ZEMT_CORE_TREN_FUNCTIONS_H

#include "PlatformLayer.h"
#include "zemt.h"

namespace tren {

template <typename Function>
struct Symbol {
    const char* name;
};

constexpr Symbol<FPROCZOLIPMCOMMAND> kCommand = {"ZOLIPMCommand"};
constexpr Symbol<FPROCZOLIPMGETSYSTEMINFOPARAMETER> kGetSystemInfoParameter = {"ZOLIPMGetSystemInfoParameter"};
constexpr Symbol<FPROCZOLIPMIFREEGENERIC> kFreeGeneric = {"ZOLIPMIFreeGeneric"};
constexpr Symbol<FPROCZOLIPMOEMKAVERBEGINSECUREUPDATE> kBeginSecureUpdate = {"ZOLIPMOEMKaverBeginSecureUpdate"};
constexpr Symbol<FPROCZOLIPMOEMKAVERPROCESSSECUREUPDATE> kProcessSecureUpdate = {
    "ZOLIPMOEMKaverProcessSecureUpdate"};
constexpr Symbol<FPROCZOLIPMOEMKAVERENDSECUREUPDATE> kEndSecureUpdate = {"ZOLIPMOEMKaverEndSecureUpdate"};

// The function in the loaded library (zolipmiLib), or null when it lacks
// it or nothing is loaded.
template <typename Function>
Function lookup(const Symbol<Function>& symbol) {
    return reinterpret_cast<Function>(CPlatformLayer::GetProcAddress(zolipmiLib, symbol.name));
}

}  // namespace tren

#endif
