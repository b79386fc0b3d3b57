// SPDX-License-Identifier: Apache-2.0
// Learning from the controller which partitions exist and under which bit
// of its partition bitmaps each one is listed.
#include "partitions/PartitionRequest.h"
#include "secureKaver.h"

namespace {

const unsigned kBitsExamined = 8;  // only the low byte of a bitmap is looked up

// Response offsets of Getpartitionindexinfo.
const std::size_t kStaticBitmapOffset = 5;
const std::size_t kDynamicBitmapOffset = 9;

// One Getpartitionindexinfo exchange; the session fields keep their last
// good values when the controller does not answer.
void refreshBitmaps(secureKaver& kaver) {
    partreq::begin(kaver);
    if (protocol::request(kaver, protocol::kGetPartitionIndexInfo) != 0)
        return;
    kaver.thisSession.statBitMap = partreq::getBitmap(kStaticBitmapOffset);
    kaver.thisSession.dynBitMap = partreq::getBitmap(kDynamicBitmapOffset);
}

// The two index queries are one exchange; they differ only in the bitmap
// they hand back (the last good one when the controller does not answer).
uint16_t indexInfo(secureKaver& kaver, uint16_t sessionHandle::*bitmap) {
    try {
        if (!kaver.IsSessionActive()) {
            KAVER_LOG("KAVER session not started");
            return 0;
        }
        refreshBitmaps(kaver);
        return kaver.thisSession.*bitmap;
    } catch (...) {
        KAVER_LOG("ZEMT internal error");
        kaver.errorInfo.lastErr = ZEMT_INTERROR;
    }
    return 0;
}

void logInconsistentName(const std::string& label) {
    KAVER_LOG("The partition name [" + partreq::printable(label) + "]is inconsistent with the standard.");
}

}  // namespace

uint16_t secureKaver::getPartIndexInfo() { return indexInfo(*this, &sessionHandle::statBitMap); }

uint16_t secureKaver::getDynPartIndexInfo() { return indexInfo(*this, &sessionHandle::dynBitMap); }

bool secureKaver::getPartInfo(uint16_t bitmap) {
    try {
        if (!IsSessionActive()) {
            KAVER_LOG("KAVER session not started");
            return false;
        }
        for (unsigned n = 0; n < kBitsExamined; ++n) {
            const uint16_t bit = static_cast<uint16_t>(1u << n);
            if ((bitmap & bit) == 0) continue;
            if (!partreq::askPartitionInfo(*this, staticPartType, n)) continue;
            const std::string label = partreq::responseLabel();
            const partId_t id = getPartIndex(label);
            // Ids above the catalogue's last row are as meaningless as 0.
            if (id == 0 || id >= MaxPartInfoEntry) {
                logInconsistentName(label);
                continue;
            }
            kaverPartInfo[id].i_bitmap = bit;
            kaverPartInfo[id].i_present = true;
        }
        return true;
    } catch (...) {
        KAVER_LOG("ZEMT internal error");
        errorInfo.lastErr = ZEMT_INTERROR;
    }
    return false;
}

bool secureKaver::getDynPartInfo(uint16_t bitmap) {
    try {
        if (!IsSessionActive()) {
            KAVER_LOG("KAVER session not started");
            return false;
        }
        for (unsigned n = 0; n < kBitsExamined; ++n) {
            const uint16_t bit = static_cast<uint16_t>(1u << n);
            if ((bitmap & bit) == 0) continue;
            // Only the lowest set bit is looked up; the label is not checked.
            if (partreq::askPartitionInfo(*this, dynamicPartType, n)) {
                kaverPartInfo[dynPartSlot].i_bitmap = bit;
                kaverPartInfo[dynPartSlot].i_present = true;
            }
            break;
        }
        return true;
    } catch (...) {
        KAVER_LOG("ZEMT internal error");
        errorInfo.lastErr = ZEMT_INTERROR;
    }
    return false;
}
