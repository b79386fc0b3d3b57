// SPDX-License-Identifier: Apache-2.0
// Stage-and-update on generation-three controllers: one sub-command asks
// for the capability, starts staging (or staging and applying) the drop
// box's /payload, and reads the outcome.
#include <cstring>

#include "PlatformLayer.h"
#include "core/FailureReason.h"
#include "core/Protocol.h"
#include "secureKaver.h"

namespace {

const uint8_t kQueryCapability = 1;
const uint8_t kStageOnly = 2;
const uint8_t kStageAndApply = 4;
const uint8_t kReadStatus = 8;

// Answers to the start request (response byte 5).
const uint8_t kAccepted = 1;
const uint8_t kNotAccepted = 2;
const uint8_t kStartPending = 3;

const int kStartAttempts = 10;
const int kMaxPolls = 3000;
const unsigned int kWaitSeconds = 2;

const int kPollAgain = 2;  // not a result: the status asks for another poll

struct Status {
    uint8_t code;
    const char* message;
    int result;  // -1, 0, 1 or kPollAgain
};

const Status kStatuses[] = {
    {1, " Polling Failed", -1},
    {2, "Pending Staging/Update in Progress", kPollAgain},
    {4, "Failed Payload and Package Validation", -1},
    {9, "Errror in ssib Creation", -1},
    {23, "Cannot acquire or release KAVER session ", -1},
    {32, "Unable to copy contents form SECUPD", -1},
    {44, " XML Error", -1},
    {45, "Success and Reboot is required", 0},
    {46, " No Matching / Supported Device Found", -1},
    {47, " Success and Reboot is Not required", 1},
    {48, "Unable to Delete SECUPD", -1},
};

const Status kUnknownStatus = {0, "Unknow return code and continue to poll again", kPollAgain};

const Status& statusOf(uint8_t code) {
    for (const Status& status : kStatuses)
        if (status.code == code) return status;
    return kUnknownStatus;
}

// "46 (No Matching / Supported Device Found)": the code and its message
// without the blanks the log keeps.
std::string statusText(uint8_t code, const Status& status) {
    std::string message = status.message;
    message.erase(0, message.find_first_not_of(' '));
    message.erase(message.find_last_not_of(' ') + 1);
    return std::to_string(code) + " (" + message + ")";
}

uint8_t* block() { return IPMIReqBuf.Parameters.IRREx.ReqRspBuffer; }

// Clears the shared block and writes one request of the sub-command; the
// answer overwrites it, so every send starts here.
void prepare(uint16_t handle, uint8_t operation) {
    std::memset(&IPMIReqBuf, 0, sizeof IPMIReqBuf);
    block()[3] = static_cast<uint8_t>(handle & 0xFF);
    block()[4] = static_cast<uint8_t>(handle >> 8);
    block()[5] = operation;
}

[[noreturn]] void failNoSession(const char* message) {
    KAVER_LOG(message);
    failure::record("no session with the controller is open");
    throw static_cast<unsigned char>(ZEMT_NOKAVERSESS);
}

// Runs one of the operations: a failure code it raises is stored, any other
// exception counts as an internal error; either logs `failedMessage` and
// gives `failure`.
template <typename Result, typename Operation>
Result guarded(secureKaver& kaver, const char* failedMessage, Result failure, Operation operation) {
    try {
        return operation();
    } catch (unsigned char code) {
        kaver.storeErrorInfo(code);
        KAVER_LOG(failedMessage);
    } catch (...) {
        KAVER_LOG(failedMessage);
        KAVER_LOG("ZEMT internal error");
        kaver.storeErrorInfo(ZEMT_INTERROR);
        failure::record("internal error");
    }
    return failure;
}

}  // namespace

