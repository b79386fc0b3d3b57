// SPDX-License-Identifier: Apache-2.0
// Polling a pending sub-command to its final status.
#include <cstring>

#include "PlatformLayer.h"
#include "core/FailureReason.h"
#include "core/Protocol.h"
#include "internal/hexDump.h"
#include "secureKaver.h"

EsmIPMICmdIoctlReq PollReqBuf;

namespace {
const protocol::SubCommand& kStatus = protocol::kGetKaverStatus;
const std::size_t kSubCmdStatusByte = 5;
}  // namespace

bool secureKaver::PollKaverCmdComplete(int count, uint8_t subCmd) {
    uint8_t* ReqBuf = PollReqBuf.Parameters.IRREx.ReqRspBuffer;
    uint8_t* CalBuf = IPMIReqBuf.Parameters.IRREx.ReqRspBuffer;
    // Why a poll that ends unsuccessfully ended; a failed poll request
    // records its own reason.
    std::string why = "not polled";
    if (IsSessionActive() && count > 0) {
        why = "no final status after " + std::to_string(count) + " polls";
        for (int i = 0; i < count; ++i) {
            KAVER_LOG("Polling Count " + std::to_string(i) + " \n ");
            CPlatformLayer::Sleep(1);
            std::memset(&PollReqBuf, 0, sizeof PollReqBuf);
            ReqBuf[3] = static_cast<uint8_t>(thisSession.KAVER_Handle & 0xFF);
            ReqBuf[4] = static_cast<uint8_t>(thisSession.KAVER_Handle >> 8);
            ReqBuf[2] = kStatus.number;
            ReqBuf[kSubCmdStatusByte] = subCmd;
            // Not IPMIRequest: a pending poll is simply polled again.
            uint8_t r = OEMIPMIRequest(KaverSessionCommand, kStatus.number, &PollReqBuf, kStatus.reqLen,
                                       kStatus.rspLen);
            if (DebugLog)
                KAVER_LOG(" PollKaverCmdComplete IPMIResponse[" + hexDump(ReqBuf, kStatus.rspLen) + "]");
            KAVER_LOG("SubCmdStatus: " + hexByte(ReqBuf[kSubCmdStatusByte]));
            if (r == KAVER_FAILURE) {
                KAVER_LOG("GetKAVERStatus Command returned: FAILURE.  Breaking out of Poll Loop");
                why.clear();
                break;
            }
            if (r == KAVER_SUCCESS) {
                CalBuf[2] = ReqBuf[kSubCmdStatusByte];
                if (ReqBuf[kSubCmdStatusByte] != KAVER_PENDING) {
                    why = "final status 0x" + hexByte(ReqBuf[kSubCmdStatusByte]);
                    break;
                }
                continue;
            }
            KAVER_LOG(" PollKaverCmdComplete Response = " + std::to_string(r));
        }
    }
    const bool done = ReqBuf[kSubCmdStatusByte] == KAVER_SUCCESS;
    if (!done && !why.empty()) failure::record(why);
    return done;
}
