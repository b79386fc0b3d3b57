// zemt: controller and repository information over libzemt, and the
// management of emulator state directories.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Json.h"
#include "PlatformLayer.h"
#include "secureKaver.h"
#include "zemt_emulator/EmulatedHost.h"
#include "zemt_emulator/State.h"

namespace {

const int kExitOk = 0;
const int kExitFailed = 1;
const int kExitUsage = 2;
const uint16_t kQuerySessionTimeout = 60;

const char* const kUsage =
    "usage: zemt [--emulator DIR] info [--json]\n"
    "       zemt [--emulator DIR] flag get [--json]\n"
    "       zemt [--emulator DIR] flag set VALUE [--json]\n"
    "       zemt emulator init DIR [options]\n"
    "       zemt emulator fault DIR 'LINE'\n"
    "       zemt help [emulator]\n"
    "\n"
    "  --emulator DIR   talk to the emulated controller and host of state directory DIR\n"
    "                   instead of the real ones\n"
    "\n"
    "  info             the controller, repository and host as the library sees them\n"
    "  flag get|set     read or write the controller's boot-state flag\n"
    "  emulator init    create an emulator state directory (zemt help emulator)\n"
    "  emulator fault   append a line to a state directory's fault script\n"
    "\n"
    "Exit status: 0 success, 1 the operation failed, 2 usage error.\n";

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
    "  --force                                replace an existing state directory\n"
    "\n"
    "usage: zemt emulator fault DIR 'LINE'\n"
    "  cmd=[NETFN:]CMD[/SUB] completion=CC|status=S|tren_result=0|pending=N [final=S]\n"
    "      [after=K] [times=N|always]\n"
    "  sysinfo status=N|buffer=null [after=K] [times=N|always]\n"
    "  e.g. 'cmd=0xA2/0 completion=0x01 times=2', 'cmd=0xAD status=3 times=10',\n"
    "       'cmd=0xA2/16 pending=5 final=0', 'sysinfo status=1'\n";

int usageError(const std::string& message) {
    std::cerr << "zemt: " << message << "\n\n" << kUsage;
    return kExitUsage;
}

// ---- names ------------------------------------------------------------------

const char* errorName(unsigned code) {
    static const char* const names[] = {
        "ZEMT_OK_CODE", "ZEMT_IPMIERROR", "ZEMT_NOKAVERSESS", "ZEMT_INVKAVERPART",
        "ZEMT_PARTSIZESMALL", "ZEMT_GETSESSFAIL", "ZEMT_NOSRCFILE", "ZEMT_NODESTFILE",
        "ZEMT_SRCFILEMISSING", "ZEMT_ADDORDERERROR", nullptr, "ZEMT_DIRISEMPTY",
        "ZEMT_EWRONGORDER", "ZEMT_HASHMISMATCH", "ZEMT_NODYNPRESENT", "ZEMT_INSTIPMIERROR",
        "ZEMT_TRENNOTPRES", "ZEMT_NOINSTANCE", "ZEMT_NOSUCHREQUEST", "ZEMT_INVPARTNAME",
        "ZEMT_NOKAVERPRESENT", "ZEMT_KAVERDISABLED", "ZEMT_DYNPARTERR", "ZEMT_DETACHFAILED",
        "ZEMT_SMCFAILED", "ZEMT_DELETEDROPBOXERR", "ZEMT_READWRITEERR", "ZEMT_FINDMOUNTERR",
        "ZEMT_CMDTIMEDOUT", "ZEMT_SESSIONACTIVE", "ZEMT_ENDSESSERR", "ZEMT_INTERROR",
        "ZEMT_INVRQLREQ", "ZEMT_NOFILEFOUND", "ZEMT_GETSTATFAIL", "ZEMT_DYNPARTEXISTS",
        "ZEMT_SIZEGT2GB", "ZEMT_ATTACHPARTFAIL", "ZEMT_NOSPACEONKAVER", "ZEMT_GOTNOHANDLE",
        "ZEMT_PARTNOTMOUNTED", "ZEMT_FINDVOLFAILED", "ZEMT_GETVOLINFO", "ZEMT_FINDNEXTVOL",
        "ZEMT_DELDYNPARTERR", "ZEMT_GKAVFAILED", "ZEMT_TRENINSTALLERROR", "ZEMT_COPYVERIFYFAIL",
        "ZEMT_GETSTATEERROR", "ZEMT_SETSTATEERROR", "ZEMT_RESEXTCFG", "ZEMT_SETEXTCFG",
        "ZEMT_UNSUPPORTEDOS", "ZEMT_PACKAGEXMLERROR", "ZEMT_INVALID_QUERY", "ZEMT_KAVER_DISABLED",
        "ZEMT_ESX_USBARBITRATOR_SERVICE_RUNNING", "ZEMT_SIGNFILEMISSING", "ZEMT_PACKAGEXMLMISSING",
        "ZEMT_PAYLOADSIZEGTMAX", "ZEMT_BEGIN_SECUREUPDATE_FAILED",
        "ZEMT_PROCESS_SECUREUPDATE_FAILED", "ZEMT_END_SECUREUPDATE_FAILED",
        "ZEMT_GETSESSFAIL_Vemo", "ZEMT_CREATE_DYN_PART_FAILED"};
    if (code < sizeof names / sizeof names[0] && names[code] != nullptr) return names[code];
    if (code == ZEMT_MAX_THROW_MSG) return "ZEMT_MAX_THROW_MSG";
    return "unknown";
}

const char* osName(int code) {
    switch (code) {
        case REDHAT: return "redhat";
        case SUSE: return "suse";
        case XENSERVER: return "xenserver";
        case ELI: return "eli";
        case ESX: return "esx3";
        case ESX4: return "esx4";
        case ELI_NEW: return "eli-new";
        case ESX4_1: return "esx41";
        case CENTOS: return "centos";
        default: return "unknown";
    }
}

const char* generationName(int generation) {
    switch (generation) {
        case PreVemo: return "pre-vemo";
        case VemoGen: return "vemo";
        case SarnGen: return "sarn";
        default: return "unknown";
    }
}

const char* repositoryName(int kind) {
    switch (kind) {
        case fullKaverPresent: return "full";
        case KaverLite: return "lite";
        case Liter: return "liter";
        default: return "none";
    }
}

const char* flagName(unsigned value) {
    switch (value) {
        case 0: return "STATE_FLAG_NORMAL_BOOT";
        case 1: return "STATE_FLAG_GUI";
        case 4: return "STATE_FLAG_FIELD_SERVICE";
        case 5: return "STATE_FLAG_SSM";
        case 0x80: return "STATE_FLAG_OVERRIDE";
        default: return "unknown";
    }
}

std::string errorText(unsigned code) {
    return std::to_string(code) + " (" + errorName(code) + ")";
}

// ---- library access -----------------------------------------------------------

// Installs the emulated host when asked to; it must be in place before the
// first library object is built.
std::unique_ptr<CEmulatedHost> g_emulatedHost;

bool useEmulator(const std::string& dir) {
    std::error_code ec;
    if (!std::filesystem::exists(zemt_emu::JoinPath(dir, zemt_emu::files::kControllerConf), ec)) {
        std::cerr << "zemt: " << dir
                  << " is not an emulator state directory (create one with 'zemt emulator init "
                  << dir << "')\n";
        return false;
    }
    g_emulatedHost.reset(new CEmulatedHost(dir));
    CPlatformLayer::SetPlatform(g_emulatedHost.get());
    return true;
}

bool openSession(secureKaver& kaver) {
    return kaver.BeginKaverSessionExtended(kQuerySessionTimeout) ||
           kaver.BeginKaverSession(kQuerySessionTimeout);
}

// ---- info ---------------------------------------------------------------------

struct PowerSupplyInfo {
    unsigned index;
    bool ok;
    unsigned compId;
    std::string version;
    bool present;
};

struct InfoReport {
    bool trenLoaded = false;
    bool initOk = false;
    unsigned lastError = 0;
    int os = -1;
    bool queried = false;  // the controller was asked
    int generation = Failure;
    int repository = noKaverPresent;
    bool accessOk = false;  // the access state could be read
    bool enabled = false;
    unsigned accessState = 0;
    unsigned accessError = 0;
    int monolithic = -1;
    int depCheck = -1;
    bool flagOk = false;
    unsigned flag = 0;
    unsigned flagError = 0;
    bool psCountOk = false;
    unsigned psCount = 0;
    std::vector<PowerSupplyInfo> supplies;
};

InfoReport gatherInfo() {
    InfoReport r;
    secureKaver kaver;
    r.lastError = kaver.getZEMTError();
    r.trenLoaded = zolipmiLib != nullptr;
    r.initOk = kaver.InitOk;
    r.os = kaver.LinuxOSVer;
    r.repository = kaver.KAVERType;
    if (!kaver.InitOk) return r;  // the object must not be used for controller work

    r.queried = true;
    r.generation = kaver.GetSystemGeneration();
    r.accessOk = true;
    r.enabled = kaver.IsKaverEnabled();
    r.accessError = kaver.getZEMTError();
    r.accessOk = r.accessError == 0;
    r.accessState = kaver.errorInfo.errSubcode;
    r.monolithic = kaver.isMonolithic();
    r.depCheck = kaver.isDepCheckSupported();
    if (openSession(kaver)) {
        uint8_t value = 0;
        if (kaver.getStateFlag(value) == 0) {
            r.flagOk = true;
            r.flag = value;
        } else {
            r.flagError = kaver.getZEMTError();
        }
        kaver.EndKaverSession();
    } else {
        r.flagError = kaver.getZEMTError();
    }
    uint8_t count = 0;
    if (kaver.getPSCount(count) == 0) {
        r.psCountOk = true;
        r.psCount = count;
        for (unsigned i = 1; i <= count; ++i) {
            PowerSupplyInfo ps{i, false, 0, "", false};
            unsigned int compId = 0, present = 0;
            std::string version;
            if (kaver.getPSUVersion(static_cast<uint8_t>(i), compId, version, present) == 0) {
                ps.ok = true;
                ps.compId = compId;
                ps.version = version;
                ps.present = present != 0;
            }
            r.supplies.push_back(ps);
        }
    }
    return r;
}

void printInfoText(const InfoReport& r) {
    std::cout << "Hardware-access library: " << (r.trenLoaded ? "loaded" : "not loaded") << "\n";
    std::cout << "Library ready:           " << (r.initOk ? "yes" : "no") << "\n";
    std::cout << "Last error:              " << errorText(r.lastError) << "\n";
    std::cout << "Host OS:                 " << osName(r.os) << " (" << r.os << ")\n";
    if (!r.queried) {
        std::cout << "Controller:              not reachable";
        if (r.lastError == ZEMT_TRENINSTALLERROR)
            std::cout << " (the hardware-access library is missing)";
        std::cout << "\n";
        return;
    }
    std::cout << "Generation:              " << generationName(r.generation) << " (" << r.generation
              << ")\n";
    std::cout << "Repository:              " << repositoryName(r.repository) << "\n";
    if (r.accessOk)
        std::cout << "Repository access:       " << (r.enabled ? "enabled" : "disabled")
                  << " (state " << r.accessState << ")\n";
    else
        std::cout << "Repository access:       unknown, error " << errorText(r.accessError) << "\n";
    std::cout << "System:                  "
              << (r.monolithic == 1 ? "monolithic" : r.monolithic == 0 ? "modular" : "unknown")
              << "\n";
    std::cout << "Dependency check:        "
              << (r.depCheck == 1 ? "supported" : r.depCheck == 0 ? "not supported" : "unknown")
              << "\n";
    if (r.flagOk)
        std::cout << "State flag:              " << r.flag << " (" << flagName(r.flag) << ")\n";
    else
        std::cout << "State flag:              unknown, error " << errorText(r.flagError) << "\n";
    if (!r.psCountOk) {
        std::cout << "Power supplies:          unknown\n";
        return;
    }
    std::cout << "Power supplies:          " << r.psCount << "\n";
    for (const PowerSupplyInfo& ps : r.supplies) {
        std::cout << "  PSU " << ps.index << ": ";
        if (!ps.ok) {
            std::cout << "no answer\n";
            continue;
        }
        std::cout << (ps.present ? "present" : "absent") << ", version " << ps.version
                  << ", component id " << ps.compId << "\n";
    }
}

void printInfoJson(const InfoReport& r) {
    JsonWriter j;
    j.BeginObject();
    j.Key("hardwareAccessLibrary");
    j.BeginObject();
    j.Key("loaded");
    j.Bool(r.trenLoaded);
    j.Key("ready");
    j.Bool(r.initOk);
    j.EndObject();
    j.Key("lastError");
    j.BeginObject();
    j.Key("code");
    j.Number(r.lastError);
    j.Key("name");
    j.String(errorName(r.lastError));
    j.EndObject();
    j.Key("hostOS");
    j.BeginObject();
    j.Key("code");
    j.Number(r.os);
    j.Key("name");
    j.String(osName(r.os));
    j.EndObject();
    j.Key("controllerReachable");
    j.Bool(r.queried);
    if (r.queried) {
        j.Key("generation");
        j.BeginObject();
        j.Key("code");
        j.Number(r.generation);
        j.Key("name");
        j.String(generationName(r.generation));
        j.EndObject();
        j.Key("repository");
        j.String(repositoryName(r.repository));
        j.Key("access");
        j.BeginObject();
        j.Key("known");
        j.Bool(r.accessOk);
        j.Key("enabled");
        j.Bool(r.enabled);
        j.Key("state");
        j.Number(r.accessState);
        j.EndObject();
        j.Key("system");
        if (r.monolithic < 0)
            j.Null();
        else
            j.String(r.monolithic == 1 ? "monolithic" : "modular");
        j.Key("dependencyCheckSupported");
        if (r.depCheck < 0)
            j.Null();
        else
            j.Bool(r.depCheck == 1);
        j.Key("stateFlag");
        if (r.flagOk) {
            j.BeginObject();
            j.Key("value");
            j.Number(r.flag);
            j.Key("name");
            j.String(flagName(r.flag));
            j.EndObject();
        } else {
            j.Null();
            j.Key("stateFlagError");
            j.Number(r.flagError);
        }
        j.Key("powerSupplies");
        if (!r.psCountOk) {
            j.Null();
        } else {
            j.BeginArray();
            for (const PowerSupplyInfo& ps : r.supplies) {
                j.BeginObject();
                j.Key("index");
                j.Number(ps.index);
                j.Key("answered");
                j.Bool(ps.ok);
                j.Key("present");
                j.Bool(ps.present);
                j.Key("version");
                j.String(ps.version);
                j.Key("componentId");
                j.Number(ps.compId);
                j.EndObject();
            }
            j.EndArray();
        }
    }
    j.EndObject();
    std::cout << j.Text() << "\n";
}

int cmdInfo(const std::vector<std::string>& args) {
    bool json = false;
    for (const std::string& arg : args) {
        if (arg == "--json")
            json = true;
        else
            return usageError("info: unexpected argument '" + arg + "'");
    }
    InfoReport report = gatherInfo();
    if (json)
        printInfoJson(report);
    else
        printInfoText(report);
    return report.queried ? kExitOk : kExitFailed;
}

// ---- flag -----------------------------------------------------------------------

int cmdFlag(const std::vector<std::string>& args) {
    bool json = false;
    std::vector<std::string> words;
    for (const std::string& arg : args) {
        if (arg == "--json")
            json = true;
        else
            words.push_back(arg);
    }
    bool set = !words.empty() && words[0] == "set";
    if (words.empty() || (words[0] != "get" && !set) || (set && words.size() != 2) ||
        (!set && words.size() != 1))
        return usageError("flag wants 'get' or 'set VALUE'");
    long value = 0;
    if (set && (!zemt_emu::ParseNumber(words[1], value) || value < 0 || value > 0xFF))
        return usageError("flag value '" + words[1] + "' is not a byte (0-255 or 0x00-0xff)");

    secureKaver kaver;
    std::string failure;
    unsigned code = 0;
    uint8_t flag = 0;
    if (!kaver.InitOk) {
        code = kaver.getZEMTError();
        failure = "the library could not start";
    } else if (!openSession(kaver)) {
        code = kaver.getZEMTError();
        failure = "the controller refused a session";
    } else {
        if (set) {
            if (kaver.setStateFlag(static_cast<uint8_t>(value)) != 0) {
                code = kaver.getZEMTError();
                failure = "the controller refused the state flag";
            }
            flag = static_cast<uint8_t>(value);
        } else if (kaver.getStateFlag(flag) != 0) {
            code = kaver.getZEMTError();
            failure = "the controller did not report the state flag";
        }
        if (!kaver.EndKaverSession() && failure.empty()) {
            code = kaver.getZEMTError();
            failure = "the session could not be closed";
        }
    }

    if (json) {
        JsonWriter j;
        j.BeginObject();
        j.Key("ok");
        j.Bool(failure.empty());
        j.Key("operation");
        j.String(set ? "set" : "get");
        if (failure.empty()) {
            j.Key("value");
            j.Number(flag);
            j.Key("name");
            j.String(flagName(flag));
        } else {
            j.Key("error");
            j.BeginObject();
            j.Key("code");
            j.Number(code);
            j.Key("name");
            j.String(errorName(code));
            j.Key("message");
            j.String(failure);
            j.EndObject();
        }
        j.EndObject();
        std::cout << j.Text() << "\n";
    } else if (failure.empty()) {
        std::cout << "State flag: " << static_cast<unsigned>(flag) << " (" << flagName(flag) << ")"
                  << (set ? " set" : "") << "\n";
    }
    if (!failure.empty()) {
        std::cerr << "zemt: flag " << (set ? "set" : "get") << " failed: " << failure << ", error "
                  << errorText(code) << "\n";
        return kExitFailed;
    }
    return kExitOk;
}

// ---- emulator ---------------------------------------------------------------------

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
    if (!zemt_emu::InitStateDir(o, error)) {
        std::cerr << "zemt: emulator init: " << error << "\n";
        return kExitFailed;
    }
    std::cout << "Emulator state created in " << o.dir << "\n";
    return kExitOk;
}

