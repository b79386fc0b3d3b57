/* SPDX-License-Identifier: Apache-2.0 */
#ifndef ZEMT_PLATFORM_LAYER_H
#define ZEMT_PLATFORM_LAYER_H

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "zemt_export.h"

// What a path names, as lstat sees it.
enum PathKind { PathMissing = 0, PathFile, PathDirectory, PathSymlink, PathOther };

// The one seam between the library and its host.  The first sixteen slots
// are the historical interface in their historical order; the slots after
// them carry the remaining host actions (privileges, pipes, file tests,
// file reads and removal) so that nothing in the library calls the host
// directly and an emulated host can stand in for all of it.
class ZEMT_API IPlatformImpl {
public:
    virtual bool isTRENInstalled() = 0;
    virtual int InstallTren() = 0;
    virtual int UninstallTren() = 0;
    virtual void* LoadLibrary(const std::string& name) = 0;
    virtual void FreeLibrary(void* handle) = 0;
    virtual void* GetProcAddress(void* handle, const std::string& name) = 0;
    virtual int ExecuteCmd(const std::string& cmd, bool flag, long& param) = 0;
    virtual int ExecuteCmdNoWait(const std::string& cmd, bool flag, long& param) = 0;
    virtual void Sleep(unsigned int seconds) = 0;
    virtual std::string getCurrentDirectory() = 0;
    virtual std::string getCurrentProcessDirectory() = 0;
    virtual bool setCurrentDirectory(const std::string& dir) = 0;
    virtual std::vector<std::string> GetFileList(const std::string& dir) = 0;
    virtual bool IsFileExits(const std::string& name) = 0;
    virtual bool IsFileExistsAbs(const std::string& path) = 0;
    virtual void* LoadTrenLibrary(const std::string& name) = 0;

    // setuid(uid); 0 on success.
    virtual int SetUserId(unsigned int uid) = 0;
    // popen(cmd, "r") and read at most maxBytes; false when no pipe opened.
    virtual bool ReadCommandOutput(const std::string& cmd, std::string& out,
                                   unsigned int maxBytes) = 0;
    // stat(path) succeeds.
    virtual bool PathExists(const std::string& path) = 0;
    // access(path, X_OK) succeeds.
    virtual bool IsExecutable(const std::string& path) = 0;
    // Reads at most maxBytes of a file; false when it cannot be opened.
    virtual bool ReadFileText(const std::string& path, std::string& out,
                              unsigned int maxBytes) = 0;
    // unlink(path); 0 on success.
    virtual int RemoveFile(const std::string& path) = 0;
    // sync(): flush file-system buffers.
    virtual void SyncFileSystems() = 0;
    // stat(path) succeeds and names a directory.
    virtual bool IsDirectory(const std::string& path) = 0;
    // Block-device access: open(path, flags), pread, ioctl, close.
    virtual int OpenDevice(const std::string& path, int flags) = 0;
    virtual long ReadDevice(int fd, void* buffer, unsigned int length,
                            unsigned long long offset) = 0;
    virtual int IoctlDevice(int fd, unsigned long request, void* arg) = 0;
    virtual int CloseDevice(int fd) = 0;
    // What a path names without following a final symbolic link (lstat).
    virtual PathKind GetPathKind(const std::string& path) = 0;
    // fopen(path, mode) for a file under a host path the library owns (a
    // mounted partition, the drop box); null when it cannot be opened.
    virtual FILE* OpenHostFile(const std::string& path, const char* mode) = 0;
};

// The production implementation: every slot is the direct system call.
class ZEMT_API CLinuxImpl : public IPlatformImpl {
public:
    CLinuxImpl();

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
    bool ReadCommandOutput(const std::string& cmd, std::string& out,
                           unsigned int maxBytes) override;
    bool PathExists(const std::string& path) override;
    bool IsExecutable(const std::string& path) override;
    bool ReadFileText(const std::string& path, std::string& out,
                      unsigned int maxBytes) override;
    int RemoveFile(const std::string& path) override;
    void SyncFileSystems() override;
    bool IsDirectory(const std::string& path) override;
    int OpenDevice(const std::string& path, int flags) override;
    long ReadDevice(int fd, void* buffer, unsigned int length,
                    unsigned long long offset) override;
    int IoctlDevice(int fd, unsigned long request, void* arg) override;
    int CloseDevice(int fd) override;
    PathKind GetPathKind(const std::string& path) override;
    FILE* OpenHostFile(const std::string& path, const char* mode) override;

    bool isPAVOTRENInstalled();

    static int nTRENInstallRefCount;
    static bool bTRENAlreadyInstalled;
};

// Static facade over the installed implementation.
class ZEMT_API CPlatformLayer {
public:
    static IPlatformImpl* GetPlatform();
    // Installs another implementation (an emulated host, a test fake) and
    // returns the previous one, which stays owned by whoever installed it;
    // null restores the default Linux implementation on next use.
    static IPlatformImpl* SetPlatform(IPlatformImpl* impl);

    static bool isTRENInstalled();
    static int InstallTren();
    static int UninstallTren();
    static void* Load_Library(const std::string& name);
    static void FreeLibrary(void* handle);
    static void* GetProcAddress(void* handle, const std::string& name);
    static int ExecuteCmd(const std::string& cmd, bool flag, long& param);
    static int ExecuteCmdNoWait(const std::string& cmd, bool flag, long& param);
    static void Sleep(unsigned int seconds);
    static std::string getCurrentDirectory();
    static std::string getCurrentProcessDirectory();
    static bool setCurrentDirectory(const std::string& dir);
    static std::vector<std::string> GetFileList(const std::string& dir);
    static bool IsFileExits(const std::string& name);
    static bool IsFileExistsAbs(const std::string& path);
    static void* LoadTrenLibrary(const std::string& name);

    static int SetUserId(unsigned int uid);
    static bool ReadCommandOutput(const std::string& cmd, std::string& out,
                                  unsigned int maxBytes);
    static bool PathExists(const std::string& path);
    static bool IsExecutable(const std::string& path);
    static bool ReadFileText(const std::string& path, std::string& out,
                             unsigned int maxBytes);
    static int RemoveFile(const std::string& path);
    static void SyncFileSystems();
    static bool IsDirectory(const std::string& path);
    static int OpenDevice(const std::string& path, int flags);
    static long ReadDevice(int fd, void* buffer, unsigned int length, unsigned long long offset);
    static int IoctlDevice(int fd, unsigned long request, void* arg);
    static int CloseDevice(int fd);
    static PathKind GetPathKind(const std::string& path);
    static FILE* OpenHostFile(const std::string& path, const char* mode);

    // Convenience for the common "run it, ignore flag and param" call.
    static int Run(const std::string& cmd);

private:
    static IPlatformImpl* m_pPlatformImpl;
};

class ZEMT_API CSignalHandler {
public:
    CSignalHandler();
    ~CSignalHandler();
    bool setupSignalHandlers();
};

#endif
