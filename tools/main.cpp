// SPDX-License-Identifier: Apache-2.0
// zemt: controller and repository information, staging, the inventory log,
// the dependency check and firmware updates over libzemt, and the
// management of emulator state directories.  This file holds the command line's frame: the global
// options, --version, help, usage errors and the dispatch; each command
// lives in a cmd_*.cpp of its own.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "Tool.h"

using namespace zemt_tool;

namespace {

const char* const kDescription =
    "zemt: the management controller's flash repository, inventory log, dependency check\n"
    "and firmware updates, through libzemt.\n"
    "\n"
    "Without --emulator every command works on the real controller and changes the real\n"
    "host where it says so (device rules, the HAL daemon, the hardware-access library):\n"
    "run it as root on the server itself.  With --emulator DIR it talks to the emulated\n"
    "controller and host of state directory DIR instead (create one with 'zemt emulator\n"
    "init DIR').";

const char* const kFooter =
    "--json and --emulator DIR may stand before or after the command.\n"
    "Progress lines of the slow steps go to stderr.\n"
    "Exit status: 0 success, 1 the operation failed, 2 usage error (depcheck: 1 the check\n"
    "failed, 3 the check could not be made; update: 4 the package's dependencies are not met).\n"
    "\n"
    "Examples:\n"
    "  zemt emulator init /tmp/ctl\n"
    "  zemt --emulator /tmp/ctl info\n"
    "  zemt --emulator /tmp/ctl update examples/packages/system-bios-1.7.0\n"
    "  zemt stage firmware.bin --to KAV022/fw --emulator /tmp/ctl --json\n"
    "  zemt COMMAND --help";

// The deepest command the parser selected.
const CLI::App* selected(const CLI::App& root) {
    const CLI::App* app = &root;
    while (!app->get_subcommands().empty()) app = app->get_subcommands().front();
    return app;
}

std::string pathOf(const CLI::App* app) {
    std::string path;
    for (; app != nullptr && app->get_parent() != nullptr; app = app->get_parent())
        path = app->get_name() + (path.empty() ? "" : " " + path);
    return path;
}

// The command names under `at`, and the one closest to a mistyped word
// (at most two letters off).
std::string namesUnder(const CLI::App* at) {
    std::string names;
    for (const CLI::App* sub : at->get_subcommands({})) names += (names.empty() ? "" : ", ") + sub->get_name();
    return names;
}

std::size_t distance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::string unknownCommand(const char* kind, const std::string& word, const CLI::App* at) {
    std::string text = std::string("unknown ") + kind + " '" + word + "'";
    for (const CLI::App* sub : at->get_subcommands({}))
        if (distance(word, sub->get_name()) <= 2) return text + " (did you mean '" + sub->get_name() + "'?)";
    return text + " (one of: " + namesUnder(at) + ")";
}

// The first word of the command line after the words of `at`'s path that
// is not an option (or an option's value).
std::string wordAfter(const CLI::App* at, const std::vector<std::string>& args) {
    std::size_t i = 0;
    if (at->get_parent() != nullptr) {
        auto it = std::find(args.begin(), args.end(), at->get_name());
        i = it == args.end() ? args.size() : static_cast<std::size_t>(it - args.begin()) + 1;
    }
    for (; i < args.size(); ++i) {
        if (args[i] == "--emulator") ++i;
        else if (!args[i].empty() && args[i][0] != '-') return args[i];
    }
    return "";
}

// CLI11's words for a parse error, made to name the command where that helps.
std::string describe(const CLI::ParseError& e, const CLI::App* at, const std::vector<std::string>& args) {
    const std::string what = e.what();
    const std::string word = wordAfter(at, args);
    if (what == "A subcommand is required")
        return word.empty() ? "wants a sub-command: one of " + namesUnder(at) : unknownCommand("sub-command", word, at);
    if (at->get_parent() == nullptr && !word.empty()) return unknownCommand("command", word, at);
    const std::string extra = "The following argument was not expected: ";
    if (what.rfind(extra, 0) == 0) return "unexpected argument '" + what.substr(extra.size()) + "'";
    const std::string extras = "The following arguments were not expected: ";
    if (what.rfind(extras, 0) == 0) return "unexpected arguments: " + what.substr(extras.size());
    return what;
}

// `zemt help [COMMAND...]` is `zemt [COMMAND...] --help`.
void rewriteHelp(std::vector<std::string>& args) {
    std::size_t i = 0;
    while (i < args.size() && !args[i].empty() && args[i][0] == '-') i += args[i] == "--emulator" ? 2 : 1;
    if (i >= args.size() || args[i] != "help") return;
    args.erase(args.begin() + static_cast<long>(i));
    args.push_back("--help");
}

}  // namespace

int main(int argc, char** argv) {
    // Everything after the first "--" belongs to the program of 'emulator
    // exec'; the parser sees only what comes before it.
    std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--") continue;
        globals().separator = true;
        globals().afterSeparator.assign(args.begin() + static_cast<long>(i) + 1, args.end());
        args.resize(i);
        break;
    }
    for (const std::string& arg : args)
        if (arg == "--json") globals().json = true;  // usage errors answer in JSON too
    rewriteHelp(args);

    CLI::App root(kDescription, "zemt");
    root.fallthrough();  // global options after the command reach the root
    root.footer(kFooter);
    bool version = false;
    root.add_flag("--version", version, "print the versions of the tool, the library and (with --emulator) the emulator");
    root.add_flag("--json", globals().json, "print one JSON document on stdout (also for failures)");
    root.add_option("--emulator", globals().emulatorDir,
                    "talk to the emulated controller and host of state directory DIR instead of the real ones")
        ->option_text("DIR");

    CommandTable table;
    addInfoCommand(root, table);
    addFlagCommand(root, table);
    addInitCommand(root, table);
    addPartitionsCommand(root, table);
    addLsCommand(root, table);
    addStageCommand(root, table);
    addRmCommand(root, table);
    addInventoryCommand(root, table);
    addDepcheckCommand(root, table);
    addPackageCommand(root, table);
    addUpdateCommand(root, table);
    addVersionsCommand(root, table);
    addEmulatorCommand(root, table);
    addCommand(root, table, {"help", "this text; 'zemt help COMMAND [SUB-COMMAND]' is 'zemt COMMAND --help'",
                             nullptr, nullptr, false},
               nullptr);

    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        root.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        std::cout << root.help();
        return kExitOk;
    } catch (const CLI::ParseError& e) {
        const CLI::App* at = selected(root);
        setCommandPath(pathOf(at));
        return usageError(describe(e, at, args));
    }

    const CLI::App* command = selected(root);
    setCommandPath(pathOf(command));
    // Commands that run from a package's folder change directory first.
    if (!globals().emulatorDir.empty()) globals().emulatorDir = absolutePath(globals().emulatorDir);
    if (version) {
        if (command != &root) return usageError("--version goes without a command");
        return printVersion();
    }
    if (command == &root) return usageError("no command given");
    CommandTable::const_iterator body = table.find(command);
    if (body == table.end()) return usageError("'" + commandPath() + "' wants a sub-command");
    if (globals().separator && commandPath() != "emulator exec")
        return usageError("'--' goes only with 'emulator exec'");
    return body->second();
}
