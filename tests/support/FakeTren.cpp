// SPDX-License-Identifier: Apache-2.0
#include "FakeTren.h"

#include <cstdlib>
#include <cstring>

FakeTren* FakeTren::active = nullptr;

namespace {
uint16_t commandThunk(EsmIPMICmdIoctlReq* req, EsmIPMICmdIoctlReq* rsp) {
    return FakeTren::active->command(req, rsp);
}
uint8_t* sysInfoThunk(uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint8_t e, uint8_t f,
                      int* status, int timeout) {
    const uint8_t args[6] = {a, b, c, d, e, f};
    return FakeTren::active->getSystemInfo(args, status, timeout);
}
void freeThunk(void* buffer) { FakeTren::active->freeGeneric(buffer); }
uint8_t* beginThunk(uint8_t a, uint8_t b, uint16_t timeout, uint16_t units, uint16_t handle, int wait, uint8_t*,
                    int* status) {
    return FakeTren::active->secureStep("Begin", {a, b, timeout, units, handle, wait}, nullptr, status);
}
uint8_t* processThunk(uint8_t a, uint8_t b, uint8_t c, uint8_t length, uint16_t handle, int wait, uint8_t* digest,
                      uint8_t*, int* status) {
    return FakeTren::active->secureStep("Process", {a, b, c, length, handle, wait}, digest, status);
}
uint8_t* endThunk(uint8_t a, uint8_t b, uint8_t c, uint16_t handle, int wait, uint8_t*, int* status) {
    return FakeTren::active->secureStep("End", {a, b, c, handle, wait}, nullptr, status);
}
}  // namespace

FakeTren::FakeTren() { active = this; }

FakeTren::~FakeTren() {
    // Buffers the library never released would otherwise leak in the tests.
    for (uint8_t* buffer : outstanding_) std::free(buffer);
    if (active == this) active = nullptr;
}

void* FakeTren::resolve(const std::string& name) const {
    if (missing.count(name)) return nullptr;
    if (name == "ZOLIPMCommand") return reinterpret_cast<void*>(&commandThunk);
    if (name == "ZOLIPMGetSystemInfoParameter") return reinterpret_cast<void*>(&sysInfoThunk);
    if (name == "ZOLIPMIFreeGeneric") return reinterpret_cast<void*>(&freeThunk);
    if (name == "ZOLIPMOEMKaverBeginSecureUpdate") return reinterpret_cast<void*>(&beginThunk);
    if (name == "ZOLIPMOEMKaverProcessSecureUpdate") return reinterpret_cast<void*>(&processThunk);
    if (name == "ZOLIPMOEMKaverEndSecureUpdate") return reinterpret_cast<void*>(&endThunk);
    return nullptr;
}

std::vector<uint8_t> FakeTren::requestBytes(std::size_t i) const {
    const IPMIReqRspEx& p = requests.at(i).Parameters.IRREx;
    std::size_t n = p.ReqPhaseBufLen < sizeof p.ReqRspBuffer ? p.ReqPhaseBufLen : sizeof p.ReqRspBuffer;
    return std::vector<uint8_t>(p.ReqRspBuffer, p.ReqRspBuffer + n);
}

uint16_t FakeTren::command(EsmIPMICmdIoctlReq* req, EsmIPMICmdIoctlReq* rsp) {
    if (recordRequests) requests.push_back(*req);
    TrenReply reply = fallback;
    const uint8_t sub = req->Parameters.IRREx.ReqRspBuffer[2];
    const int occurrence = subCommandCount[sub]++;
    std::map<uint8_t, std::map<int, TrenReply>>::const_iterator bySub = onSubCommand.find(sub);
    if (bySub != onSubCommand.end() && bySub->second.count(occurrence)) {
        reply = bySub->second.at(occurrence);
    } else if (!script.empty()) {
        reply = script.front();
        script.pop_front();
    }
    if (reply.callResult == 0) return 0;
    rsp->Status = reply.status;
    if (reply.answer) {
        uint8_t* buffer = rsp->Parameters.IRREx.ReqRspBuffer;
        const uint8_t netFn = buffer[0];
        const uint8_t cmd = buffer[1];
        std::memset(buffer, 0, sizeof rsp->Parameters.IRREx.ReqRspBuffer);
        buffer[0] = static_cast<uint8_t>(netFn + 4);  // response NetFn = request NetFn + 1
        buffer[1] = cmd;
        buffer[2] = reply.completion;
        for (std::size_t i = 0; i < reply.data.size() && 3 + i < sizeof rsp->Parameters.IRREx.ReqRspBuffer; ++i)
            buffer[3 + i] = reply.data[i];
    }
    return reply.callResult;
}

uint8_t* FakeTren::getSystemInfo(const uint8_t args[6], int* status, int timeout) {
    ++sysInfoCalls;
    sysInfoArgs.assign(args, args + 6);
    sysInfoPresetStatus = *status;
    sysInfoTimeout = timeout;
    *status = sysInfoStatus;
    if (sysInfoNullBuffer) return nullptr;
    uint8_t* buffer = static_cast<uint8_t*>(std::calloc(32, 1));
    buffer[10] = generation;
    outstanding_.insert(buffer);
    return buffer;
}

void FakeTren::freeGeneric(void* buffer) {
    ++freeCalls;
    if (outstanding_.erase(static_cast<uint8_t*>(buffer))) std::free(buffer);
}

uint8_t* FakeTren::secureStep(const std::string& name, std::vector<int> args, const uint8_t* digest, int* status) {
    SecureCall call;
    call.name = name;
    call.args = std::move(args);
    if (digest != nullptr) call.digest.assign(digest, digest + call.args.at(3));
    secureCalls.push_back(call);
    std::map<std::string, int>::const_iterator it = secureStatus.find(name);
    *status = it == secureStatus.end() ? 0 : it->second;
    if (secureNullBuffer.count(name)) return nullptr;
    uint8_t* buffer = static_cast<uint8_t*>(std::calloc(16, 1));
    outstanding_.insert(buffer);
    return buffer;
}
