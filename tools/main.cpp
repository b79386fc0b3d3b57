// zemt: controller and repository information over libzemt, and the
// management of emulator state directories.  This file holds the global
// options and the dispatch; each command lives in a cmd_*.cpp of its own.
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "PlatformLayer.h"
#include "Tool.h"
#include "zemt_emulator/EmulatedHost.h"
#include "zemt_emulator/State.h"

namespace zemt_tool {

const char* const kUsage =
    "usage: zemt [--emulator DIR] info [--json]\n"
    "       zemt [--emulator DIR] flag get [--json]\n"
    "       zemt [--emulator DIR] flag set VALUE [--json]\n"
    "       zemt [--emulator DIR] init [--json]\n"
    "       zemt [--emulator DIR] partitions [--json]\n"
    "       zemt [--emulator DIR] ls LABEL[/PATH] [--json]\n"
    "       zemt [--emulator DIR] stage FILE|DIR... --to LABEL/dir [--max-drop-box MIB] [--json]\n"
    "       zemt [--emulator DIR] rm LABEL/path [--json]\n"
    "       zemt emulator init DIR [options]\n"
    "       zemt emulator fault DIR 'LINE'\n"
    "       zemt emulator clock DIR [--advance SECONDS]\n"
    "       zemt emulator reset DIR\n"
    "       zemt emulator exec DIR [--preload PATH] -- PROGRAM [ARGS...]\n"
    "       zemt help [emulator]\n"
    "\n"
    "  --emulator DIR   talk to the emulated controller and host of state directory DIR\n"
    "                   instead of the real ones\n"
    "\n"
    "  info             the controller, repository and host as the library sees them\n"
    "  flag get|set     read or write the controller's boot-state flag\n"
    "  init             run the library's full initialisation and report each step\n"
    "                   (first looks for a left-over drop box in a short session of its own)\n"
    "  partitions       the repository partitions the controller reports, with bits and sizes\n"
    "  ls LABEL[/PATH]  attach static partition LABEL (KAV001..KAV256), list PATH on it, detach\n"
    "  stage ... --to LABEL/dir\n"
    "                   copy files (directories with their contents) into LABEL/dir through\n"
    "                   a drop box, then read every copy back and compare its MD5;\n"
    "                   --max-drop-box MIB caps the drop box (more, smaller passes)\n"
    "  rm LABEL/path    delete a stored file from a static partition\n"
    "  emulator init    create an emulator state directory (zemt help emulator)\n"
    "  emulator fault   append a line to a state directory's fault script\n"
    "  emulator clock   show (or move on) a state directory's virtual clock\n"
    "  emulator reset   release what a run left behind (session, drop boxes, mounts)\n"
    "  emulator exec    run an unmodified program against the emulator\n"
    "\n"
    "Progress lines of the slow steps go to stderr.\n"
    "Exit status: 0 success, 1 the operation failed, 2 usage error.\n";

int usageError(const std::string& message) {
    std::cerr << "zemt: " << message << "\n\n" << kUsage;
    return kExitUsage;
}

}  // namespace zemt_tool

using namespace zemt_tool;

namespace {

// Installs the emulated host when asked to; it must be in place before the
// first library object is built.
std::unique_ptr<CEmulatedHost> g_emulatedHost;

bool useEmulator(const std::string& dir) {
    std::error_code ec;
    if (!std::filesystem::exists(zemt_emu::JoinPath(dir, zemt_emu::files::kControllerConf), ec)) {
        std::cerr << "zemt: " << dir
                  << " is not an emulator state directory (create one with 'zemt emulator init "
                  << dir << "')\n";
        return false;
    }
    try {
        g_emulatedHost.reset(new CEmulatedHost(dir));
    } catch (const std::exception& refused) {
        std::cerr << "zemt: " << refused.what() << "\n";
        return false;
    }
    CPlatformLayer::SetPlatform(g_emulatedHost.get());
    return true;
}

struct Command {
    const char* name;
    int (*run)(const Args& args);
};

// The commands that work through the library (and so take --emulator).
const Command kLibraryCommands[] = {
    {"info", cmdInfo},
    {"flag", cmdFlag},
    {"init", cmdInit},
    {"partitions", cmdPartitions},
    {"ls", cmdLs},
    {"stage", cmdStage},
    {"rm", cmdRm},
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string emulatorDir;
    std::size_t i = 0;
    while (i < args.size() && !args[i].empty() && args[i][0] == '-') {
        if (args[i] == "--emulator") {
            if (i + 1 >= args.size()) return usageError("--emulator wants a state directory");
            emulatorDir = args[i + 1];
            i += 2;
        } else if (args[i] == "--help" || args[i] == "-h") {
            std::cout << kUsage;
            return kExitOk;
        } else {
            return usageError("unknown option '" + args[i] + "'");
        }
    }
    if (i >= args.size()) return usageError("no command given");
    std::string command = args[i];
    std::vector<std::string> rest(args.begin() + static_cast<long>(i) + 1, args.end());

    if (command == "help") {
        std::cout << (!rest.empty() && rest[0] == "emulator" ? kEmulatorUsage : kUsage);
        return kExitOk;
    }
    if (command == "emulator") {
        if (!emulatorDir.empty()) return usageError("--emulator does not go with 'emulator'");
        return cmdEmulator(rest);
    }
    for (const Command& c : kLibraryCommands) {
        if (command != c.name) continue;
        if (!emulatorDir.empty() && !useEmulator(emulatorDir)) return kExitFailed;
        return c.run(rest);
    }
    return usageError("unknown command '" + command + "'");
}
