// SPDX-License-Identifier: Apache-2.0
// MD5 digests of files and strings as 32 lower-case hex characters.
#include <cstdio>
#include <vector>

#include "md5wrapper.h"

namespace {
// 64 KiB per read: few system calls on large payloads, and the memory use
// stays the same whatever the file size.
const unsigned int kReadBlock = 64 * 1024;
}  // namespace

md5wrapper::md5wrapper() : md5(new MD5()) {}

md5wrapper::~md5wrapper() { delete md5; }

std::string md5wrapper::hashit(std::string text) {
    MD5::MD5_CTX ctx;
    unsigned char digest[16];
    md5->MD5Init(&ctx);
    // Strings longer than 4 GiB (64-bit hosts only) go in several updates.
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    std::string::size_type left = text.size();
    while (left > 0) {
        unsigned int n = left > 0x40000000u ? 0x40000000u : static_cast<unsigned int>(left);
        md5->MD5Update(&ctx, p, n);
        p += n;
        left -= n;
    }
    md5->MD5Final(digest, &ctx);
    return convToString(digest);
}

std::string md5wrapper::getHashFromString(std::string text) { return hashit(text); }

std::string md5wrapper::getHashFromFile(std::string filename) {
    // A name with an embedded NUL would silently name a different file.
    if (filename.find('\0') != std::string::npos) return "-1";
    return getHashFromOpenFile(std::fopen(filename.c_str(), "rb"));
}

std::string md5wrapper::getHashFromOpenFile(FILE* file) {
    if (file == nullptr) return "-1";
    // Our own reads are already large; stdio's buffer would only add a copy.
    std::setvbuf(file, nullptr, _IONBF, 0);

    std::vector<unsigned char> block(kReadBlock);
    MD5::MD5_CTX ctx;
    unsigned char digest[16];
    md5->MD5Init(&ctx);
    std::size_t got;
    while ((got = std::fread(block.data(), 1, block.size(), file)) > 0)
        md5->MD5Update(&ctx, block.data(), static_cast<unsigned int>(got));
    // A read error part-way would give the digest of a prefix: report the
    // file as unreadable instead, so it can never verify by accident.
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    md5->MD5Final(digest, &ctx);
    return failed ? std::string("-1") : convToString(digest);
}

std::string md5wrapper::convToString(unsigned char* digest) {
    static const char hex[] = "0123456789abcdef";
    std::string out(32, '0');
    for (int i = 0; i < 16; ++i) {
        out[2 * i] = hex[digest[i] >> 4];
        out[2 * i + 1] = hex[digest[i] & 0x0F];
    }
    return out;
}
