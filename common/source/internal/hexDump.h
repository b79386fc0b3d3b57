/* SPDX-License-Identifier: Apache-2.0 */
#ifndef ZEMT_HEXDUMP_H
#define ZEMT_HEXDUMP_H

#include <stdint.h>

#include <string>

// " 0xNN" for each byte, lower-case: the debug log's dump of a request or
// response buffer.
std::string hexDump(const uint8_t* bytes, std::size_t count);
// Two hexadecimal digits of a byte (lower-case), as the log writes codes.
std::string hexByte(uint8_t value);
// `text` as one printable line: control bytes and backslashes (and, unless
// keepNonAscii, bytes from 0x80 up) are written as \xNN.
std::string escapedText(const std::string& text, bool keepNonAscii);

#endif
