// SPDX-License-Identifier: Apache-2.0
// The TREN stand-in: the hardware-access library's C entry points, answered
// by the emulated controller of the state directory named in
// ZEMT_EMULATOR_DIR.  Without that variable there is no controller: every
// exchange fails the way it does on a host without one.
#include <dlfcn.h>

#include <cstdlib>
#include <cstring>

#include "Controller.h"

#define TREN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Time inside the controller counts into the emulator's time of the
// process (zemt_emulator/EmulatorTime.h) when the emulated host is loaded.
class ControllerTimer {
public:
    ControllerTimer() {
        if (enter_ != nullptr) enter_();
    }
    ~ControllerTimer() {
        if (leave_ != nullptr) leave_();
    }

private:
    typedef void (*Hook)();
    static Hook find(const char* name) { return reinterpret_cast<Hook>(dlsym(RTLD_DEFAULT, name)); }
    static inline const Hook enter_ = find("zemt_emu_time_enter");
    static inline const Hook leave_ = find("zemt_emu_time_leave");
};

const char* stateDir() {
    const char* dir = std::getenv(zemt_emu::kStateDirEnv);
    return dir != nullptr && *dir != '\0' ? dir : nullptr;
}
}  // namespace

TREN_EXPORT uint16_t ZOLIPMCommand(EsmIPMICmdIoctlReq* req, EsmIPMICmdIoctlReq* rsp) {
    ControllerTimer timer;
    const char* dir = stateDir();
    if (dir == nullptr || req == nullptr || rsp == nullptr) return 0;
    if (rsp != req) *rsp = *req;
    zemt_emu::StateLock lock(dir);
    zemt_emu::Controller controller(dir);
    return controller.Command(rsp);
}

TREN_EXPORT uint8_t* ZOLIPMGetSystemInfoParameter(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3,
                                                   uint8_t b4, uint8_t b5, int* status,
                                                   int /*timeout*/) {
    ControllerTimer timer;
    int ignored = 0;
    if (status == nullptr) status = &ignored;
    const char* dir = stateDir();
    if (dir == nullptr) {
        *status = -1;
        return nullptr;
    }
    const uint8_t selectors[6] = {b0, b1, b2, b3, b4, b5};
    zemt_emu::StateLock lock(dir);
    zemt_emu::Controller controller(dir);
    return controller.SystemInfo(selectors, status);
}

TREN_EXPORT void ZOLIPMIFreeGeneric(void* buffer) {
    ControllerTimer timer;
    const char* dir = stateDir();
    if (dir == nullptr) {
        std::free(buffer);
        return;
    }
    zemt_emu::StateLock lock(dir);
    zemt_emu::Controller controller(dir);
    controller.FreeBuffer(buffer);
}

namespace {
uint8_t* secureUpdate(uint8_t sub, uint16_t handle, const uint8_t* data, std::size_t length, int* status) {
    ControllerTimer timer;
    int ignored = 0;
    if (status == nullptr) status = &ignored;
    const char* dir = stateDir();
    if (dir == nullptr) {
        *status = -1;
        return nullptr;
    }
    zemt_emu::StateLock lock(dir);
    zemt_emu::Controller controller(dir);
    return controller.SecureUpdate(sub, handle, data, length, status);
}
}  // namespace

TREN_EXPORT uint8_t* ZOLIPMOEMKaverBeginSecureUpdate(uint8_t, uint8_t, uint16_t, uint16_t units,
                                                     uint16_t handle, int, uint8_t*, int* status) {
    const uint8_t data[2] = {static_cast<uint8_t>(units & 0xFF), static_cast<uint8_t>(units >> 8)};
    return secureUpdate(0x20, handle, data, sizeof data, status);
}

TREN_EXPORT uint8_t* ZOLIPMOEMKaverProcessSecureUpdate(uint8_t, uint8_t, uint8_t, uint8_t, uint16_t handle,
                                                       int, uint8_t* digest, uint8_t*, int* status) {
    uint8_t data[16] = {};
    if (digest != nullptr) std::memcpy(data, digest, sizeof data);
    return secureUpdate(0x22, handle, data, sizeof data, status);
}

TREN_EXPORT uint8_t* ZOLIPMOEMKaverEndSecureUpdate(uint8_t, uint8_t, uint8_t, uint16_t handle, int, uint8_t*,
                                                   int* status) {
    return secureUpdate(0x23, handle, nullptr, 0, status);
}
