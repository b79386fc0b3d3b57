// SPDX-License-Identifier: Apache-2.0
#include "zemt_emulator/State.h"

#include "zemt_emulator/Disks.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "zemt_emulator/FaultScript.h"
#include "zemt_emulator/Inventory.h"
#include "zemt_emulator/MountManifest.h"

namespace fs = std::filesystem;

namespace zemt_emu {

const char* const kStateDirEnv = "ZEMT_EMULATOR_DIR";

namespace files {
const char* const kControllerConf = "controller.conf";
const char* const kControllerState = "controller.state";
const char* const kHostConf = "host.conf";
const char* const kFaults = "faults";
const char* const kRequestLog = "requests.log";
const char* const kHostCommandLog = "host-commands.log";
const char* const kClock = "clock";
const char* const kLock = "lock";
const char* const kRoot = "root";
const char* const kScratch = "scratch";
const char* const kTasks = "tasks";
const char* const kTaskLog = "tasks.log";
const char* const kStaging = "staging";
}  // namespace files

const char* const kDefaultTaskWrappers = "bioswrap,cpldwrap,psuwrap";

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    if (dir.back() == '/') return dir + name;
    return dir + "/" + name;
}

// ---- numbers and key=value files -------------------------------------------

bool ParseNumber(const std::string& text, long& value) {
    if (text.empty()) return false;
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    long parsed = std::strtol(begin, &end, 0);
    // Base 0 would read "010" as octal; people mean ten.
    if (text.size() > 1 && text[0] == '0' && text[1] != 'x' && text[1] != 'X')
        parsed = std::strtol(begin, &end, 10);
    if (errno != 0 || end == begin || *end != '\0') return false;
    value = parsed;
    return true;
}

bool KeyValueFile::Load(const std::string& path) {
    lines_.clear();
    std::ifstream in(path.c_str());
    if (!in.is_open()) return false;
    std::string raw;
    while (std::getline(in, raw)) {
        std::string::size_type first = raw.find_first_not_of(" \t");
        std::string::size_type eq = raw.find('=');
        if (first == std::string::npos || raw[first] == '#' || eq == std::string::npos) {
            lines_.push_back(Line{"", raw});
            continue;
        }
        std::string key = raw.substr(first, eq - first);
        while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.pop_back();
        std::string value = raw.substr(eq + 1);
        // A trailing "# ..." after the value is a comment.
        std::string::size_type hash = value.find(" #");
        if (hash != std::string::npos) value.erase(hash);
        std::string::size_type vfirst = value.find_first_not_of(" \t");
        std::string::size_type vlast = value.find_last_not_of(" \t\r");
        value = vfirst == std::string::npos ? "" : value.substr(vfirst, vlast - vfirst + 1);
        lines_.push_back(Line{key, value});
    }
    return true;
}

bool KeyValueFile::Save(const std::string& path) const {
    std::ostringstream out;
    for (const Line& line : lines_) {
        if (line.key.empty())
            out << line.text << '\n';
        else
            out << line.key << '=' << line.text << '\n';
    }
    return WriteWholeFile(path, out.str());
}

bool KeyValueFile::Has(const std::string& key) const {
    for (const Line& line : lines_)
        if (line.key == key) return true;
    return false;
}

std::string KeyValueFile::Get(const std::string& key, const std::string& fallback) const {
    for (const Line& line : lines_)
        if (line.key == key) return line.text;
    return fallback;
}

long KeyValueFile::GetInt(const std::string& key, long fallback) const {
    long value = 0;
    if (!Has(key) || !ParseNumber(Get(key), value)) return fallback;
    return value;
}

void KeyValueFile::Set(const std::string& key, const std::string& value) {
    for (Line& line : lines_) {
        if (line.key == key) {
            line.text = value;
            return;
        }
    }
    lines_.push_back(Line{key, value});
}

void KeyValueFile::SetInt(const std::string& key, long value) { Set(key, std::to_string(value)); }

void KeyValueFile::Erase(const std::string& key) {
    for (std::vector<Line>::iterator it = lines_.begin(); it != lines_.end();) {
        if (it->key == key)
            it = lines_.erase(it);
        else
            ++it;
    }
}

std::vector<std::string> KeyValueFile::Keys() const {
    std::vector<std::string> keys;
    for (const Line& line : lines_)
        if (!line.key.empty()) keys.push_back(line.key);
    return keys;
}

// ---- lock, clock, plain files -----------------------------------------------

