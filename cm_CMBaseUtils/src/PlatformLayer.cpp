// SPDX-License-Identifier: Apache-2.0
#include "PlatformLayer.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

IPlatformImpl* CPlatformLayer::m_pPlatformImpl = nullptr;

namespace {

// Names the emulator a program is meant to run against.
const char* const kEmulatorDirVariable = "ZEMT_EMULATOR_DIR";

// Stands in for the host when the environment names an emulator but no
// emulated host was installed in this process (its preload library was not
// found, say): a program meant for the emulator must not fall through to
// the real host, so every host action fails.
class CRefusingImpl : public IPlatformImpl {
public:
    explicit CRefusingImpl(const char* dir) {
        std::fprintf(stderr,
                     "libzemt: %s names an emulator (%s), but no emulated host is installed in this "
                     "process; every host action is refused.  Run the program with "
                     "'zemt emulator exec %s -- PROGRAM'.\n",
                     kEmulatorDirVariable, dir, dir);
    }

    bool isTRENInstalled() override { return false; }
    int InstallTren() override { return 1; }
    int UninstallTren() override { return 1; }
    void* LoadLibrary(const std::string&) override { return nullptr; }
    void FreeLibrary(void*) override {}
    void* GetProcAddress(void*, const std::string&) override { return nullptr; }
    int ExecuteCmd(const std::string&, bool, long&) override { return -1; }
    int ExecuteCmdNoWait(const std::string&, bool, long&) override { return -1; }
    void Sleep(unsigned int) override {}
    std::string getCurrentDirectory() override { return ""; }
    std::string getCurrentProcessDirectory() override { return ""; }
    bool setCurrentDirectory(const std::string&) override { return false; }
    std::vector<std::string> GetFileList(const std::string&) override { return {}; }
    bool IsFileExits(const std::string&) override { return false; }
    bool IsFileExistsAbs(const std::string&) override { return false; }
    void* LoadTrenLibrary(const std::string&) override { return nullptr; }
    int SetUserId(unsigned int) override { return refused(); }
    bool ReadCommandOutput(const std::string&, std::string& out, unsigned int) override {
        out.clear();
        return false;
    }
    bool PathExists(const std::string&) override { return false; }
    bool IsExecutable(const std::string&) override { return false; }
    bool ReadFileText(const std::string&, std::string& out, unsigned int) override {
        out.clear();
        return false;
    }
    int RemoveFile(const std::string&) override { return refused(); }
    void SyncFileSystems() override {}
    bool IsDirectory(const std::string&) override { return false; }
    int OpenDevice(const std::string&, int) override { return refused(); }
    long ReadDevice(int, void*, unsigned int, unsigned long long) override { return refused(); }
    int IoctlDevice(int, unsigned long, void*) override { return refused(); }
    int CloseDevice(int) override { return refused(); }
    PathKind GetPathKind(const std::string&) override { return PathMissing; }
    FILE* OpenHostFile(const std::string&, const char*) override {
        errno = EPERM;
        return nullptr;
    }

private:
    static int refused() {
        errno = EPERM;
        return -1;
    }
};

IPlatformImpl* makeDefaultPlatform() {
    const char* emulator = std::getenv(kEmulatorDirVariable);
    if (emulator != nullptr && *emulator != '\0') return new CRefusingImpl(emulator);
    return new CLinuxImpl();
}

// The default implementation is made once and lives until the process ends,
// so that switching back from an installed implementation never leaks.
IPlatformImpl* defaultPlatform() {
    static IPlatformImpl* impl = makeDefaultPlatform();
    return impl;
}

}  // namespace

IPlatformImpl* CPlatformLayer::GetPlatform() {
    if (m_pPlatformImpl == nullptr) m_pPlatformImpl = defaultPlatform();
    return m_pPlatformImpl;
}

IPlatformImpl* CPlatformLayer::SetPlatform(IPlatformImpl* impl) {
    IPlatformImpl* previous = m_pPlatformImpl;
    m_pPlatformImpl = impl;
    return previous;
}

