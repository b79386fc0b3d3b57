// Names of the library's codes, as the tool prints them.
#include <cctype>
#include <cstdio>
#include <iostream>

#include "Json.h"
#include "Tool.h"
#include "secureKaver.h"

namespace zemt_tool {

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

int exitStatus(const char* command, const std::string& failure, unsigned code) {
    if (failure.empty()) return kExitOk;
    std::cerr << "zemt: " << command << ": " << failure;
    if (code != 0) std::cerr << ", error " << errorText(code);
    std::cerr << "\n";
    if (*zemtLastFailureReason() != '\0') std::cerr << "zemt: reason: " << zemtLastFailureReason() << "\n";
    return kExitFailed;
}

std::string folderOf(const std::string& label) {
    std::string folder = label;
    for (char& c : folder) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return folder;
}

std::string errorText(unsigned code) {
    return std::to_string(code) + " (" + errorName(code) + ")";
}

std::string hex16(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value & 0xFFFFu);
    return text;
}

void jsonNamedCode(JsonWriter& j, long long code, const char* name) {
    j.BeginObject();
    j.Key("code");
    j.Number(code);
    j.Key("name");
    j.String(name);
    j.EndObject();
}

void jsonError(JsonWriter& j, unsigned code, const std::string& message) {
    j.BeginObject();
    j.Key("code");
    // A failure the library gave no code for (or one of the tool's own).
    if (code == 0)
        j.Null();
    else
        j.Number(code);
    j.Key("name");
    if (code == 0)
        j.Null();
    else
        j.String(errorName(code));
    if (!message.empty()) {
        j.Key("message");
        j.String(message);
    }
    j.EndObject();
}

void progress(const std::string& line) {
    std::cerr << line << std::endl;
}

void printJsonResult(JsonWriter& j, unsigned code, const std::string& failure) {
    if (!failure.empty()) {
        j.Key("error");
        jsonError(j, code, failure);
    }
    j.EndObject();
    std::cout << j.Text() << "\n";
}

}  // namespace zemt_tool
