/* SPDX-License-Identifier: Apache-2.0 */
// The base of every platform that stands in for the host: the unit tests'
// fake, the emulated host and the fuzzing hosts.  Each slot fails loudly
// until a stand-in implements it, so that a stand-in never reaches the
// real host by a slot it forgot.
//
// "Loudly" means: "unexpected host call: NAME" on stderr, then abort().  A
// failing result would be taken by the library for an ordinary host
// failure and handled (a mount retried, a file reported missing), and a
// test could pass through it; an abort cannot be missed.
#ifndef ZEMT_STANDIN_HOST_H
#define ZEMT_STANDIN_HOST_H

#include "PlatformLayer.h"

class CStandInHost : public IPlatformImpl {
public:
    virtual ~CStandInHost() {}

    bool isTRENInstalled() override;
    int InstallTren() override;
    int UninstallTren() override;
    void* LoadLibrary(const std::string& name) override;
    void FreeLibrary(void* handle) override;
    void* GetProcAddress(void* handle, const std::string& name) override;
    int ExecuteCmd(const std::string& cmd, bool flag, long& param) override;
    int ExecuteCmdNoWait(const std::string& cmd, bool flag, long& param) override;
    void Sleep(unsigned int seconds) override;
    std::string getCurrentDirectory() override;
    std::string getCurrentProcessDirectory() override;
    bool setCurrentDirectory(const std::string& dir) override;
    std::vector<std::string> GetFileList(const std::string& dir) override;
    bool IsFileExits(const std::string& name) override;
    bool IsFileExistsAbs(const std::string& path) override;
    void* LoadTrenLibrary(const std::string& name) override;

    int SetUserId(unsigned int uid) override;
    bool ReadCommandOutput(const std::string& cmd, std::string& out, unsigned int maxBytes) override;
    bool PathExists(const std::string& path) override;
    bool IsExecutable(const std::string& path) override;
    bool ReadFileText(const std::string& path, std::string& out, unsigned int maxBytes) override;
    int RemoveFile(const std::string& path) override;
    void SyncFileSystems() override;
    bool IsDirectory(const std::string& path) override;
    int OpenDevice(const std::string& path, int flags) override;
    long ReadDevice(int fd, void* buffer, unsigned int length, unsigned long long offset) override;
    int IoctlDevice(int fd, unsigned long request, void* arg) override;
    int CloseDevice(int fd) override;
    PathKind GetPathKind(const std::string& path) override;
    FILE* OpenHostFile(const std::string& path, const char* mode) override;

protected:
    // Prints "unexpected host call: NAME" on stderr and aborts.
    [[noreturn]] static void unexpected(const char* slot);
};

#endif
