// zemt emulator init|fault|clock|reset|exec: create emulator state
// directories, add faults to their scripts, read and move their clocks,
// release what a run left behind, and run programs against them.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "Partitions.h"
#include "Tool.h"
#include "zemt_emulator/FaultScript.h"
#include "zemt_emulator/HostBoundary.h"
#include "zemt_emulator/State.h"

namespace fs = std::filesystem;

namespace zemt_tool {

namespace {

// ---- checks of option values (each failure is a usage error) ----------------------

// A number from `low` to `high`, decimal or 0x hexadecimal.
CLI::Validator numberFrom(long low, long high) {
    return CLI::Validator(
        [low, high](std::string& text) -> std::string {
            long value = 0;
            if (zemt_emu::ParseNumber(text, value) && value >= low && value <= high) return "";
            return "'" + text + "' is not a number from " + std::to_string(low) + " to " + std::to_string(high);
        },
        "N");
}

long numberOf(const std::string& text, long fallback) {
    long value = fallback;
    return text.empty() || !zemt_emu::ParseNumber(text, value) ? fallback : value;
}

std::string checkGeneration(std::string& text) {
    long byte = 0;
    if (text == "pre-vemo" || text == "vemo" || text == "sarn" ||
        (zemt_emu::ParseNumber(text, byte) && byte >= 0 && byte <= 0xFF))
        return "";
    return "'" + text + "' is not one of pre-vemo, vemo, sarn or a byte";
}

std::string checkFirmware(std::string& text) {
    std::string::size_type dot = text.find('.');
    long major = -1, minor = -1;
    if (dot != std::string::npos && zemt_emu::ParseNumber(text.substr(0, dot), major) &&
        zemt_emu::ParseNumber(text.substr(dot + 1), minor) && major >= 0 && major <= 0xFF && minor >= 0 &&
        minor <= 0xFF)
        return "";
    return "'" + text + "' is not MAJOR.MINOR, each 0-255";
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, separator)) parts.push_back(part);
    if (!text.empty() && text.back() == separator) parts.push_back("");
    return parts;
}

std::string checkPsu(std::string& text) {
    std::vector<std::string> parts = split(text, ':');
    long compId = 0;
    if (parts.empty() || parts.size() > 3 || parts[0].empty() || parts[0].size() > 8)
        return "'" + text + "' is not VERSION[:COMPID[:absent]] (a version of 1 to 8 characters)";
    if (parts.size() > 1 && (!zemt_emu::ParseNumber(parts[1], compId) || compId < 0))
        return "component id '" + parts[1] + "' is not a number";
    if (parts.size() > 2 && parts[2] != "absent" && parts[2] != "present")
        return "'" + parts[2] + "' is not absent or present";
    return "";
}

// A fault line the emulator would refuse is a mistake on the command line.
std::string checkFaultLine(std::string& text) {
    zemt_emu::Fault fault;
    std::string error;
    if (text.find('\n') != std::string::npos) return "one fault per line";
    if (zemt_emu::ParseFaultLine(text, fault, error)) return "";
    return "'" + text + "': " + (error.empty() ? "the line holds no fault" : error);
}

// The library attaches and finds only the catalogue's static partitions.
std::string checkPartitions(std::string& text) {
    for (const std::string& item : split(text, ',')) {
        std::vector<std::string> parts = split(item, ':');
        if (item.empty() || parts.size() > 2)
            return "'" + text + "' is not LABEL[:MIB] items separated by commas";
        if (!isStaticLabel(parts[0]))
            return "'" + parts[0] + "' is not a label the library can use (KAV001 to KAV256)";
        long mib = 0;
        if (parts.size() == 2 && (!zemt_emu::ParseNumber(parts[1], mib) || mib < 1 || mib > 4096))
            return "the size of " + parts[0] + " is 1 to 4096 MiB";
    }
    return "";
}

// ---- the sub-commands ------------------------------------------------------------------

// Every emulator command names its state directory itself.
bool refuseGlobalEmulator() {
    if (globals().emulatorDir.empty()) return false;
    usageError("--emulator does not go with 'emulator' commands (they name the state directory as DIR)");
    return true;
}

std::string notAStateDir(const std::string& dir) {
    return dir + " is not an emulator state directory (create one with 'zemt emulator init " + dir + "')";
}

bool isStateDir(const std::string& dir) {
    std::error_code ec;
    return fs::exists(zemt_emu::JoinPath(dir, zemt_emu::files::kControllerConf), ec);
}

int done(const std::string& dir, Json fields, const Problem& failure, const std::string& text) {
    Json all{{"stateDirectory", dir}};
    for (auto it = fields.begin(); it != fields.end(); ++it) all[it.key()] = it.value();
    return report(all, failure, [&]() {
        if (!failure.failed() && !text.empty()) std::cout << text << "\n";
    });
}

