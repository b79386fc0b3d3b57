// SPDX-License-Identifier: Apache-2.0
// The controller's secure-update protocol: one signed package through the
// dynamic partition, begun, processed by hash and ended through TREN.
#include <cstdio>
#include <cstring>
#include <memory>

#include "staging/DocumentFile.h"
#include "PlatformLayer.h"
#include "UpdateDocument.h"
#include "core/FailureReason.h"
#include "core/Protocol.h"
#include "core/TrenFunctions.h"
#include "md5wrapper.h"
#include "secureKaver.h"

namespace {

const int kPending = 0x1002;
const int kTrenTimeout = 750;
const uint16_t kSecureUpdateTimeout = 1200;

[[noreturn]] void fail(uint8_t code) { throw static_cast<unsigned char>(code); }

std::string hex4(int status) {
    char text[16];
    std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(status) & 0xFFFFFFFFu);
    return text;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

// What every step does with TREN's answer.  `step` and `pfn` name the
// method and the function in its log lines; `succeeded`, when set, is
// logged on success.
bool finishStep(secureKaver& kaver, const std::string& step, const std::string& pfn, const char* succeeded,
                uint8_t* response, int status, uint8_t pollSub) {
    bool ok = true;
    if (status == kPending) {
        KAVER_LOG(step + " : " + pfn + " returned Pending status");
        if (!kaver.PollKaverCmdComplete(ZEMT_MAXPOLLCNT, pollSub)) {
            KAVER_LOG(step + " : PollKaverCmdComplete function returned false");
            failure::prefix(step);
            ok = false;
        }
    } else if (status != 0 || response == nullptr) {
        KAVER_LOG(step + " : " + pfn + " failed : Return Code - 0x" + hex4(status));
        failure::record(step + ": the hardware-access library answered status 0x" + hex4(status) +
                        (response == nullptr ? " and no buffer" : ""));
        ok = false;
    }
    if (ok && succeeded != nullptr) KAVER_LOG(succeeded);
    if (response != nullptr) kaver.freeResponsePtr(response);
    return ok;
}

}  // namespace

void secureKaver::freeResponsePtr(void* p) {
    FPROCZOLIPMIFREEGENERIC pfnFree = tren::lookup(tren::kFreeGeneric);
    if (pfnFree != nullptr) pfnFree(p);
    else KAVER_LOG("freeResponsePtr : Unable to Free Memory");
}

bool secureKaver::beginSecureUpdate(uint32_t size) {
    KAVER_LOG("Entering beginSecureUpdate");
    FPROCZOLIPMOEMKAVERBEGINSECUREUPDATE pfn = tren::lookup(tren::kBeginSecureUpdate);
    if (pfn == nullptr) {
        KAVER_LOG("beginSecureUpdate : pfnBeginSecureUpdate is NULL");
        failure::record(std::string("the hardware-access library lacks ") + tren::kBeginSecureUpdate.name);
        return false;
    }
    const uint16_t units = static_cast<uint16_t>(size >> 15);
    KAVER_LOG("beginSecureUpdate : Payload Size : " + std::to_string(units));
    uint8_t out[16] = {0};
    int status = 0;
    uint8_t* response = pfn(0, 0xFF, kSecureUpdateTimeout, units, thisSession.KAVER_Handle, kTrenTimeout, out, &status);
    return finishStep(*this, "beginSecureUpdate", "pfnBeginSecureUpdate", "beginSecureUpdate Succeeded", response,
                      status, protocol::kBeginSecureUpdate.number);
}

bool secureKaver::processSecureUpdate(std::string hash) {
    KAVER_LOG("Entering processSecureUpdate");
    FPROCZOLIPMOEMKAVERPROCESSSECUREUPDATE pfn = tren::lookup(tren::kProcessSecureUpdate);
    if (pfn == nullptr) {
        KAVER_LOG("processSecureUpdate : pfnProcessSecureUpdate is NULL");
        failure::record(std::string("the hardware-access library lacks ") + tren::kProcessSecureUpdate.name);
        return false;
    }
    uint8_t digest[16] = {0};
    for (std::size_t i = 0; i < 16 && 2 * i + 1 < hash.size(); ++i)
        digest[i] = static_cast<uint8_t>(hexDigit(hash[2 * i]) << 4 | hexDigit(hash[2 * i + 1]));
    uint8_t out[16] = {0};
    int status = 0;
    uint8_t* response = pfn(0, 0xFF, 0, 16, thisSession.KAVER_Handle, kTrenTimeout, digest, out, &status);
    return finishStep(*this, "processSecureUpdate", "pfnProcessSecureUpdate", nullptr, response, status,
                      protocol::kProcessSecureUpdate.number);
}

