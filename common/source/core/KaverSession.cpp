// SPDX-License-Identifier: Apache-2.0
// Opening and closing the repository session.
#include <cstring>

#include "core/Protocol.h"
#include "secureKaver.h"

namespace {
const uint8_t kExtendedFlag = 0x02;

uint8_t* requestBuffer() { return IPMIReqBuf.Parameters.IRREx.ReqRspBuffer; }

void prepareBegin(uint16_t timeout, uint8_t reserved1) {
    std::memset(&IPMIReqBuf, 0, sizeof IPMIReqBuf);
    uint8_t* buffer = requestBuffer();
    buffer[3] |= reserved1;
    buffer[4] = static_cast<uint8_t>(timeout & 0xFF);
    buffer[5] = static_cast<uint8_t>(timeout >> 8);
}
}  // namespace

bool secureKaver::BeginKaverSession(uint16_t timeout) {
    try {
        if (IsSessionActive()) {
            KAVER_LOG("Session is already active");
            throw static_cast<uint8_t>(ZEMT_SESSIONACTIVE);
        }
        errorInfo.lastErr = 0;
        prepareBegin(timeout, 0);
        if (protocol::request(*this, protocol::kBeginSession) == 0) {
            KAVER_LOG("Session started successfully");
            thisSession.sessionActive = true;
            return true;
        }
        KAVER_LOG("Error starting session");
        throw static_cast<uint8_t>(GetSystemGeneration() > 0 ? ZEMT_GETSESSFAIL_Vemo
                                                              : ZEMT_GETSESSFAIL);
    } catch (uint8_t code) {
        errorInfo.lastErr = code;
        KAVER_LOG("BeginKaverSession failed");
    } catch (...) {
        KAVER_LOG("BeginKaverSession failed");
        KAVER_LOG("ZEMT internal error");
        errorInfo.lastErr = ZEMT_INTERROR;
    }
    return false;
}

bool secureKaver::BeginKaverSessionExtended(uint16_t timeout) {
    try {
        if (IsSessionActive()) {
            KAVER_LOG("BeginKAVERSessionExtended Session is already active");
            return true;
        }
        errorInfo.lastErr = 0;
        prepareBegin(timeout, kExtendedFlag);
        if (protocol::request(*this, protocol::kBeginSessionExtended) == 0) {
            KAVER_LOG("Session started successfully using BeginKAVERSessionExtended command");
            thisSession.sessionActive = true;
            return true;
        }
        KAVER_LOG("BeginKAVERSessionExtended Error starting session");
        throw static_cast<uint8_t>(GetSystemGeneration() > 0 ? ZEMT_GETSESSFAIL_Vemo
                                                              : ZEMT_GETSESSFAIL);
    } catch (uint8_t code) {
        errorInfo.lastErr = code;
        KAVER_LOG("BeginKAVERSessionExtended failed");
    } catch (...) {
        KAVER_LOG("BeginKAVERSessionExtended failed");
        KAVER_LOG("BeginKAVERSessionExtended ZEMT internal error");
        errorInfo.lastErr = ZEMT_INTERROR;
    }
    return false;
}

bool secureKaver::EndKaverSession() {
    try {
        std::memset(&IPMIReqBuf, 0, sizeof IPMIReqBuf);
        if (!IsSessionActive()) {
            KAVER_LOG("No Active Session Found");
            throw static_cast<uint8_t>(ZEMT_NOKAVERSESS);
        }
        uint8_t* buffer = requestBuffer();
        buffer[3] = static_cast<uint8_t>(thisSession.KAVER_Handle & 0xFF);
        buffer[4] = static_cast<uint8_t>(thisSession.KAVER_Handle >> 8);
        if (protocol::request(*this, protocol::kEndSession) == 0) {
            thisSession = sessionHandle();
            KAVER_LOG("EndKaverSession succeeded");
            return true;
        }
        KAVER_LOG("EndKaverSession failed");
        throw static_cast<uint8_t>(ZEMT_ENDSESSERR);
    } catch (uint8_t code) {
        errorInfo.lastErr = code;
        KAVER_LOG("EndKaverSession failed");
    } catch (...) {
        KAVER_LOG("EndKaverSession failed");
        KAVER_LOG("ZEMT internal error");
        errorInfo.lastErr = ZEMT_INTERROR;
    }
    return false;
}

bool secureKaver::IsSessionActive() {
    if (!thisSession.sessionActive) errorInfo.lastErr = ZEMT_NOKAVERSESS;
    return thisSession.sessionActive;
}