std::string trenBesideProgram() {
    // An installed tool finds the stand-in under its library directory.
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return "";
    fs::path candidate = exe.parent_path().parent_path() / ZEMT_INSTALL_LIBDIR / "zemt" / "emulator" / "libzolipm32.so";
    return fs::exists(candidate, ec) ? candidate.string() : "";
}

struct InitArgs {
    zemt_emu::InitOptions o;
    std::string access, firmware, stateFlag, resetRecovery, partitions, dynamicSpace, dynamicSlots, usb, sg,
        stageTime;
    std::vector<std::string> psus;
    bool modular = false;
    bool notRoot = false;
};

int runInit(InitArgs& a) {
    if (refuseGlobalEmulator()) return kExitUsage;
    zemt_emu::InitOptions& o = a.o;
    o.access = numberOf(a.access, o.access);
    if (!a.firmware.empty()) {
        o.firmwareMajor = numberOf(a.firmware.substr(0, a.firmware.find('.')), 0);
        o.firmwareMinor = numberOf(a.firmware.substr(a.firmware.find('.') + 1), 0);
    }
    if (a.modular) o.monolithic = false;
    if (a.notRoot) o.root = false;
    o.stateFlag = numberOf(a.stateFlag, o.stateFlag);
    o.resetRecovery = numberOf(a.resetRecovery, o.resetRecovery);
    o.dynamicSpaceMiB = numberOf(a.dynamicSpace, o.dynamicSpaceMiB);
    o.dynamicSlots = numberOf(a.dynamicSlots, o.dynamicSlots);
    o.stageSeconds = numberOf(a.stageTime, o.stageSeconds);
    if (!a.usb.empty()) o.usbArbitratorRunning = a.usb == "running";
    if (!a.sg.empty()) o.sgDriver = a.sg == "loaded";
    if (!a.partitions.empty()) o.partitions = split(a.partitions, ',');
    for (const std::string& text : a.psus) {
        std::vector<std::string> parts = split(text, ':');
        zemt_emu::PowerSupply ps;
        ps.version = parts[0];
        if (parts.size() > 1) ps.compId = static_cast<unsigned long>(numberOf(parts[1], 0));
        if (parts.size() > 2) ps.present = parts[2] == "present";
        o.powerSupplies.push_back(ps);
    }
    if (o.noPowerSupplies) o.powerSupplies.clear();
    if (o.trenLibrary.empty()) {
        std::error_code ec;
        std::string builtIn = zemt_emu::DefaultTrenLibrary();
        if (builtIn.empty() || !fs::exists(builtIn, ec)) o.trenLibrary = trenBesideProgram();
    }
    Problem failure;
    std::string error;
    if (!zemt_emu::InitStateDir(o, error)) failure.message = error;
    return done(o.dir, Json::object(), failure, "Emulator state created in " + o.dir);
}

