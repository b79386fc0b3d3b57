/* SPDX-License-Identifier: Apache-2.0 */
// A host implementation that stands in front of whichever one is installed
// (the real host, the emulated one, the refusing one) and passes every call
// on unchanged; a tool class overrides the one or two slots it watches or
// answers differently.  It installs itself while it lives and puts the
// previous implementation back when it goes.
#ifndef ZEMT_TOOLS_HOSTRELAY_H
#define ZEMT_TOOLS_HOSTRELAY_H

#include <string>
#include <vector>

#include "PlatformLayer.h"

namespace zemt_tool {

class HostRelay : public IPlatformImpl {
public:
    HostRelay() : m_inner(CPlatformLayer::GetPlatform()) { CPlatformLayer::SetPlatform(this); }
    ~HostRelay() { CPlatformLayer::SetPlatform(m_inner); }
    HostRelay(const HostRelay&) = delete;
    HostRelay& operator=(const HostRelay&) = delete;

    bool isTRENInstalled() override { return m_inner->isTRENInstalled(); }
    int InstallTren() override { return m_inner->InstallTren(); }
    int UninstallTren() override { return m_inner->UninstallTren(); }
    void* LoadLibrary(const std::string& name) override { return m_inner->LoadLibrary(name); }
    void FreeLibrary(void* handle) override { m_inner->FreeLibrary(handle); }
    void* GetProcAddress(void* handle, const std::string& name) override { return m_inner->GetProcAddress(handle, name); }
    int ExecuteCmd(const std::string& cmd, bool flag, long& param) override { return m_inner->ExecuteCmd(cmd, flag, param); }
    int ExecuteCmdNoWait(const std::string& cmd, bool flag, long& param) override {
        return m_inner->ExecuteCmdNoWait(cmd, flag, param);
    }
    void Sleep(unsigned int seconds) override { m_inner->Sleep(seconds); }
    std::string getCurrentDirectory() override { return m_inner->getCurrentDirectory(); }
    std::string getCurrentProcessDirectory() override { return m_inner->getCurrentProcessDirectory(); }
    bool setCurrentDirectory(const std::string& dir) override { return m_inner->setCurrentDirectory(dir); }
    std::vector<std::string> GetFileList(const std::string& dir) override { return m_inner->GetFileList(dir); }
    bool IsFileExits(const std::string& name) override { return m_inner->IsFileExits(name); }
    bool IsFileExistsAbs(const std::string& path) override { return m_inner->IsFileExistsAbs(path); }
    void* LoadTrenLibrary(const std::string& name) override { return m_inner->LoadTrenLibrary(name); }
    int SetUserId(unsigned int uid) override { return m_inner->SetUserId(uid); }
    bool ReadCommandOutput(const std::string& cmd, std::string& out, unsigned int maxBytes) override {
        return m_inner->ReadCommandOutput(cmd, out, maxBytes);
    }
    bool PathExists(const std::string& path) override { return m_inner->PathExists(path); }
    bool IsExecutable(const std::string& path) override { return m_inner->IsExecutable(path); }
    bool ReadFileText(const std::string& path, std::string& out, unsigned int maxBytes) override {
        return m_inner->ReadFileText(path, out, maxBytes);
    }
    int RemoveFile(const std::string& path) override { return m_inner->RemoveFile(path); }
    void SyncFileSystems() override { m_inner->SyncFileSystems(); }
    bool IsDirectory(const std::string& path) override { return m_inner->IsDirectory(path); }
    int OpenDevice(const std::string& path, int flags) override { return m_inner->OpenDevice(path, flags); }
    long ReadDevice(int fd, void* buffer, unsigned int length, unsigned long long offset) override {
        return m_inner->ReadDevice(fd, buffer, length, offset);
    }
    int IoctlDevice(int fd, unsigned long request, void* arg) override { return m_inner->IoctlDevice(fd, request, arg); }
    int CloseDevice(int fd) override { return m_inner->CloseDevice(fd); }
    PathKind GetPathKind(const std::string& path) override { return m_inner->GetPathKind(path); }
    FILE* OpenHostFile(const std::string& path, const char* mode) override { return m_inner->OpenHostFile(path, mode); }

protected:
    IPlatformImpl* m_inner;
};

}  // namespace zemt_tool

#endif
