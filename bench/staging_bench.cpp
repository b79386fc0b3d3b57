// SPDX-License-Identifier: Apache-2.0
// Staging benchmark: a payload staged into a partition of the emulated
// controller and verified (CompleteCopyFile), against the same bytes moved
// by md5sum + cp + md5sum in the same run.  The run's wall time splits into
// the emulator's share (time inside the emulated controller and host, which
// the emulator counts itself: mtools runs on the images, the host's
// commands) and the library's own share, the rest; the library reads each
// source twice (hash, copy) and each copy once (verification), as the
// baseline does.  Peak memory of this process and of the tools it started
// (ru_maxrss) must stay under 64 MiB: chunks and hashes go through
// fixed-size buffers.  Not part of the test run.
//
//   zemt_bench_staging [mixed|many|large|all]
//     mixed  512 MiB in 617 files of mixed sizes (the default)
//     many   5,000 files of 16 KiB
//     large  one file of 1 GiB
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
#include "zemt_emulator/EmulatorTime.h"
#include "zemt_emulator/State.h"

namespace fs = std::filesystem;

namespace {

const long long MiB = 1048576;
const long kMemoryLimitKiB = 64 * 1024;

struct Group {
    int count;
    long long bytes;
};

struct Mode {
    const char* name;
    std::vector<Group> groups;
    const char* partition;  // KAV022 with room for the payload
    uint32_t margin;        // drop-box margin (eps): 5,000 names and their
                            // update document need more than the default
};

const Mode kModes[] = {
    {"mixed", {{1, 192 * MiB}, {8, 24 * MiB}, {96, MiB}, {512, 64 * 1024}}, "KAV022:1200", ONE_MEG},
    {"many", {{5000, 16 * 1024}}, "KAV022:400", 4 * ONE_MEG},
    {"large", {{1, 1024 * MiB}}, "KAV022:1400", ONE_MEG},
};

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

void line(const char* what, double value, double baseline, const char* target) {
    std::printf("%-20s %7.2f s  %5.2fx%s\n", what, value, value / baseline, target);
}

bool run(const Mode& mode) {
    char pattern[] = "/tmp/zemt-bench-staging-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return false;
    std::string base = pattern, payload = base + "/work/payload", state = base + "/state";
    fs::create_directories(payload);
    fs::current_path(base + "/work");

    std::vector<std::string> files;
    long long total = 0;
    unsigned seed = 1;
    for (const Group& g : mode.groups) {
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
    if (std::system(cmd.c_str()) != 0) return false;
    double baseline = seconds(t0);
    fs::remove_all(copyDir);

    zemt_emu::InitOptions options;
    options.dir = state;
    options.trenLibrary = ZEMT_BENCH_TREN_LIBRARY;
    options.partitions = {"KAV001", mode.partition};
    std::string error;
    if (!zemt_emu::InitStateDir(options, error)) {
        std::fprintf(stderr, "emulator init failed: %s\n", error.c_str());
        return false;
    }
    CEmulatedHost host(state);
    CPlatformLayer::SetPlatform(&host);

    eps = mode.margin;
    double emulatorBefore = zemt_emu::EmulatorSeconds();
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
    double emulator = zemt_emu::EmulatorSeconds() - emulatorBefore;
    CPlatformLayer::SetPlatform(nullptr);

    rusage self {}, children {};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    bool memoryOk = self.ru_maxrss < kMemoryLimitKiB && children.ru_maxrss < kMemoryLimitKiB;
    std::printf("%s: %lld MiB in %zu files\n", mode.name, total / MiB, files.size());
    std::printf("%-20s %s%s\n", "staged and verified", ok ? "yes" : "NO, error ", ok ? "" : std::to_string(code).c_str());
    std::printf("%-20s %7.2f s\n", "md5sum+cp+md5sum", baseline);
    line("end to end", staging, baseline, "  (target 2.00x)");
    line("library's share", staging - emulator, baseline, "  (target 1.10x)");
    line("emulator's share", emulator, baseline, "");
    std::printf("%-20s %.1f MiB, tools %.1f MiB (limit 64 MiB)%s\n\n", "peak memory", self.ru_maxrss / 1024.0,
                children.ru_maxrss / 1024.0, memoryOk ? "" : "  OVER");
    std::fflush(stdout);
    std::error_code ec;
    fs::current_path("/");
    fs::remove_all(base, ec);
    return ok && memoryOk;
}

}  // namespace

int main(int argc, char** argv) {
    std::string which = argc > 1 ? argv[1] : "mixed";
    bool ok = true, known = false;
    for (const Mode& mode : kModes) {
        if (which != "all" && which != mode.name) continue;
        known = true;
        ok = run(mode) && ok;
    }
    if (!known) {
        std::fprintf(stderr, "usage: %s [mixed|many|large|all]\n", argv[0]);
        return 2;
    }
    return ok ? 0 : 1;
}