void addInit(CLI::App& emulator, CommandTable& table) {
    static InitArgs a;
    zemt_emu::InitOptions& o = a.o;
    CLI::App* init = addCommand(
        emulator, table,
        {"init", "create an emulator state directory",
         "The state directory keeps the emulated controller (configuration, state, partitions as FAT\n"
         "images, inventory log, fault script, logs) and the sandbox of the emulated host; see\n"
         "emulator/README.md for its files and formats.",
         "zemt emulator init /tmp/ctl\nzemt emulator init /tmp/ctl --generation vemo --os suse --psu 1.0:5 --force",
         false},
        []() { return runInit(a); });
    init->add_option("DIR", o.dir, "the state directory to create")->required();
    init->add_option("--generation", o.generation, "server generation: pre-vemo, vemo, sarn or a byte (default sarn)")
        ->check(CLI::Validator(checkGeneration, "pre-vemo|vemo|sarn|BYTE"));
    init->add_option("--os", o.os, "host OS (default redhat)")->check(CLI::IsMember(zemt_emu::KnownOperatingSystems()));
    init->add_option("--tren", o.tren, "hardware-access library on the host (default script)")
        ->check(CLI::IsMember({"script", "preinstalled", "absent", "pavo"}));
    init->add_option("--kaver", o.kaver, "repository kind (default full)")
        ->check(CLI::IsMember({"full", "lite", "liter", "none"}));
    init->add_option("--access", a.access, "repository access state (default 0 = enabled)")->check(numberFrom(0, 255));
    init->add_option("--firmware", a.firmware, "controller firmware version (default 2.30)")
        ->check(CLI::Validator(checkFirmware, "MAJOR.MINOR"));
    CLI::Option* monolithic = init->add_flag("--monolithic", o.monolithic, "a monolithic system");
    init->add_flag("--modular", a.modular, "a modular system (the default)")->excludes(monolithic);
    init->add_option("--state-flag", a.stateFlag, "boot-state flag (default 0)")->check(numberFrom(0, 255));
    CLI::Option* psu = init->add_option("--psu", a.psus, "a power supply (repeat; default two)")
                           ->check(CLI::Validator(checkPsu, "VERSION[:COMPID[:absent]]"));
    init->add_flag("--no-psu", o.noPowerSupplies, "no power supplies")->excludes(psu);
    init->add_option("--hal", o.hal, "HAL daemon (default running)")->check(CLI::IsMember({"running", "stopped", "absent"}));
    init->add_option("--udev", o.udev, "udev control tool (default udevadm)")
        ->check(CLI::IsMember({"udevadm", "udevcontrol", "none"}));
    init->add_option("--usb-arbitrator", a.usb, "ESX USB arbitrator service (default stopped)")
        ->check(CLI::IsMember({"running", "stopped"}));
    init->add_flag("--not-root", a.notRoot, "switching to user id 0 fails");
    init->add_option("--reset-recovery", a.resetRecovery, "controller absence after a cold reset (default 90)")
        ->check(numberFrom(0, 86400))
        ->option_text("SECONDS");
    init->add_option("--tren-lib", o.trenLibrary, "the TREN stand-in to install")->option_text("PATH");
    init->add_option("--partitions", a.partitions,
                     "static partitions in bit order (default KAV001,KAV022,KAV023,KAV002,KAV004; sizes from the "
                     "catalogue)")
        ->check(CLI::Validator(checkPartitions, "LABEL[:MIB],..."));
    init->add_flag("--partition-table", o.partitionTable, "disks carry an MBR, the file system is on sdX1");
    init->add_option("--dynamic-space", a.dynamicSpace, "repository space for drop boxes (default 600)")
        ->check(numberFrom(0, 1048576))
        ->option_text("MIB");
    init->add_option("--dynamic-slots", a.dynamicSlots, "dynamic partitions the controller hands out (default 8)")
        ->check(numberFrom(0, 16));
    init->add_option("--sg-driver", a.sg, "the host's sg module (default loaded)")->check(CLI::IsMember({"loaded", "absent"}));
    init->add_option("--guid", o.guid, "stage-and-update capability (default on from sarn)")
        ->check(CLI::IsMember({"on", "off"}));
    init->add_option("--stage-time", a.stageTime, "virtual time a stage-and-update stays pending (default 10)")
        ->check(numberFrom(0, 86400))
        ->option_text("SECONDS");
    init->add_flag("--force", o.force, "replace an existing state directory");
}

void addFault(CLI::App& emulator, CommandTable& table) {
    static std::string dir, line;
    CLI::App* fault = addCommand(
        emulator, table,
        {"fault", "append a checked line to a state directory's fault script",
         "Lines (see emulator/README.md, \"Fault script\"):\n"
         "  cmd=[NETFN:]CMD[/SUB] completion=CC|status=S|tren_result=0|pending=N [final=S] [after=K] [times=N|always]\n"
         "  sysinfo status=N|buffer=null [after=K] [times=N|always]\n"
         "  host=NAME [match=TEXT] exit=N [after=K] [times=N|always]\n"
         "  disk [label=LABEL] appear=N|never [after=K] [times=N|always]\n"
         "  stage start=N|status=N [after=K] [times=N|always]\n"
         "  process effect=corrupt|full|refuse|unparsable|polls|no-answer|... [after=K] [times=N|always]",
         "zemt emulator fault /tmp/ctl 'cmd=0xA2/16 pending=5 final=0'\n"
         "zemt emulator fault /tmp/ctl 'host=mount exit=32 times=always'",
         false},
        []() {
            if (refuseGlobalEmulator()) return kExitUsage;
            Problem failure;
            std::string error;
            if (!zemt_emu::AppendFault(dir, line, error)) failure.message = error;
            return done(dir, Json{{"line", line}}, failure, "");
        });
    fault->add_option("DIR", dir, "the state directory")->required();
    fault->add_option("LINE", line, "the fault line, quoted as one argument")
        ->required()
        ->check(CLI::Validator(checkFaultLine, "LINE"));
}

void addClock(CLI::App& emulator, CommandTable& table) {
    static std::string dir, advance;
    CLI::App* clock = addCommand(
        emulator, table,
        {"clock", "show (or move on) a state directory's virtual clock",
         "Prints the virtual clock in seconds; --advance moves it on first (an open session whose watchdog\n"
         "time passes is gone).",
         "zemt emulator clock /tmp/ctl\nzemt emulator clock /tmp/ctl --advance 1200", false},
        []() {
            if (refuseGlobalEmulator()) return kExitUsage;
            Problem failure;
            unsigned long now = 0;
            if (!isStateDir(dir))
                failure.message = notAStateDir(dir);
            else
                now = zemt_emu::AdvanceClock(dir, static_cast<unsigned long>(numberOf(advance, 0)));
            return done(dir, Json{{"clock", failure.failed() ? Json(nullptr) : Json(now)}}, failure, std::to_string(now));
        });
    clock->add_option("DIR", dir, "the state directory")->required();
    clock->add_option("--advance", advance, "move the clock on first")
        ->check(numberFrom(0, 0x7FFFFFFF))
        ->option_text("SECONDS");
}

