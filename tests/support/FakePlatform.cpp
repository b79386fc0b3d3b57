// SPDX-License-Identifier: Apache-2.0
#include "FakePlatform.h"

#include <fcntl.h>
#include <scsi/sg.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "FakeTren.h"
#include "TrenInstall.h"

const std::string FakePlatform::kTrenDir = "/opt/norvik/tarn/lib/";
const std::string FakePlatform::kSysfsSg = "/sys/class/scsi_generic";

FakePlatform::FakePlatform() {
    CLinuxImpl::nTRENInstallRefCount = 0;
    CLinuxImpl::bTRENAlreadyInstalled = false;
    previous_ = CPlatformLayer::SetPlatform(this);
}

FakePlatform::~FakePlatform() {
    CPlatformLayer::SetPlatform(previous_);
    CLinuxImpl::nTRENInstallRefCount = 0;
    CLinuxImpl::bTRENAlreadyInstalled = false;
}

void FakePlatform::useTren(FakeTren& tren) {
    tren_ = &tren;
    addLibrary(kTrenDir + "libzolipm32.so", tren.handle());
}

bool FakePlatform::isTRENInstalled() { return treninstall::isInstalled(*this); }
int FakePlatform::InstallTren() { return treninstall::install(*this); }
int FakePlatform::UninstallTren() { return treninstall::uninstall(*this); }
void* FakePlatform::LoadTrenLibrary(const std::string& name) { return treninstall::loadLibrary(*this, name); }

void* FakePlatform::LoadLibrary(const std::string& name) {
    loadAttempts.push_back(name);
    auto it = libraries.find(name);
    return it == libraries.end() ? nullptr : it->second;
}

void FakePlatform::FreeLibrary(void* handle) {
    if (handle != nullptr) freedLibraries.push_back(handle);
}

void* FakePlatform::GetProcAddress(void* handle, const std::string& name) {
    if (handle == nullptr || tren_ == nullptr || handle != tren_->handle()) return nullptr;
    return tren_->resolve(name);
}

int FakePlatform::run(const std::string& cmd) {
    commands.push_back(cmd);
    auto effect = effects.find(cmd);
    if (effect != effects.end()) effect->second();
    auto it = exitStatus.find(cmd);
    return it == exitStatus.end() ? defaultExitStatus : it->second;
}

int FakePlatform::ExecuteCmd(const std::string& cmd, bool, long&) { return run(cmd); }

int FakePlatform::ExecuteCmdNoWait(const std::string& cmd, bool, long&) { return run(cmd + " &"); }

void FakePlatform::Sleep(unsigned int seconds) {
    sleeps.push_back(seconds);
    clock_ += seconds;
}

bool FakePlatform::setCurrentDirectory(const std::string& dir) {
    currentDirectory = dir;
    return true;
}

std::vector<std::string> FakePlatform::GetFileList(const std::string& dir) {
    if (unlistable.count(dir)) return {};
    auto it = listings.find(dir);
    if (it != listings.end()) return it->second;
    // Without a scripted listing, /dev lists the device nodes, as the real
    // implementation would (full paths, unsorted is fine).
    std::vector<std::string> out;
    if (dir == "/dev") {
        for (const auto& device : devices)
            if (device.first.compare(0, 5, "/dev/") == 0 && device.first.find('/', 5) == std::string::npos)
                out.push_back(device.first);
        std::reverse(out.begin(), out.end());  // the library must not rely on the order
    }
    return out;
}

bool FakePlatform::IsFileExits(const std::string& name) {
    return PathExists(getCurrentDirectory() + name);
}

bool FakePlatform::IsFileExistsAbs(const std::string& path) { return files.count(path) != 0; }

int FakePlatform::SetUserId(unsigned int uid) {
    userIds.push_back(uid);
    return setUserIdResult;
}

bool FakePlatform::ReadCommandOutput(const std::string& cmd, std::string& out, unsigned int maxBytes) {
    commands.push_back(cmd);
    out.clear();
    if (failingPipes.count(cmd)) return false;
    auto it = outputs.find(cmd);
    if (it != outputs.end()) out = it->second.substr(0, maxBytes);
    return true;
}

bool FakePlatform::PathExists(const std::string& path) {
    return paths.count(path) != 0 || files.count(path) != 0 || devices.count(path) != 0 ||
           pathKinds.count(path) != 0;
}

bool FakePlatform::IsDirectory(const std::string& path) {
    auto it = pathKinds.find(path);
    return it != pathKinds.end() && it->second == PathDirectory;
}

PathKind FakePlatform::GetPathKind(const std::string& path) {
    auto it = pathKinds.find(path);
    if (it != pathKinds.end()) return it->second;
    if (devices.count(path)) return PathOther;
    if (files.count(path) || paths.count(path)) return PathFile;
    return PathMissing;
}

