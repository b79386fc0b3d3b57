/* SPDX-License-Identifier: Apache-2.0 */
// The emulated host: a platform implementation that roots the library's
// absolute host paths in DIR/root, keeps time on the virtual clock of the
// state directory and carries out the library's shell commands itself,
// from a table of command handlers, without ever starting a shell.
//
// Install it before the first library object is built:
//
//     CEmulatedHost host("/path/to/state");
//     CPlatformLayer::SetPlatform(&host);
#ifndef ZEMT_EMULATOR_EMULATEDHOST_H
#define ZEMT_EMULATOR_EMULATEDHOST_H

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "PlatformLayer.h"
#include "StandInHost.h"
#include "zemt_emulator/Disks.h"

#define ZEMT_EMU_API __attribute__((visibility("default")))

class CEmulatedHost;

// What a command handler sees and produces.
struct ZEMT_EMU_API CEmulatedCommand {
    CEmulatedHost& host;
    std::vector<std::string> argv;
    std::string in;   // standard input (the previous pipeline stage's output)
    std::string out;  // standard output
    std::string err;  // standard error
};

// Returns the command's exit status (0..255).
typedef std::function<int(CEmulatedCommand&)> CEmulatedCommandHandler;

class ZEMT_EMU_API CEmulatedHost : public CStandInHost {
public:
    // Sets ZEMT_EMULATOR_DIR to stateDir, so that the TREN stand-in the
    // library loads finds the same controller, and removes the scratch
    // files of runs that were killed.  Throws std::runtime_error when the
    // working directory or the state directory lies in one of the host
    // locations the sandbox keeps (zemt_emulator/HostBoundary.h).
    explicit CEmulatedHost(const std::string& stateDir);
    virtual ~CEmulatedHost();

    const std::string& StateDir() const { return stateDir_; }
    const std::string& RootDir() const { return rootDir_; }

    // Where a host path lives: a path in one of the mapped host locations
    // (zemt_emulator/HostBoundary.h) lies under the sandbox root, normalised;
    // inside a mounted partition an existing name is found in any case of
    // its ASCII letters, as on vfat.  Every other path, relative or
    // absolute, is the caller's own file and stays as it is.
    std::string MapPath(const std::string& hostPath) const;

    // What a vfat mount answers to a write at a host path: 0, or the error
    // number it fails with (EROFS on a read-only mount; EINVAL, ENAMETOOLONG
    // or EEXIST for a name FAT cannot hold beside the others; EPERM for a
    // link; ENOSPC when the file system has no room for BYTES more).  Paths
    // outside the mounts always get 0.
    enum WriteKind {
        kCreateFile,     // make or rewrite a file of BYTES bytes
        kMakeDirectory,  // make a folder
        kModify,         // remove or change an entry that is there
        kMakeLink,       // make a symbolic link
    };
    int CheckWrite(const std::string& hostPath, WriteKind kind, long long bytes = 0) const;
    // The host's own change of a path (made, written, removed): the room
    // count of its mount takes it in without reading the folder again.
    void NoteChange(const std::string& hostPath);

    // What a folder of a mount holds, as the room count keeps it between
    // writes (FatMount.cpp); read afresh once the folder changed otherwise.
    struct FolderRecord {
        bool read = false;
        long long changed = 0;  // the folder's modification time, nanoseconds
        unsigned long long inode = 0;
        std::map<std::string, long long> children;  // name -> bytes, -1 for a folder
        long entries = 0;                            // directory entries the names take

        static FolderRecord Read(const std::string& folder);
        void Note(const std::string& folder, const std::string& name);
    };
    typedef std::map<std::string, FolderRecord> FolderRecords;
    // The record of a folder of a mount (sandbox path).
    const FolderRecord& FolderRecordOf(const std::string& folder) const;

    // The mount whose directory is, or holds, a host path, with the size
    // and free room of its file system in bytes (what `df` reports); false
    // when the path is on no mount.
    struct Room {
        long long totalBytes = 0;
        long long freeBytes = 0;
    };
    bool MountRoom(const std::string& hostPath, zemt_emu::MountRecord& mount, Room& room) const;

    // Adds or replaces a command.  needsFile: an absolute command path must
    // exist in the sandbox (as /sbin/udevadm must) or the command is not found.
    void RegisterCommand(const std::string& name, CEmulatedCommandHandler handler,
                         bool needsFile = false);

    // Runs a command line as the host's shell would, without a shell, and
    // logs it.  Returns the exit status of the last pipeline.
    int RunCommandLine(const std::string& line, std::string& out, const char* kind);

