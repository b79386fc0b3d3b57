/* SPDX-License-Identifier: Apache-2.0 */
#ifndef ZEMT_TEST_FAKE_PLATFORM_H
#define ZEMT_TEST_FAKE_PLATFORM_H

#include <stdint.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "StandInHost.h"

class FakeTren;

// An in-memory host.  The library's TREN install counting (InstallTren,
// UninstallTren, LoadTrenLibrary) runs unchanged on top of the faked
// library loading and command execution.  Files the library writes into a
// mounted partition (OpenHostFile) are real files: tests point the mount
// directories at a temporary directory.  Construction installs it as the
// platform and resets the process-wide install count; destruction
// restores the previous platform.
class FakePlatform : public CStandInHost {
public:
    static const std::string kTrenDir;  // "/opt/norvik/tarn/lib/"

    FakePlatform();
    ~FakePlatform();

    // ---- scripting the host ----------------------------------------------------
    void addPath(const std::string& path) { paths.insert(path); }
    void addFile(const std::string& path, const std::string& content) { files[path] = content; }
    void setExitStatus(const std::string& cmd, int status) { exitStatus[cmd] = status; }
    void setOutput(const std::string& cmd, const std::string& output) { outputs[cmd] = output; }
    void addLibrary(const std::string& name, void* handle) { libraries[name] = handle; }
    // TREN present in its own directory (no install script needed).
    void useTren(FakeTren& tren);

    std::map<std::string, int> exitStatus;   // per exact command text
    std::map<std::string, std::function<void()>> effects;  // run when that exact command runs
    int defaultExitStatus = 0;
    std::map<std::string, std::string> outputs;  // ReadCommandOutput per command
    std::set<std::string> failingPipes;      // commands whose pipe cannot open
    std::set<std::string> paths;             // exist, no readable content
    std::map<std::string, std::string> files;  // exist with content
    std::set<std::string> executables;
    std::map<std::string, void*> libraries;  // LoadLibrary name -> handle
    std::map<std::string, std::vector<std::string>> listings;  // GetFileList
    std::set<std::string> unlistable;        // directories that cannot be opened
    int setUserIdResult = 0;
    std::string processDirectory = "/opt/zemt-pkg/";
    std::string currentDirectory = "/work/pkg/";

    // ---- block devices ------------------------------------------------------------
    // A device node: its bytes (what reads return) and the SCSI requests it
    // answers.  An sg node answers SG_EMULATED_HOST and SG_GET_SCSI_ID, an
    // sd node SCSI_IOCTL_GET_IDLUN and SCSI_IOCTL_GET_BUS_NUMBER.
    struct FakeDevice {
        std::vector<uint8_t> bytes;
        bool sgNode = false;
        int emulatedHost = 1;     // SG_EMULATED_HOST answer
        bool sdNode = false;
        bool idlunFails = false;  // SCSI_IOCTL_GET_IDLUN fails
        bool busFails = false;    // SCSI_IOCTL_GET_BUS_NUMBER fails
        int host = 0, channel = 0, id = 0, lun = 0;
    };
    static const std::string kSysfsSg;  // "/sys/class/scsi_generic"

    // /dev/sgN at the SCSI address, listed under /sys/class/scsi_generic.
    FakeDevice& addSg(const std::string& name, int host, int channel, int id, int lun, bool emulated = true);
    // /dev/<name> at the SCSI address, holding `bytes`.
    FakeDevice& addSd(const std::string& name, int host, int channel, int id, int lun,
                      std::vector<uint8_t> bytes = {});
    // A node with bytes only (a partition such as /dev/sdb1).
    FakeDevice& addBlock(const std::string& path, std::vector<uint8_t> bytes);
    void removeDevice(const std::string& path) { devices.erase(path); }
    void addDirectory(const std::string& path) { pathKinds[path] = PathDirectory; }

    std::map<std::string, FakeDevice> devices;   // by device path
    std::map<std::string, PathKind> pathKinds;   // lstat answers (beyond devices and files)
    // When set, an open of a missing device also fails a real open(2) of a
    // missing name in this directory, so that it costs what a failed open
    // costs on a host.
    std::string failedOpenDir;

    std::vector<std::string> openedDevices;  // every OpenDevice path, in order
    int failedOpens = 0;
    int deviceReads = 0;
    std::map<int, std::string> openFds;      // still open

    // ---- what the library did ---------------------------------------------------
    std::vector<std::string> commands;      // ExecuteCmd, ExecuteCmdNoWait, pipes, in order
    std::vector<std::string> loadAttempts;  // LoadLibrary names, in order
    std::vector<void*> freedLibraries;
    std::vector<std::string> removedFiles;
    std::vector<unsigned int> sleeps;
    std::vector<unsigned int> userIds;
    int syncs = 0;
    int fileReads = 0;
    unsigned long now() const { return clock_; }  // virtual seconds slept so far

    // ---- IPlatformImpl ---------------------------------------------------------------
    bool isTRENInstalled() override;
    int InstallTren() override;
    int UninstallTren() override;
    void* LoadTrenLibrary(const std::string& name) override;
    void* LoadLibrary(const std::string& name) override;
    void FreeLibrary(void* handle) override;
    void* GetProcAddress(void* handle, const std::string& name) override;
    int ExecuteCmd(const std::string& cmd, bool flag, long& param) override;
    int ExecuteCmdNoWait(const std::string& cmd, bool flag, long& param) override;
    void Sleep(unsigned int seconds) override;
    std::string getCurrentDirectory() override { return currentDirectory; }
    std::string getCurrentProcessDirectory() override { return processDirectory; }
    bool setCurrentDirectory(const std::string& dir) override;
    std::vector<std::string> GetFileList(const std::string& dir) override;
    bool IsFileExits(const std::string& name) override;
    bool IsFileExistsAbs(const std::string& path) override;
    int SetUserId(unsigned int uid) override;
    bool ReadCommandOutput(const std::string& cmd, std::string& out, unsigned int maxBytes) override;
    bool PathExists(const std::string& path) override;
    bool IsExecutable(const std::string& path) override { return executables.count(path) != 0; }
    bool ReadFileText(const std::string& path, std::string& out, unsigned int maxBytes) override;
    int RemoveFile(const std::string& path) override;
    void SyncFileSystems() override { ++syncs; }
    bool IsDirectory(const std::string& path) override;
    PathKind GetPathKind(const std::string& path) override;
    int OpenDevice(const std::string& path, int flags) override;
    long ReadDevice(int fd, void* buffer, unsigned int length, unsigned long long offset) override;
    int IoctlDevice(int fd, unsigned long request, void* arg) override;
    int CloseDevice(int fd) override;
    FILE* OpenHostFile(const std::string& path, const char* mode) override;

private:
    int run(const std::string& cmd);

    FakeTren* tren_ = nullptr;
    unsigned long clock_ = 0;
    IPlatformImpl* previous_ = nullptr;
    int nextFd_ = 100;
};

#endif