bool secureKaver::endSecureUpdate() {
    KAVER_LOG("Entering endSecureUpdate");
    FPROCZOLIPMOEMKAVERENDSECUREUPDATE pfn = tren::lookup(tren::kEndSecureUpdate);
    if (pfn == nullptr) {
        KAVER_LOG("endSecureUpdate : pfnEndSecureUpdate is NULL");
        failure::record(std::string("the hardware-access library lacks ") + tren::kEndSecureUpdate.name);
        return false;
    }
    uint8_t out[16] = {0};
    int status = 0;
    uint8_t* response = pfn(0, 0xFF, 0, thisSession.KAVER_Handle, kTrenTimeout, out, &status);
    return finishStep(*this, "endSecureUpdate", "pfnEndSecureUpdate", "endSecureUpdate Succeeded", response, status,
                      protocol::kEndSecureUpdate.number);
}

bool secureKaver::CompleteSignedUnzip() {
    static md5wrapper md5;
    std::unique_ptr<std::ostringstream> stream;
    failure::clear();
    std::string step = "beginning the secure update";  // what the reason of a failure is put behind
    try {
        uint32_t wanted = 0;
        CalculateAndAdjustPayloadSize(wanted);
        if (wanted > MAX_DYN_PART_SIZE) {
            KAVER_LOG("Payload size exceeds Maximum Dynamic partition size.");
            failure::record("the payload needs " + std::to_string(wanted) + " bytes, a drop box holds at most " +
                            std::to_string(MAX_DYN_PART_SIZE));
            fail(ZEMT_PAYLOADSIZEGTMAX);
        }
        if (!beginSecureUpdate(wanted)) {
            KAVER_LOG("Begin Secure Update failed.");
            fail(ZEMT_BEGIN_SECUREUPDATE_FAILED);
        }
        stream.reset(new std::ostringstream());
        AddCfgHdr(stream.get());
        step = "mounting the drop box";
        if (!mountDynPartition()) {
            KAVER_LOG("mountDynPartition did not succeed.");
            fail(ZEMT_FINDMOUNTERR);
        }
        if (!getDynPartDrive(dynDriveName, DynMountPoint)) {
            KAVER_LOG("Dynamic Partition Mount Point NOT found");
            fail(ZEMT_FINDMOUNTERR);
        }
        const std::string mountPoint(DynMountPoint, strnlen(DynMountPoint, sizeof DynMountPoint));
        KAVER_LOG("Dynamic Partition Mount Point: " + mountPoint);
        step = "filling the drop box";
        if (!populateDynPart(stream.get())) {
            KAVER_LOG("populateDynPart failed");
            fail(ZEMT_FINDMOUNTERR);
        }
        std::string hash;
        step = "writing the update document";
        if (!documentfile::place(*this, md5, *stream, mountPoint, hash)) {
            // End the update now rather than have a cut-short document refused.
            fail(ZEMT_FINDMOUNTERR);
        }

        if (!unmountDynPartition()) KAVER_LOG("umountDynPartition failed.");
        ESX_RemoveEntries(0, kaverPartInfo[dynPartSlot].i_bitmap, 0);
        step = "processing the secure update";
        if (!processSecureUpdate(hash)) {
            KAVER_LOG("processSecureUpdate failed");
            fail(ZEMT_PROCESS_SECUREUPDATE_FAILED);
        }
        step = "ending the secure update";
        if (!endSecureUpdate()) {
            KAVER_LOG("EndSecureUpdate Failed");
            fail(ZEMT_END_SECUREUPDATE_FAILED);
        }
        KAVER_LOG("EndSecureUpdate succeeded");
        UpdateCompletionStatus = true;
        l_state = 0;
        return true;
    } catch (unsigned char code) {
        storeErrorInfo(code);
        KAVER_LOG("copyPayload failed");
        failure::prefix(step);
        failure::Keep reason;  // through the clean-up below
        stream.reset();
        if (code == ZEMT_FINDMOUNTERR || code == ZEMT_PROCESS_SECUREUPDATE_FAILED) {
            // Begun and not ended: a mount left by a failed fill goes first.
            if (code == ZEMT_FINDMOUNTERR) unmountDynPartition();
            const bool ended = endSecureUpdate();  // not inside the log macro: it may skip its argument
            KAVER_LOG(ended ? "EndSecureUpdate succeeded" : "EndSecureUpdate Failed");
        }
        l_state = 0;
        return false;
    } catch (...) {
        storeErrorInfo(ZEMT_INTERROR);
        KAVER_LOG("copyPayload failed");
        KAVER_LOG("ZEMT internal error");
        failure::record(step + ": internal error");
        l_state = 0;
        return false;
    }
}
