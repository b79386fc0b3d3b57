/* SPDX-License-Identifier: Apache-2.0 */
// A library object with a session on a fake host that has USB disks: FAT
// images behind sd nodes, paired with emulated-host sg nodes.
#ifndef ZEMT_TEST_HOST_TEST_H
#define ZEMT_TEST_HOST_TEST_H

#include <stdint.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "PartitionTest.h"

// The smallest FAT12 volume the probe accepts: 512-byte sectors, one
// reserved sector, two one-sector FATs, a 16-entry root directory at
// sector 3 holding the label entry (when a label is given).
inline std::vector<uint8_t> fat12Image(const std::string& label) {
    std::vector<uint8_t> b(4 * 512, 0);
    b[0] = 0xEB;
    b[1] = 0x3C;
    b[2] = 0x90;
    b[11] = 0x00;  // 512-byte sectors
    b[12] = 0x02;
    b[13] = 1;     // sectors per cluster
    b[14] = 1;     // reserved sectors
    b[16] = 2;     // FATs
    b[17] = 16;    // root entries
    b[19] = 0xD0;  // 2000 sectors
    b[20] = 0x07;
    b[22] = 1;     // sectors per FAT
    std::memcpy(&b[54], "FAT12   ", 8);
    b[510] = 0x55;
    b[511] = 0xAA;
    if (!label.empty()) {
        std::string name = label;
        name.resize(11, ' ');
        std::memcpy(&b[3 * 512], name.data(), 11);
        b[3 * 512 + 11] = 0x08;
    }
    return b;
}

class HostTest : public PartitionTest {
protected:
    static constexpr const char* kMounts = "/proc/mounts";

    void SetUp() override {
        PartitionTest::SetUp();
        platform.files[kMounts] = "proc /proc proc rw 0 0\n";
        platform.setOutput("lsmod | grep -w sg >/dev/null;echo $?", "0\n");
    }

    void TearDown() override {
        if (savedPartDir_ != nullptr) RHatPartDir = savedPartDir_;
        PartitionTest::TearDown();
    }

    // Partitions are mounted below `root`, a real folder of the working
    // directory, so that what the library writes to a mounted partition and
    // reads back from one are real files; KAV022 (bit 2) can be attached
    // through disk sdb.  Call after buildHost.
    void useRealMountRoot() {
        root = cwd->file("host") + "/";
        std::filesystem::create_directories(root + "KAV022");
        savedPartDir_ = RHatPartDir;
        RHatPartDir = root.c_str();
        kaverPartInfo[22].i_volumeLabel = "KAV022";
        kaverPartInfo[22].i_bitmap = 0x0004;
        kaverPartInfo[22].i_present = true;
        addUsbDisk("sdb", "sg1", 3, "KAV022");
    }
    std::string root;

    secureKaver& buildHost(int os = REDHAT, bool debugLog = false) {
        buildWithSession(debugLog);
        kaver->LinuxOSVer = os;  // detection already done
        return *kaver;
    }

    // A USB disk: sg<sgIndex> and sd<sdName> at SCSI host `host`, the FAT
    // volume on the whole disk or (partitioned) on its first partition.
    void addUsbDisk(const std::string& sdName, const std::string& sgName, int host, const std::string& label,
                    bool partitioned = false) {
        platform.addSg(sgName, host, 0, 0, 0);
        if (partitioned) {
            platform.addSd(sdName, host, 0, 0, 0, std::vector<uint8_t>(4096, 0));
            platform.addBlock("/dev/" + sdName + "1", fat12Image(label));
        } else {
            platform.addSd(sdName, host, 0, 0, 0, fat12Image(label));
        }
    }

    // Commands run (system or pipe) starting with `prefix`, in order.
    std::vector<std::string> commandsStartingWith(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const std::string& c : platform.commands)
            if (c.compare(0, prefix.size(), prefix) == 0) out.push_back(c);
        return out;
    }
    bool ran(const std::string& cmd) const {
        for (const std::string& c : platform.commands)
            if (c == cmd) return true;
        return false;
    }
    std::vector<uint8_t> subCommands() const {
        std::vector<uint8_t> out;
        for (std::size_t i = 0; i < tren.requests.size(); ++i) out.push_back(subCommand(i));
        return out;
    }

private:
    const char* savedPartDir_ = nullptr;
};

#endif
