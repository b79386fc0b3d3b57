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
    if (!script.empty()) {
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
