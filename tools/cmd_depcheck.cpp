// SPDX-License-Identifier: Apache-2.0
// zemt depcheck [PACKAGE_DIR]: has the controller check a package's
// dependencies against its inventory (doDepCheck, run from the package's
// folder) and prints, rule by rule, why the check passed or failed.
#include <CLI/CLI.hpp>
#include <iostream>
#include <sstream>
#include <string>

#include "AnswerRecorder.h"
#include "Answers.h"
#include "Tool.h"
#include "secureKaver.h"

namespace zemt_tool {

namespace {

enum Outcome { Passed, CheckFailed, NotChecked };

void printVerdict(Outcome outcome, const std::string& package, const std::string& answer, const Verdict& verdict,
                  bool recognised) {
    std::cout << "Dependency check of " << package << ": " << (outcome == Passed ? "passed" : "failed") << "\n";
    if (!recognised) {
        std::cout << "The controller's answer, as it came (zemt does not know its layout):\n" << answer
                  << (answer.empty() || answer.back() == '\n' ? "" : "\n");
        return;
    }
    printRules(verdict);
}

int runDepcheck(const std::string& dir) {
    Problem failure;
    Outcome outcome = NotChecked;
    std::string answer;
    const std::string package = absolutePath(dir.empty() ? "." : dir);
    if (enterPackageFolder(dir, true, failure) && prepareHost(failure)) {
        AnswerRecorder recorder;  // outlives the library object
        secureKaver kaver;
        if (startLibrary(kaver, failure)) {
            int supported = kaver.isDepCheckSupported();
            if (supported != 1) {
                // The library would report such a check as passed.
                failure.set(supported == 0 ? "the controller's firmware cannot check dependencies"
                                           : "the controller did not say whether it can check dependencies",
                            kaver.getZEMTError());
            } else {
                progress("checking " + package + " against the controller's inventory (this can take a while)…");
                std::stringstream why;
                bool passed = kaver.doDepCheck(why, rql_query_dependency);
                answer = !recorder.Answer().empty() ? recorder.Answer() : why.str();
                if (passed)
                    outcome = Passed;
                else if (!why.str().empty())
                    outcome = CheckFailed;
                else
                    failure.set("the dependency check could not be made", kaver.getZEMTError());
            }
        }
    }
    Verdict verdict;
    bool recognised = outcome != NotChecked && readVerdict(answer, verdict);
    if (outcome == CheckFailed) failure.message = "the package's dependencies are not met";
    Json fields{{"package", package},
                {"passed", outcome == NotChecked ? Json(nullptr) : Json(outcome == Passed)},
                {"status", recognised && !verdict.status.empty() ? Json(verdict.status) : Json(nullptr)},
                {"rules", jsonRules(verdict)},
                {"summary", verdict.summary.empty() ? Json(nullptr) : Json(verdict.summary)},
                {"answer", answer.empty() ? Json(nullptr) : Json(answer)}};
    return report(
        fields, failure,
        [&]() {
            if (outcome != NotChecked) printVerdict(outcome, package, answer, verdict, recognised);
        },
        outcome == CheckFailed ? kExitFailed : kExitNoCheck);
}

}  // namespace

void addDepcheckCommand(CLI::App& root, CommandTable& table) {
    static std::string dir;
    CLI::App* depcheck = addCommand(
        root, table,
        {"depcheck", "check a package's dependencies against the controller's inventory",
         "Runs from the package's folder (PACKAGE_DIR, or the working directory): the controller evaluates\n"
         "the rules of its package.xml against the inventory and the answer is printed rule by rule.\n"
         "Exit status: 0 the check passed, 1 it failed, 3 it could not be made (the exchange failed, the\n"
         "controller cannot check, or the folder holds no package.xml), 2 usage error.",
         "zemt --emulator /tmp/ctl depcheck examples/packages/nx2-adapter-firmware\n"
         "cd examples/packages/system-bios-update && zemt --emulator /tmp/ctl depcheck --json",
         true},
        []() { return runDepcheck(dir); });
    depcheck->add_option("PACKAGE_DIR", dir, "the package's folder (default: the working directory)");
}

}  // namespace zemt_tool
