// SPDX-License-Identifier: Apache-2.0
// The OEM request transport: framing, retries on transient transport
// states, completion-code translation and the debug-log dumps.
#include <cstring>

#include "PlatformLayer.h"
#include "core/FailureReason.h"
#include "core/Protocol.h"
#include "internal/hexDump.h"
#include "secureKaver.h"

namespace {
const int kMaxAttempts = 10;
const unsigned int kRetryPause = 2;
const std::size_t kBufferSize = sizeof(((IPMIReqRspEx*)nullptr)->ReqRspBuffer);

enum TransportAction { kAnswer, kFail, kRetryLater, kRetryNow };

struct TransportStatus {
    const char* name;
    TransportAction action;
};

// Indexed by status + 1 (status -1 is the first row).
const TransportStatus kTransportTable[] = {
    {"ESM_STATUS_CMD_UNSUCCESSFUL", kFail},
    {nullptr, kAnswer},
    {"ESM_STATUS_CMD_NOT_IMPLEMENTED", kFail},
    {"ESM_STATUS_CMD_BAD", kFail},
    {"ESM_STATUS_CMD_TIMEOUT", kRetryLater},
    {"ESM_STATUS_CMD_CANCELLED", kFail},
    {"ESM_STATUS_CMD_ABORT", kFail},
    {"ESM_STATUS_CMD_PENDING", kRetryLater},
    {"ESM_STATUS_CMD_NO_SUCH_DEVICE", kFail},
    {"ESM_STATUS_DEVICE_BUSY", kRetryLater},
    {"ESM_STATUS_CMD_DEVICE_BAD", kFail},
    {"ESM_STATUS_CMD_DEVICE_SPURIOUS_INTR", kRetryLater},
    {"ESM_STATUS_CMD_RESOURCE_LOCKED", kFail},
    {"ESM_STATUS_CMD_INVALID_INDEX", kFail},
    {"ESM_STATUS_CMD_ERROR", kFail},
    {"ESM_STATUS_CMD_DATA_NOT_READY", kRetryLater},
    {"ESM_STATUS_CMD_DATA_UNDERRUN", kFail},
    {"ESM_STATUS_CMD_DATA_OVERRUN", kRetryNow},
    {"ESM_STATUS_DEVICE_NOT_READY", kRetryLater},
    {"ESM_STATUS_DEVICE_EMPTY", kFail},
    {"ESM_STATUS_DEVICE_FULL", kFail},
    {nullptr, kAnswer},
    {"ESM_STATUS_PENDING_DOIO_QUEUE", kRetryLater},
    {"ESM_STATUS_PENDING_BUSY_QUEUE", kRetryLater},
};

TransportStatus lookupStatus(int32_t status) {
    int index = status + 1;
    if (index < 0 || index >= static_cast<int>(sizeof kTransportTable / sizeof kTransportTable[0]))
        return TransportStatus{nullptr, kAnswer};
    return kTransportTable[index];
}

EsmIPMICmdIoctlReq* asBlock(void* block) { return static_cast<EsmIPMICmdIoctlReq*>(block); }
uint8_t* bufferOf(void* block) { return asBlock(block)->Parameters.IRREx.ReqRspBuffer; }

// Dump lengths come from the block, which TREN may have rewritten: never
// read past the buffer whatever they say.
std::size_t clampLength(uint32_t length) { return length < kBufferSize ? length : kBufferSize; }

std::string requestDump(void* block) {
    return " IPMIRequest[" +
           hexDump(bufferOf(block), clampLength(asBlock(block)->Parameters.IRREx.ReqPhaseBufLen)) +
           "]\n";
}

std::string responseDump(void* block) {
    return " IPMIResponse[" +
           hexDump(bufferOf(block), clampLength(asBlock(block)->Parameters.IRREx.RspPhaseBufLen)) +
           "]";
}

void frame(void* block, uint8_t netFnLun, uint8_t cmd, uint16_t reqLen, uint16_t rspLen) {
    EsmIPMICmdIoctlReq* req = asBlock(block);
    req->Parameters.IRREx.ReqRspBuffer[0] = netFnLun;
    req->Parameters.IRREx.ReqRspBuffer[1] = cmd;
    req->ReqType = IPMI_REQTYPE_IRREX;
    req->Parameters.IRREx.RsSA = KAVER_BMC_ADD;
    req->Parameters.IRREx.ChannelNum = 0;
    req->Parameters.IRREx.ReqPhaseBufLen = reqLen;
    req->Parameters.IRREx.RspPhaseBufLen = rspLen;
}

// What a failure reason calls a request: its sub-command's name, or the
// command byte for the other OEM commands.
std::string subCommandName(secureKaver& kaver, uint8_t subCmd) {
    const std::string name = kaver.getIPMICommandName(subCmd);
    return name.empty() ? "sub-command " + std::to_string(subCmd) : name;
}

std::string requestName(secureKaver& kaver, const uint8_t* request) {
    if (request[1] != KAVER_IPMI_OEM_CMD) return "command 0x" + hexByte(request[1]);
    return subCommandName(kaver, request[2]);
}

// One exchange through TREN; a missing entry point counts as a failed call.
uint16_t callTren(void* block) {
    if (pfnCommandWithoutRetry == nullptr) {
        KAVER_LOG("ZOLIPMCommand is not available in the hardware-access library");
        return 0;
    }
    return pfnCommandWithoutRetry(asBlock(block), asBlock(block));
}
}  // namespace

