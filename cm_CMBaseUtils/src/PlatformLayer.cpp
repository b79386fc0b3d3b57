#include "PlatformLayer.h"

IPlatformImpl* CPlatformLayer::m_pPlatformImpl = nullptr;

namespace {
// The default implementation is made once and lives until the process ends,
// so that switching back from an installed implementation never leaks.
IPlatformImpl* defaultPlatform() {
    static IPlatformImpl* linuxImpl = new CLinuxImpl();
    return linuxImpl;
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
