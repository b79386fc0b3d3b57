// zemt info: the controller, repository and host as the library sees them.
#include <CLI/CLI.hpp>
#include <iostream>
#include <string>
#include <vector>

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

// A controller query: its value, or the code of the failure that kept it
// unknown (a failed query is never shown as a definite state).
struct Query {
    bool known = false;
    unsigned error = 0;
};

struct InfoReport {
    bool trenLoaded = false;
    bool initOk = false;
    unsigned lastError = 0;
    int os = -1;
    bool queried = false;  // the controller was asked
    Query generationQuery;
    int generation = ::Failure;
    Query repositoryQuery;
    int repository = noKaverPresent;
    Query access;
    bool enabled = false;
    unsigned accessState = 0;
    int monolithic = -1;
    int depCheck = -1;
    Query flag;
    unsigned flagValue = 0;
    Query psCount;
    std::vector<PowerSupplyInfo> supplies;
};

// Whether the query just made left an error behind.
void judge(secureKaver& kaver, Query& q) {
    q.error = kaver.getZEMTError();
    q.known = q.error == 0;
}

InfoReport gatherInfo() {
    InfoReport r;
    secureKaver kaver;
    r.lastError = kaver.getZEMTError();
    r.trenLoaded = zolipmiLib != nullptr;
    r.initOk = kaver.InitOk;
    r.os = kaver.LinuxOSVer;
    if (!kaver.InitOk) return r;  // the object must not be used for controller work

    r.queried = true;
    kaver.storeErrorInfo(0);
    r.generation = kaver.GetSystemGeneration();
    r.generationQuery.known = r.generation != ::Failure;
    // Asked afresh: the kind the constructor read says "none" also when
    // the query failed.
    kaver.storeErrorInfo(0);
    r.repository = kaver.GetKaverType();
    judge(kaver, r.repositoryQuery);
    r.enabled = kaver.IsKaverEnabled();
    judge(kaver, r.access);
    r.accessState = kaver.errorInfo.errSubcode;
    r.monolithic = kaver.isMonolithic();
    r.depCheck = kaver.isDepCheckSupported();
    if (openSession(kaver)) {
        uint8_t value = 0;
        kaver.getStateFlag(value);
        judge(kaver, r.flag);
        r.flagValue = value;
        kaver.EndKaverSession();
    } else {
        r.flag.error = kaver.getZEMTError();
    }
    uint8_t count = 0;
    r.psCount.known = kaver.getPSCount(count) == 0;
    if (r.psCount.known) {
        for (unsigned i = 1; i <= count; ++i) {
            PowerSupplyInfo ps{i, false, 0, "", false};
            unsigned int compId = 0, present = 0;
            std::string version;
            if (kaver.getPSUVersion(static_cast<uint8_t>(i), compId, version, present) == 0)
                ps = PowerSupplyInfo{i, true, compId, version, present != 0};
            r.supplies.push_back(ps);
        }
    }
    return r;
}

std::string unknown(const Query& q) {
    return "unknown (the query failed" + (q.error != 0 ? ", error " + errorText(q.error) : std::string()) + ")";
}

