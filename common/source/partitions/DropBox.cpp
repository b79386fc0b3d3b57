// SPDX-License-Identifier: Apache-2.0
// Drop boxes: the dynamic partitions created for one transfer and deleted
// after it.
#include <cctype>

#include "partitions/PartitionRequest.h"
#include "secureKaver.h"

namespace {

const unsigned kBitsExamined = 8;

// The size field of a create request is 16 bits wide, so this is the
// largest drop box a request can ask for (2 GiB - 32 KiB).
const uint32_t kMaxUnits = 0xFFFF;

const std::size_t kBitmapOffset = 5;     // delete request
const std::size_t kUnitsOffset = 5;      // create request
const std::size_t kVolNameOffset = 7;    // create request
const std::size_t kDevTypeOffset = 13;   // create request

void fillDelete(const secureKaver& kaver, uint16_t bitmap) {
    partreq::begin(kaver);
    partreq::putBitmap(kBitmapOffset, bitmap);
}

bool sameLabel(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

}  // namespace

bool secureKaver::CreateDropBox(const char* s_volName, uint32_t size, uint32_t* retSize) {
    (void)s_volName;  // every drop box is labelled dynDriveName
    uint16_t before = 0;
    uint16_t after = 0;
    try {
        partreq::clear();
        if (!IsSessionActive()) {
            KAVER_LOG("CreateDropBox called with NO active session");
            throw static_cast<uint8_t>(ZEMT_NOKAVERSESS);
        }
        before = getDynPartIndexInfo();
        after = before;

        // Rounded up to whole units; a count the 16-bit field cannot carry
        // (from exactly 2 GiB up) would reach the controller as a wrong size.
        const uint32_t units = size / DYNCHUNK_SZ + (size % DYNCHUNK_SZ != 0 ? 1 : 0);
        if (units > kMaxUnits) {
            KAVER_LOG("ZEMT size greater than 2GB");
            throw static_cast<uint8_t>(ZEMT_SIZEGT2GB);
        }

        partreq::begin(*this);
        uint8_t* buffer = partreq::buffer();
        buffer[kUnitsOffset] = static_cast<uint8_t>(units & 0xFF);
        buffer[kUnitsOffset + 1] = static_cast<uint8_t>(units >> 8);
        // dynDriveName is a global a caller may replace: copy at most six
        // characters of it and never read past its end.
        const char* label = dynDriveName ? dynDriveName : "";
        for (std::size_t i = 0; i < partreq::kLabelLength && label[i] != '\0'; ++i)
            buffer[kVolNameOffset + i] = static_cast<uint8_t>(label[i]);
        buffer[kDevTypeOffset] = USB_KEY;
        if (protocol::request(*this, protocol::kCreateDynamicPartition) != 0) {
            KAVER_LOG("CreateDropBox failed");
            throw static_cast<uint8_t>(ZEMT_DYNPARTERR);
        }
        KAVER_LOG("CreateDynamicPartition succeeded");

        after = getDynPartIndexInfo();
        if (after == before) {
            KAVER_LOG("getDynPartIndexInfo BitMap = 0. Partition Invalid");
            kaverPartInfo[dynPartSlot].i_bitmap = 0;
            throw static_cast<uint8_t>(ZEMT_DYNPARTEXISTS);
        }
        KAVER_LOG("getDynPartIndexInfo BitMap != 0. Partition is Valid");
        // Row 0 still holds the previous drop box's bit; only a bit that
        // the lookup below records may count as the new one.
        kaverPartInfo[dynPartSlot].i_bitmap = 0;
        getDynPartInfo(static_cast<uint16_t>(after ^ before));
        if (kaverPartInfo[dynPartSlot].i_bitmap == 0) {
            KAVER_LOG("DynPartInfo bitmap = 0");
            throw static_cast<uint8_t>(ZEMT_DYNPARTEXISTS);
        }

        if (retSize) *retSize = units * DYNCHUNK_SZ;
        KAVER_LOG("CreateDropBox succeeded");
        return true;
    } catch (uint8_t code) {
        errorInfo.lastErr = code;
        if (retSize) *retSize = 0;
        KAVER_LOG("CreateDropBox failed");
        if (code == ZEMT_DYNPARTEXISTS) {
            // The controller took the create, but the new partition could not
            // be identified: remove it again, if there is a bit that names it.
            KAVER_LOG("Deleting created partition");
            const uint16_t created = static_cast<uint16_t>(after ^ before);
            if (created == 0) {
                KAVER_LOG("No new partition bit found, nothing to delete");
            } else {
                try {
                    fillDelete(*this, created);
                    if (protocol::request(*this, protocol::kUndoCreateDynamicPartition) != 0)
                        KAVER_LOG("DeleteDynamicPartition failed");
                } catch (...) {
                    KAVER_LOG("DeleteDynamicPartition failed");
                }
            }
        }
    } catch (...) {
        KAVER_LOG("CreateDropBox failed");
        KAVER_LOG("ZEMT internal error");
        errorInfo.lastErr = ZEMT_INTERROR;
        if (retSize) *retSize = 0;
    }
    return false;
}

bool secureKaver::DeleteDropBox(uint16_t iBitMap) {
    try {
        partreq::clear();
        if (!IsSessionActive()) {
            KAVER_LOG("DeleteDropBox called with NO active session");
            throw static_cast<uint8_t>(ZEMT_NOKAVERSESS);
        }
        uint16_t bitmap = iBitMap;
        if (iBitMap == 0) {
            KAVER_LOG("DeleteDropBox 0 == iBitMap ");
            bitmap = kaverPartInfo[dynPartSlot].i_bitmap;
        } else {
            KAVER_LOG("DeleteDropBox 0 != iBitMap ");
        }
        fillDelete(*this, bitmap);
        if (protocol::request(*this, protocol::kDeleteDropBox) != 0) {
            KAVER_LOG("DeleteDynamicPartition failed");
            throw static_cast<uint8_t>(ZEMT_DELDYNPARTERR);
        }
        KAVER_LOG("DeleteDynamicPartition succeeded");
        KAVER_LOG("DeleteDropBox succeeded");
        return true;
    } catch (uint8_t code) {
        errorInfo.lastErr = code;
    } catch (...) {
        KAVER_LOG("DeleteDropBox failed");
        KAVER_LOG("ZEMT internal error");
        errorInfo.lastErr = ZEMT_INTERROR;
    }
    return false;
}

bool secureKaver::deleteDynPartWithName(uint16_t bitmap, const std::string& name) {
    try {
        if (!IsSessionActive()) {
            KAVER_LOG("KAVER session not started");
            return false;
        }
        for (unsigned n = 0; n < kBitsExamined; ++n) {
            const uint16_t bit = static_cast<uint16_t>(1u << n);
            if ((bitmap & bit) == 0) continue;
            if (!partreq::askPartitionInfo(*this, dynamicPartType, n)) {
                KAVER_LOG("secureKaver::deleteDynPartWithName GetPartitionInfo failed");
                continue;
            }
            const std::string label = partreq::responseLabel();
            KAVER_LOG("deleteDynPartWithName partition name = " + partreq::printable(label));
            if (!sameLabel(label, name)) continue;
            if (DeleteDropBox(bit))
                KAVER_LOG("deleteDynPartWithName DeleteDropBox successful");
            else
                KAVER_LOG("deleteDynPartWithName DeleteDropBox failed");
            return true;
        }
        return true;
    } catch (...) {
        KAVER_LOG("ZEMT internal error");
        errorInfo.lastErr = ZEMT_INTERROR;
    }
    return false;
}
