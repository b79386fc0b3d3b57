/* SPDX-License-Identifier: Apache-2.0 */
#ifndef ZEMT_PARTITIONREQUEST_H
#define ZEMT_PARTITIONREQUEST_H

// Byte-level helpers shared by the partition queries and the drop-box
// operations.  They all work on the shared request block IPMIReqBuf.

#include <stdint.h>

#include <cstring>
#include <string>

#include "core/Protocol.h"
#include "internal/hexDump.h"
#include "secureKaver.h"

namespace partreq {

// Offsets inside ReqRspBuffer.
const std::size_t kHandleOffset = 3;
const std::size_t kLabelOffset = 7;  // GetPartitionInfo response
const std::size_t kLabelLength = 6;

inline uint8_t* buffer() { return IPMIReqBuf.Parameters.IRREx.ReqRspBuffer; }

inline void clear() { std::memset(&IPMIReqBuf, 0, sizeof IPMIReqBuf); }

// The handle goes back in the byte order the controller sent it in, which
// is how the transport stored it.
inline void putHandle(uint16_t handle) {
    buffer()[kHandleOffset] = static_cast<uint8_t>(handle & 0xFF);
    buffer()[kHandleOffset + 1] = static_cast<uint8_t>(handle >> 8);
}

// Partition bitmaps travel most significant byte first.
inline void putBitmap(std::size_t offset, uint16_t bitmap) {
    buffer()[offset] = static_cast<uint8_t>(bitmap >> 8);
    buffer()[offset + 1] = static_cast<uint8_t>(bitmap & 0xFF);
}

inline uint16_t getBitmap(std::size_t offset) {
    return static_cast<uint16_t>((buffer()[offset] << 8) | buffer()[offset + 1]);
}

// Fresh block with the session handle: the start of every request here.
inline void begin(const secureKaver& kaver) {
    clear();
    putHandle(kaver.thisSession.KAVER_Handle);
}

// GetPartitionInfo for bit n of the given partition kind; true when the
// controller answered with success.
inline bool askPartitionInfo(secureKaver& kaver, uint8_t kind, unsigned n) {
    begin(kaver);
    buffer()[5] = kind;
    buffer()[6] = static_cast<uint8_t>(n);
    return protocol::request(kaver, protocol::kGetPartitionInfo) == 0;
}

// The six label bytes of a GetPartitionInfo answer as text.  They come
// from the controller unchecked: a NUL ends the label early, as it would
// for any C string holding it.
inline std::string responseLabel() {
    const char* raw = reinterpret_cast<const char*>(buffer() + kLabelOffset);
    std::size_t length = 0;
    while (length < kLabelLength && raw[length] != '\0') ++length;
    return std::string(raw, length);
}

// The label as it may go into a one-line log message: control and
// non-ASCII bytes are shown as \xNN.
inline std::string printable(const std::string& label) { return escapedText(label, false); }

}  // namespace partreq

#endif