StateLock::StateLock(const std::string& dir) : fd_(-1) {
    // Not closed on exec: a tool started under the lock (mtools writing a
    // partition image) holds it too, so that when the process that took it
    // is killed, the next one waits until the tool has finished writing.
    fd_ = ::open(JoinPath(dir, files::kLock).c_str(), O_RDWR | O_CREAT, 0644);
    if (fd_ >= 0) {
        while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
}

StateLock::~StateLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

unsigned long ReadClock(const std::string& dir) {
    std::string text;
    if (!ReadWholeFile(JoinPath(dir, files::kClock), text)) return 0;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    long value = 0;
    if (!ParseNumber(text, value) || value < 0) return 0;
    return static_cast<unsigned long>(value);
}

void WriteClock(const std::string& dir, unsigned long seconds) {
    WriteWholeFile(JoinPath(dir, files::kClock), std::to_string(seconds) + "\n");
}

unsigned long AdvanceClock(const std::string& dir, unsigned long seconds) {
    StateLock lock(dir);
    unsigned long now = ReadClock(dir) + seconds;
    WriteClock(dir, now);
    return now;
}

bool AppendLine(const std::string& path, const std::string& line) {
    std::ofstream out(path.c_str(), std::ios::app);
    if (!out.is_open()) return false;
    out << line << '\n';
    return static_cast<bool>(out);
}

bool ReadWholeFile(const std::string& path, std::string& out) {
    std::ifstream in(path.c_str(), std::ios::binary);
    if (!in.is_open()) return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    out = buffer.str();
    return true;
}

bool WriteWholeFile(const std::string& path, const std::string& text) {
    std::string temporary = path + ".tmp." + std::to_string(::getpid());
    {
        std::ofstream out(temporary.c_str(), std::ios::binary | std::ios::trunc);
        if (!out.is_open()) return false;
        out << text;
        if (!out) return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

std::string HexBytes(const unsigned char* bytes, std::size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        if (i) text += ' ';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

// ---- processes and scratch files -----------------------------------------------

namespace {

// Field 3 (state) and field 22 (start time) of /proc/PID/stat; the command
// name before them may hold blanks and parentheses, so counting starts after
// its last ')'.
bool readProcessStat(long pid, char& state, unsigned long long& start) {
    std::string text;
    if (!ReadWholeFile("/proc/" + std::to_string(pid) + "/stat", text)) return false;
    std::string::size_type close = text.rfind(')');
    if (close == std::string::npos) return false;
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    if (!(fields >> state)) return false;
    for (int number = 4; number < 22; ++number)
        if (!(fields >> field)) return false;
    return static_cast<bool>(fields >> start);
}

}  // namespace

std::string ProcessIdentity::Text() const { return std::to_string(pid) + ":" + std::to_string(start); }

bool ProcessIdentity::Parse(const std::string& text, ProcessIdentity& identity) {
    std::string::size_type colon = text.find(':');
    long pid = 0;
    if (colon == std::string::npos || !ParseNumber(text.substr(0, colon), pid) || pid <= 0) return false;
    // The start time counts clock ticks since boot: more than a 32-bit long holds.
    std::string start = text.substr(colon + 1);
    if (start.empty() || start.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    identity.start = std::strtoull(start.c_str(), nullptr, 10);
    identity.pid = pid;
    return errno == 0;
}

ProcessIdentity IdentityOf(long pid) {
    ProcessIdentity process;
    process.pid = pid;
    char state = 0;
    readProcessStat(pid, state, process.start);
    return process;
}

ProcessIdentity CurrentProcess() { return IdentityOf(::getpid()); }

bool IsRunning(const ProcessIdentity& process) {
    char state = 0;
    unsigned long long start = 0;
    if (!readProcessStat(process.pid, state, start)) return false;
    return state != 'Z' && state != 'X' && start == process.start;
}

std::string MakeScratchDir(const std::string& dir, const std::string& kind) {
    std::string parent = JoinPath(dir, files::kScratch);
    std::error_code ec;
    fs::create_directories(parent, ec);
    std::string pattern = JoinPath(parent, kind + "-" + CurrentProcess().Text() + "-XXXXXX");
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    return mkdtemp(name.data()) != nullptr ? std::string(name.data()) : std::string();
}

ScratchDir::ScratchDir(const std::string& dir, const std::string& kind) : path_(MakeScratchDir(dir, kind)) {}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
}

void RemoveStaleScratch(const std::string& dir) {
    std::error_code ec;
    std::vector<fs::path> stale;
    for (fs::directory_iterator it(JoinPath(dir, files::kScratch), ec), end; !ec && it != end; it.increment(ec)) {
        // KIND-PID:START-XXXXXX
        std::string name = it->path().filename().string();
        std::string::size_type first = name.find('-'), last = name.rfind('-');
        ProcessIdentity owner;
        if (first == last || !ProcessIdentity::Parse(name.substr(first + 1, last - first - 1), owner) ||
            !IsRunning(owner))
            stale.push_back(it->path());
    }
    for (const fs::path& path : stale) fs::remove_all(path, ec);
}

// ---- init -------------------------------------------------------------------

namespace {

struct ReleaseFile {
    const char* path;
    const char* text;
};

struct OsLayout {
    const char* name;
    std::vector<ReleaseFile> files;
};

const std::vector<OsLayout>& osLayouts() {
    static const std::vector<OsLayout> layouts = {
        {"redhat", {{"etc/redhat-release", "Red Hat Enterprise Linux Server release 5.5 (Tikanga)\n"}}},
        {"suse",
         {{"etc/SuSE-release", "SUSE Linux Enterprise Server 10 (x86_64)\nVERSION = 10\nPATCHLEVEL = 3\n"}}},
        {"centos", {{"etc/redhat-release", "CentOS release 5.5 (Final)\n"}}},
        {"esx3",
         {{"etc/vmware-release", "VMware ESX Server 3.5.0 build-153875\n"},
          {"etc/redhat-release", "Red Hat Enterprise Linux ES release 3 (Taroon Update 9)\n"}}},
        {"esx4",
         {{"etc/vmware-release", "VMware ESX 4.0 (Kandinsky)\n"},
          {"etc/redhat-release", "Red Hat Enterprise Linux Server release 5.3 (Tikanga)\n"}}},
        {"esx41",
         {{"etc/vmware-release", "VMware ESX 4.1.0 build-260247\n"},
          {"etc/redhat-release", "Red Hat Enterprise Linux Server release 5.3 (Tikanga)\n"}}},
        {"xenserver", {{"etc/redhat-release", "XenServer release 5.6.0-31188p (xenenterprise)\n"}}},
        {"eli", {{"VERSION", "QEV_MAJOR_VERSION=5\nQEV_MINOR_VERSION=1\n"}}},
        {"none", {}},
    };
    return layouts;
}

const OsLayout* findOs(const std::string& name) {
    for (const OsLayout& layout : osLayouts())
        if (name == layout.name) return &layout;
    return nullptr;
}

const long kSarnGeneration = 0x16;

bool generationByte(const std::string& name, long& byte) {
    if (name == "pre-vemo") {
        byte = 0x0C;
        return true;
    }
    if (name == "vemo") {
        byte = 0x10;
        return true;
    }
    if (name == "sarn") {
        byte = kSarnGeneration;
        return true;
    }
    return ParseNumber(name, byte) && byte >= 0 && byte <= 0xFF;
}

bool repositoryByte(const std::string& name, long& byte) {
    static const char* const kinds[] = {"full", "lite", "liter", "none"};
    for (long i = 0; i < 4; ++i) {
        if (name == kinds[i]) {
            byte = i;
            return true;
        }
    }
    return false;
}

bool writeFile(const fs::path& path, const std::string& text, fs::perms mode, std::string& error) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    if (!WriteWholeFile(path.string(), text)) {
        error = "cannot write " + path.string();
        return false;
    }
    fs::permissions(path, mode, ec);
    return true;
}

const fs::perms kExecutable = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec;
const fs::perms kPlain = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                         fs::perms::others_read;

}  // namespace

const std::vector<std::string>& DefaultPartitions() {
    static const std::vector<std::string> labels = {"KAV001", "KAV022", "KAV023", "KAV002", "KAV004"};
    return labels;
}

long CatalogueSizeMiB(const std::string& label) {
    // The rows of the library's partition catalogue that have a size; the
    // end-to-end tests check these against the catalogue itself.
    static const struct {
        const char* label;
        long mib;
    } rows[] = {{"KAV001", 25}, {"KAV002", 15}, {"KAV003", 100}, {"KAV004", 35},
                {"KAV005", 200}, {"KAV021", 150}, {"KAV022", 160}, {"KAV023", 2}};
    for (const auto& row : rows)
        if (label == row.label) return row.mib;
    return 0;
}

const std::vector<std::string>& KnownOperatingSystems() {
    static std::vector<std::string> names;
    if (names.empty())
        for (const OsLayout& layout : osLayouts()) names.push_back(layout.name);
    return names;
}

const char* const kEmulatorVersion = ZEMT_EMULATOR_VERSION;

std::string DefaultTrenLibrary() {
    if (const char* fromEnv = std::getenv("ZEMT_TREN_LIBRARY")) return fromEnv;
#ifdef ZEMT_TREN_STANDIN_PATH
    return ZEMT_TREN_STANDIN_PATH;
#else
    return "";
#endif
}

bool InitStateDir(const InitOptions& o, std::string& error) {
    if (o.dir.empty()) {
        error = "no state directory given";
        return false;
    }
    long generation = 0;
    if (!generationByte(o.generation, generation)) {
        error = "unknown generation '" + o.generation + "' (pre-vemo, vemo, sarn or a byte)";
        return false;
    }
    const OsLayout* os = findOs(o.os);
    if (os == nullptr) {
        error = "unknown host OS '" + o.os + "'";
        return false;
    }
    long repository = 0;
    if (!repositoryByte(o.kaver, repository)) {
        error = "unknown repository kind '" + o.kaver + "' (full, lite, liter, none)";
        return false;
    }
    if (o.tren != "script" && o.tren != "preinstalled" && o.tren != "absent" && o.tren != "pavo") {
        error = "unknown TREN setting '" + o.tren + "' (script, preinstalled, absent, pavo)";
        return false;
    }
    if (o.hal != "running" && o.hal != "stopped" && o.hal != "absent") {
        error = "unknown HAL daemon setting '" + o.hal + "' (running, stopped, absent)";
        return false;
    }
    if (o.udev != "udevadm" && o.udev != "udevcontrol" && o.udev != "none") {
        error = "unknown udev setting '" + o.udev + "' (udevadm, udevcontrol, none)";
        return false;
    }
    for (const PowerSupply& ps : o.powerSupplies) {
        if (ps.version.size() > 8) {
            error = "power-supply version '" + ps.version + "' is longer than 8 characters";
            return false;
        }
    }
    // Static partitions: label and size, checked before anything is written.
    struct StaticPartition {
        std::string label;
        long mib;
    };
    std::vector<StaticPartition> partitions;
    for (const std::string& entry : o.partitions.empty() ? DefaultPartitions() : o.partitions) {
        StaticPartition p;
        std::string::size_type colon = entry.find(':');
        p.label = entry.substr(0, colon);
        p.mib = CatalogueSizeMiB(p.label);
        if (colon != std::string::npos &&
            (!ParseNumber(entry.substr(colon + 1), p.mib) || p.mib < 1 || p.mib > 4096)) {
            error = "partition '" + entry + "': the size is 1 to 4096 MiB";
            return false;
        }
        // Reserved catalogue rows have no size; give them a small one.
        if (p.mib == 0) p.mib = 4;
        if (p.label.size() != 6 || p.label.find_first_of(" \t/") != std::string::npos) {
            error = "partition '" + entry + "': a label has six characters (KAV001 ... KAV256)";
            return false;
        }
        for (const StaticPartition& other : partitions)
            if (other.label == p.label) {
                error = "partition " + p.label + " is given twice";
                return false;
            }
        partitions.push_back(p);
    }
    if (partitions.size() > 16) {
        error = "at most 16 static partitions (one per bitmap bit)";
        return false;
    }
    if (o.dynamicSlots < 0 || o.dynamicSlots > 16 || o.dynamicSpaceMiB < 0) {
        error = "dynamic slots are 0 to 16 and the drop-box space is not negative";
        return false;
    }
    if (o.guid != "default" && o.guid != "on" && o.guid != "off") {
        error = "unknown GUID capability setting '" + o.guid + "' (on, off)";
        return false;
    }
    if (o.stageSeconds < 0) {
        error = "the stage time is not negative";
        return false;
    }
    const bool guid = o.guid == "default" ? generation >= kSarnGeneration : o.guid == "on";

    std::string trenSource = o.trenLibrary.empty() ? DefaultTrenLibrary() : o.trenLibrary;
    std::error_code ec;
    if (o.tren != "absent") {
        if (trenSource.empty() || !fs::is_regular_file(trenSource, ec)) {
            error = "the TREN stand-in '" + trenSource + "' does not exist (use --tren-lib PATH)";
            return false;
        }
        trenSource = fs::absolute(trenSource, ec).string();
    }

    fs::path dir = fs::absolute(o.dir, ec);
    if (fs::exists(dir / files::kControllerConf, ec)) {
        if (!o.force) {
            error = dir.string() + " already holds an emulator state (use --force to start afresh)";
            return false;
        }
        for (const char* name : {files::kControllerConf, files::kControllerState, files::kHostConf,
                                 files::kFaults, files::kRequestLog, files::kHostCommandLog,
                                 files::kClock, files::kDisks, files::kMounts, files::kTaskLog}) {
            fs::remove(dir / name, ec);
        }
        fs::remove_all(dir / files::kTasks, ec);
        fs::remove_all(dir / files::kStaging, ec);
        fs::remove_all(dir / files::kPartitions, ec);
        fs::remove_all(dir / files::kRoot, ec);
        fs::remove_all(dir / files::kScratch, ec);
        fs::remove_all(dir / files::kInventory, ec);
        fs::remove_all(dir / files::kMountManifests, ec);
    }
    fs::create_directories(dir, ec);
    if (ec) {
        error = "cannot create " + dir.string() + ": " + ec.message();
        return false;
    }

    // Controller configuration.
    std::ostringstream conf;
    conf << "# Emulated controller configuration (see emulator/README.md).\n"
         << "generation=0x" << std::hex << generation << std::dec << "\n"
         << "repository=" << repository << "\n"
         << "access=" << o.access << "\n"
         << "firmware.major=" << o.firmwareMajor << "\n"
         << "firmware.minor=" << o.firmwareMinor << "\n"
         << "firmware.build=" << 42 << "\n"
         << "monolithic=" << (o.monolithic ? 1 : 0) << "\n"
         << "state_flag=" << o.stateFlag << "\n"
         << "extended_session=" << (generation >= 0x10 ? 1 : 0) << "\n"
         << "reset_recovery=" << o.resetRecovery << "\n"
         << "guid=" << (guid ? 1 : 0) << "\n"
         << "stage.seconds=" << o.stageSeconds << "\n"
         << "task.wrappers=" << kDefaultTaskWrappers << "\n"
         << "emulator.version=" << kEmulatorVersion << "\n";
    std::vector<PowerSupply> supplies = o.powerSupplies;
    if (supplies.empty() && !o.noPowerSupplies) {
        supplies.push_back(PowerSupply{"00.1C.4D", 0x1f4a, true});
        supplies.push_back(PowerSupply{"00.1C.4E", 0x1f4a, true});
    }
    conf << "partition_table=" << (o.partitionTable ? 1 : 0) << "\n"
         << "dynamic.space=" << o.dynamicSpaceMiB * 1048576L << "\n"
         << "dynamic.slots=" << o.dynamicSlots << "\n";
    for (std::size_t i = 0; i < partitions.size(); ++i)
        conf << "static." << i << ".label=" << partitions[i].label << "\n"
             << "static." << i << ".mib=" << partitions[i].mib << "\n";
    conf << "ps.count=" << supplies.size() << "\n";
    for (std::size_t i = 0; i < supplies.size(); ++i) {
        std::string prefix = "ps." + std::to_string(i + 1) + ".";
        conf << prefix << "present=" << (supplies[i].present ? 1 : 0) << "\n"
             << prefix << "version=" << supplies[i].version << "\n"
             << prefix << "compid=" << supplies[i].compId << "\n";
    }
    if (!writeFile(dir / files::kControllerConf, conf.str(), kPlain, error)) return false;

    std::ostringstream host;
    host << "# Emulated host configuration (see emulator/README.md).\n"
         << "os=" << o.os << "\n"
         << "root=" << (o.root ? 1 : 0) << "\n"
         << "usb_arbitrator=" << (o.usbArbitratorRunning ? 1 : 0) << "\n"
         << "hal=" << o.hal << "\n"
         << "udev=" << o.udev << "\n"
         << "tren=" << o.tren << "\n"
         << "sg_driver=" << (o.sgDriver ? 1 : 0) << "\n"
         // Only the "script" host ships an install script that works.
         << "tren_source=" << (o.tren == "script" ? trenSource : "") << "\n";
    if (!writeFile(dir / files::kHostConf, host.str(), kPlain, error)) return false;
    if (!writeFile(dir / files::kControllerState, "", kPlain, error)) return false;
    if (!writeFile(dir / files::kFaults, "# Fault script (see emulator/README.md).\n", kPlain, error))
        return false;
    if (!writeFile(dir / files::kRequestLog, "", kPlain, error)) return false;
    if (!writeFile(dir / files::kHostCommandLog, "", kPlain, error)) return false;
    WriteClock(dir.string(), 0);
    // The firmware version as the controller shows it: the minor number in two digits.
    char firmware[32];
    std::snprintf(firmware, sizeof firmware, "%ld.%02ld", o.firmwareMajor, o.firmwareMinor);
    if (!SeedInventory(dir.string(), SeededDevices(firmware, supplies), error)) return false;

    // The sandbox host root.
    fs::path root = dir / files::kRoot;
    for (const char* sub : {"etc/udev/rules.d", "etc/init.d", "sbin", "opt/norvik/tarn/lib", "tmp",
                            "dev", "proc/scsi", "proc/sys/vm", "sys/class/scsi_generic", "usr/lib", "lib"}) {
        fs::create_directories(root / sub, ec);
        if (ec) {
            error = "cannot create " + (root / sub).string() + ": " + ec.message();
            return false;
        }
    }
    for (const ReleaseFile& release : os->files)
        if (!writeFile(root / release.path, release.text, kPlain, error)) return false;
    if (o.hal != "absent" &&
        !writeFile(root / "etc/init.d/haldaemon", "#!/bin/sh\n# emulated HAL daemon control\n",
                   kExecutable, error))
        return false;
    if (o.udev != "none" &&
        !writeFile(root / "sbin" / o.udev, "#!/bin/sh\n# emulated udev control\n", kExecutable, error))
        return false;
    if (!writeFile(root / "proc/mounts", "", kPlain, error)) return false;
    if (!writeFile(dir / files::kMounts, "", kPlain, error)) return false;

    // Partition images: real FAT file systems with the catalogue's label,
    // each holding a canary file, and the host's own system disk.
    fs::path images = dir / files::kPartitions;
    for (const StaticPartition& p : partitions) {
        std::string image = (images / (p.label + ".img")).string();
        if (!MakeFatImage(image, p.mib * 1048576L, p.label, o.partitionTable, error)) return false;
        std::string canary = (images / "canary.tmp").string();
        WriteWholeFile(canary, "canary of " + p.label + "\n");
        int status = RunTool({"mcopy", "-i", MtoolsImage(image, o.partitionTable ? kPartitionOffset : 0),
                              canary, "::CANARY.TXT"});
        fs::remove(canary, ec);
        if (status != 0) {
            error = "mcopy failed on " + image + " (is mtools installed?)";
            return false;
        }
    }
    DiskTable disks;
    Disk system;
    system.id = "system";
    system.label = "-";
    system.sd = "sda";
    system.sg = "sg0";
    system.host = 0;
    system.emulated = false;
    system.image = fs::absolute(images / "system.img", ec).string();
    fs::create_directories(images, ec);
    {
        std::ofstream create(system.image.c_str(), std::ios::binary);
    }
    fs::resize_file(system.image, 1048576, ec);
    disks.Disks().push_back(system);
    if (!disks.Save(dir.string())) {
        error = "cannot write the disk table";
        return false;
    }
    SyncDiskNodes(dir.string(), disks);

    if (o.tren == "preinstalled" || o.tren == "pavo") {
        fs::path target = o.tren == "preinstalled" ? root / "opt/norvik/tarn/lib/libzolipm32.so"
                                                   : root / "usr/lib/libzolipm32.so";
        fs::copy_file(trenSource, target, fs::copy_options::overwrite_existing, ec);
        if (ec) {
            error = "cannot copy the TREN stand-in: " + ec.message();
            return false;
        }
    }
    return true;
}

bool AppendFault(const std::string& dir, const std::string& line, std::string& error) {
    Fault fault;
    if (!ParseFaultLine(line, fault, error)) {
        if (error.empty()) error = "the line holds no fault";
        return false;
    }
    if (line.find('\n') != std::string::npos) {
        error = "one fault per line";
        return false;
    }
    std::error_code ec;
    if (!fs::exists(JoinPath(dir, files::kControllerConf), ec)) {
        error = dir + " is not an emulator state directory (run 'zemt emulator init' first)";
        return false;
    }
    StateLock lock(dir);
    if (!AppendLine(JoinPath(dir, files::kFaults), line)) {
        error = "cannot append to " + JoinPath(dir, files::kFaults);
        return false;
    }
    return true;
}

}  // namespace zemt_emu
