// SPDX-License-Identifier: Apache-2.0
// The host commands the emulated host knows.  Each handler does in the
// sandbox what the real command would do on the host; later commands
// (mount, umount, lsmod, blockdev, ...) are added the same way.
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "zemt_emulator/Disks.h"
#include "zemt_emulator/EmulatedHost.h"
#include "zemt_emulator/FatImage.h"
#include "zemt_emulator/FatVolume.h"
#include "zemt_emulator/MountManifest.h"
#include "zemt_emulator/State.h"

namespace fs = std::filesystem;
using namespace zemt_emu;

namespace {

const char* const kTrenDir = "/opt/norvik/tarn/lib";
const char* const kTrenName = "libzolipm32.so";

// Options are the leading words that start with '-'.
std::size_t firstOperand(const std::vector<std::string>& argv) {
    std::size_t i = 1;
    while (i < argv.size() && argv[i].size() > 1 && argv[i][0] == '-') {
        if (argv[i] == "--") return i + 1;
        ++i;
    }
    return i;
}

int cp(CEmulatedCommand& c) {
    std::size_t first = firstOperand(c.argv);
    if (c.argv.size() - first < 2) {
        c.err = "cp: missing destination file operand\n";
        return 1;
    }
    std::string destination = c.host.MapPath(c.argv.back());
    std::error_code ec;
    bool intoDir = fs::is_directory(destination, ec);
    if (c.argv.size() - first > 2 && !intoDir) {
        c.err = "cp: target '" + c.argv.back() + "' is not a directory\n";
        return 1;
    }
    int status = 0;
    for (std::size_t i = first; i + 1 < c.argv.size(); ++i) {
        std::string source = c.host.MapPath(c.argv[i]);
        if (!fs::is_regular_file(source, ec)) {
            c.err += "cp: cannot stat '" + c.argv[i] + "': No such file or directory\n";
            status = 1;
            continue;
        }
        std::string hostTarget = intoDir ? c.argv.back() + "/" + fs::path(c.argv[i]).filename().string()
                                         : c.argv.back();
        int refused = c.host.CheckWrite(hostTarget, CEmulatedHost::kCreateFile,
                                        static_cast<long long>(fs::file_size(source, ec)));
        if (refused != 0) {
            c.err += (refused == ENOSPC ? "cp: error writing '" : "cp: cannot create regular file '") + hostTarget +
                     "': " + std::strerror(refused) + "\n";
            status = 1;
            continue;
        }
        fs::copy_file(source, c.host.MapPath(hostTarget), fs::copy_options::overwrite_existing, ec);
        c.host.NoteChange(hostTarget);
        if (ec) {
            c.err += "cp: cannot create regular file '" + hostTarget + "': " + ec.message() + "\n";
            status = 1;
        }
    }
    return status;
}

int chmodCommand(CEmulatedCommand& c) {
    if (c.argv.size() < 3) {
        c.err = "chmod: missing operand\n";
        return 1;
    }
    const std::string& mode = c.argv[1];
    if (mode.empty() || mode.size() > 4 || mode.find_first_not_of("01234567") != std::string::npos) {
        c.err = "chmod: only octal modes are emulated: '" + mode + "'\n";
        return 1;
    }
    mode_t bits = static_cast<mode_t>(std::stoul(mode, nullptr, 8));
    int status = 0;
    for (std::size_t i = 2; i < c.argv.size(); ++i) {
        int refused = c.host.CheckWrite(c.argv[i], CEmulatedHost::kModify);
        if (refused != 0) {
            c.err += "chmod: changing permissions of '" + c.argv[i] + "': " + std::strerror(refused) + "\n";
            status = 1;
        } else if (::chmod(c.host.MapPath(c.argv[i]).c_str(), bits) != 0) {
            c.err += "chmod: cannot access '" + c.argv[i] + "': No such file or directory\n";
            status = 1;
        }
    }
    return status;
}

int udevadm(CEmulatedCommand& c) {
    if (c.argv.size() >= 2 && c.argv[1] == "control") return 0;
    c.err = "udevadm: emulated only for 'control'\n";
    return 2;
}

int udevcontrol(CEmulatedCommand& c) {
    if (c.argv.size() >= 2 && c.argv[1] == "reload_rules") return 0;
    c.err = "udevcontrol: emulated only for 'reload_rules'\n";
    return 2;
}

int haldaemon(CEmulatedCommand& c) {
    std::string action = c.argv.size() >= 2 ? c.argv[1] : "";
    if (action == "start" || action == "restart") {
        c.host.SetHostSetting("hal", "running");
        c.out = "Starting HAL daemon: [  OK  ]\n";
        return 0;
    }
    if (action == "stop") {
        c.host.SetHostSetting("hal", "stopped");
        c.out = "Stopping HAL daemon: [  OK  ]\n";
        return 0;
    }
    if (action == "status") {
        if (c.host.HostSetting("hal") == "running") {
            c.out = "hald (pid 2731) is running...\n";
            return 0;
        }
        c.out = "hald is stopped\n";
        return 3;
    }
    c.err = "Usage: haldaemon {start|stop|status|restart}\n";
    return 2;
}

int ps(CEmulatedCommand& c) {
    c.out =
        "USER       PID %CPU %MEM    VSZ   RSS TTY      STAT START   TIME COMMAND\n"
        "root         1  0.0  0.0   2072   620 ?        Ss   10:01   0:01 init [3]\n"
        "root       412  0.0  0.0   2520   900 ?        S<s  10:01   0:00 /sbin/udevd -d\n";
    if (c.host.HostSetting("usb_arbitrator") == "1")
        c.out += "root      1840  0.0  0.1   9532  1820 ?        S    10:02   0:00 "
                 "/usr/lib/vmware/bin/vmware-usbarbitrator -t\n";
    c.out += "root      2290  0.0  0.0   4568   996 pts/0    R+   10:07   0:00 ps aux\n";
    return 0;
}

// Fixed-string grep with -v, -q, -i and -w, reading standard input.
int grep(CEmulatedCommand& c) {
    bool invert = false, quiet = false, ignoreCase = false, wholeWord = false;
    std::string pattern;
    bool havePattern = false;
    for (std::size_t i = 1; i < c.argv.size(); ++i) {
        const std::string& arg = c.argv[i];
        if (!havePattern && arg.size() > 1 && arg[0] == '-') {
            for (std::size_t k = 1; k < arg.size(); ++k) {
                if (arg[k] == 'v') invert = true;
                else if (arg[k] == 'q') quiet = true;
                else if (arg[k] == 'i') ignoreCase = true;
                else if (arg[k] == 'w') wholeWord = true;
                else if (arg[k] != 'F') {
                    c.err = std::string("grep: option -") + arg[k] + " is not emulated\n";
                    return 2;
                }
            }
        } else if (!havePattern) {
            pattern = arg;
            havePattern = true;
        } else {
            c.err = "grep: only standard input is emulated\n";
            return 2;
        }
    }
    if (!havePattern) {
        c.err = "grep: no pattern\n";
        return 2;
    }
    auto lower = [](std::string s) {
        for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        return s;
    };
    auto wordChar = [](char ch) { return std::isalnum(static_cast<unsigned char>(ch)) || ch == '_'; };
    std::string needle = ignoreCase ? lower(pattern) : pattern;
    bool any = false;
    std::size_t pos = 0;
    while (pos < c.in.size()) {
        std::size_t end = c.in.find('\n', pos);
        std::string line = c.in.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        pos = end == std::string::npos ? c.in.size() : end + 1;
        std::string haystack = ignoreCase ? lower(line) : line;
        bool hit = false;
        for (std::size_t at = haystack.find(needle); at != std::string::npos && !hit;
             at = haystack.find(needle, at + 1)) {
            std::size_t after = at + needle.size();
            hit = !wholeWord || ((at == 0 || !wordChar(haystack[at - 1])) &&
                                 (after >= haystack.size() || !wordChar(haystack[after])));
        }
        if (hit != invert) {
            any = true;
            if (!quiet) c.out += line + "\n";
        }
    }
    return any ? 0 : 1;
}

// The install script shipped beside the program: puts the TREN stand-in
// recorded at init into the TREN directory of the sandbox, or takes it away.
int trenInstallScript(CEmulatedCommand& c) {
    std::string action = c.argv.size() >= 2 ? c.argv[1] : "";
    std::string dir = c.host.MapPath(kTrenDir);
    std::string target = dir + "/" + kTrenName;
    std::error_code ec;
    if (action == "install") {
        std::string source = c.host.HostSetting("tren_source");
        if (source.empty() || !fs::is_regular_file(source, ec)) {
            c.err = "tarnvelmoinstall.sh: no hardware-access library to install\n";
            return 1;
        }
        fs::create_directories(dir, ec);
        // A new file renamed into place: another process may have the
        // library loaded, and rewriting it in place would pull the code
        // from under it.
        std::string fresh = target + ".new." + std::to_string(getpid());
        fs::copy_file(source, fresh, fs::copy_options::overwrite_existing, ec);
        if (!ec) fs::rename(fresh, target, ec);
        if (ec) {
            fs::remove(fresh);
            c.err = "tarnvelmoinstall.sh: " + ec.message() + "\n";
            return 1;
        }
        return 0;
    }
    if (action == "uninstall") {
        fs::remove(target, ec);
        return 0;
    }
    c.err = "usage: tarnvelmoinstall.sh install|uninstall\n";
    return 2;
}


// ---- file commands -------------------------------------------------------------------

std::string hostDirName(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string hostBaseName(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string normalHost(const std::string& path) {
    std::string normal = fs::path(path).lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
    return normal;
}

// Glob characters in the last component, as the shell would have expanded
// them (no match: the word stays as it is).
std::vector<std::string> expand(CEmulatedHost& host, const std::string& word) {
    std::string base = hostBaseName(word);
    if (base.find_first_of("*?[") == std::string::npos) return {word};
    std::string dir = hostDirName(word);
    std::vector<std::string> matches;
    std::error_code ec;
    for (fs::directory_iterator it(host.MapPath(dir), ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (fnmatch(base.c_str(), name.c_str(), FNM_PERIOD) == 0)
            matches.push_back((dir == "/" ? "" : dir) + "/" + name);
    }
    std::sort(matches.begin(), matches.end());
    if (matches.empty()) matches.push_back(word);
    return matches;
}

bool isWritableMountDir(CEmulatedHost& host, const std::string& hostPath) {
    for (const CEmulatedHost::Mount& m : host.Mounts())
        if (m.dir == normalHost(hostPath)) return m.readWrite;
    return false;
}

// Makes one folder, as mkdir(2) would; false with the reason in `why`.
bool makeFolder(CEmulatedHost& host, const std::string& hostPath, std::string& why) {
    std::error_code ec;
    int refused = host.CheckWrite(hostPath, CEmulatedHost::kMakeDirectory);
    if (refused == 0 && fs::exists(fs::symlink_status(host.MapPath(hostPath), ec))) refused = EEXIST;
    if (refused == 0 && !fs::create_directory(host.MapPath(hostPath), ec)) refused = ec ? ec.value() : EEXIST;
    if (refused == 0) host.NoteChange(hostPath);
    why = refused != 0 ? std::strerror(refused) : "";
    return refused == 0;
}

int mkdirCommand(CEmulatedCommand& c) {
    bool parents = false;
    std::size_t first = firstOperand(c.argv);
    for (std::size_t i = 1; i < first; ++i)
        if (c.argv[i].find('p') != std::string::npos) parents = true;
    if (first >= c.argv.size()) {
        c.err = "mkdir: missing operand\n";
        return 1;
    }
    int status = 0;
    for (std::size_t i = first; i < c.argv.size(); ++i) {
        std::error_code ec;
        std::string why;
        bool made = true;
        if (parents) {
            // Each missing folder from the top down, so that each one meets
            // the rules of the file system it is made on.
            std::string path;
            for (const fs::path& part : fs::path(c.argv[i])) {
                path = path.empty() || path == "/" ? path + part.string() : path + "/" + part.string();
                if (!fs::is_directory(c.host.MapPath(path), ec) && !(made = makeFolder(c.host, path, why))) break;
            }
        } else {
            made = makeFolder(c.host, c.argv[i], why);
        }
        if (!made) {
            c.err += "mkdir: cannot create directory '" + c.argv[i] + "': " + why + "\n";
            status = 1;
        }
    }
    return status;
}

int lnCommand(CEmulatedCommand& c) {
    bool symbolic = false, force = false;
    std::size_t first = firstOperand(c.argv);
    for (std::size_t i = 1; i < first; ++i) {
        if (c.argv[i].find('s') != std::string::npos) symbolic = true;
        if (c.argv[i].find('f') != std::string::npos) force = true;
    }
    if (!symbolic || c.argv.size() - first != 2) {
        c.err = "ln: only 'ln -s[f] TARGET LINK' is emulated\n";
        return 1;
    }
    std::string target = c.argv[first];
    std::string link = c.argv[first + 1];
    std::error_code ec;
    // Like ln: a LINK that is a directory receives the link inside it.
    if (fs::is_directory(c.host.MapPath(link), ec)) link = normalHost(link) + "/" + hostBaseName(target);
    std::string mappedLink = c.host.MapPath(link);
    int refused = c.host.CheckWrite(link, CEmulatedHost::kMakeLink);
    if (refused != 0) {
        c.err = "ln: failed to create symbolic link '" + link + "': " + std::strerror(refused) + "\n";
        return 1;
    }
    if (fs::exists(fs::symlink_status(mappedLink, ec))) {
        if (!force) {
            c.err = "ln: failed to create symbolic link '" + link + "': File exists\n";
            return 1;
        }
        fs::remove(mappedLink, ec);
    }
    // An absolute target points into the sandbox, so following the link
    // never leaves it.
    std::string stored = !target.empty() && target[0] == '/' ? c.host.MapPath(target) : target;
    fs::create_symlink(stored, mappedLink, ec);
    if (ec) {
        c.err = "ln: failed to create symbolic link '" + link + "': " + ec.message() + "\n";
        return 1;
    }
    return 0;
}

// Removes what a directory holds, leaving the directory.
void removeContents(const std::string& dir) {
    std::error_code ec;
    std::vector<fs::path> children;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        children.push_back(it->path());
    for (const fs::path& child : children) fs::remove_all(child, ec);
}

int rmCommand(CEmulatedCommand& c) {
    bool recursive = false, force = false;
    std::size_t first = firstOperand(c.argv);
    for (std::size_t i = 1; i < first; ++i) {
        const std::string& opt = c.argv[i];
        if (opt.find_first_of("rR") != std::string::npos) recursive = true;
        if (opt.find('f') != std::string::npos) force = true;
    }
    int status = 0;
    for (std::size_t i = first; i < c.argv.size(); ++i) {
        for (const std::string& word : expand(c.host, c.argv[i])) {
            std::string path = c.host.MapPath(word);
            std::error_code ec;
            fs::file_status st = fs::symlink_status(path, ec);
            if (!fs::exists(st)) {
                if (!force) {
                    c.err += "rm: cannot remove '" + word + "': No such file or directory\n";
                    status = 1;
                }
                continue;
            }
            int refused = c.host.CheckWrite(word, CEmulatedHost::kModify);
            if (refused != 0) {
                c.err += "rm: cannot remove '" + word + "': " + std::strerror(refused) + "\n";
                status = 1;
                continue;
            }
            if (fs::is_directory(st)) {
                if (!recursive) {
                    c.err += "rm: cannot remove '" + word + "': Is a directory\n";
                    status = 1;
                    continue;
                }
                bool holdsMount = false;
                for (const CEmulatedHost::Mount& m : c.host.Mounts()) {
                    std::string dir = normalHost(word);
                    if (m.dir == dir || m.dir.compare(0, dir.size() + 1, dir + "/") == 0) holdsMount = true;
                }
                if (holdsMount) {
                    // As on a real host: what a writable mounted file system
                    // holds is deleted, the mount point itself is busy.
                    if (isWritableMountDir(c.host, word)) removeContents(path);
                    c.host.NoteChange(word);
                    c.err += "rm: cannot remove '" + word + "': Device or resource busy\n";
                    status = 1;
                    continue;
                }
                fs::remove_all(path, ec);
            } else {
                fs::remove(path, ec);
            }
            c.host.NoteChange(word);
            if (ec) {
                c.err += "rm: cannot remove '" + word + "': " + ec.message() + "\n";
                status = 1;
            }
        }
    }
    return status;
}

int echoCommand(CEmulatedCommand& c) {
    for (std::size_t i = 1; i < c.argv.size(); ++i) c.out += (i > 1 ? " " : "") + c.argv[i];
    c.out += "\n";
    return 0;
}

int catCommand(CEmulatedCommand& c) {
    if (c.argv.size() < 2) {
        c.out = c.in;
        return 0;
    }
    int status = 0;
    for (std::size_t i = 1; i < c.argv.size(); ++i) {
        std::string text;
        if (!ReadWholeFile(c.host.MapPath(c.argv[i]), text)) {
            c.err += "cat: " + c.argv[i] + ": No such file or directory\n";
            status = 1;
        }
        c.out += text;
    }
    return status;
}

// sed -n '/TEXT/{g;1!p;};h': prints the line before each line holding TEXT.
int sedCommand(CEmulatedCommand& c) {
    const std::string suffix = "/{g;1!p;};h";
    if (c.argv.size() != 3 || c.argv[1] != "-n" || c.argv[2].size() <= suffix.size() + 1 ||
        c.argv[2][0] != '/' ||
        c.argv[2].compare(c.argv[2].size() - suffix.size(), suffix.size(), suffix) != 0) {
        c.err = "sed: only -n '/TEXT/{g;1!p;};h' is emulated\n";
        return 1;
    }
    std::string pattern = c.argv[2].substr(1, c.argv[2].size() - suffix.size() - 1);
    std::string hold;
    std::size_t pos = 0, number = 0;
    while (pos < c.in.size()) {
        std::size_t end = c.in.find('\n', pos);
        std::string line = c.in.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        pos = end == std::string::npos ? c.in.size() : end + 1;
        ++number;
        std::string space = line;
        if (line.find(pattern) != std::string::npos) {
            space = hold;
            if (number != 1) c.out += space + "\n";
        }
        hold = space;
    }
    return 0;
}

// Whether the disk a mount was made from is still attached.
bool diskPresent(CEmulatedHost& host, const CEmulatedHost::Mount& mount) {
    DiskTable disks;
    disks.Load(host.StateDir());
    Disk* disk = disks.FindByNode(hostBaseName(mount.device));
    return disk != nullptr && disk->Visible() && disk->image == mount.image;
}

int syncWriteBack(CEmulatedCommand& c) {
    int status = 0;
    for (const CEmulatedHost::Mount& m : c.host.Mounts()) {
        if (!m.readWrite || !diskPresent(c.host, m)) continue;
        std::string error;
        if (!c.host.WriteBack(m, error)) {
            c.err += "sync: error syncing '" + m.dir + "': " + error + "\n";
            status = 1;
        }
    }
    return status;
}

// ---- disks ---------------------------------------------------------------------------

// blockdev --report: a scan that makes the kernel look at the disks; a disk
// the fault script delays shows up after its number of scans.
int blockdev(CEmulatedCommand& c) {
    if (c.argv.size() < 2 || c.argv[1] != "--report") {
        c.err = "blockdev: only --report is emulated\n";
        return 1;
    }
    DiskTable disks;
    {
        StateLock lock(c.host.StateDir());
        disks.Load(c.host.StateDir());
        for (Disk& d : disks.Disks())
            if (d.scansLeft > 0) --d.scansLeft;
        disks.Save(c.host.StateDir());
        SyncDiskNodes(c.host.StateDir(), disks);
    }
    c.out = "RO    RA   SSZ   BSZ   StartSec            Size   Device\n";
    for (const Disk& d : disks.Disks()) {
        if (!d.Visible()) continue;
        std::error_code ec;
        std::uintmax_t size = fs::file_size(d.image, ec);
        char line[160];
        std::snprintf(line, sizeof line, "rw   256   512  4096          0 %15ju   /dev/%s\n", size, d.sd.c_str());
        c.out += line;
    }
    return 0;
}

int lsmod(CEmulatedCommand& c) {
    c.out = "Module                  Size  Used by\n"
            "usb_storage            48417  0\n";
    if (c.host.HostSetting("sg_driver", "1") == "1") c.out += "sg                     36533  0\n";
    c.out += "sd_mod                 39488  2\n"
             "vfat                   17461  0\n";
    return 0;
}

// df -P -B1 DIR: the room of the mounted file system holding DIR, counted
// from its image as the mount's own writes are.
int dfCommand(CEmulatedCommand& c) {
    if (c.argv.size() != 4 || c.argv[1] != "-P" || c.argv[2] != "-B1") {
        c.err = "df: only 'df -P -B1 DIR' is emulated\n";
        return 1;
    }
    CEmulatedHost::Mount mount;
    CEmulatedHost::Room room;
    if (!c.host.MountRoom(c.argv[3], mount, room)) {
        c.err = "df: " + c.argv[3] + ": not on an emulated mount\n";
        return 1;
    }
    long long used = room.totalBytes - room.freeBytes;
    long long percent = room.totalBytes > 0 ? (used * 100 + room.totalBytes - 1) / room.totalBytes : 0;
    c.out = "Filesystem     1-blocks      Used Available Capacity Mounted on\n" + mount.device + " " +
            std::to_string(room.totalBytes) + " " + std::to_string(used) + " " + std::to_string(room.freeBytes) +
            " " + std::to_string(percent) + "% " + mount.dir + "\n";
    return 0;
}

// mount -t vfat -oOPTIONS DEVICE DIR: the partition's files are copied out
// of the image into DIR, and the mount is recorded (a read-write one with
// what it held, for the write-back).
int mountCommand(CEmulatedCommand& c) {
    std::string type, options;
    std::vector<std::string> operands;
    for (std::size_t i = 1; i < c.argv.size(); ++i) {
        const std::string& arg = c.argv[i];
        if (arg == "-t" && i + 1 < c.argv.size()) type = c.argv[++i];
        else if (arg == "-o" && i + 1 < c.argv.size()) options = c.argv[++i];
        else if (arg.compare(0, 2, "-o") == 0) options = arg.substr(2);
        else operands.push_back(arg);
    }
    if (operands.size() != 2 || type != "vfat") {
        c.err = "mount: only 'mount -t vfat [-o OPTIONS] DEVICE DIR' is emulated\n";
        return 1;
    }
    bool readWrite = (',' + options + ',').find(",rw,") != std::string::npos;
    std::string dir = normalHost(operands[1]);
    if (c.host.MapPath(dir) == dir) {
        // Mounting a partition over one of the caller's own folders would
        // fill it and, at umount, empty it.
        c.err = "mount: " + dir + ": the emulated host mounts only on its own host locations.\n";
        return 32;
    }

    // Follow the device link inside the sandbox to a disk node.
    DiskTable disks;
    disks.Load(c.host.StateDir());
    std::string current = normalHost(operands[0]);
    Disk* disk = nullptr;
    std::string node;
    for (int hops = 0; hops < 16 && disk == nullptr; ++hops) {
        if (hostDirName(current) == "/dev") {
            Disk* found = disks.FindByNode(hostBaseName(current));
            if (found != nullptr && found->Visible()) {
                disk = found;
                node = hostBaseName(current);
                break;
            }
        }
        std::error_code ec;
        std::string mapped = c.host.MapPath(current);
        if (!fs::is_symlink(fs::symlink_status(mapped, ec))) break;
        std::string target = fs::read_symlink(mapped, ec).string();
        if (target.empty()) break;
        if (target[0] == '/') current = c.host.HostPathOf(target);
        else current = normalHost(hostDirName(current) + "/" + target);
        if (current.empty()) break;
    }
    if (disk == nullptr) {
        c.err = "mount: " + dir + ": special device " + operands[0] + " does not exist.\n";
        return 32;
    }
    if (disk->offset > 0 && node != disk->PartitionNode()) {
        // The whole disk of a partitioned disk holds no file system.
        c.err = "mount: " + dir + ": wrong fs type, bad option, bad superblock on " + operands[0] + ".\n";
        return 32;
    }
    std::error_code ec;
    if (!fs::is_directory(c.host.MapPath(dir), ec)) {
        c.err = "mount: " + dir + ": mount point does not exist.\n";
        return 32;
    }
    std::vector<CEmulatedHost::Mount> mounts = c.host.Mounts();
    for (const CEmulatedHost::Mount& m : mounts) {
        if (m.dir == dir) {
            c.err = "mount: " + dir + ": " + m.device + " already mounted or mount point busy.\n";
            return 32;
        }
    }
    std::string error;
    if (!ExtractFatTree(MtoolsImage(disk->image, disk->offset), c.host.MapPath(dir), error)) {
        removeContents(c.host.MapPath(dir));
        c.err = "mount: " + dir + ": can't read superblock on /dev/" + node + ".\n";
        return 32;
    }
    c.host.NoteChange(dir);
    if (readWrite) SaveManifest(c.host.StateDir(), dir, ScanTree(c.host.MapPath(dir)));
    else RemoveManifest(c.host.StateDir(), dir);
    CEmulatedHost::Mount m;
    m.dir = dir;
    m.device = "/dev/" + node;
    m.image = disk->image;
    m.offset = disk->offset;
    m.label = disk->label;
    m.readWrite = readWrite;
    mounts.push_back(m);
    c.host.SaveMounts(mounts);
    return 0;
}

int umountCommand(CEmulatedCommand& c) {
    std::size_t first = firstOperand(c.argv);
    if (c.argv.size() - first != 1) {
        c.err = "umount: only 'umount DIR|DEVICE' is emulated\n";
        return 1;
    }
    std::string which = normalHost(c.argv[first]);
    std::vector<CEmulatedHost::Mount> mounts = c.host.Mounts();
    for (std::size_t i = 0; i < mounts.size(); ++i) {
        const CEmulatedHost::Mount& m = mounts[i];
        if (m.dir != which && m.device != which) continue;
        // The writes reach the partition when its disk is still there; a
        // disk that went away (detached, deleted) takes them with it, as a
        // pulled USB disk does.  Either way the mount goes: every write was
        // checked against the file system when it was made, and no state
        // of the image may keep a mount that nothing can remove.
        std::string error;
        if (m.readWrite && diskPresent(c.host, m) && !c.host.WriteBack(m, error))
            c.err = "umount: " + m.dir + ": " + error + "; the partition keeps its earlier contents\n";
        removeContents(c.host.MapPath(m.dir));
        c.host.NoteChange(m.dir);
        RemoveManifest(c.host.StateDir(), m.dir);
        mounts.erase(mounts.begin() + static_cast<long>(i));
        c.host.SaveMounts(mounts);
        return 0;
    }
    c.err = "umount: " + which + ": not mounted.\n";
    return 32;
}

// A program of the update package in the caller's working directory (the
// library runs its getSystemId): the caller's own file, so it runs for
// real, without the emulator preloaded.  A name the sandbox would map is
// no such file.
int packageProgram(CEmulatedCommand& c) {
    const std::string& program = c.argv[0];
    if (program.find('/') == std::string::npos || c.host.MapPath(program) != program ||
        access(program.c_str(), X_OK) != 0) {
        c.err = program + ": No such file or directory\n";
        return 127;
    }
    std::string errors;
    const int status = RunTool(c.argv, &c.out, &errors);
    c.err += errors;
    return status < 0 ? 126 : status;
}

}  // namespace

void CEmulatedHost::registerBuiltins() {
    RegisterCommand("cp", cp);
    RegisterCommand("chmod", chmodCommand);
    RegisterCommand("udevadm", udevadm, true);
    RegisterCommand("udevcontrol", udevcontrol, true);
    RegisterCommand("haldaemon", haldaemon, true);
    RegisterCommand("ps", ps);
    RegisterCommand("grep", grep);
    RegisterCommand("tarnvelmoinstall.sh", trenInstallScript);
    RegisterCommand("mkdir", mkdirCommand);
    RegisterCommand("ln", lnCommand);
    RegisterCommand("rm", rmCommand);
    RegisterCommand("echo", echoCommand);
    RegisterCommand("cat", catCommand);
    RegisterCommand("sed", sedCommand);
    RegisterCommand("sync", syncWriteBack);
    RegisterCommand("blockdev", blockdev);
    RegisterCommand("lsmod", lsmod);
    RegisterCommand("mount", mountCommand);
    RegisterCommand("umount", umountCommand);
    RegisterCommand("df", dfCommand);
    RegisterCommand("getSystemId", packageProgram);
}
