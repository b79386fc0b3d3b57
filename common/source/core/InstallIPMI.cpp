// SPDX-License-Identifier: Apache-2.0
// Binding of the hardware-access library.
#include "PlatformLayer.h"
#include "core/TrenFunctions.h"
#include "secureKaver.h"

void* zolipmiLib = nullptr;
FPROCZOLIPMCOMMAND pfnCommandWithoutRetry = nullptr;
const char* TREN_IPMILIB = "libzolipm32.so";

int secureKaver::InstallIPMI() {
    if (CPlatformLayer::InstallTren() != 0) {
        KAVER_LOG("InstallIPMI : InstallTren failed");
        return 1;
    }
    zolipmiLib = CPlatformLayer::LoadTrenLibrary(TREN_IPMILIB);
    if (zolipmiLib == nullptr) {
        KAVER_LOG("InstallIPMI: CPlatformLayer::LoadTrenLibrary failed");
        return 1;
    }
    KAVER_LOG("InstallIPMI: CPlatformLayer::LoadTrenLibrary successful");
    pfnCommandWithoutRetry = tren::lookup(tren::kCommand);
    if (pfnCommandWithoutRetry != nullptr)
        KAVER_LOG("InstallIPMI: CPlatformLayer::GetProcAddress pfnCommandWithoutRetry successful ");
    return 0;
}

int secureKaver::UnInstallIPMI() {
    if (zolipmiLib != nullptr) {
        CPlatformLayer::FreeLibrary(zolipmiLib);
        zolipmiLib = nullptr;
        pfnCommandWithoutRetry = nullptr;
    }
    if (CPlatformLayer::UninstallTren() != 0) {
        KAVER_LOG("InstallIPMI CPlatformLayer:UninstallTren failed");
        return 2;
    }
    KAVER_LOG("InstallIPMI CPlatformLayer:UninstallTren success");
    return 0;
}

bool secureKaver::secureKaverInitIPMI() {
    InitOk = false;
    if (InstallIPMI() != 0) {
        KAVER_LOG("loadTrenLib failed");
        errorInfo.lastErr = ZEMT_TRENINSTALLERROR;
        return false;
    }
    InitOk = true;
    KAVERType = GetKaverType();
    return true;
}