    // Host configuration and runtime state (host.conf).
    std::string HostSetting(const std::string& key, const std::string& fallback = "") const;
    void SetHostSetting(const std::string& key, const std::string& value);

    unsigned long Now() const;

    // Mounts of the sandbox (DIR/mounts, shown as root/proc/mounts).
    typedef zemt_emu::MountRecord Mount;
    std::vector<Mount> Mounts() const;
    void SaveMounts(const std::vector<Mount>& mounts);
    // The mount whose directory holds a host path (not the directory
    // itself), or false.
    bool MountHolding(const std::string& hostPath, Mount& mount) const;
    // Writes what changed in a read-write mount's directory back into its
    // image; false (with a reason) when it does not fit, the image then
    // stays as it was.
    bool WriteBack(const Mount& mount, std::string& error);
    // Host path of a sandbox path (the inverse of MapPath), or empty.
    std::string HostPathOf(const std::string& sandboxPath) const;

    // ---- platform slots -----------------------------------------------------
    // The hardware-access library is counted and installed as on a real
    // host, by the install script in the sandbox.
    bool isTRENInstalled() override;
    int InstallTren() override;
    int UninstallTren() override;
    void* LoadTrenLibrary(const std::string& name) override;
    void* LoadLibrary(const std::string& name) override;
    // The caller's own side of the host is the real one: its working
    // directory, its program's directory, the libraries loaded for it.
    void FreeLibrary(void* handle) override;
    void* GetProcAddress(void* handle, const std::string& name) override;
    std::string getCurrentDirectory() override;
    std::string getCurrentProcessDirectory() override;
    bool setCurrentDirectory(const std::string& dir) override;
    int ExecuteCmd(const std::string& cmd, bool flag, long& param) override;
    int ExecuteCmdNoWait(const std::string& cmd, bool flag, long& param) override;
    void Sleep(unsigned int seconds) override;
    std::vector<std::string> GetFileList(const std::string& dir) override;
    bool IsFileExits(const std::string& name) override;
    bool IsFileExistsAbs(const std::string& path) override;

    int SetUserId(unsigned int uid) override;
    bool ReadCommandOutput(const std::string& cmd, std::string& out, unsigned int maxBytes) override;
    bool PathExists(const std::string& path) override;
    bool IsExecutable(const std::string& path) override;
    bool ReadFileText(const std::string& path, std::string& out, unsigned int maxBytes) override;
    int RemoveFile(const std::string& path) override;
    void SyncFileSystems() override;

    // Directory test and block-device access, kept inside the sandbox.
    bool IsDirectory(const std::string& path) override;
    PathKind GetPathKind(const std::string& path) override;
    FILE* OpenHostFile(const std::string& path, const char* mode) override;
    int OpenDevice(const std::string& path, int flags) override;
    long ReadDevice(int fd, void* buffer, unsigned int length, unsigned long long offset) override;
    int IoctlDevice(int fd, unsigned long request, void* arg) override;
    int CloseDevice(int fd) override;

private:
    struct Entry {
        CEmulatedCommandHandler handler;
        bool needsFile;
    };
    int runSimple(const std::vector<std::string>& argv, const std::string& in, std::string& out,
                  std::string& err);
    // Writes to /proc control files are requests, not file contents.
    bool procWrite(const std::string& hostPath, const std::string& text);

    struct OpenDisk {
        std::string node;  // "sdb", "sdb1", "sg1"
        long offset = 0;   // added to every read (a partition node)
    };
    std::map<int, OpenDisk> openDisks_;
    void registerBuiltins();
    // The whole mount into a fresh file system that replaces the image's.
    bool rewriteImage(const Mount& mount, std::string& error);

    CLinuxImpl realHost_;  // the slots above that are the caller's own
    std::string stateDir_;
    std::string rootDir_;
    std::string programDir_;  // where the install script is looked for
    std::map<std::string, Entry> commands_;
    mutable FolderRecords folders_;  // by sandbox path
    // "/a/b" below a mounted directory, each name that is there as it is
    // stored: vfat finds a name in any case of its ASCII letters.
    std::string foldedInside(const std::string& top, const std::string& rest) const;
};

// Installs an emulated host on the state directory named by
// ZEMT_EMULATOR_DIR, once per process; returns it, or null when the
// variable is unset.  When the host refuses the working or state directory
// it says why on stderr and ends the process with status 1: the program is
// never to run against the real host instead.  Used by the preloadable
// library.
extern "C" ZEMT_EMU_API CEmulatedHost* zemt_emu_install_from_env();

#endif