bool CPlatformLayer::isTRENInstalled() { return GetPlatform()->isTRENInstalled(); }
int CPlatformLayer::InstallTren() { return GetPlatform()->InstallTren(); }
int CPlatformLayer::UninstallTren() { return GetPlatform()->UninstallTren(); }
void* CPlatformLayer::Load_Library(const std::string& name) { return GetPlatform()->LoadLibrary(name); }
void CPlatformLayer::FreeLibrary(void* handle) { GetPlatform()->FreeLibrary(handle); }
void* CPlatformLayer::GetProcAddress(void* handle, const std::string& name) {
    return GetPlatform()->GetProcAddress(handle, name);
}
int CPlatformLayer::ExecuteCmd(const std::string& cmd, bool flag, long& param) {
    return GetPlatform()->ExecuteCmd(cmd, flag, param);
}
int CPlatformLayer::ExecuteCmdNoWait(const std::string& cmd, bool flag, long& param) {
    return GetPlatform()->ExecuteCmdNoWait(cmd, flag, param);
}
void CPlatformLayer::Sleep(unsigned int seconds) { GetPlatform()->Sleep(seconds); }
std::string CPlatformLayer::getCurrentDirectory() { return GetPlatform()->getCurrentDirectory(); }
std::string CPlatformLayer::getCurrentProcessDirectory() {
    return GetPlatform()->getCurrentProcessDirectory();
}
bool CPlatformLayer::setCurrentDirectory(const std::string& dir) {
    return GetPlatform()->setCurrentDirectory(dir);
}
std::vector<std::string> CPlatformLayer::GetFileList(const std::string& dir) {
    return GetPlatform()->GetFileList(dir);
}
bool CPlatformLayer::IsFileExits(const std::string& name) { return GetPlatform()->IsFileExits(name); }
bool CPlatformLayer::IsFileExistsAbs(const std::string& path) {
    return GetPlatform()->IsFileExistsAbs(path);
}
void* CPlatformLayer::LoadTrenLibrary(const std::string& name) {
    return GetPlatform()->LoadTrenLibrary(name);
}
int CPlatformLayer::SetUserId(unsigned int uid) { return GetPlatform()->SetUserId(uid); }
bool CPlatformLayer::ReadCommandOutput(const std::string& cmd, std::string& out,
                                       unsigned int maxBytes) {
    return GetPlatform()->ReadCommandOutput(cmd, out, maxBytes);
}
bool CPlatformLayer::PathExists(const std::string& path) { return GetPlatform()->PathExists(path); }
bool CPlatformLayer::IsExecutable(const std::string& path) {
    return GetPlatform()->IsExecutable(path);
}
bool CPlatformLayer::ReadFileText(const std::string& path, std::string& out, unsigned int maxBytes) {
    return GetPlatform()->ReadFileText(path, out, maxBytes);
}
int CPlatformLayer::RemoveFile(const std::string& path) { return GetPlatform()->RemoveFile(path); }
void CPlatformLayer::SyncFileSystems() { GetPlatform()->SyncFileSystems(); }
bool CPlatformLayer::IsDirectory(const std::string& path) { return GetPlatform()->IsDirectory(path); }
int CPlatformLayer::OpenDevice(const std::string& path, int flags) {
    return GetPlatform()->OpenDevice(path, flags);
}
long CPlatformLayer::ReadDevice(int fd, void* buffer, unsigned int length, unsigned long long offset) {
    return GetPlatform()->ReadDevice(fd, buffer, length, offset);
}
int CPlatformLayer::IoctlDevice(int fd, unsigned long request, void* arg) {
    return GetPlatform()->IoctlDevice(fd, request, arg);
}
int CPlatformLayer::CloseDevice(int fd) { return GetPlatform()->CloseDevice(fd); }
FILE* CPlatformLayer::OpenHostFile(const std::string& path, const char* mode) {
    return GetPlatform()->OpenHostFile(path, mode);
}
PathKind CPlatformLayer::GetPathKind(const std::string& path) {
    return GetPlatform()->GetPathKind(path);
}

int CPlatformLayer::Run(const std::string& cmd) {
    long unused = 0;
    return ExecuteCmd(cmd, false, unused);
}