int cmdEmulator(const std::vector<std::string>& args) {
    if (args.empty()) return usageError("emulator wants 'init' or 'fault'");
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "init") return cmdEmulatorInit(rest);
    if (args[0] == "fault") {
        if (rest.size() != 2) return usageError("emulator fault wants DIR and one quoted LINE");
        std::string error;
        if (!zemt_emu::AppendFault(rest[0], rest[1], error)) {
            std::cerr << "zemt: emulator fault: " << error << "\n";
            return kExitFailed;
        }
        return kExitOk;
    }
    return usageError("emulator wants 'init' or 'fault', not '" + args[0] + "'");
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string emulatorDir;
    std::size_t i = 0;
    while (i < args.size() && !args[i].empty() && args[i][0] == '-') {
        if (args[i] == "--emulator") {
            if (i + 1 >= args.size()) return usageError("--emulator wants a state directory");
            emulatorDir = args[i + 1];
            i += 2;
        } else if (args[i] == "--help" || args[i] == "-h") {
            std::cout << kUsage;
            return kExitOk;
        } else {
            return usageError("unknown option '" + args[i] + "'");
        }
    }
    if (i >= args.size()) return usageError("no command given");
    std::string command = args[i];
    std::vector<std::string> rest(args.begin() + static_cast<long>(i) + 1, args.end());

    if (command == "help") {
        std::cout << (!rest.empty() && rest[0] == "emulator" ? kEmulatorUsage : kUsage);
        return kExitOk;
    }
    if (command == "emulator") {
        if (!emulatorDir.empty()) return usageError("--emulator does not go with 'emulator'");
        return cmdEmulator(rest);
    }
    if (command != "info" && command != "flag") return usageError("unknown command '" + command + "'");
    if (!emulatorDir.empty() && !useEmulator(emulatorDir)) return kExitFailed;
    return command == "info" ? cmdInfo(rest) : cmdFlag(rest);
}