std::string secureKaver::getIPMICommandName(uint8_t subCmd) {
    for (const protocol::SubCommand& form : protocol::kSubCommands)
        if (form.number == subCmd) return form.name;
    return "";
}

uint8_t secureKaver::GetErrorCode(void* block) {
    uint8_t* buffer = bufferOf(block);
    uint8_t code = buffer[2];
    for (const protocol::CompletionCode& known : protocol::kCompletionCodes) {
        if (known.code != code) continue;
        KAVER_LOG(known.message);
        return code;
    }
    if (code == KAVER_INPROCESS) {
        KAVER_LOG("IVELD is processing\n");
        buffer[2] = KAVER_PENDING;
        CPlatformLayer::Sleep(kRetryPause);
        return KAVER_PENDING;
    }
    if (DebugLog) KAVER_LOG("Unrecognized IVELD return code [0x" + hexByte(code) + "]");
    return KAVER_FAILURE;
}

uint8_t secureKaver::OEMIPMIRequest(eOEMIPMIRequestType cmd, uint8_t subCmd, void* block,
                                    uint16_t reqLen, uint16_t rspLen) {
    frame(block, KAVER_NETFUN_LUN, static_cast<uint8_t>(cmd), reqLen, rspLen);
    bufferOf(block)[2] = subCmd;
    return ProcessKaverIPMICommand(block);
}

