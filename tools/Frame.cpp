// The command line's frame: the global options, how a command is added with
// its help, and how a usage error is answered.
#include <CLI/CLI.hpp>
#include <iostream>
#include <sstream>

#include "Tool.h"

namespace zemt_tool {

namespace {
std::string g_commandPath;

const char* const kRealHost =
    "Without --emulator this command works on the real controller and changes the real\n"
    "host: it installs device rules, stops and starts the HAL daemon and runs the\n"
    "hardware-access library's install script (as root).";

std::string indented(const std::string& lines) {
    std::stringstream in(lines);
    std::string line, out;
    while (std::getline(in, line)) out += "  " + line + "\n";
    return out;
}
}  // namespace

Globals& globals() {
    static Globals g;
    return g;
}

void setCommandPath(const std::string& path) { g_commandPath = path; }
const std::string& commandPath() { return g_commandPath; }

CLI::App* addCommand(CLI::App& parent, CommandTable& table, const CommandHelp& help, CommandBody body) {
    CLI::App* app = parent.add_subcommand(help.name, help.summary);
    std::string footer;
    if (help.details != nullptr) footer += std::string(help.details) + "\n\n";
    if (help.changesRealHost) footer += std::string(kRealHost) + "\n\n";
    if (std::string(help.name) != "emulator" && parent.get_name() != "emulator")
        footer += "--json and --emulator DIR may also stand before the command.\n\n";
    if (help.examples != nullptr) footer += std::string("Example") + (std::string(help.examples).find('\n') ==
                                                                            std::string::npos ? "" : "s") +
                                             ":\n" + indented(help.examples);
    while (!footer.empty() && footer.back() == '\n') footer.pop_back();
    app->footer(footer);
    if (body) table[app] = body;
    return app;
}

int usageError(const std::string& message) {
    const std::string where = g_commandPath.empty() ? "" : g_commandPath + ": ";
    const std::string help = "see 'zemt " + (g_commandPath.empty() ? "" : g_commandPath + " ") + "--help'";
    std::cerr << "zemt: " << where << message << " (" << help << ")\n";
    if (globals().json) {
        Problem usage;
        usage.message = where + message;
        Json error = jsonError(usage);
        error["meaning"] = "usage error: " + help;
        std::cout << Json{{"ok", false}, {"error", error}}.dump(-1, ' ', false, Json::error_handler_t::replace)
                  << "\n";
    }
    return kExitUsage;
}

}  // namespace zemt_tool