void printInfoText(const InfoReport& r) {
    std::cout << "Hardware-access library: " << (r.trenLoaded ? "loaded" : "not loaded") << "\n";
    std::cout << "Library ready:           " << (r.initOk ? "yes" : "no") << "\n";
    std::cout << "Last error:              " << errorText(r.lastError) << "\n";
    std::cout << "Host OS:                 " << osName(r.os) << " (" << r.os << ")\n";
    if (!r.queried) {
        std::cout << "Controller:              not reachable";
        if (r.lastError == ZEMT_TRENINSTALLERROR) std::cout << " (the hardware-access library is missing)";
        std::cout << "\n";
        return;
    }
    std::cout << "Generation:              "
              << (r.generationQuery.known
                      ? std::string(generationName(r.generation)) + " (" + std::to_string(r.generation) + ")"
                      : unknown(r.generationQuery))
              << "\n";
    std::cout << "Repository:              "
              << (r.repositoryQuery.known ? repositoryName(r.repository) : unknown(r.repositoryQuery)) << "\n";
    if (r.access.known)
        std::cout << "Repository access:       " << (r.enabled ? "enabled" : "disabled") << " (state "
                  << r.accessState << ")\n";
    else
        std::cout << "Repository access:       " << unknown(r.access) << "\n";
    std::cout << "System:                  "
              << (r.monolithic == 1 ? "monolithic" : r.monolithic == 0 ? "modular" : "unknown (the query failed)")
              << "\n";
    std::cout << "Dependency check:        "
              << (r.depCheck == 1 ? "supported" : r.depCheck == 0 ? "not supported" : "unknown (the query failed)")
              << "\n";
    if (r.flag.known)
        std::cout << "State flag:              " << r.flagValue << " (" << flagName(r.flagValue) << ")\n";
    else
        std::cout << "State flag:              " << unknown(r.flag) << "\n";
    if (!r.psCount.known) {
        std::cout << "Power supplies:          unknown (the query failed)\n";
        return;
    }
    std::cout << "Power supplies:          " << r.supplies.size() << "\n";
    for (const PowerSupplyInfo& ps : r.supplies) {
        std::cout << "  PSU " << ps.index << ": ";
        if (!ps.ok)
            std::cout << "no answer\n";
        else
            std::cout << (ps.present ? "present" : "absent") << ", version " << ps.version << ", component id "
                      << ps.compId << "\n";
    }
}

Json infoJson(const InfoReport& r) {
    Json j;
    j["hardwareAccessLibrary"] = Json{{"loaded", r.trenLoaded}, {"ready", r.initOk}};
    j["lastError"] = namedCode(r.lastError, errorName(r.lastError));
    j["hostOS"] = namedCode(r.os, osName(r.os));
    j["controllerReachable"] = r.queried;
    // Every key is there; a value the controller did not give is null.
    j["generation"] = r.generationQuery.known ? namedCode(r.generation, generationName(r.generation)) : Json(nullptr);
    j["repository"] = r.repositoryQuery.known ? Json(repositoryName(r.repository)) : Json(nullptr);
    j["access"] = Json{{"known", r.access.known},
                       {"enabled", r.access.known && r.enabled},
                       {"state", r.access.known ? Json(r.accessState) : Json(nullptr)}};
    j["system"] = r.monolithic < 0 ? Json(nullptr) : Json(r.monolithic == 1 ? "monolithic" : "modular");
    j["dependencyCheckSupported"] = r.depCheck < 0 ? Json(nullptr) : Json(r.depCheck == 1);
    j["stateFlag"] = r.flag.known ? Json{{"value", r.flagValue}, {"name", flagName(r.flagValue)}} : Json(nullptr);
    j["stateFlagError"] = r.queried && !r.flag.known ? Json(r.flag.error) : Json(nullptr);
    Json supplies = r.psCount.known ? Json::array() : Json(nullptr);
    for (const PowerSupplyInfo& ps : r.supplies)
        supplies.push_back(Json{{"index", ps.index},
                                {"answered", ps.ok},
                                {"present", ps.present},
                                {"version", ps.version},
                                {"componentId", ps.compId}});
    j["powerSupplies"] = supplies;
    return j;
}

}  // namespace

void addInfoCommand(CLI::App& root, CommandTable& table) {
    addCommand(
        root, table,
        {"info", "the controller, repository and host as the library sees them",
         "Loads the hardware-access library and asks the controller for its generation, repository, access "
         "state,\nsystem kind, dependency-check support, state flag and power supplies.  A query that fails is "
         "shown as\nunknown, with its error.",
         "zemt --emulator /tmp/ctl info\nzemt info --json", true},
        []() {
            InfoReport r;
            Problem failure;
            if (prepareHost(failure)) {
                r = gatherInfo();
                if (!r.queried)
                    failure.set(r.lastError == ZEMT_TRENINSTALLERROR
                                    ? "the controller is not reachable: the hardware-access library is missing"
                                    : "the controller is not reachable",
                                r.lastError);
            }
            return report(infoJson(r), failure, [&]() {
                if (r.initOk || r.lastError != 0) printInfoText(r);
            });
        });
}

}  // namespace zemt_tool
