// SPDX-License-Identifier: Apache-2.0
// zemt update [PACKAGE_DIR]: runs a firmware update the way an update
// package's own program does, from the package's folder and through the
// library's plain entry points (CheckVemo, Depcheck, UpdateBiosUsingRQ),
// and tells in words what came of it.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "AnswerRecorder.h"
#include "Answers.h"
#include "HostRelay.h"
#include "Package.h"
#include "Tool.h"
#include "UpdRollbackWrapper.h"
#include "secureKaver.h"
#include "zemt_update.h"

namespace fs = std::filesystem;

namespace zemt_tool {

namespace {

// Where a package says how its program calls UpdateBiosUsingRQ.
const char* const kCallFile = "zemt-update.conf";
const char* const kTaskFile = "ssibinput.xml";
const int kDependenciesRejected = 249;

struct UpdateOptions {
    std::string dir;
    std::string payload, subsystem, wrapper;  // empty: the package's own
    bool stageOnly = false;
    bool noDepcheck = false;
};

// The arguments UpdateBiosUsingRQ gets.
struct Call {
    std::string payload = "payload";
    std::string subsystem, wrapper;
    bool singleFile = false;
    // The library writes task files only when both names are given.
    bool task() const { return !subsystem.empty() && !wrapper.empty(); }
};

// What happened, step by step.
struct Run {
    int generation = -1;  // CheckVemo's answer, -1 before it
    bool stageAndUpdate = false;  // the controller's capability: the path the library takes
    bool depcheckSupported = true;
    int depcheck = -2;  // Depcheck's result, -2 when it was not called
    std::string answer;  // the controller's dependency-check answer
    bool called = false;  // the update itself ran
    int result = 0;
    std::string text;      // the error text it gave
    std::string outcome;   // applied, staged, not applied
    Json rebootRequired = nullptr;
    std::vector<Record> devices;  // the package's devices in the inventory afterwards
};

// The library takes the descriptor of a stage-and-update (and of a single
// payload file) from the running program's folder, where an update
// package's program lives.  zemt's program lives elsewhere, so the
// library is shown the package's folder instead.
class ProgramFolder : public HostRelay {
public:
    explicit ProgramFolder(const std::string& folder) : folder_(folder + "/") {}
    std::string getCurrentProcessDirectory() override { return folder_; }

private:
    std::string folder_;
};

std::string trimmed(const std::string& text) {
    const std::string::size_type first = text.find_first_not_of(" \t\r");
    const std::string::size_type last = text.find_last_not_of(" \t\r");
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

// zemt-update.conf of the working directory, when the package has one:
// lines "payload=PATH", "subsystem=NAME", "wrapper=NAME", '#' comments.
bool readCallFile(Call& call, Problem& failure) {
    std::error_code ec;
    if (!fs::exists(kCallFile, ec)) return true;
    std::ifstream in(kCallFile);
    if (!in.is_open()) {
        failure.message = std::string(kCallFile) + ": " + std::strerror(errno);
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        line = trimmed(line);
        if (line.empty() || line[0] == '#') continue;
        const std::string::size_type equals = line.find('=');
        const std::string key = trimmed(line.substr(0, equals));
        const std::string value = equals == std::string::npos ? "" : trimmed(line.substr(equals + 1));
        std::string* slot = key == "payload" ? &call.payload
                            : key == "subsystem" ? &call.subsystem
                            : key == "wrapper" ? &call.wrapper
                                               : nullptr;
        if (equals == std::string::npos || slot == nullptr) {
            failure.message = std::string(kCallFile) + " line " + std::to_string(number) +
                              ": not 'payload=PATH', 'subsystem=NAME' or 'wrapper=NAME'";
            return false;
        }
        *slot = value;
    }
    return true;
}

// The package's call, the options over it; the payload must be there.
bool prepareCall(const UpdateOptions& o, Call& call, Problem& failure) {
    if (!readCallFile(call, failure)) return false;
    if (!o.payload.empty()) call.payload = o.payload;
    if (!o.subsystem.empty()) call.subsystem = o.subsystem;
    if (!o.wrapper.empty()) call.wrapper = o.wrapper;
    std::error_code ec;
    if (!fs::exists(call.payload, ec)) {
        failure.message = "the package has no payload " + call.payload +
                          " (name it with --payload or in the package's " + kCallFile + ")";
        return false;
    }
    call.singleFile = !fs::is_directory(call.payload, ec);
    return true;
}

char* argument(std::string& text) { return text.empty() ? nullptr : &text[0]; }

bool checkServer(Run& run, Problem& failure) {
    progress("checking the controller and making the update object (CheckVemo; this can take a while)…");
    char text[ZEMT_ERRSTRING_SIZE] = "";
    int code = 0;
    run.generation = CheckVemo(text, &code);
    if (text[0] != '\0' || code != 0) {
        failure.set("the generation check failed: " + trimmed(text), static_cast<unsigned>(code));
        return false;
    }
    if (pUpdRollbackWrapper == nullptr) {
        failure.set("a generation-one (pre-vemo) controller has no update path for packages", 0);
        return false;
    }
    // The same question the library asks to choose its path.
    run.stageAndUpdate = pUpdRollbackWrapper->checkGUIDEnable();
    progress(std::string("generation ") + generationName(run.generation) +
             (run.stageAndUpdate ? ": the controller stages and applies the payload itself (stage-and-update)"
                                 : ": the payload goes into KAV022's versioned folders"));
    return true;
}

bool checkDependencies(Run& run, const AnswerRecorder& recorder, Problem& failure) {
    run.depcheckSupported = pUpdRollbackWrapper->isDepCheckSupported() != 0;
    progress(run.depcheckSupported ? "checking the package's dependencies (Depcheck)…"
                                   : "the controller's firmware cannot check dependencies: Depcheck lets the "
                                     "update go on unchecked");
    run.depcheck = Depcheck();
    run.answer = recorder.Answer();
    if (run.depcheck == 0) return true;
    if (run.depcheck == kDependenciesRejected)
        failure.message = "the package's dependencies are not met; nothing was changed";
    else
        failure.set("the dependency check could not be made (Depcheck returned " + std::to_string(run.depcheck) +
                        "); nothing was changed",
                    0);
    return false;
}

void callUpdate(Run& run, Call call, bool stageOnly) {
    const PassWords words = {"copy-list entries",
                             !run.stageAndUpdate ? "verifying the copies…"
                             : stageOnly         ? "asking the controller to stage the payload…"
                                                 : "asking the controller to stage and apply the update…"};
    progress(std::string(stageOnly ? "staging " : "updating with ") + call.payload +
             (stageOnly ? " (the update object's doRollbackAndUpdate, stage only)…" : " (UpdateBiosUsingRQ)…"));
    setCopyProgressHandler(&reportCopyPass, const_cast<PassWords*>(&words));
    run.called = true;
    if (!stageOnly) {
        char text[ZEMT_ERRSTRING_SIZE] = "";
        run.result = UpdateBiosUsingRQ(&call.payload[0], argument(call.subsystem), argument(call.wrapper),
                                       call.singleFile, text);
        run.text = text;
    } else {
        try {
            run.result = pUpdRollbackWrapper->doRollbackAndUpdate(
                std::vector<std::string>(1, call.payload), argument(call.subsystem), argument(call.wrapper),
                call.singleFile, run.text, false, false, "");
        } catch (...) {
            run.result = ZEMT_INTERROR;
        }
        CleanUp_UpdRollbackWrapper();
    }
    setCopyProgressHandler(nullptr, nullptr);
}

// Whether the task file the library wrote asks for a reboot; null when it
// cannot be read.
Json taskAsksForReboot() {
    std::ifstream in(kTaskFile);
    std::stringstream text;
    text << in.rdbuf();
    std::string root;
    std::vector<Record> records;
    if (!readRecords(text.str(), root, records) || root != "SSIB" || records.empty()) return nullptr;
    const std::string reboot = records.front().Get("reboot_required");
    return !reboot.empty() && reboot != "0";
}

bool ofPackage(const Record& device, const PackageView& package) {
    for (const PackageDevice& d : package.devices)
        if (device.element == "Device" && device.Get("componentID") == d.componentId) return true;
    return false;
}

std::string deviceText(const Record& device) {
    return device.Get("componentID") + " (" + device.Get("display") + ") at " + device.Firmware("version");
}

// The controller's task runs once the copy is stored; whether it applied
// the payload shows in the inventory.
void checkInventory(Run& run, const PackageView& package, Problem& failure) {
    progress("reading the controller's inventory: did the task apply the update?…");
    secureKaver kaver;
    if (!startLibrary(kaver, failure)) return;
    std::stringstream answer;
    if (!kaver.QueryRQL(answer, rql_query_current_records)) {
        failure.set("the payload was staged, but the inventory could not be read to see whether it was applied",
                    kaver.getZEMTError());
        return;
    }
    std::string root;
    std::vector<Record> records;
    readRecords(answer.str(), root, records);
    for (const Record& r : records)
        if (ofPackage(r, package)) run.devices.push_back(r);
    const bool applied = !run.devices.empty() && std::all_of(run.devices.begin(), run.devices.end(), [&](const Record& r) {
        return r.Firmware("version") == package.version;
    });
    if (applied) {
        run.outcome = "applied";
        run.rebootRequired = taskAsksForReboot();
        return;
    }
    run.outcome = "not applied";
    std::string shown;
    for (const Record& r : run.devices) shown += (shown.empty() ? "" : ", ") + deviceText(r);
    failure.set("the payload was staged in KAV022, but the controller's task did not apply " + package.version +
                    ": the inventory shows " + (shown.empty() ? "no device of the package" : shown),
                0);
}

void judge(Run& run, const Call& call, const PackageView& package, bool stageOnly, Problem& failure) {
    const bool succeeded = run.result == 0 || (run.stageAndUpdate && run.result == 1);
    if (!succeeded) {
        const std::string what = stageOnly ? "the stage-only run" : "UpdateBiosUsingRQ";
        failure.set("the update failed: " + what + " returned " + std::to_string(run.result) +
                        (run.result == -1 && run.stageAndUpdate ? " (the stage-and-update did not succeed)" : ""),
                    run.result > 0 ? static_cast<unsigned>(run.result) : 0);
        return;
    }
    if (run.stageAndUpdate) {
        run.outcome = stageOnly ? "staged" : "applied";
        run.rebootRequired = run.result == 0;
    } else if (stageOnly || !call.task()) {
        run.outcome = "staged";
    } else {
        checkInventory(run, package, failure);
    }
}

void printOutcome(const Run& run, const Call& call, bool stageOnly) {
    if (run.depcheck == kDependenciesRejected) {
        Verdict verdict;
        std::cout << "Dependency check: failed\n";
        if (readVerdict(run.answer, verdict)) printRules(verdict);
        return;
    }
    if (run.depcheck == 0)
        std::cout << "Dependency check: " << (run.depcheckSupported ? "passed" : "not made (the firmware cannot check)")
                  << "\n";
    if (run.outcome.empty() || run.outcome == "not applied") return;
    const std::string reboot = run.rebootRequired.is_boolean()
                                   ? (run.rebootRequired.get<bool>() ? "a reboot is required" : "no reboot is required")
                                   : "";
    std::cout << "Update: ";
    if (run.stageAndUpdate && run.outcome == "applied")
        std::cout << "applied by the controller (stage and update); " << reboot << "\n";
    else if (run.stageAndUpdate)
        std::cout << "staged by the controller, not applied (stage only); applying it: " << reboot << "\n";
    else if (run.outcome == "staged")
        std::cout << "staged in KAV022 (the component's current folder), not applied: "
                  << (stageOnly ? "stage only, no task for the controller"
                                : "no task, the package names no subsystem and wrapper")
                  << "\n";
    else
        std::cout << "applied by the controller's task (" << call.wrapper << "): "
                  << deviceText(run.devices.front())
                  << (reboot.empty() ? "" : "; the task says " + reboot) << "\n";
}

Json jsonRun(const Run& run, const Call& call, const std::string& folder, const PackageView& package, bool stageOnly) {
    Verdict verdict;
    const bool recognised = !run.answer.empty() && readVerdict(run.answer, verdict);
    const Json depcheck =
        run.depcheck == -2 ? Json(nullptr)
                           : Json{{"supported", run.depcheckSupported},
                                  {"result", run.depcheck},
                                  {"passed", run.depcheck == 0},
                                  {"rules", jsonRules(verdict)},
                                  {"summary", recognised && !verdict.summary.empty() ? Json(verdict.summary) : Json(nullptr)}};
    return Json{
        {"package", folder},
        {"componentID", package.componentId.empty() ? Json(nullptr) : Json(package.componentId)},
        {"version", package.version.empty() ? Json(nullptr) : Json(package.version)},
        {"payload", call.payload},
        {"singleFile", call.singleFile},
        {"subsystem", call.subsystem.empty() ? Json(nullptr) : Json(call.subsystem)},
        {"wrapper", call.wrapper.empty() ? Json(nullptr) : Json(call.wrapper)},
        {"stageOnly", stageOnly},
        {"generation", run.generation < 0 ? Json(nullptr) : namedCode(run.generation, generationName(run.generation))},
        {"path", run.generation < 1 ? Json(nullptr) : Json(run.stageAndUpdate ? "stage-and-update" : "versioned-folders")},
        {"dependencyCheck", depcheck},
        {"result", run.called ? Json(run.result) : Json(nullptr)},
        {"text", run.called ? Json(run.text) : Json(nullptr)},
        {"outcome", run.outcome.empty() ? Json(nullptr) : Json(run.outcome)},
        {"rebootRequired", run.rebootRequired},
        {"inventory", jsonRecords(run.devices)}};
}

int runUpdate(const UpdateOptions& o) {
    Problem failure;
    Run run;
    Call call;
    PackageView package;
    const std::string folder = absolutePath(o.dir.empty() ? "." : o.dir);
    // The descriptor is read through the host that prepareHost installs.
    if (enterPackageFolder(o.dir, true, failure) && prepareCall(o, call, failure) && prepareHost(failure)) {
        package = readPackage();
        if (!package.recognised) failure.message = folder + "/package.xml is not a package descriptor";
    }
    if (!failure.failed()) {
        AnswerRecorder recorder;
        ProgramFolder programFolder(folder);
        if (checkServer(run, failure) && (o.noDepcheck || checkDependencies(run, recorder, failure))) {
            if (o.noDepcheck) progress("no dependency check (--no-depcheck)");
            callUpdate(run, call, o.stageOnly);
            judge(run, call, package, o.stageOnly, failure);
        }
        CleanUp_UpdRollbackWrapper();
    }
    return report(
        jsonRun(run, call, folder, package, o.stageOnly), failure,
        [&]() { printOutcome(run, call, o.stageOnly); },
        run.depcheck == kDependenciesRejected ? kExitDependencies : kExitFailed);
}

}  // namespace

void addUpdateCommand(CLI::App& root, CommandTable& table) {
    static UpdateOptions o;
    CLI::App* update = addCommand(
        root, table,
        {"update", "run a firmware update from a package's folder, as an update package does",
         "Runs from the package's folder (PACKAGE_DIR, relative or absolute, or the working directory)\n"
         "through the library's plain entry points, as an update package's own program does: CheckVemo\n"
         "(the controller's generation; it makes the update object), Depcheck (unless --no-depcheck) and\n"
         "UpdateBiosUsingRQ.  A controller with the stage-and-update capability stages and applies the\n"
         "payload itself and says whether a reboot is needed.  Otherwise the payload goes into KAV022's\n"
         "versioned folders (ID/current; the version before stays in ID/previous, see 'zemt versions') and,\n"
         "when the package names a subsystem and a wrapper, the controller's task applies it: zemt then\n"
         "reads the inventory to tell whether it did.  Rolling back is updating with the older package.\n"
         "\n"
         "What UpdateBiosUsingRQ is given comes from the package's zemt-update.conf (lines payload=PATH,\n"
         "subsystem=NAME, wrapper=NAME; '#' starts a comment), and --payload, --subsystem and --wrapper\n"
         "override it; without either the payload is the package's folder 'payload'.  PATH is relative to\n"
         "the package's folder; a folder is staged with all its content.  The versioned-folder path writes\n"
         "the component file (ID.xml) and the task file (ssibinput.xml) into the package's folder.\n"
         "\n"
         "--stage-only stages without applying.  UpdateBiosUsingRQ always asks for both, so zemt calls the\n"
         "update object's doRollbackAndUpdate with stage-and-update off instead: a stage-and-update\n"
         "controller stages the payload and tells whether applying it would need a reboot; on the\n"
         "versioned-folder path the payload is stored without task files.\n"
         "\n"
         "Without --emulator this applies firmware to the real server.\n"
         "Exit status: 0 applied or staged, 1 the update failed (or the task did not apply it), 4 the\n"
         "package's dependencies are not met (nothing was changed), 2 usage error.",
         "zemt --emulator /tmp/ctl update examples/packages/system-bios-1.7.0\n"
         "zemt --emulator /tmp/ctl update /opt/updates/nx2 --stage-only --json\n"
         "cd examples/packages/system-bios-1.5.0 && zemt --emulator /tmp/ctl update --no-depcheck",
         true},
        []() { return runUpdate(o); });
    update->add_option("PACKAGE_DIR", o.dir, "the package's folder (default: the working directory)");
    update->add_flag("--stage-only", o.stageOnly, "stage the payload without applying it");
    update->add_flag("--no-depcheck", o.noDepcheck, "do not ask the controller to check the dependencies");
    update->add_option("--payload", o.payload, "the payload file or folder, relative to the package's folder")
        ->option_text("PATH");
    update->add_option("--subsystem", o.subsystem, "the subsystem of the controller's task (BIOS, CPLD, PSU)")
        ->option_text("NAME");
    update->add_option("--wrapper", o.wrapper, "the wrapper program the controller's task runs")->option_text("NAME");
}

}  // namespace zemt_tool
