// zemt init: run the library's full initialisation (secureKaverInit) and
// report what each step left behind.  The steps happen inside one library
// call, so the tool can only look before and after it: a short session of
// its own first reads the dynamic-partition bitmap, so that the report can
// say whether a left-over drop box was removed.
#include <CLI/CLI.hpp>
#include <iostream>
#include <string>
#include <vector>

#include "Partitions.h"
#include "Tool.h"
#include "secureKaver.h"
#include "zemt.h"

namespace zemt_tool {

namespace {

struct InitReport {
    bool trenLoaded = false;
    bool constructed = false;  // the library object is usable
    bool beforeKnown = false;  // the drop-box look-up before initialising worked
    uint16_t dynBefore = 0;
    bool ok = false;
    unsigned error = 0;
    Problem failure;
    int generation = ::Failure;
    int repository = noKaverPresent;
    bool accessKnown = false;
    bool enabled = false;
    unsigned accessState = 0;
    unsigned sessionHandle = 0;
    std::vector<PartitionRow> partitions;
    bool afterKnown = false;
    uint16_t dynAfter = 0;
    uint32_t maxDropBox = 0;
};

void runInit(InitReport& r) {
    secureKaver kaver;
    r.trenLoaded = zolipmiLib != nullptr;
    r.constructed = kaver.InitOk;
    if (!kaver.InitOk) {
        r.error = kaver.getZEMTError();
        r.failure.set("the library could not start", r.error);
        return;
    }

    progress("initialising: looking for a left-over drop box…");
    if (openSession(kaver)) {
        // A failed query keeps the last good bitmap: judge it by a fresh error.
        kaver.storeErrorInfo(0);
        r.dynBefore = kaver.getDynPartIndexInfo();
        r.beforeKnown = kaver.getZEMTError() == 0;
        kaver.EndKaverSession();
    }

    progress("initialising: generation, repository, session, detaching all partitions, "
             "removing a left-over drop box (this can take a while)…");
    r.ok = kaver.secureKaverInit();
    r.error = kaver.getZEMTError();
    r.generation = GenerationType;
    r.repository = kaver.KAVERType;
    r.maxDropBox = kaver.MAX_DYN_PART_SIZE;
    if (r.ok) {
        r.sessionHandle = kaver.thisSession.KAVER_Handle;
        r.partitions = reportedPartitions(kaver);
        kaver.storeErrorInfo(0);
        r.dynAfter = kaver.getDynPartIndexInfo();
        r.afterKnown = kaver.getZEMTError() == 0;
    } else if (r.repository == noKaverPresent) {
        r.failure.set(whyNoRepository(kaver), r.error);
    } else {
        r.failure.set(r.error == ZEMT_KAVER_DISABLED ? "the repository is disabled" : "the controller refused a session",
                      r.error);
    }
    // The access state secureKaverInit checked is not kept: ask once more.
    if (r.repository != noKaverPresent) {
        r.enabled = kaver.IsKaverEnabled();
        r.accessKnown = kaver.getZEMTError() == 0 || kaver.getZEMTError() == ZEMT_KAVER_DISABLED;
        r.accessState = kaver.errorInfo.errSubcode;
    }
    if (r.ok) progress("initialising: closing the session…");
}  // the destructor closes the session

std::string dropBoxSummary(const InitReport& r) {
    if (!r.beforeKnown) return "not known (the look-up before initialising failed)";
    if (r.dynBefore == 0) return "none";
    std::string text = hex16(r.dynBefore) + " before initialisation";
    if (!r.afterKnown) return text + ", not known after";
    text += ", " + hex16(r.dynAfter) + " after";
    return text + (r.dynAfter != r.dynBefore ? " (removed)" : " (still there)");
}

void printText(const InitReport& r) {
    std::cout << "Hardware-access library: " << (r.trenLoaded ? "loaded" : "not loaded") << "\n";
    if (!r.constructed) {
        std::cout << "Initialisation:          not run, error " << errorText(r.error) << "\n";
        return;
    }
    std::cout << "Initialisation:          "
              << (r.ok ? std::string("done")
                       : r.error == 0 ? "failed (" + r.failure.message + "; the library sets no error code)"
                                      : "failed, error " + errorText(r.error))
              << "\n";
    std::cout << "Generation:              " << generationName(r.generation) << " (" << r.generation
              << ")\n";
    std::cout << "Repository:              " << repositoryName(r.repository) << "\n";
    if (r.accessKnown)
        std::cout << "Repository access:       " << (r.enabled ? "enabled" : "disabled") << " (state "
                  << r.accessState << ")\n";
    else if (r.repository != noKaverPresent)
        std::cout << "Repository access:       unknown\n";
    if (r.ok) {
        std::cout << "Session handle:          " << hex16(r.sessionHandle) << "\n";
        std::cout << "Static partitions:       " << r.partitions.size() << "\n";
        printPartitionsText(r.partitions, "  ");
    }
    std::cout << "Left-over drop box:      " << dropBoxSummary(r) << "\n";
    std::cout << "Largest drop box:        " << r.maxDropBox << " bytes (" << r.maxDropBox / 1048576
              << " MiB)\n";
}

Json initJson(const InitReport& r) {
    Json j;
    j["hardwareAccessLibrary"] = Json{{"loaded", r.trenLoaded}, {"ready", r.constructed}};
    j["generation"] = r.constructed ? namedCode(r.generation, generationName(r.generation)) : Json(nullptr);
    j["repository"] = r.constructed ? Json(repositoryName(r.repository)) : Json(nullptr);
    j["access"] = r.accessKnown ? Json{{"enabled", r.enabled}, {"state", r.accessState}} : Json(nullptr);
    j["sessionHandle"] = r.ok ? Json(r.sessionHandle) : Json(nullptr);
    j["partitions"] = jsonPartitions(r.partitions);
    j["dropBox"] = Json{{"before", r.beforeKnown ? Json(r.dynBefore) : Json(nullptr)},
                        {"after", r.afterKnown ? Json(r.dynAfter) : Json(nullptr)},
                        {"removed", r.beforeKnown && r.afterKnown ? Json(r.dynBefore != 0 && r.dynAfter != r.dynBefore)
                                                                  : Json(nullptr)}};
    j["maxDropBoxSize"] = r.constructed ? Json(r.maxDropBox) : Json(nullptr);
    return j;
}

}  // namespace

void addInitCommand(CLI::App& root, CommandTable& table) {
    addCommand(root, table,
               {"init", "run the library's full initialisation and report each step",
                "First looks for a left-over drop box in a short session of its own, then runs the initialisation:\n"
                "generation, repository, session, detaching all partitions, removing a left-over drop box.",
                "zemt --emulator /tmp/ctl init\nzemt --emulator /tmp/ctl init --json", true},
               []() {
                   InitReport r;
                   if (prepareHost(r.failure)) runInit(r);
                   return report(initJson(r), r.failure, [&]() {
                       if (r.constructed || r.error != 0) printText(r);
                   });
               });
}

}  // namespace zemt_tool
