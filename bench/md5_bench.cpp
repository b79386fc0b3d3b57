// SPDX-License-Identifier: Apache-2.0
// MD5 benchmark: md5wrapper::getHashFromFile on a 1 GiB file against
// `openssl dgst -md5` on the same file, in the same run.  Not part of the
// test run.
//
//   zemt_bench_md5 [--size MiB] [--rounds N] [--dense]
//
// By default the file is sparse (no disk traffic, the page cache serves
// zeros), which measures the hashing itself; --dense writes pseudo-random
// bytes instead.  The file lives in /tmp and is removed afterwards.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "md5wrapper.h"

namespace {

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

bool makeFile(const std::string& path, unsigned long long bytes, bool dense) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return false;
    bool ok = true;
    if (!dense) {
        ok = ::ftruncate(fd, static_cast<off_t>(bytes)) == 0;
    } else {
        std::vector<unsigned char> block(1 << 20);
        uint32_t x = 2463534242u;
        for (unsigned long long done = 0; ok && done < bytes; done += block.size()) {
            for (unsigned char& b : block) {
                x ^= x << 13;
                x ^= x >> 17;
                x ^= x << 5;
                b = static_cast<unsigned char>(x);
            }
            std::size_t n = static_cast<std::size_t>(std::min<unsigned long long>(block.size(), bytes - done));
            ok = ::write(fd, block.data(), n) == static_cast<ssize_t>(n);
        }
    }
    return ::close(fd) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    unsigned long long mib = 1024;
    int rounds = 3;
    bool dense = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--size") && i + 1 < argc) mib = std::strtoull(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc) rounds = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--dense")) dense = true;
        else {
            std::fprintf(stderr, "usage: %s [--size MiB] [--rounds N] [--dense]\n", argv[0]);
            return 2;
        }
    }
    if (rounds < 1) rounds = 1;

    char path[] = "/tmp/zemt_md5_bench_XXXXXX";
    int fd = ::mkstemp(path);
    if (fd < 0) {
        std::perror("mkstemp");
        return 1;
    }
    ::close(fd);
    if (!makeFile(path, mib << 20, dense)) {
        std::perror("creating the test file");
        ::unlink(path);
        return 1;
    }

    const std::string command = std::string("openssl dgst -md5 ") + path + " > /dev/null";
    md5wrapper wrapper;
    std::string digest;
    double bestLib = 1e30, bestSsl = 1e30;
    // Alternate the two so that neither profits from a warmer cache or a
    // quieter machine; the best round of each is compared.
    for (int r = 0; r < rounds + 1; ++r) {
        auto t0 = std::chrono::steady_clock::now();
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "openssl dgst failed\n");
            ::unlink(path);
            return 1;
        }
        double ssl = seconds(t0);
        t0 = std::chrono::steady_clock::now();
        digest = wrapper.getHashFromFile(path);
        double lib = seconds(t0);
        if (r == 0) continue;  // warm-up round
        bestSsl = std::min(bestSsl, ssl);
        bestLib = std::min(bestLib, lib);
    }
    ::unlink(path);

    const double mb = static_cast<double>(mib);
    std::printf("file: %llu MiB (%s), best of %d rounds\n", mib, dense ? "dense" : "sparse", rounds);
    std::printf("getHashFromFile    %.3f s  %.0f MiB/s  %s\n", bestLib, mb / bestLib, digest.c_str());
    std::printf("openssl dgst -md5  %.3f s  %.0f MiB/s\n", bestSsl, mb / bestSsl);
    std::printf("ratio (library / openssl): %.3f  (target <= 1.05)\n", bestLib / bestSsl);
    return 0;
}
