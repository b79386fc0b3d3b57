// zemt --version: the tool's version, the version of the library that was
// actually loaded (from its file name, libzemt.so.MAJOR.MINOR.PATCH), and
// with --emulator the emulator's and the state directory's.
#include <dlfcn.h>

#include <filesystem>
#include <iostream>

#include "Tool.h"
#include "secureKaver.h"
#include "zemt_emulator/State.h"

namespace fs = std::filesystem;

namespace zemt_tool {

namespace {

// The loaded library file, found from one of its exported functions.
Json libraryVersion() {
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&setCopyProgressHandler), &info) == 0 || info.dli_fname == nullptr)
        return Json{{"version", nullptr}, {"file", nullptr}};
    std::error_code ec;
    fs::path file = fs::canonical(info.dli_fname, ec);
    if (ec) file = info.dli_fname;
    const std::string name = file.filename().string();
    const std::string stem = "libzemt.so.";
    Json version = name.rfind(stem, 0) == 0 ? Json(name.substr(stem.size())) : Json(nullptr);
    return Json{{"version", version}, {"file", file.string()}};
}

Json emulatorVersion(Problem& failure) {
    const std::string dir = absolutePath(globals().emulatorDir);
    zemt_emu::KeyValueFile conf;
    if (!conf.Load(zemt_emu::JoinPath(dir, zemt_emu::files::kControllerConf))) {
        failure.message = dir + " is not an emulator state directory (create one with 'zemt emulator init " + dir + "')";
        return Json{{"version", zemt_emu::kEmulatorVersion}, {"stateDirectory", dir}, {"madeBy", nullptr},
                    {"controllerFirmware", nullptr}};
    }
    std::string firmware = std::to_string(conf.GetInt("firmware.major", 0)) + "." +
                           (conf.GetInt("firmware.minor", 0) < 10 ? "0" : "") +
                           std::to_string(conf.GetInt("firmware.minor", 0));
    return Json{{"version", zemt_emu::kEmulatorVersion},
                {"stateDirectory", dir},
                {"madeBy", conf.Has("emulator.version") ? Json(conf.Get("emulator.version")) : Json(nullptr)},
                {"controllerFirmware", firmware}};
}

}  // namespace

int printVersion() {
    Problem failure;
    Json doc{{"tool", ZEMT_TOOL_VERSION}, {"library", libraryVersion()}, {"emulator", nullptr}};
    if (!globals().emulatorDir.empty()) doc["emulator"] = emulatorVersion(failure);
    return report(doc, failure, [&]() {
        const Json& library = doc["library"];
        std::cout << "zemt " << ZEMT_TOOL_VERSION << "\n";
        std::cout << "libzemt " << (library["version"].is_null() ? "(version unknown)" : library["version"].get<std::string>());
        if (!library["file"].is_null()) std::cout << " (" << library["file"].get<std::string>() << ")";
        std::cout << "\n";
        const Json& emulator = doc["emulator"];
        if (emulator.is_null() || failure.failed()) return;
        std::cout << "emulator " << emulator["version"].get<std::string>() << " (state directory "
                  << emulator["stateDirectory"].get<std::string>() << ", made by "
                  << (emulator["madeBy"].is_null() ? "an earlier emulator" : "emulator " + emulator["madeBy"].get<std::string>())
                  << "; controller firmware " << emulator["controllerFirmware"].get<std::string>() << ")\n";
    });
}

}  // namespace zemt_tool
