// SPDX-License-Identifier: Apache-2.0
// MD5 digests: the reference values, block boundaries, files.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "TestEnv.h"
#include "md5wrapper.h"

namespace {

struct Known {
    std::string input;
    const char* digest;
};

// RFC 1321's test suite, then lengths around the 56-byte padding limit and
// the 64-byte block, where a one-off in the buffer handling shows.
const Known kKnown[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
    {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
    {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
    {std::string(57, 'a'), "652b906d60af96844ebd21b674f35e93"},
    {std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
    {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
    {std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
    {std::string(127, 'a'), "020406e1d05cdc2aa287641f7ae2cc39"},
    {std::string(128, 'a'), "e510683b3f5ffe4093d021808bc6ff70"},
    {std::string(129, 'a'), "b325dc1c6f5e7a2b7cf465b9feab7948"},
    {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
};

TEST(Md5, StringsGiveTheKnownDigests) {
    md5wrapper md5;
    for (const Known& k : kKnown) {
        SCOPED_TRACE(k.input.size());
        EXPECT_EQ(md5.getHashFromString(k.input), k.digest);
        EXPECT_EQ(md5.hashit(k.input), k.digest);
    }
}

TEST(Md5, BytesAfterANulAreHashedToo) {
    md5wrapper md5;
    EXPECT_NE(md5.getHashFromString(std::string("a\0b", 3)), md5.getHashFromString("a"));
}

TEST(Md5, FilesGiveTheKnownDigests) {
    ScopedTempDir dir;
    md5wrapper md5;
    for (const Known& k : kKnown) {
        SCOPED_TRACE(k.input.size());
        writeFile(dir.file("f"), k.input);
        EXPECT_EQ(md5.getHashFromFile(dir.file("f")), k.digest);
    }
}

TEST(Md5, FileLargerThanOneReadMatchesTheSameBytesAsAString) {
    // Bytes that differ per position, so a block read twice, skipped or
    // reordered changes the digest.
    std::string bytes(3 * 65536 + 4099, '\0');
    uint32_t x = 12345;
    for (char& c : bytes) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    ScopedTempDir dir;
    writeFile(dir.file("big"), bytes);
    md5wrapper md5;
    EXPECT_EQ(md5.getHashFromFile(dir.file("big")), md5.getHashFromString(bytes));
}

TEST(Md5, UpdatesInPiecesEqualOneUpdate) {
    std::string bytes(300, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + 3);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
    MD5 engine;
    md5wrapper text;
    const std::string whole = text.getHashFromString(bytes);
    for (unsigned piece = 1; piece <= 130; ++piece) {
        SCOPED_TRACE(piece);
        MD5::MD5_CTX ctx;
        engine.MD5Init(&ctx);
        for (unsigned done = 0; done < bytes.size(); done += piece) {
            unsigned n = std::min<unsigned>(piece, static_cast<unsigned>(bytes.size()) - done);
            engine.MD5Update(&ctx, p + done, n);
        }
        unsigned char digest[16];
        engine.MD5Final(digest, &ctx);
        EXPECT_EQ(text.convToString(digest), whole);
    }
}

// On a host whose libcrypto refuses MD5 (FIPS mode) the built-in engine
// must give the same digests.  libcrypto reads its configuration once per
// process, so this runs in a fresh child process whose configuration
// loads no digest provider at all.
void hashWithoutLibcryptoMd5(const std::string& dir) {
    writeFile(dir + "/no-md5.cnf",
              "openssl_conf = init\n[init]\nproviders = providers\n"
              "[providers]\nnull = null\n[null]\nactivate = 1\n");
    setenv("OPENSSL_CONF", (dir + "/no-md5.cnf").c_str(), 1);
    MD5 engine;
    MD5::MD5_CTX ctx;
    engine.MD5Init(&ctx);
    if (ctx.engine != nullptr) _exit(2);  // libcrypto still served MD5
    unsigned char digest[16];
    engine.MD5Final(digest, &ctx);
    md5wrapper md5;
    for (const Known& k : kKnown)
        if (md5.getHashFromString(k.input) != k.digest) _exit(3);
    writeFile(dir + "/f", std::string(200000, 'q'));
    if (md5.getHashFromFile(dir + "/f") != md5.getHashFromString(std::string(200000, 'q'))) _exit(4);
    _exit(0);
}

TEST(Md5, BuiltInEngineServesWhenLibcryptoRefusesMd5) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ScopedTempDir dir;
    EXPECT_EXIT(hashWithoutLibcryptoMd5(dir.path()), ::testing::ExitedWithCode(0), "");
}

TEST(Md5, UnreadableFilesHashToMinusOne) {
    ScopedTempDir dir;
    md5wrapper md5;
    EXPECT_EQ(md5.getHashFromFile(dir.file("missing")), "-1");
    // A directory opens but cannot be read: never a digest of nothing.
    EXPECT_EQ(md5.getHashFromFile(dir.path()), "-1");
    // An embedded NUL must not quietly hash the file named by the prefix.
    writeFile(dir.file("a"), "abc");
    EXPECT_EQ(md5.getHashFromFile(dir.file("a") + std::string("\0b", 2)), "-1");
    EXPECT_EQ(md5.getHashFromFile(std::string(5000, 'x')), "-1");
}

TEST(Md5, DigestTextIsLowerCaseHexInByteOrder) {
    unsigned char digest[16] = {0x00, 0x01, 0x0a, 0xf0, 0xff, 0x10, 0x9b, 0xc3,
                                0x7e, 0x80, 0x08, 0xab, 0xcd, 0xef, 0x5a, 0xa5};
    md5wrapper md5;
    EXPECT_EQ(md5.convToString(digest), "00010af0ff109bc37e8008abcdef5aa5");
}

}  // namespace
