// SPDX-License-Identifier: Apache-2.0
// Short controller queries: repository kind and access state, controller
// generation, system kind, dependency-check support, state flag, power
// supplies.
#include <cstring>

#include "core/Protocol.h"
#include "secureKaver.h"

namespace {
const uint8_t STATE_FLAG_NORMAL_BOOT = 0;
const uint8_t STATE_FLAG_GUI = 1;
const uint8_t STATE_FLAG_FIELD_SERVICE = 4;
const uint8_t STATE_FLAG_SSM = 5;
const uint8_t STATE_FLAG_OVERRIDE = 0x80;
const uint8_t kRecoveryState = 2;

uint8_t* shared() { return IPMIReqBuf.Parameters.IRREx.ReqRspBuffer; }

void clearShared() { std::memset(&IPMIReqBuf, 0, sizeof IPMIReqBuf); }

void putHandle(uint8_t* buffer, uint16_t handle) {
    buffer[3] = static_cast<uint8_t>(handle & 0xFF);
    buffer[4] = static_cast<uint8_t>(handle >> 8);
}

// A plain (non-session) request in a zeroed block of its own.
EsmIPMICmdIoctlReq plainRequest(std::initializer_list<uint8_t> bytes, uint16_t rspLen) {
    EsmIPMICmdIoctlReq block;
    std::memset(&block, 0, sizeof block);
    block.ReqType = IPMI_REQTYPE_IRREX;
    block.Parameters.IRREx.RsSA = KAVER_BMC_ADD;
    block.Parameters.IRREx.ChannelNum = 0;
    block.Parameters.IRREx.ReqPhaseBufLen = static_cast<uint32_t>(bytes.size());
    block.Parameters.IRREx.RspPhaseBufLen = rspLen;
    std::size_t i = 0;
    for (uint8_t byte : bytes) block.Parameters.IRREx.ReqRspBuffer[i++] = byte;
    return block;
}

std::string stateFlagMessage(uint8_t value) {
    switch (value) {
        case STATE_FLAG_NORMAL_BOOT: return "State flag set to STATE_FLAG_NORMAL_BOOT.";
        case STATE_FLAG_GUI: return "State flag set to STATE_FLAG_GUI.";
        case STATE_FLAG_FIELD_SERVICE: return "State flag set to STATE_FLAG_FIELD_SERVICE.";
        case STATE_FLAG_SSM: return "State flag set to STATE_FLAG_SSM.";
        case STATE_FLAG_OVERRIDE: return "State flag set to STATE_FLAG_OVERRIDE.";
        default: return "State flag set to unknown value: " + std::to_string(value);
    }
}
}  // namespace

kaverSupport_t secureKaver::GetKaverType() {
    try {
        clearShared();
        if (protocol::request(*this, protocol::kGetRepositoryKind) != 0) {
            KAVER_LOG("There is no kaver present on this system.");
            errorInfo.lastErr = ZEMT_NOKAVERPRESENT;
            return noKaverPresent;
        }
        kaverSupport_t kind;
        switch (shared()[3]) {
            case 0: kind = fullKaverPresent; break;
            case 1: kind = KaverLite; break;
            case 2: kind = Liter; break;
            default: kind = noKaverPresent; break;
        }
        errorInfo.lastErr = 0;
        return kind;
    } catch (...) {
        KAVER_LOG("ZEMT internal error");
        errorInfo.lastErr = ZEMT_INTERROR;
        return noKaverPresent;
    }
}

int secureKaver::IsKaverPresent() { return KAVERType; }

bool secureKaver::IsKaverEnabled() {
    try {
        clearShared();
        if (protocol::request(*this, protocol::kGetRepositoryAccessState) != 0) {
            KAVER_LOG("The getKaverAccessState IPMI command failed.");
            errorInfo.lastErr = ZEMT_GKAVFAILED;
            return false;
        }
        uint8_t state = shared()[3];
        if (state != 0 && byPassRecoveryState()) {
            KAVER_LOG("RQ recovery state by pass is true.");
            if (state == kRecoveryState) {
                KAVER_LOG("RQ is in recovery state.");
                state = 0;
            }
        }
        errorInfo.errSubcode = state;
        errorInfo.lastErr = 0;
        return state == 0;
    } catch (...) {
        KAVER_LOG("ZEMT internal error");
        errorInfo.lastErr = ZEMT_INTERROR;
        return false;
    }
}

int secureKaver::iSSarniVELD() {
    try {
        KAVER_LOG("Function secureKaver::iSSarniVELD started");
        clearShared();
        int result = protocol::request(*this, protocol::kGetControllerVersion);
        KAVER_LOG("Function secureKaver::iSSarniVELD closed");
        return result;
    } catch (...) {
        KAVER_LOG("iSSarniVELD func - ZEMT internal error");
        errorInfo.lastErr = ZEMT_INTERROR;
        return 1;
    }
}

