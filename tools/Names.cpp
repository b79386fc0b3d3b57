// SPDX-License-Identifier: Apache-2.0
// Names and meanings of the library's codes, as the tool prints them.
#include <cstdio>

#include "Tool.h"
#include "UpdRollbackWrapper.h"
#include "secureKaver.h"

namespace zemt_tool {

namespace {

struct CodeWords {
    const char* name;
    const char* meaning;
};

// Indexed by code; code 10 is not assigned.
const CodeWords kCodes[] = {
    {"ZEMT_OK_CODE", "no error"},
    {"ZEMT_IPMIERROR", "a request to the controller failed in transport or was refused"},
    {"ZEMT_NOKAVERSESS", "no session with the controller is open"},
    {"ZEMT_INVKAVERPART", "the controller does not know that partition"},
    {"ZEMT_PARTSIZESMALL", "the drop box the controller granted is smaller than the payload needs"},
    {"ZEMT_GETSESSFAIL", "the controller refused a session (it may hold one for another program)"},
    {"ZEMT_NOSRCFILE", "no source file was named"},
    {"ZEMT_NODESTFILE", "no destination was named"},
    {"ZEMT_SRCFILEMISSING", "a source file is missing or cannot be read"},
    {"ZEMT_ADDORDERERROR", "the copy-list entries are out of order"},
    {nullptr, nullptr},
    {"ZEMT_DIRISEMPTY", "the directory is empty"},
    {"ZEMT_EWRONGORDER", "the calls came in the wrong order (a copy list is already open, or none is)"},
    {"ZEMT_HASHMISMATCH", "a file's MD5 did not match"},
    {"ZEMT_NODYNPRESENT", "the drop box is not there"},
    {"ZEMT_INSTIPMIERROR", "the hardware-access library could not be installed"},
    {"ZEMT_TRENNOTPRES", "the hardware-access library is not present"},
    {"ZEMT_NOINSTANCE", "the library object is not usable"},
    {"ZEMT_NOSUCHREQUEST", "the controller does not know that request"},
    {"ZEMT_INVPARTNAME", "the partition name is not one the library can use"},
    {"ZEMT_NOKAVERPRESENT", "no repository: the controller reports none, or its repository query failed"},
    {"ZEMT_KAVERDISABLED", "the repository is disabled"},
    {"ZEMT_DYNPARTERR", "a drop box could not be made or used"},
    {"ZEMT_DETACHFAILED", "a partition could not be detached"},
    {"ZEMT_SMCFAILED",
     "the controller could not carry out the request (for a copy: the update document was refused, a "
     "target was not writable, or the partition had no room)"},
    {"ZEMT_DELETEDROPBOXERR", "the drop box could not be deleted"},
    {"ZEMT_READWRITEERR", "reading or writing a file failed"},
    {"ZEMT_FINDMOUNTERR", "the partition's disk was not found or could not be mounted on the host"},
    {"ZEMT_CMDTIMEDOUT", "the controller did not finish in time"},
    {"ZEMT_SESSIONACTIVE", "a session is already open"},
    {"ZEMT_ENDSESSERR", "the session could not be closed"},
    {"ZEMT_INTERROR", "an internal error of the library (a host command or a file operation failed)"},
    {"ZEMT_INVRQLREQ", "not an inventory-log update request"},
    {"ZEMT_NOFILEFOUND", "the controller's answer file is missing, unreadable or larger than 4 MiB"},
    {"ZEMT_GETSTATFAIL", "the controller's status could not be read"},
    {"ZEMT_DYNPARTEXISTS", "a drop box exists already"},
    {"ZEMT_SIZEGT2GB", "a file is larger than 2 GiB"},
    {"ZEMT_ATTACHPARTFAIL", "the controller could not attach the partition"},
    {"ZEMT_NOSPACEONKAVER", "the repository has no room for that"},
    {"ZEMT_GOTNOHANDLE", "the controller gave no session handle"},
    {"ZEMT_PARTNOTMOUNTED", "the partition is not mounted"},
    {"ZEMT_FINDVOLFAILED", "the partition's volume was not found"},
    {"ZEMT_GETVOLINFO", "the volume's information could not be read"},
    {"ZEMT_FINDNEXTVOL", "the next volume was not found"},
    {"ZEMT_DELDYNPARTERR", "the drop box could not be deleted"},
    {"ZEMT_GKAVFAILED", "the repository's access state could not be read"},
    {"ZEMT_TRENINSTALLERROR",
     "the hardware-access library (libzolipm32.so) could not be found or loaded"},
    {"ZEMT_COPYVERIFYFAIL", "verification failed: the copies could not be read back, or differed"},
    {"ZEMT_GETSTATEERROR", "the controller did not report its state flag"},
    {"ZEMT_SETSTATEERROR", "the controller refused the state flag"},
    {"ZEMT_RESEXTCFG", "the extended configuration could not be reserved"},
    {"ZEMT_SETEXTCFG", "the extended configuration could not be set"},
    {"ZEMT_UNSUPPORTEDOS", "the host's operating system is not one the library supports"},
    {"ZEMT_PACKAGEXMLERROR", "package.xml could not be read"},
    {"ZEMT_INVALID_QUERY", "not a query the controller answers"},
    {"ZEMT_KAVER_DISABLED", "the repository is disabled"},
    {"ZEMT_ESX_USBARBITRATOR_SERVICE_RUNNING",
     "the host's USB arbitrator service is running and keeps the repository's disks"},
    {"ZEMT_SIGNFILEMISSING", "the payload's signature file is missing"},
    {"ZEMT_PACKAGEXMLMISSING", "package.xml is missing"},
    {"ZEMT_PAYLOADSIZEGTMAX", "the payload is larger than a drop box can be"},
    {"ZEMT_BEGIN_SECUREUPDATE_FAILED", "the controller refused to begin the secure update"},
    {"ZEMT_PROCESS_SECUREUPDATE_FAILED", "the controller could not process the secure update"},
    {"ZEMT_END_SECUREUPDATE_FAILED", "the controller could not end the secure update"},
    {"ZEMT_GETSESSFAIL_Vemo",
     "the controller refused a session: it holds one for another program.  A controller releases a "
     "session when that program ends it, or when no request came for its watchdog time (up to 20 "
     "minutes); the emulator also releases it as soon as that process has ended"},
    {"ZEMT_CREATE_DYN_PART_FAILED", "the controller could not make a drop box"},
};

// The update wrapper's codes, from UPD_NOFULLKAVERPRESENT (80) on.
const CodeWords kUpdateCodes[] = {
    {"UPD_NOFULLKAVERPRESENT", "the controller has no full repository"},
    {"UPD_NOCURRENTDIRECTORY", "the working directory could not be read"},
    {"UPD_COMPIDOPENERROR", "the component file could not be written in the package's folder"},
    {"UPD_SSIBOPENERROR", "the task file could not be written in the package's folder"},
    {"UPD_ADDFILEERROR", "the copy list refused a file of the update"},
    {"UPD_PKGERROR", "the package's package.xml is not where the update looks for it"},
    {"UPD_PAYLOADERROR",
     "the payload could not be read, or the component's folders in KAV022 could not be examined"},
    {"UPD_NOPAYLOAD", "the payload folder is empty"},
};

const CodeWords* wordsOf(unsigned code) {
    if (code < sizeof kCodes / sizeof kCodes[0] && kCodes[code].name != nullptr) return &kCodes[code];
    const unsigned update = code - UPD_NOFULLKAVERPRESENT;
    if (code >= UPD_NOFULLKAVERPRESENT && update < sizeof kUpdateCodes / sizeof kUpdateCodes[0])
        return &kUpdateCodes[update];
    return nullptr;
}

}  // namespace

const char* errorName(unsigned code) {
    if (const CodeWords* words = wordsOf(code)) return words->name;
    if (code == ZEMT_MAX_THROW_MSG) return "ZEMT_MAX_THROW_MSG";
    return "unknown";
}

std::string errorMeaning(unsigned code) {
    if (const CodeWords* words = wordsOf(code)) return words->meaning;
    return "a code the tool does not know";
}

std::string errorText(unsigned code) { return std::to_string(code) + " (" + errorName(code) + ")"; }

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

std::string hex16(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value & 0xFFFFu);
    return text;
}

Json namedCode(long long code, const char* name) { return Json{{"code", code}, {"name", name}}; }

}  // namespace zemt_tool
