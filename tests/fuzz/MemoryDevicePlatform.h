/* SPDX-License-Identifier: Apache-2.0 */
// A host whose block devices are byte strings in memory or windows onto
// files (a partition inside a disk image), for the FAT label probe's
// tests and fuzz target.  It answers device I/O only; any other host call
// fails loudly (StandInHost.h).  Construction installs it as the platform,
// destruction restores the previous one.
#ifndef ZEMT_MEMORY_DEVICE_PLATFORM_H
#define ZEMT_MEMORY_DEVICE_PLATFORM_H

#include <fcntl.h>
#include <stdint.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "StandInHost.h"

class MemoryDevicePlatform : public CStandInHost {
public:
    MemoryDevicePlatform() { previous_ = CPlatformLayer::SetPlatform(this); }
    ~MemoryDevicePlatform() {
        for (auto& open : open_)
            if (open.second.fileFd >= 0) ::close(open.second.fileFd);
        CPlatformLayer::SetPlatform(previous_);
    }

    void addDevice(const std::string& path, std::vector<uint8_t> bytes) {
        Device d;
        d.bytes = std::move(bytes);
        devices_[path] = std::move(d);
    }
    void addDevice(const std::string& path, const uint8_t* data, size_t size) {
        addDevice(path, std::vector<uint8_t>(data, data + size));
    }
    // length 0: up to the end of the file.
    void addFileWindow(const std::string& path, const std::string& file, uint64_t offset,
                       uint64_t length = 0) {
        Device d;
        d.file = file;
        d.offset = offset;
        d.length = length;
        devices_[path] = std::move(d);
    }

    // What the library did.
    int opens = 0;
    int closes = 0;
    int reads = 0;
    unsigned int largestRead = 0;
    std::vector<int> openFlags;

    int OpenDevice(const std::string& path, int flags) override {
        auto it = devices_.find(path);
        if (it == devices_.end()) {
            errno = ENOENT;
            return -1;
        }
        Open o;
        o.device = &it->second;
        if (!o.device->file.empty()) {
            o.fileFd = ::open(o.device->file.c_str(), O_RDONLY);
            if (o.fileFd < 0) return -1;
        }
        int fd = nextFd_++;
        open_[fd] = o;
        ++opens;
        openFlags.push_back(flags);
        return fd;
    }

    long ReadDevice(int fd, void* buffer, unsigned int length, unsigned long long offset) override {
        ++reads;
        largestRead = std::max(largestRead, length);
        auto it = open_.find(fd);
        if (it == open_.end()) {
            errno = EBADF;
            return -1;
        }
        const Device& d = *it->second.device;
        if (d.file.empty()) {
            if (offset >= d.bytes.size()) return 0;
            size_t n = std::min<unsigned long long>(length, d.bytes.size() - offset);
            std::memcpy(buffer, d.bytes.data() + offset, n);
            return static_cast<long>(n);
        }
        unsigned long long want = length;
        if (d.length != 0) {
            if (offset >= d.length) return 0;
            want = std::min<unsigned long long>(want, d.length - offset);
        }
        return static_cast<long>(::pread(it->second.fileFd, buffer, want, static_cast<off_t>(d.offset + offset)));
    }

    int CloseDevice(int fd) override {
        auto it = open_.find(fd);
        if (it == open_.end()) return -1;
        if (it->second.fileFd >= 0) ::close(it->second.fileFd);
        open_.erase(it);
        ++closes;
        return 0;
    }

    size_t openCount() const { return open_.size(); }

private:
    struct Device {
        std::vector<uint8_t> bytes;
        std::string file;
        uint64_t offset = 0;
        uint64_t length = 0;
    };
    struct Open {
        Device* device = nullptr;
        int fileFd = -1;
    };
    std::map<std::string, Device> devices_;
    std::map<int, Open> open_;
    int nextFd_ = 1000;
    IPlatformImpl* previous_ = nullptr;
};

#endif
