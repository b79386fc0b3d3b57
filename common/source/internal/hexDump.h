#ifndef ZEMT_HEXDUMP_H
#define ZEMT_HEXDUMP_H

#include <stdint.h>

#include <string>

// " 0xNN" for each byte, lower-case: the debug log's dump of a request or
// response buffer.
std::string hexDump(const uint8_t* bytes, std::size_t count);
// Two hexadecimal digits of a byte (lower-case), as the log writes codes.
std::string hexByte(uint8_t value);

#endif