void addReset(CLI::App& emulator, CommandTable& table) {
    static std::string dir;
    CLI::App* reset = addCommand(
        emulator, table,
        {"reset", "release what a run left behind (session, drop boxes, mounts)",
         "Releases the session, pending work, drop boxes, attached partitions, mounts (not written back)\n"
         "and left-over scratch files; keeps the static partitions' contents, the configuration, the\n"
         "fault script and the clock.",
         "zemt emulator reset /tmp/ctl", false},
        []() {
            if (refuseGlobalEmulator()) return kExitUsage;
            Problem failure;
            std::string error;
            if (!zemt_emu::ResetStateDir(dir, error)) failure.message = error;
            return done(dir, Json::object(), failure,
                        "Emulator state in " + dir + " reset: session, drop boxes, attached partitions and mounts released");
        });
    reset->add_option("DIR", dir, "the state directory")->required();
}

// The preload library: the one this build made, else the one installed
// beside the tool.
std::string defaultPreloadLibrary() {
    std::error_code ec;
#ifdef ZEMT_PRELOAD_LIBRARY_PATH
    if (fs::exists(ZEMT_PRELOAD_LIBRARY_PATH, ec)) return ZEMT_PRELOAD_LIBRARY_PATH;
#endif
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return (exe.parent_path().parent_path() / ZEMT_INSTALL_LIBDIR / "libzemt_emu_preload.so").string();
}

int runExec(const std::string& dir, std::string preload) {
    if (refuseGlobalEmulator()) return kExitUsage;
    const std::vector<std::string>& program = globals().afterSeparator;
    if (program.empty()) return usageError("wants DIR -- PROGRAM [ARGS...]");
    if (globals().json) return usageError("--json does not go with 'emulator exec' (the program writes the output)");
    if (preload.empty()) preload = defaultPreloadLibrary();
    preload = absolutePath(preload);
    Problem failure;
    std::string why;
    // Without the preload library the program would meet the real host.
    if (!fs::is_regular_file(preload))
        failure.message = "the preload library " + preload + " does not exist (use --preload PATH)";
    else if (!isStateDir(dir))
        failure.message = notAStateDir(dir);
    else if (!zemt_emu::CheckEmulatorPlaces(dir, why))
        failure.message = why;
    if (failure.failed()) return finish(failure);

    const char* earlier = std::getenv("LD_PRELOAD");
    std::string libraries = earlier != nullptr && *earlier != '\0' ? std::string(earlier) + ":" + preload : preload;
    setenv("LD_PRELOAD", libraries.c_str(), 1);
    setenv(zemt_emu::kStateDirEnv, zemt_emu::NormalHostPath(absolutePath(dir)).c_str(), 1);
    std::vector<char*> argv;
    for (const std::string& word : program) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    std::cerr << "zemt: emulator exec: cannot run " << argv[0] << ": " << std::strerror(errno) << "\n";
    return 127;
}

void addExec(CLI::App& emulator, CommandTable& table) {
    static std::string dir, preload;
    CLI::App* exec = addCommand(
        emulator, table,
        {"exec", "run an unmodified program against the emulator",
         "Usage: zemt emulator exec DIR [--preload PATH] -- PROGRAM [ARGS...]\n"
         "Sets LD_PRELOAD to the preload library (by absolute path) and ZEMT_EMULATOR_DIR to DIR and runs\n"
         "PROGRAM; refuses to start (status 1) when either is missing; 127 when PROGRAM cannot be run.",
         "zemt emulator exec /tmp/ctl -- ./update-package --apply", false},
        []() { return runExec(dir, preload); });
    exec->add_option("DIR", dir, "the state directory")->required();
    exec->add_option("--preload", preload, "the preload library (default: this build's, or the installed one)")
        ->option_text("PATH");
}

}  // namespace

void addEmulatorCommand(CLI::App& root, CommandTable& table) {
    CLI::App* emulator = addCommand(
        root, table,
        {"emulator", "manage emulator state directories: init, fault, clock, reset, exec", nullptr,
         "zemt emulator init /tmp/ctl\nzemt emulator init --help", false},
        nullptr);
    emulator->require_subcommand(1);
    addInit(*emulator, table);
    addFault(*emulator, table);
    addClock(*emulator, table);
    addReset(*emulator, table);
    addExec(*emulator, table);
}

}  // namespace zemt_tool