uint8_t secureKaver::ProcessKaverIPMICommand(void* block) {
    if (DebugLog) {
        uint8_t* buffer = bufferOf(block);
        std::string name = buffer[1] == KAVER_IPMI_OEM_CMD ? getIPMICommandName(buffer[2]) : " ";
        KAVER_LOG(name + requestDump(block));
    }
    EsmIPMICmdIoctlReq original;
    std::memcpy(&original, block, sizeof original);

    bool pending = false;
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        if (pending) CPlatformLayer::Sleep(kRetryPause);
        // The first attempt sends the block as the caller left it.
        if (attempt > 0) std::memcpy(block, &original, sizeof original);
        if (callTren(block) == 0) {
            KAVER_LOG("ZOLIPMCommand ERROR\n");
            failure::record(requestName(*this, bufferOf(&original)) +
                            ": the hardware-access library exchanged nothing");
            return KAVER_FAILURE;
        }
        if (DebugLog) KAVER_LOG(responseDump(block));
        TransportStatus status = lookupStatus(asBlock(block)->Status);
        switch (status.action) {
            case kAnswer: {
                const uint8_t answered = bufferOf(block)[2];
                const uint8_t code = GetErrorCode(block);
                if (code != KAVER_SUCCESS && code != KAVER_PENDING)
                    failure::record(requestName(*this, bufferOf(&original)) + " refused: completion code 0x" +
                                    hexByte(answered));
                return code;
            }
            case kFail:
                KAVER_LOG(status.name);
                failure::record(requestName(*this, bufferOf(&original)) + ": transport status " + status.name);
                return KAVER_FAILURE;
            case kRetryLater:
                KAVER_LOG(status.name);
                pending = true;
                break;
            case kRetryNow:
                KAVER_LOG(status.name);
                break;
        }
    }
    // Ten answers that never settled; data overruns alone are a failure,
    // not the success an unmarked result would suggest.
    failure::record(requestName(*this, bufferOf(&original)) + ": no final answer in " + std::to_string(kMaxAttempts) +
                    " attempts");
    return pending ? KAVER_PENDING : KAVER_FAILURE;
}

uint8_t secureKaver::IPMIRequest(uint8_t subCmd, void* block, uint16_t reqLen, uint16_t rspLen) {
    uint8_t result = OEMIPMIRequest(KaverSessionCommand, subCmd, block, reqLen, rspLen);
    uint8_t* buffer = bufferOf(block);
    if (result == 0) {
        uint16_t handle = static_cast<uint16_t>(buffer[3] | (buffer[4] << 8));
        if (handle != 0) {
            thisSession.KAVER_Handle = handle;
            if (DebugLog) KAVER_LOG("New Kaver Handle = " + std::to_string(handle));
        }
        return 0;
    }
    if (DebugLog) KAVER_LOG(" IPMIRequest completion code =" + hexByte(result));
    if (buffer[2] == KAVER_PENDING) {
        const uint8_t settled = PollKaverCmdComplete(ZEMT_MAXPOLLCNT, subCmd) ? buffer[2] : result;
        if (settled != KAVER_SUCCESS) failure::prefix(subCommandName(*this, subCmd));
        return settled;
    }
    return result;
}

bool secureKaver::ProcessIPMICommand(void* block) {
    KAVER_LOG("ProcessIPMICommand Start\n");
    if (DebugLog) KAVER_LOG(requestDump(block));
    EsmIPMICmdIoctlReq original;
    std::memcpy(&original, block, sizeof original);
    bool exchanged = false;
    for (int attempt = 0; attempt < kMaxAttempts && !exchanged; ++attempt) {
        if (attempt > 0) {
            CPlatformLayer::Sleep(kRetryPause);
            std::memcpy(block, &original, sizeof original);
        }
        uint16_t called = callTren(block);
        if (DebugLog) KAVER_LOG(responseDump(block));
        if (called != 0) {
            KAVER_LOG("ProcessIPMICommand Passed\n");
            exchanged = true;
        }
    }
    KAVER_LOG("ProcessIPMICommand END\n");
    return exchanged;
}

bool secureKaver::rstiVELD() {
    EsmIPMICmdIoctlReq block;
    std::memset(&block, 0, sizeof block);
    frame(&block, 0x18, 0x02, 2, 0);
    if (!ProcessIPMICommand(&block)) {
        KAVER_LOG("ZOLIPMCommand ERROR\n");
        return true;
    }
    return false;
}

uint8_t secureKaver::OEMIPMIRequestiVELDReset(eOEMIPMIRequestType cmd, void* block,
                                              uint16_t reqLen, uint16_t rspLen) {
    frame(block, 0x2E, static_cast<uint8_t>(cmd), reqLen, rspLen);
    if (!ProcessIPMICommand(block)) {
        KAVER_LOG("ZOLIPMCommand ERROR\n");
        return KAVER_FAILURE;
    }
    return GetErrorCode(block);
}
