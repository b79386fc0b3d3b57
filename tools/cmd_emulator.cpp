// zemt emulator init|fault|clock|reset|exec: create emulator state
// directories, add faults to their scripts, read and move their clocks,
// release what a run left behind, and run programs against them.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "Tool.h"
#include "zemt_emulator/HostBoundary.h"
#include "zemt_emulator/State.h"

namespace zemt_tool {

const char* const kEmulatorUsage =
    "usage: zemt emulator init DIR [options]\n"
    "  --generation pre-vemo|vemo|sarn|BYTE   server generation (default sarn)\n"
    "  --os redhat|suse|centos|esx3|esx4|esx41|xenserver|eli|none   host OS (default redhat)\n"
    "  --tren script|preinstalled|absent|pavo hardware-access library on the host (default script)\n"
    "  --kaver full|lite|liter|none           repository kind (default full)\n"
    "  --access N                             repository access state (default 0 = enabled)\n"
    "  --firmware MAJOR.MINOR                 controller firmware version (default 2.30)\n"
    "  --monolithic | --modular               system kind (default modular)\n"
    "  --state-flag N                         boot-state flag (default 0)\n"
    "  --psu VERSION[:COMPID[:absent]]        a power supply (repeat; default two)\n"
    "  --no-psu                               no power supplies\n"
    "  --hal running|stopped|absent           HAL daemon (default running)\n"
    "  --udev udevadm|udevcontrol|none        udev control tool (default udevadm)\n"
    "  --usb-arbitrator running|stopped       ESX USB arbitrator service (default stopped)\n"
    "  --not-root                             switching to user id 0 fails\n"
    "  --reset-recovery SECONDS               controller absence after a cold reset (default 90)\n"
    "  --tren-lib PATH                        the TREN stand-in to install\n"
    "  --partitions LABEL[:MIB],...           static partitions in bit order (default\n"
    "                                         KAV001,KAV022,KAV023,KAV002,KAV004; sizes from the catalogue)\n"
    "  --partition-table                      disks carry an MBR, the file system is on sdX1\n"
    "  --dynamic-space MIB                    repository space for drop boxes (default 600)\n"
    "  --dynamic-slots N                      dynamic partitions the controller hands out, 0-16 (default 8)\n"
    "  --sg-driver loaded|absent              the host's sg module (default loaded)\n"
    "  --guid on|off                          stage-and-update capability (default on from sarn)\n"
    "  --stage-time SECONDS                   virtual time a stage-and-update stays pending (default 10)\n"
    "  --force                                replace an existing state directory\n"
    "\n"
    "usage: zemt emulator fault DIR 'LINE'\n"
    "  cmd=[NETFN:]CMD[/SUB] completion=CC|status=S|tren_result=0|pending=N [final=S]\n"
    "      [after=K] [times=N|always]\n"
    "  sysinfo status=N|buffer=null [after=K] [times=N|always]\n"
    "  host=NAME [match=TEXT] exit=N [after=K] [times=N|always]\n"
    "  disk [label=LABEL] appear=N|never [after=K] [times=N|always]\n"
    "  stage start=N|status=N [after=K] [times=N|always]\n"
    "  e.g. 'cmd=0xA2/0 completion=0x01 times=2', 'cmd=0xAD status=3 times=10',\n"
    "       'cmd=0xA2/16 pending=5 final=0', 'sysinfo status=1',\n"
    "       'host=mount exit=32 times=always', 'disk label=KAV022 appear=3',\n"
    "       'stage start=3 times=10', 'stage status=46'\n"
    "\n"
    "usage: zemt emulator clock DIR [--advance SECONDS]\n"
    "  prints the virtual clock in seconds; --advance moves it on first (an open\n"
    "  session whose watchdog time passes is gone)\n"
    "\n"
    "usage: zemt emulator reset DIR\n"
    "  releases the session, pending work, drop boxes, attached partitions, mounts\n"
    "  (not written back) and left-over scratch files; keeps the static partitions'\n"
    "  contents, the configuration, the fault script and the clock\n"
    "\n"
    "usage: zemt emulator exec DIR [--preload PATH] -- PROGRAM [ARGS...]\n"
    "  runs an unmodified PROGRAM against the emulator: sets LD_PRELOAD to the\n"
    "  preload library (by absolute path) and ZEMT_EMULATOR_DIR to DIR; refuses to\n"
    "  start when either is missing\n";

namespace {

// "zemt: emulator COMMAND: WHY" and the failure status.
int failed(const char* command, const std::string& why) {
    std::cerr << "zemt: emulator " << command << ": " << why << "\n";
    return kExitFailed;
}

// The items of a comma-separated list; false when one is empty.
bool splitList(const std::string& text, std::vector<std::string>& items) {
    items.clear();
    std::stringstream split(text);
    std::string item;
    while (std::getline(split, item, ',')) {
        if (item.empty()) return false;
        items.push_back(item);
    }
    return !items.empty() && text.back() != ',';
}

std::string trenBesideProgram() {
    // An installed tool finds the stand-in under its library directory.
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return "";
    std::filesystem::path candidate =
        exe.parent_path().parent_path() / "lib" / "zemt" / "emulator" / "libzolipm32.so";
    return std::filesystem::exists(candidate, ec) ? candidate.string() : "";
}

int cmdEmulatorInit(const std::vector<std::string>& args) {
    zemt_emu::InitOptions o;
    bool psuGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& out) -> bool {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        auto number = [&](long& out) -> bool {
            std::string text;
            return value(text) && zemt_emu::ParseNumber(text, out);
        };
        std::string text;
        if (arg == "--generation") {
            if (!value(o.generation)) return usageError("--generation wants a value");
        } else if (arg == "--os") {
            if (!value(o.os)) return usageError("--os wants a value");
        } else if (arg == "--tren") {
            if (!value(o.tren)) return usageError("--tren wants a value");
        } else if (arg == "--kaver") {
            if (!value(o.kaver)) return usageError("--kaver wants a value");
        } else if (arg == "--access") {
            if (!number(o.access) || o.access < 0 || o.access > 0xFF)
                return usageError("--access wants a byte");
        } else if (arg == "--firmware") {
            if (!value(text)) return usageError("--firmware wants MAJOR.MINOR");
            std::string::size_type dot = text.find('.');
            if (dot == std::string::npos || !zemt_emu::ParseNumber(text.substr(0, dot), o.firmwareMajor) ||
                !zemt_emu::ParseNumber(text.substr(dot + 1), o.firmwareMinor) || o.firmwareMajor < 0 ||
                o.firmwareMajor > 0xFF || o.firmwareMinor < 0 || o.firmwareMinor > 0xFF)
                return usageError("--firmware wants MAJOR.MINOR, each 0-255");
        } else if (arg == "--monolithic") {
            o.monolithic = true;
        } else if (arg == "--modular") {
            o.monolithic = false;
        } else if (arg == "--state-flag") {
            if (!number(o.stateFlag) || o.stateFlag < 0 || o.stateFlag > 0xFF)
                return usageError("--state-flag wants a byte");
        } else if (arg == "--psu") {
            if (!value(text)) return usageError("--psu wants VERSION[:COMPID[:absent]]");
            if (!psuGiven) o.powerSupplies.clear();
            psuGiven = true;
            zemt_emu::PowerSupply ps;
            std::vector<std::string> parts;
            std::stringstream split(text);
            std::string part;
            while (std::getline(split, part, ':')) parts.push_back(part);
            if (parts.empty() || parts.size() > 3) return usageError("--psu wants VERSION[:COMPID[:absent]]");
            ps.version = parts[0];
            long compId = 0;
            if (parts.size() > 1) {
                if (!zemt_emu::ParseNumber(parts[1], compId) || compId < 0)
                    return usageError("--psu component id '" + parts[1] + "' is not a number");
                ps.compId = static_cast<unsigned long>(compId);
            }
            if (parts.size() > 2) {
                if (parts[2] != "absent" && parts[2] != "present")
                    return usageError("--psu wants 'absent' or 'present' after the component id");
                ps.present = parts[2] == "present";
            }
            o.powerSupplies.push_back(ps);
        } else if (arg == "--no-psu") {
            o.noPowerSupplies = true;
            o.powerSupplies.clear();
        } else if (arg == "--hal") {
            if (!value(o.hal)) return usageError("--hal wants a value");
        } else if (arg == "--udev") {
            if (!value(o.udev)) return usageError("--udev wants a value");
        } else if (arg == "--usb-arbitrator") {
            if (!value(text) || (text != "running" && text != "stopped"))
                return usageError("--usb-arbitrator wants running or stopped");
            o.usbArbitratorRunning = text == "running";
        } else if (arg == "--not-root") {
            o.root = false;
        } else if (arg == "--reset-recovery") {
            if (!number(o.resetRecovery) || o.resetRecovery < 0)
                return usageError("--reset-recovery wants seconds");
        } else if (arg == "--tren-lib") {
            if (!value(o.trenLibrary)) return usageError("--tren-lib wants a path");
        } else if (arg == "--partitions") {
            if (!value(text) || !splitList(text, o.partitions))
                return usageError("--partitions wants LABEL[:MIB] items separated by commas");
        } else if (arg == "--partition-table") {
            o.partitionTable = true;
        } else if (arg == "--dynamic-space") {
            if (!number(o.dynamicSpaceMiB) || o.dynamicSpaceMiB < 0)
                return usageError("--dynamic-space wants MiB (0 or more)");
        } else if (arg == "--dynamic-slots") {
            if (!number(o.dynamicSlots) || o.dynamicSlots < 0 || o.dynamicSlots > 16)
                return usageError("--dynamic-slots wants 0 to 16");
        } else if (arg == "--sg-driver") {
            if (!value(text) || (text != "loaded" && text != "absent"))
                return usageError("--sg-driver wants loaded or absent");
            o.sgDriver = text == "loaded";
        } else if (arg == "--guid") {
            if (!value(o.guid) || (o.guid != "on" && o.guid != "off")) return usageError("--guid wants on or off");
        } else if (arg == "--stage-time") {
            if (!number(o.stageSeconds) || o.stageSeconds < 0) return usageError("--stage-time wants seconds");
        } else if (arg == "--force") {
            o.force = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return usageError("emulator init: unknown option '" + arg + "'");
        } else if (o.dir.empty()) {
            o.dir = arg;
        } else {
            return usageError("emulator init: more than one directory given");
        }
    }
    if (o.dir.empty()) return usageError("emulator init wants a directory");
    if (o.trenLibrary.empty()) {
        std::error_code ec;
        std::string builtIn = zemt_emu::DefaultTrenLibrary();
        if (builtIn.empty() || !std::filesystem::exists(builtIn, ec)) o.trenLibrary = trenBesideProgram();
    }
    std::string error;
    if (!zemt_emu::InitStateDir(o, error)) return failed("init", error);
    std::cout << "Emulator state created in " << o.dir << "\n";
    return kExitOk;
}

bool isStateDir(const std::string& dir) {
    std::error_code ec;
    return std::filesystem::exists(zemt_emu::JoinPath(dir, zemt_emu::files::kControllerConf), ec);
}

std::string notAStateDir(const std::string& dir) {
    return dir + " is not an emulator state directory (create one with 'zemt emulator init " + dir + "')";
}

int cmdEmulatorClock(const Args& args) {
    if (args.empty() || (args.size() != 1 && args.size() != 3) || (args.size() == 3 && args[1] != "--advance"))
        return usageError("emulator clock wants DIR [--advance SECONDS]");
    long seconds = 0;
    if (args.size() == 3 && (!zemt_emu::ParseNumber(args[2], seconds) || seconds < 0))
        return usageError("--advance wants a number of seconds");
    if (!isStateDir(args[0])) return failed("clock", notAStateDir(args[0]));
    std::cout << zemt_emu::AdvanceClock(args[0], static_cast<unsigned long>(seconds)) << "\n";
    return kExitOk;
}

int cmdEmulatorReset(const Args& args) {
    if (args.size() != 1) return usageError("emulator reset wants DIR");
    std::string error;
    if (!zemt_emu::ResetStateDir(args[0], error)) return failed("reset", error);
    std::cout << "Emulator state in " << args[0]
              << " reset: session, drop boxes, attached partitions and mounts released\n";
    return kExitOk;
}

// The preload library: the one this build made, else the one installed
// beside the tool.
std::string defaultPreloadLibrary() {
    std::error_code ec;
#ifdef ZEMT_PRELOAD_LIBRARY_PATH
    if (std::filesystem::exists(ZEMT_PRELOAD_LIBRARY_PATH, ec)) return ZEMT_PRELOAD_LIBRARY_PATH;
#endif
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return (exe.parent_path().parent_path() / ZEMT_INSTALL_LIBDIR / "libzemt_emu_preload.so").string();
}

int cmdEmulatorExec(const Args& args) {
    std::string dir, preload;
    std::size_t i = 0;
    for (; i < args.size() && args[i] != "--"; ++i) {
        if (args[i] == "--preload" && i + 1 < args.size())
            preload = args[++i];
        else if (dir.empty() && !args[i].empty() && args[i][0] != '-')
            dir = args[i];
        else
            return usageError("emulator exec: unexpected '" + args[i] + "'");
    }
    if (dir.empty() || i + 1 >= args.size()) return usageError("emulator exec wants DIR -- PROGRAM [ARGS...]");
    if (preload.empty()) preload = defaultPreloadLibrary();
    std::error_code ec;
    preload = std::filesystem::absolute(preload, ec).lexically_normal().string();
    // Without the preload library the program would meet the real host.
    if (!std::filesystem::is_regular_file(preload, ec))
        return failed("exec", "the preload library " + preload + " does not exist (use --preload PATH)");
    if (!isStateDir(dir)) return failed("exec", notAStateDir(dir));
    std::string why;
    if (!zemt_emu::CheckEmulatorPlaces(dir, why)) return failed("exec", why);

    const char* earlier = std::getenv("LD_PRELOAD");
    std::string libraries = earlier != nullptr && *earlier != '\0' ? std::string(earlier) + ":" + preload : preload;
    setenv("LD_PRELOAD", libraries.c_str(), 1);
    setenv(zemt_emu::kStateDirEnv, zemt_emu::NormalHostPath(std::filesystem::absolute(dir, ec).string()).c_str(), 1);
    std::vector<char*> argv;
    for (std::size_t k = i + 1; k < args.size(); ++k) argv.push_back(const_cast<char*>(args[k].c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    std::cerr << "zemt: emulator exec: cannot run " << argv[0] << ": " << std::strerror(errno) << "\n";
    return 127;
}

}  // namespace

int cmdEmulator(const std::vector<std::string>& args) {
    const char* const kWhich = "emulator wants 'init', 'fault', 'clock', 'reset' or 'exec'";
    if (args.empty()) return usageError(kWhich);
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "init") return cmdEmulatorInit(rest);
    if (args[0] == "clock") return cmdEmulatorClock(rest);
    if (args[0] == "reset") return cmdEmulatorReset(rest);
    if (args[0] == "exec") return cmdEmulatorExec(rest);
    if (args[0] == "fault") {
        if (rest.size() != 2) return usageError("emulator fault wants DIR and one quoted LINE");
        std::string error;
        if (!zemt_emu::AppendFault(rest[0], rest[1], error)) return failed("fault", error);
        return kExitOk;
    }
    return usageError(std::string(kWhich) + ", not '" + args[0] + "'");
}

}  // namespace zemt_tool
