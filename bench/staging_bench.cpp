// SPDX-License-Identifier: Apache-2.0
// Staging benchmark: a 512 MiB payload of mixed file sizes staged into a
// partition of the emulated controller and verified (CompleteCopyFile),
// against the same bytes moved by md5sum + cp + md5sum.  The staging time
// includes the emulator's own work (copying FAT images in and out with
// mtools), which a real controller does elsewhere.  Peak memory of
// this process (ru_maxrss) must stay under 64 MiB: chunks and hashes go
// through fixed-size buffers.  Not part of the test run.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "PlatformLayer.h"
#include "secureKaver.h"
#include "zemt_emulator/EmulatedHost.h"
#include "zemt_emulator/State.h"

namespace fs = std::filesystem;

namespace {

double seconds(std::chrono::steady_clock::time_point from) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

void writeFile(const std::string& path, long long bytes, unsigned seed) {
    std::vector<char> block(1 << 16);
    uint32_t x = seed * 2654435761u + 1;
    std::ofstream out(path, std::ios::binary);
    for (long long left = bytes; left > 0;) {
        for (char& c : block) {
            x = x * 1103515245u + 12345u;
            c = static_cast<char>(x >> 24);
        }
        long long n = left < static_cast<long long>(block.size()) ? left : static_cast<long long>(block.size());
        out.write(block.data(), n);
        left -= n;
    }
}

}  // namespace

int main() {
    const long long MiB = 1048576;
    char pattern[] = "/tmp/zemt-bench-staging-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    std::string base = pattern, payload = base + "/work/payload", state = base + "/state";
    fs::create_directories(payload);
    fs::current_path(base + "/work");

    // 1 x 192 MiB, 8 x 24 MiB, 96 x 1 MiB, 512 x 64 KiB: 512 MiB in 617 files.
    struct Group { int count; long long bytes; } groups[] = {{1, 192 * MiB}, {8, 24 * MiB}, {96, MiB}, {512, 64 * 1024}};
    std::vector<std::string> files;
    long long total = 0;
    unsigned seed = 1;
    for (const Group& g : groups) {
        for (int i = 0; i < g.count; ++i) {
            std::string name = payload + "/f" + std::to_string(files.size()) + "_" + std::to_string(g.bytes) + ".bin";
            writeFile(name, g.bytes, seed++);
            files.push_back(name);
            total += g.bytes;
        }
    }

    // Baseline: hash, copy in, read back.
    std::string copyDir = base + "/copy";
    fs::create_directories(copyDir);
    auto t0 = std::chrono::steady_clock::now();
    std::string cmd = "cd '" + payload + "' && md5sum *.bin > /dev/null && cp *.bin '" + copyDir + "/' && sync && cd '" +
                      copyDir + "' && md5sum *.bin > /dev/null";
    if (std::system(cmd.c_str()) != 0) return 1;
    double baseline = seconds(t0);
    fs::remove_all(copyDir);

    zemt_emu::InitOptions options;
    options.dir = state;
    options.trenLibrary = ZEMT_BENCH_TREN_LIBRARY;
    options.partitions = {"KAV001", "KAV022:1200"};
    std::string error;
    if (!zemt_emu::InitStateDir(options, error)) {
        std::fprintf(stderr, "emulator init failed: %s\n", error.c_str());
        return 1;
    }
    CEmulatedHost host(state);
    CPlatformLayer::SetPlatform(&host);

    t0 = std::chrono::steady_clock::now();
    bool ok;
    unsigned code = 0;
    {
        secureKaver kaver;
        ok = kaver.secureKaverInit() && kaver.StartCopyFile();
        for (std::size_t i = 0; ok && i < files.size(); ++i)
            ok = kaver.AddFile(files[i], "kav022/bench/" + fs::path(files[i]).filename().string(), filecopy);
        ok = ok && kaver.CompleteCopyFile();
        code = kaver.getZEMTError();
        kaver.EndCopyFile();
    }
    double staging = seconds(t0);
    CPlatformLayer::SetPlatform(nullptr);

    rusage self {};
    getrusage(RUSAGE_SELF, &self);
    std::printf("payload            %lld MiB in %zu files\n", total / MiB, files.size());
    std::printf("staged and verified %s%s\n", ok ? "yes" : "NO, error ", ok ? "" : std::to_string(code).c_str());
    std::printf("zemt staging       %.2f s\n", staging);
    std::printf("md5sum+cp+md5sum   %.2f s\n", baseline);
    std::printf("ratio              %.2fx\n", staging / baseline);
    std::printf("peak memory        %.1f MiB (limit 64 MiB)%s\n", self.ru_maxrss / 1024.0,
                self.ru_maxrss < 64 * 1024 ? "" : "  OVER");
    std::error_code ec;
    fs::current_path("/");
    fs::remove_all(base, ec);
    return ok && self.ru_maxrss < 64 * 1024 ? 0 : 1;
}