int secureKaver::isMonolithic() {
    EsmIPMICmdIoctlReq block = plainRequest({KAVER_NETFUN_LUN, 0xBD}, 30);
    if (!ProcessIPMICommand(&block)) {
        KAVER_LOG("TREN Command ERROR");
        return -1;
    }
    if (block.Parameters.IRREx.ReqRspBuffer[2] != 0) {
        KAVER_LOG("Monolithic iVELD System");
        return 1;
    }
    KAVER_LOG("Modular iVELD System");
    return 0;
}

int secureKaver::isDepCheckSupported() {
    EsmIPMICmdIoctlReq block = plainRequest({KAVER_NETFUN_LUN, 0xBF, 0x01}, 30);
    if (!ProcessIPMICommand(&block)) {
        KAVER_LOG("TREN Command ERROR");
        return -1;
    }
    const uint8_t* response = block.Parameters.IRREx.ReqRspBuffer;
    if (response[2] != 0) return 0;
    KAVER_LOG("Return Code 0");
    uint8_t major = response[3];
    uint8_t minor = response[4];
    // Major and minor are compared separately, as the firmware rule states.
    if (isMonolithic() == 0) return (major > 1 && minor > 19) ? 1 : 0;
    return (major != 0 && minor > 29) ? 1 : 0;
}

uint8_t secureKaver::getStateFlag(uint8_t& value) {
    try {
        clearShared();
        putHandle(shared(), thisSession.KAVER_Handle);
        shared()[5] = 0;
        uint8_t result = protocol::request(*this, protocol::kGetStateFlag);
        if (result != 0) {
            KAVER_LOG("IPMI call for getStateFlag failed.");
            errorInfo.lastErr = ZEMT_GETSTATEERROR;
            return result;
        }
        value = shared()[5];
        KAVER_LOG(stateFlagMessage(value));
        errorInfo.lastErr = 0;
        return 0;
    } catch (...) {
        KAVER_LOG("ZEMT internal error");
        errorInfo.lastErr = ZEMT_INTERROR;
        return 1;
    }
}

uint8_t secureKaver::setStateFlag(uint8_t value) {
    try {
        clearShared();
        putHandle(shared(), thisSession.KAVER_Handle);
        shared()[5] = 0;
        shared()[6] = value;
        if (protocol::request(*this, protocol::kSetStateFlag) == 0) {
            errorInfo.lastErr = 0;
            return 0;
        }
        KAVER_LOG("IPMI call for setStateFlag failed.");
        errorInfo.lastErr = ZEMT_SETSTATEERROR;
        return 1;
    } catch (...) {
        KAVER_LOG("ZEMT internal error");
        errorInfo.lastErr = ZEMT_INTERROR;
        return 1;
    }
}

int secureKaver::regPowerCycle() {
    if (setStateFlag(STATE_FLAG_SSM) != 0) {
        KAVER_LOG("Setting the SSM flag failed");
        return -1;
    }
    KAVER_LOG("Setting the SSM flag succeeded");
    return 0;
}

int secureKaver::getPSCount(uint8_t& numPSU) {
    EsmIPMICmdIoctlReq block = plainRequest({0x18, 0x59, 0x00, 0xEA, 0x00, 0x00}, 30);
    if (!ProcessIPMICommand(&block)) {
        KAVER_LOG("TREN Command ERROR");
        return -1;
    }
    numPSU = block.Parameters.IRREx.ReqRspBuffer[11];
    return 0;
}

int secureKaver::getPSUVersion(uint8_t i, unsigned int& compID, std::string& version,
                               unsigned int& isPresent) {
    EsmIPMICmdIoctlReq block = plainRequest({KAVER_NETFUN_LUN, 0xB0, 0x0A, i}, 30);
    if (!ProcessIPMICommand(&block)) {
        KAVER_LOG("TREN Command ERROR");
        return -1;
    }
    const uint8_t* response = block.Parameters.IRREx.ReqRspBuffer;
    isPresent = ((response[24] & 0x01) != 0 && (response[4] != 0 || response[5] != 0)) ? 1 : 0;
    compID = static_cast<unsigned int>(response[9]) | (static_cast<unsigned int>(response[10]) << 8) |
             (static_cast<unsigned int>(response[11]) << 16) |
             (static_cast<unsigned int>(response[12]) << 24);
    const char* text = reinterpret_cast<const char*>(response + 13);
    version.assign(text, strnlen(text, 8));
    return 0;
}
