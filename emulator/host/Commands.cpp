// The host commands the emulated host knows.  Each handler does in the
// sandbox what the real command would do on the host; later commands
// (mount, umount, lsmod, blockdev, ...) are added the same way.
#include <sys/stat.h>

#include <filesystem>

#include "zemt_emulator/EmulatedHost.h"
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
        fs::path target = intoDir ? fs::path(destination) / fs::path(source).filename()
                                  : fs::path(destination);
        fs::copy_file(source, target, fs::copy_options::overwrite_existing, ec);
        if (ec) {
            c.err += "cp: cannot create '" + target.string() + "': " + ec.message() + "\n";
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
        if (::chmod(c.host.MapPath(c.argv[i]).c_str(), bits) != 0) {
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

// Fixed-string grep with -v, -q and -i, reading standard input.
int grep(CEmulatedCommand& c) {
    bool invert = false, quiet = false, ignoreCase = false;
    std::string pattern;
    bool havePattern = false;
    for (std::size_t i = 1; i < c.argv.size(); ++i) {
        const std::string& word = c.argv[i];
        if (!havePattern && word.size() > 1 && word[0] == '-') {
            for (std::size_t k = 1; k < word.size(); ++k) {
                if (word[k] == 'v') invert = true;
                else if (word[k] == 'q') quiet = true;
                else if (word[k] == 'i') ignoreCase = true;
                else if (word[k] != 'F') {
                    c.err = std::string("grep: option -") + word[k] + " is not emulated\n";
                    return 2;
                }
            }
        } else if (!havePattern) {
            pattern = word;
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
    std::string needle = ignoreCase ? lower(pattern) : pattern;
    bool any = false;
    std::size_t pos = 0;
    while (pos < c.in.size()) {
        std::size_t end = c.in.find('\n', pos);
        std::string line = c.in.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        pos = end == std::string::npos ? c.in.size() : end + 1;
        bool hit = (ignoreCase ? lower(line) : line).find(needle) != std::string::npos;
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
        fs::copy_file(source, target, fs::copy_options::overwrite_existing, ec);
        if (ec) {
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
}
