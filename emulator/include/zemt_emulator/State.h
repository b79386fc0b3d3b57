/* SPDX-License-Identifier: Apache-2.0 */
// The emulator's state directory: the files an emulated controller and an
// emulated host keep between processes, and the few helpers that read and
// write them.  Layout and formats are described in emulator/README.md.
#ifndef ZEMT_EMULATOR_STATE_H
#define ZEMT_EMULATOR_STATE_H

#include <map>
#include <string>
#include <vector>

namespace zemt_emu {

// Environment variable that names the state directory for the TREN
// stand-in and the preloadable host.
extern const char* const kStateDirEnv;

// File names inside a state directory.
namespace files {
extern const char* const kControllerConf;  // controller configuration (init, user edits)
extern const char* const kControllerState; // controller runtime state (written per request)
extern const char* const kHostConf;        // host configuration and runtime state
extern const char* const kFaults;          // fault script
extern const char* const kRequestLog;      // one line per controller request
extern const char* const kHostCommandLog;  // one line per host command
extern const char* const kClock;           // virtual clock, whole seconds
extern const char* const kLock;            // flock target
extern const char* const kRoot;            // sandbox host root
extern const char* const kScratch;         // the emulator's own scratch files
extern const char* const kTasks;           // task files the controller kept
extern const char* const kTaskLog;         // one line per task file: registration and outcome
extern const char* const kStaging;         // payload staged for stage-and-update
}  // namespace files

// The wrapper programs a new controller has for task files (comma-separated).
extern const char* const kDefaultTaskWrappers;

std::string JoinPath(const std::string& dir, const std::string& name);

// An ordered key=value file.  Blank lines and lines starting with '#' are
// kept as they are so that a user's comments survive a rewrite.
class KeyValueFile {
public:
    bool Load(const std::string& path);
    // Writes through a temporary file and a rename: readers never see half.
    bool Save(const std::string& path) const;

    bool Has(const std::string& key) const;
    std::string Get(const std::string& key, const std::string& fallback = "") const;
    // Numbers may be decimal or 0x-prefixed hexadecimal.
    long GetInt(const std::string& key, long fallback) const;
    void Set(const std::string& key, const std::string& value);
    void SetInt(const std::string& key, long value);
    void Erase(const std::string& key);
    std::vector<std::string> Keys() const;

private:
    struct Line {
        std::string key;  // empty for a comment or blank line
        std::string text; // value, or the whole comment line
    };
    std::vector<Line> lines_;
};

// Parses decimal or 0x-hexadecimal; false on anything else.
bool ParseNumber(const std::string& text, long& value);

// Serialises every access to a state directory across threads and
// processes (flock on DIR/lock).  Held for the length of one request.
class StateLock {
public:
    explicit StateLock(const std::string& dir);
    ~StateLock();
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;

private:
    int fd_;
};

// Virtual clock.  Callers that also read other state should hold the lock.
unsigned long ReadClock(const std::string& dir);
void WriteClock(const std::string& dir, unsigned long seconds);
// Locks, advances, returns the new time.
unsigned long AdvanceClock(const std::string& dir, unsigned long seconds);

bool AppendLine(const std::string& path, const std::string& line);
bool ReadWholeFile(const std::string& path, std::string& out);
bool WriteWholeFile(const std::string& path, const std::string& text);

// Lower-case hexadecimal bytes separated by blanks ("c0 a2 00").
std::string HexBytes(const unsigned char* bytes, std::size_t count);

// ---- processes and scratch files --------------------------------------------
// A running process as the state directory records it: its id and its start
// time (field 22 of /proc/PID/stat), so that a later process that was given
// the same id is not taken for it.  Written "PID:START".
struct ProcessIdentity {
    long pid = 0;
    unsigned long long start = 0;

