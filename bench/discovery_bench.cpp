// SPDX-License-Identifier: Apache-2.0
// Discovery benchmark: the cost of one disk-search attempt (one scan by
// CLinuxEnumerateDevices, the 5 s sleep excluded) with 1, 4 and 16 USB
// disks present, against the scan that opens every sd name of the letter
// scheme (18,278) and every listed sg node.  Both run on the same fake
// host; a failed open of a missing name performs a real failed open(2),
// and listing /dev performs a real readdir of a directory shaped like a
// host's /dev, so both sides pay what the host would charge.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "CLinuxEnumerateDevices.h"
#include "FakePlatform.h"

namespace {

std::vector<uint8_t> fat12Image(const std::string& label) {
    std::vector<uint8_t> b(4 * 512, 0);
    b[0] = 0xEB; b[1] = 0x3C; b[2] = 0x90;
    b[12] = 0x02; b[13] = 1; b[14] = 1; b[16] = 2; b[17] = 16;
    b[19] = 0xD0; b[20] = 0x07; b[22] = 1;
    std::memcpy(&b[54], "FAT12   ", 8);
    std::string name = label;
    name.resize(11, ' ');
    std::memcpy(&b[3 * 512], name.data(), 11);
    b[3 * 512 + 11] = 0x08;
    return b;
}

// /dev is listed from a real directory holding one file per device node
// plus the usual crowd of other nodes.
class BenchPlatform : public FakePlatform {
public:
    std::string devDir;
    bool listDev = true;
    CLinuxImpl realHost;
    std::vector<std::string> GetFileList(const std::string& dir) override {
        if (dir != "/dev") return FakePlatform::GetFileList(dir);
        if (!listDev) return {};
        std::vector<std::string> out;
        for (const std::string& entry : realHost.GetFileList(devDir))
            out.push_back("/dev/" + entry.substr(entry.rfind('/') + 1));
        return out;
    }
};

void touch(const std::string& path) { std::ofstream(path.c_str()).put('\0'); }

double secondsPerScan(const std::string& label, int reps) {
    std::string found;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < reps; ++i) {
        CLinuxEnumerateDevices devices(false);
        found.clear();
        devices.GetDeviceWithLabel(label, found);
    }
    auto end = std::chrono::steady_clock::now();
    if (found.empty()) std::fprintf(stderr, "warning: %s not found\n", label.c_str());
    return std::chrono::duration<double>(end - start).count() / reps;
}

}  // namespace

int main() {
    char tmpl[] = "/tmp/zemt-discovery-XXXXXX";
    const char* root = mkdtemp(tmpl);
    if (root == nullptr) return 1;
    const std::string missingDir = std::string(root) + "/missing";  // never created: every open fails
    const std::string devDir = std::string(root) + "/dev";
    mkdir(devDir.c_str(), 0700);
    // A typical host's other nodes: ttys, loops, and the like.
    for (int i = 0; i < 64; ++i) touch(devDir + "/tty" + std::to_string(i));
    for (int i = 0; i < 8; ++i) touch(devDir + "/loop" + std::to_string(i));
    const char* others[] = {"null", "zero", "random", "urandom", "console", "ptmx", "full", "kmsg", "mem", "sda1",
                            "sda2", "sr0", "fuse", "rtc0", "hpet", "cpu_dma_latency"};
    for (const char* o : others) touch(devDir + "/" + o);
    touch(devDir + "/sda");

    std::printf("one discovery attempt (sleep excluded), mean of repeated scans\n");
    std::printf("%-6s %14s %14s %8s %12s %12s\n", "disks", "listed (us)", "naive (us)", "ratio", "opens listed",
                "opens naive");
    const int counts[] = {1, 4, 16};
    for (int disks : counts) {
        BenchPlatform platform;
        platform.devDir = devDir;
        platform.failedOpenDir = missingDir;
        platform.addSd("sda", 0, 0, 0, 0);  // the system disk
        char name[MAX_DEVICE_NAME];
        std::vector<std::string> created;
        for (int d = 0; d < disks; ++d) {
            CLinuxEnumerateDevices::MakeDeviceName(name, "sd", d + 1, false, sizeof name);
            const std::string sd = name;
            platform.addSg("sg" + std::to_string(d + 1), d + 1, 0, 0, 0);
            char label[16];
            std::snprintf(label, sizeof label, "KAV%03d", d + 1);
            platform.addSd(sd, d + 1, 0, 0, 0, fat12Image(label));
            touch(devDir + "/" + sd);
            created.push_back(devDir + "/" + sd);
        }
        char wanted[16];
        std::snprintf(wanted, sizeof wanted, "KAV%03d", disks);  // the last one: every disk is probed

        platform.listDev = true;
        platform.openedDevices.clear();
        const double listed = secondsPerScan(wanted, 2000);
        platform.openedDevices.clear();
        secondsPerScan(wanted, 1);
        const std::size_t opensListed = platform.openedDevices.size();

        platform.listDev = false;
        const double naive = secondsPerScan(wanted, 20);
        platform.openedDevices.clear();
        secondsPerScan(wanted, 1);
        const std::size_t opensNaive = platform.openedDevices.size();

        std::printf("%-6d %14.1f %14.1f %7.0fx %12zu %12zu\n", disks, listed * 1e6, naive * 1e6, naive / listed,
                    opensListed, opensNaive);
        for (const std::string& path : created) unlink(path.c_str());
    }
    for (const std::string& entry : CLinuxImpl().GetFileList(devDir)) unlink(entry.c_str());
    rmdir(devDir.c_str());
    rmdir(root);
    return 0;
}
