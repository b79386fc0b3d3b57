// zemt init: run the library's full initialisation (secureKaverInit) and
// report what each step left behind.  The steps happen inside one library
// call, so the tool can only look before and after it: a short session of
// its own first reads the dynamic-partition bitmap, so that the report can
// say whether a left-over drop box was removed.
#include <iostream>
#include <string>
#include <vector>

#include "Json.h"
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
    std::string failure;
    int generation = Failure;
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

InitReport runInit() {
    InitReport r;
    secureKaver kaver;
    r.trenLoaded = zolipmiLib != nullptr;
    r.constructed = kaver.InitOk;
    if (!kaver.InitOk) {
        r.error = kaver.getZEMTError();
        r.failure = "the library could not start";
        return r;
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
        r.partitions = reportedPartitions();
        kaver.storeErrorInfo(0);
        r.dynAfter = kaver.getDynPartIndexInfo();
        r.afterKnown = kaver.getZEMTError() == 0;
    } else if (r.repository == noKaverPresent) {
        r.failure = "the controller has no repository";
    } else {
        r.failure = r.error == ZEMT_KAVER_DISABLED ? "the repository is disabled"
                                                   : "the controller refused a session";
    }
    // The access state secureKaverInit checked is not kept: ask once more.
    if (r.repository != noKaverPresent) {
        r.enabled = kaver.IsKaverEnabled();
        r.accessKnown = kaver.getZEMTError() == 0 || kaver.getZEMTError() == ZEMT_KAVER_DISABLED;
        r.accessState = kaver.errorInfo.errSubcode;
    }
    if (r.ok) progress("initialising: closing the session…");
    return r;  // the destructor closes the session
}

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
                       : r.error == 0 ? "failed (" + r.failure + "; the library sets no error code)"
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

void printJson(const InitReport& r) {
    JsonWriter j;
    j.BeginObject();
    j.Key("ok");
    j.Bool(r.ok);
    j.Key("hardwareAccessLibrary");
    j.BeginObject();
    j.Key("loaded");
    j.Bool(r.trenLoaded);
    j.Key("ready");
    j.Bool(r.constructed);
    j.EndObject();
    j.Key("error");
    if (r.ok)
        j.Null();
    else
        jsonError(j, r.error, r.failure);
    if (r.constructed) {
        j.Key("generation");
        jsonNamedCode(j, r.generation, generationName(r.generation));
        j.Key("repository");
        j.String(repositoryName(r.repository));
        j.Key("access");
        if (!r.accessKnown) {
            j.Null();
        } else {
            j.BeginObject();
            j.Key("enabled");
            j.Bool(r.enabled);
            j.Key("state");
            j.Number(r.accessState);
            j.EndObject();
        }
        j.Key("sessionHandle");
        if (r.ok)
            j.Number(r.sessionHandle);
        else
            j.Null();
        j.Key("partitions");
        jsonPartitions(j, r.partitions);
        j.Key("dropBox");
        j.BeginObject();
        j.Key("before");
        if (r.beforeKnown)
            j.Number(r.dynBefore);
        else
            j.Null();
        j.Key("after");
        if (r.afterKnown)
            j.Number(r.dynAfter);
        else
            j.Null();
        j.Key("removed");
        if (r.beforeKnown && r.afterKnown)
            j.Bool(r.dynBefore != 0 && r.dynAfter != r.dynBefore);
        else
            j.Null();
        j.EndObject();
        j.Key("maxDropBoxSize");
        j.Number(r.maxDropBox);
    }
    j.EndObject();
    std::cout << j.Text() << "\n";
}

}  // namespace

int cmdInit(const Args& args) {
    bool json = false;
    Args words = takeJsonFlag(args, json);
    if (!words.empty()) return usageError("init: unexpected argument '" + words[0] + "'");
    InitReport report = runInit();
    if (json)
        printJson(report);
    else
        printText(report);
    if (!report.ok) {
        std::cerr << "zemt: init failed: " << report.failure;
        if (report.error != 0) std::cerr << ", error " << errorText(report.error);
        std::cerr << "\n";
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace zemt_tool
