// SPDX-License-Identifier: Apache-2.0
#include "internal/hexDump.h"

namespace {
const char kDigits[] = "0123456789abcdef";
}

std::string hexByte(uint8_t value) {
    std::string text(2, '0');
    text[0] = kDigits[value >> 4];
    text[1] = kDigits[value & 0x0F];
    return text;
}

std::string escapedText(const std::string& text, bool keepNonAscii) {
    std::string out;
    for (unsigned char c : text) {
        const bool plain = c >= 0x20 && c != 0x7F && c != '\\' && (c < 0x80 || keepNonAscii);
        if (plain)
            out += static_cast<char>(c);
        else
            out += "\\x" + hexByte(c);
    }
    return out;
}

std::string hexDump(const uint8_t* bytes, std::size_t count) {
    std::string text;
    text.reserve(count * 5);
    for (std::size_t i = 0; i < count; ++i) text += " 0x" + hexByte(bytes[i]);
    return text;
}