bool secureKaver::checkGUIDEnable() {
    return guarded(*this, "checkGUIDEnable Command is failed", false, [&]() {
        KAVER_LOG("Entering checkGUIDEnable");
        std::memset(&IPMIReqBuf, 0, sizeof IPMIReqBuf);
        if (!IsSessionActive()) failNoSession("No Active Session to check GUID Compatibility");
        prepare(thisSession.KAVER_Handle, kQueryCapability);
        if (protocol::request(*this, protocol::kStageAndUpdate) != 0) {
            KAVER_LOG("checkGUIDEnable Command is failed");
            return false;
        }
        KAVER_LOG("checkGUIDEnable Command is successful");
        if (block()[2] == 0 && block()[5] == 1) {
            KAVER_LOG("checkGUIDEnable IPMI is success and also GUID check is enabled");
            return true;
        }
        KAVER_LOG("checkGUIDEnable IPMI Command is false and also GUID check is false");
        return false;
    });
}

int secureKaver::sendIPMICommandToStageAndUpdate(bool bStageAndUpdate) {
    return guarded(*this, "Stage or Update Command is failed", -1, [&]() {
        KAVER_LOG("Entering sendIPMICommandToStageAndUpdate() Function");
        std::memset(&IPMIReqBuf, 0, sizeof IPMIReqBuf);
        if (!IsSessionActive()) failNoSession("No Active Session to perform Stage/Update");
        const uint8_t operation = bStageAndUpdate ? kStageAndApply : kStageOnly;
        int nRetryCount = 0;
        // A pending answer is asked again after 2 s, ten times at most.  An
        // answer outside the table is treated the same way, so a controller
        // that keeps sending one cannot hold the update forever.
        while (nRetryCount < kStartAttempts) {
            prepare(thisSession.KAVER_Handle, operation);
            if (protocol::request(*this, protocol::kStageAndUpdate) != 0) {
                KAVER_LOG("checkGUIDEnable Command is failed");
                failure::prefix("asking the controller to start");
                return -1;
            }
            KAVER_LOG("Stage or Update KAVER command Is successful ");
            const uint8_t answer = block()[5];
            if (answer == kAccepted) {
                KAVER_LOG("sendIPMICommandToStageAndUpdate request Accepted and Polling for status");
                return pollForStatus();
            }
            if (answer == kNotAccepted) {
                KAVER_LOG("sendIPMICommandToStageAndUpdate request Not Accepted and Stage Only Failed");
                failure::record("the controller did not accept the request (answer 2)");
                return -1;
            }
            if (answer == kStartPending) KAVER_LOG("sendIPMICommandToStageAndUpdate Pending");
            else KAVER_LOG("sendIPMICommandToStageAndUpdate unexpected answer " + std::to_string(answer));
            ++nRetryCount;
            KAVER_LOG("nRetryCount " + std::to_string(nRetryCount));
            CPlatformLayer::Sleep(kWaitSeconds);
            if (nRetryCount == kStartAttempts)
                failure::record("the controller did not start: its last of " + std::to_string(kStartAttempts) +
                                " answers was " + std::to_string(answer) +
                                (answer == kStartPending ? " (pending)" : " (not a known answer)"));
        }
        return -1;
    });
}

int secureKaver::pollForStatus() {
    return guarded(*this, "Polling Command is failed", -1, [&]() {
        KAVER_LOG("Entering pollForStatus() Function");
        int polls = 0;
        while (polls < kMaxPolls) {
            std::memset(&IPMIReqBuf, 0, sizeof IPMIReqBuf);
            if (!IsSessionActive()) failNoSession("No Active Session to perform Stage/Update");
            prepare(thisSession.KAVER_Handle, kReadStatus);
            if (protocol::request(*this, protocol::kStageAndUpdate) != 0) {
                failure::prefix("reading the status");
                return -1;
            }
            KAVER_LOG("Stage or Update KAVER command Is successful ");
            const Status& status = statusOf(block()[5]);
            KAVER_LOG(status.message);
            if (status.result == -1) failure::record("the controller reported status " + statusText(block()[5], status));
            if (status.result != kPollAgain) return status.result;
            CPlatformLayer::Sleep(kWaitSeconds);
            ++polls;
        }
        KAVER_LOG("Leaving pollForStatus() Function");
        failure::record("no final status after " + std::to_string(kMaxPolls) + " polls; the last was " +
                        statusText(block()[5], statusOf(block()[5])));
        return -1;
    });
}
