/* SPDX-License-Identifier: Apache-2.0 */
#ifndef ZEMT_MD5WRAPPER_H
#define ZEMT_MD5WRAPPER_H

#include <stdint.h>

#include <string>

#include "zemt_export.h"

// The MD5 message digest with the reference operations (init, update,
// final on a context).  The work is done by libcrypto, whose hand-tuned
// code is markedly faster on 32-bit x86 than portable C; where libcrypto
// refuses MD5 (a host in FIPS mode) a built-in implementation takes over.
// A context started with MD5Init must be finished with MD5Final, which
// releases it.  Lengths are 32-bit so the exported signatures are the same
// on the 32- and 64-bit builds; longer inputs go in several updates.
class ZEMT_API MD5 {
public:
    struct MD5_CTX {
        void* engine;        // libcrypto's context, or null for the built-in one
        uint32_t state[4];   // built-in: A, B, C, D
        uint32_t count[2];   // built-in: message length in bits, low word first
        unsigned char buffer[64];
    };

    void MD5Init(MD5_CTX* context);
    void MD5Update(MD5_CTX* context, const unsigned char* input, unsigned int inputLen);
    void MD5Final(unsigned char digest[16], MD5_CTX* context);

private:
    static void MD5Transform(uint32_t state[4], const unsigned char block[64]);
};

// Digests of files and strings as 32 lower-case hexadecimal characters.
class ZEMT_API md5wrapper {
public:
    md5wrapper();
    ~md5wrapper();

    // "-1" when the file cannot be opened.  The file is read in blocks, so
    // memory use does not depend on its size.
    std::string getHashFromFile(std::string filename);
    // The same for a file the caller opened (a copy on a mounted partition
    // is opened through the platform layer); the file is closed.
    std::string getHashFromOpenFile(FILE* file);
    std::string getHashFromString(std::string text);
    std::string hashit(std::string text);
    std::string convToString(unsigned char* digest);

    MD5* md5;

private:
    md5wrapper(const md5wrapper&) = delete;
    md5wrapper& operator=(const md5wrapper&) = delete;
};

#endif