    std::string Text() const;
    static bool Parse(const std::string& text, ProcessIdentity& identity);
};
// The identity of a process that is there (start 0 when it is not).
ProcessIdentity IdentityOf(long pid);
ProcessIdentity CurrentProcess();
// False once the process has ended (a zombie has ended too) or its id went
// to another process.
bool IsRunning(const ProcessIdentity& process);

// A new scratch directory DIR/scratch/KIND-PID:START-XXXXXX of this process,
// or empty.  A run that is killed leaves it behind; RemoveStaleScratch, which
// every new emulated host and `zemt emulator reset` call, takes it away.
std::string MakeScratchDir(const std::string& dir, const std::string& kind);
// A scratch directory of this process that goes when the object does;
// Path() is empty when none could be made.
class ScratchDir {
public:
    ScratchDir(const std::string& dir, const std::string& kind);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};
// Removes the scratch entries whose process has ended.
void RemoveStaleScratch(const std::string& dir);

// ---- creating a state directory -------------------------------------------
struct PowerSupply {
    std::string version;  // up to 8 characters
    unsigned long compId = 0;
    bool present = true;
};

struct InitOptions {
    std::string dir;
    std::string generation = "sarn";     // pre-vemo | vemo | sarn | a number (byte 10)
    std::string os = "redhat";           // see KnownOperatingSystems()
    std::string tren = "script";         // script | preinstalled | absent | pavo
    std::string kaver = "full";          // full | lite | liter | none
    long access = 0;                     // access-state byte
    long firmwareMajor = 2;
    long firmwareMinor = 30;
    bool monolithic = false;
    long stateFlag = 0;
    long resetRecovery = 90;             // virtual seconds a cold reset keeps the controller away
    std::vector<PowerSupply> powerSupplies;  // empty: the two defaults
    bool noPowerSupplies = false;
    std::string hal = "running";         // running | stopped | absent
    std::string udev = "udevadm";        // udevadm | udevcontrol | none
    bool usbArbitratorRunning = false;
    bool root = true;                    // setuid(0) succeeds
    std::string trenLibrary;             // the TREN stand-in to install; empty: built-in default
    bool force = false;                  // re-initialise an existing state directory
    // Static partitions the controller reports, in bit order: LABEL or
    // LABEL:MIB (size from the catalogue otherwise).  Empty: the defaults.
    std::vector<std::string> partitions;
    bool partitionTable = false;         // disks carry an MBR; the file system is on sdX1
    long dynamicSpaceMiB = 600;          // repository space for drop boxes
    long dynamicSlots = 8;               // dynamic bitmap bits the controller hands out
    bool sgDriver = true;                // lsmod lists the sg module
    // Stage-and-update: whether the controller reports the capability
    // ("on", "off"; "default": on from generation sarn), and the virtual
    // seconds a started stage stays pending.
    std::string guid = "default";
    long stageSeconds = 10;
};

// The static partitions a state directory gets unless told otherwise.
const std::vector<std::string>& DefaultPartitions();
// Nominal size in MiB of a repository partition, as the library's catalogue
// has it (0 for reserved rows).
long CatalogueSizeMiB(const std::string& label);

const std::vector<std::string>& KnownOperatingSystems();

// Creates (or with force, re-creates) the state directory.  On failure
// returns false and says why in error.
bool InitStateDir(const InitOptions& options, std::string& error);

// Checks a fault-script line and appends it; false with a reason otherwise.
bool AppendFault(const std::string& dir, const std::string& line, std::string& error);

// The way out of any state a run left behind: releases the session, pending
// work, drop boxes, attached partitions and their disks, mounts (without
// writing them back), device links and left-over scratch files, and keeps
// the static partitions' contents, the configuration, the fault script and
// the clock.  False with a reason when dir is no state directory.
bool ResetStateDir(const std::string& dir, std::string& error);

// The emulator's version; init records it in controller.conf as
// emulator.version.
extern const char* const kEmulatorVersion;

// Path of the TREN stand-in this build produced (may be empty).
std::string DefaultTrenLibrary();

}  // namespace zemt_emu

#endif
