// zemt info: the controller, repository and host as the library sees them.
#include <iostream>
#include <string>
#include <vector>

#include "Json.h"
#include "Tool.h"
#include "secureKaver.h"
#include "zemt.h"

namespace zemt_tool {

namespace {

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
    jsonNamedCode(j, r.lastError, errorName(r.lastError));
    j.Key("hostOS");
    jsonNamedCode(j, r.os, osName(r.os));
    j.Key("controllerReachable");
    j.Bool(r.queried);
    if (r.queried) {
        j.Key("generation");
        jsonNamedCode(j, r.generation, generationName(r.generation));
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

}  // namespace

int cmdInfo(const std::vector<std::string>& args) {
    bool json = false;
    Args words = takeJsonFlag(args, json);
    if (!words.empty()) return usageError("info: unexpected argument '" + words[0] + "'");
    InfoReport report = gatherInfo();
    if (json)
        printInfoJson(report);
    else
        printInfoText(report);
    return report.queried ? kExitOk : kExitFailed;
}

}  // namespace zemt_tool