FakePlatform::FakeDevice& FakePlatform::addSg(const std::string& name, int host, int channel, int id, int lun,
                                              bool emulated) {
    FakeDevice& d = devices["/dev/" + name];
    d.sgNode = true;
    d.emulatedHost = emulated ? 1 : 0;
    d.host = host;
    d.channel = channel;
    d.id = id;
    d.lun = lun;
    addDirectory(kSysfsSg);
    listings[kSysfsSg].push_back(kSysfsSg + "/" + name);
    return d;
}

FakePlatform::FakeDevice& FakePlatform::addSd(const std::string& name, int host, int channel, int id, int lun,
                                              std::vector<uint8_t> bytes) {
    FakeDevice& d = devices["/dev/" + name];
    d.sdNode = true;
    d.host = host;
    d.channel = channel;
    d.id = id;
    d.lun = lun;
    d.bytes = std::move(bytes);
    return d;
}

FakePlatform::FakeDevice& FakePlatform::addBlock(const std::string& path, std::vector<uint8_t> bytes) {
    FakeDevice& d = devices[path];
    d.bytes = std::move(bytes);
    return d;
}

int FakePlatform::OpenDevice(const std::string& path, int flags) {
    openedDevices.push_back(path);
    // A directory opens as opendir opens it, unless it is unlistable.
    if ((flags & O_DIRECTORY) != 0 && IsDirectory(path) && unlistable.count(path) == 0) {
        const int fd = nextFd_++;
        openFds[fd] = path;
        return fd;
    }
    if (devices.count(path) == 0 || (flags & O_DIRECTORY) != 0) {
        ++failedOpens;
        if (!failedOpenDir.empty()) {
            const std::string missing = failedOpenDir + "/" + path.substr(path.rfind('/') + 1);
            int fd = ::open(missing.c_str(), O_RDONLY | O_NONBLOCK);
            if (fd >= 0) ::close(fd);
        }
        errno = ENOENT;
        return -1;
    }
    const int fd = nextFd_++;
    openFds[fd] = path;
    return fd;
}

long FakePlatform::ReadDevice(int fd, void* buffer, unsigned int length, unsigned long long offset) {
    ++deviceReads;
    auto it = openFds.find(fd);
    if (it == openFds.end()) {
        errno = EBADF;
        return -1;
    }
    const std::vector<uint8_t>& bytes = devices[it->second].bytes;
    if (offset >= bytes.size()) return 0;
    const std::size_t n = std::min<unsigned long long>(length, bytes.size() - offset);
    std::memcpy(buffer, bytes.data() + offset, n);
    return static_cast<long>(n);
}

int FakePlatform::IoctlDevice(int fd, unsigned long request, void* arg) {
    auto it = openFds.find(fd);
    if (it == openFds.end() || arg == nullptr) {
        errno = EBADF;
        return -1;
    }
    const FakeDevice& d = devices[it->second];
    switch (request) {
        case 0x2203:  // SG_EMULATED_HOST
            if (!d.sgNode) break;
            *static_cast<int*>(arg) = d.emulatedHost;
            return 0;
        case 0x2276: {  // SG_GET_SCSI_ID
            if (!d.sgNode) break;
            sg_scsi_id* id = static_cast<sg_scsi_id*>(arg);
            std::memset(id, 0, sizeof *id);
            id->host_no = d.host;
            id->channel = d.channel;
            id->scsi_id = d.id;
            id->lun = d.lun;
            return 0;
        }
        case 0x5382: {  // SCSI_IOCTL_GET_IDLUN
            if (!d.sdNode || d.idlunFails) break;
            int* idlun = static_cast<int*>(arg);
            idlun[0] = (d.id & 0xFF) | ((d.lun & 0xFF) << 8) | ((d.channel & 0xFF) << 16);
            idlun[1] = 0;
            return 0;
        }
        case 0x5386:  // SCSI_IOCTL_GET_BUS_NUMBER
            if (!d.sdNode || d.busFails) break;
            *static_cast<int*>(arg) = d.host;
            return 0;
    }
    errno = EINVAL;
    return -1;
}

int FakePlatform::CloseDevice(int fd) { return openFds.erase(fd) ? 0 : -1; }

FILE* FakePlatform::OpenHostFile(const std::string& path, const char* mode) {
    if (path.find('\0') != std::string::npos) return nullptr;
    return std::fopen(path.c_str(), mode);
}

bool FakePlatform::ReadFileText(const std::string& path, std::string& out, unsigned int maxBytes) {
    ++fileReads;
    out.clear();
    auto it = files.find(path);
    if (it == files.end()) return false;
    out = it->second.substr(0, maxBytes);
    return true;
}

int FakePlatform::RemoveFile(const std::string& path) {
    removedFiles.push_back(path);
    bool existed = paths.erase(path) + files.erase(path) != 0;
    return existed ? 0 : -1;
}
