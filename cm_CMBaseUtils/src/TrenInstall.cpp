// SPDX-License-Identifier: Apache-2.0
// The counted install of the hardware-access library, over any platform
// implementation (TrenInstall.h).
#include "TrenInstall.h"

#include "Logger.h"
#include "PlatformLayer.h"

namespace {
const std::string kTrenDir = "/opt/norvik/tarn/lib/";
const std::string kTrenInstallScript = "/tarnvelmoinstall.sh";

// The install script shipped beside the running program.
std::string scriptCommand(IPlatformImpl& host, const char* verb) {
    return host.getCurrentProcessDirectory() + kTrenInstallScript + " " + verb;
}

int run(IPlatformImpl& host, const std::string& cmd) {
    long unused = 0;
    return host.ExecuteCmd(cmd, false, unused);
}
}  // namespace

namespace treninstall {

bool isInstalled(IPlatformImpl& host) {
    const std::string path = kTrenDir + "libzolipm.so";
    BASEUTILS_LOG("Load library using " + path);
    void* handle = host.LoadLibrary(path);
    if (handle == nullptr) handle = host.LoadLibrary(kTrenDir + "libzolipm32.so");
    if (handle == nullptr) return false;
    BASEUTILS_LOG("TREN is installed in the system");
    host.FreeLibrary(handle);
    return true;
}

bool isPavoInstalled(IPlatformImpl& host) {
    void* handle = host.LoadLibrary("libzolipm.so");
    if (handle == nullptr) handle = host.LoadLibrary("libzolipm32.so");
    if (handle == nullptr) return false;
    host.FreeLibrary(handle);
    return true;
}

int install(IPlatformImpl& host) {
    if (++CLinuxImpl::nTRENInstallRefCount > 1) return 0;
    CLinuxImpl::bTRENAlreadyInstalled = host.isTRENInstalled();
    if (CLinuxImpl::bTRENAlreadyInstalled) return 0;
    BASEUTILS_LOG("InstallTren: Custom Tren Not Already Present");
    const std::string cmd = scriptCommand(host, "install");
    BASEUTILS_LOG("Executimg command: " + cmd);
    if (run(host, cmd) == 0) {
        BASEUTILS_LOG("InstallTren: Custome Tren Installed Successfully");
        return 0;
    }
    BASEUTILS_LOG("InstallTren: Tren Installation Failed");
    if (isPavoInstalled(host)) {
        BASEUTILS_LOG("InstallTren: Found PAVO Tren");
        return 0;
    }
    BASEUTILS_LOG("InstallTren: PAVO Tren Not Present");
    return 1;
}

int uninstall(IPlatformImpl& host) {
    if (--CLinuxImpl::nTRENInstallRefCount > 0 || CLinuxImpl::bTRENAlreadyInstalled) {
        BASEUTILS_LOG("UninstallTren: Tren Uninstalled Successfully");
        return 0;
    }
    const int status = run(host, scriptCommand(host, "uninstall"));
    BASEUTILS_LOG("UninstallTren: Tren Uninstalled Successfully");
    return status != 0 ? 1 : 0;
}

void* loadLibrary(IPlatformImpl& host, const std::string& name) {
    void* handle = host.LoadLibrary(kTrenDir + name);
    if (handle != nullptr) return handle;
    BASEUTILS_LOG("LoadTrenLibrary: Unable to Load " + name + " from " + kTrenDir);
    handle = host.LoadLibrary(name);
    if (handle == nullptr) BASEUTILS_LOG("LoadTrenLibrary: Unable to Load " + name + " from " + "PAVO");
    return handle;
}

}  // namespace treninstall
