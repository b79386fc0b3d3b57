// SPDX-License-Identifier: Apache-2.0
// The host the commands work on: the real one, or the emulated controller
// and host of --emulator DIR; and the reason the emulator recorded for a
// failure, read from the logs it writes.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

#include "Answers.h"
#include "PlatformLayer.h"
#include "Tool.h"
#include "zemt_error.h"
#include "zemt_emulator/EmulatedHost.h"
#include "zemt_emulator/Inventory.h"
#include "zemt_emulator/State.h"

namespace fs = std::filesystem;

namespace zemt_tool {

namespace {

std::unique_ptr<CEmulatedHost> g_emulatedHost;
// Where this run's lines begin in the emulator's logs.
std::uintmax_t g_requestsFrom = 0;
std::uintmax_t g_commandsFrom = 0;
std::size_t g_eventsFrom = 0;

std::string emulatorFile(const char* name) { return zemt_emu::JoinPath(globals().emulatorDir, name); }

std::uintmax_t sizeOf(const std::string& path) {
    std::error_code ec;
    std::uintmax_t size = fs::file_size(path, ec);
    return ec ? 0 : size;
}

// The lines a log gained since `from` (at most the last 1 MiB of them).
std::vector<std::string> linesSince(const std::string& path, std::uintmax_t from) {
    const std::uintmax_t kWindow = 1048576;
    std::uintmax_t size = sizeOf(path);
    if (size > from + kWindow) from = size - kWindow;
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(from));
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

// What a note of requests.log says, in words.
std::string noteWords(const std::string& note) {
    static const struct {
        const char* note;
        const char* words;
    } kNotes[] = {
        {"resetting", "the controller was resetting and did not answer"},
        {"malformed-block", "the request block was malformed"},
        {"wrong-slave-address", "the request went to the wrong slave address"},
        {"hash-refused", "the controller refused the update document's hash"},
        {"unparsable", "the controller could not parse the update document"},
        {"no-document", "the drop box held no update document"},
        {"bad-destination",
         "a destination names no partition of this controller, leaves it, or holds a name FAT cannot hold"},
        {"bad-source", "a source of the update document is not a plain name inside the drop box"},
        {"missing-source", "a source of the update document is missing from the drop box"},
        {"unknown-mode", "the controller does not carry out an entry of that mode"},
        {"partition-full", "the target partition has no room for the files"},
        {"corrupted", "a copied file was corrupted on the partition"},
        {"no-inventory", "the controller's inventory log could not be read"},
        {"bad-records", "the records document is not a <Records> document"},
        {"no-answer", "the controller wrote no answer"},
        {"empty-answer", "the controller wrote an empty answer"},
        {"malformed-answer", "the controller wrote a malformed answer"},
        {"oversized-answer", "the controller wrote an answer larger than 4 MiB"},
        {"task-applied", "the controller's task ran"},
        {"task-failed", "the controller's task failed"},
        {"payload-staged", "the controller gathered the payload for stage-and-update"},
    };
    for (const auto& n : kNotes)
        if (note == n.note) return n.words;
    if (note.rfind("source-hash:", 0) == 0) return note.substr(12) + " in the drop box does not match its MD5";
    if (note.rfind("failed-", 0) == 0)
        return "carrying out a " + note.substr(7) + " entry failed (for a deletion: the target is a folder)";
    if (note.rfind("fault=", 0) == 0) {
        std::ifstream faults(emulatorFile(zemt_emu::files::kFaults));
        std::string line;
        long wanted = std::atol(note.c_str() + 6);
        for (long n = 1; std::getline(faults, line); ++n)
            if (n == wanted) return "the fault script's line " + note.substr(6) + " fired ('" + line + "')";
        return "the fault script's line " + note.substr(6) + " fired";
    }
    return note;
}

// The notes of one requests.log line: the words after "result=R".
std::vector<std::string> notesOf(const std::string& line) {
    std::vector<std::string> notes;
    std::string::size_type at = line.rfind("| status=");
    if (at == std::string::npos) return notes;
    std::stringstream words(line.substr(at + 2));
    std::string word;
    words >> word;  // status=S
    if (line.find(" result=", at) != std::string::npos) words >> word;
    while (words >> word)
        if (word != "owner-gone") notes.push_back(word);
    return notes;
}

// A session begin answered "another session is open": whose it is.
std::string sessionHolder(const std::string& line) {
    std::stringstream split(line);
    std::string time, kind, b0, b1, b2;
    split >> time >> kind >> b0 >> b1 >> b2;
    if (kind != "cmd" || b0 != "c0" || b1 != "a2" || (b2 != "00" && b2 != "12")) return "";
    std::string::size_type bar = line.find(" | ");
    std::stringstream answer(bar == std::string::npos ? "" : line.substr(bar + 3));
    std::string r0, r1, r2;
    answer >> r0 >> r1 >> r2;
    if (r2 != "07") return "";
    zemt_emu::KeyValueFile state;
    state.Load(emulatorFile(zemt_emu::files::kControllerState));
    zemt_emu::ProcessIdentity owner;
    if (!zemt_emu::ProcessIdentity::Parse(state.Get("session.owner"), owner)) return "";
    return "the emulated controller holds a session of process " + std::to_string(owner.pid) +
           (zemt_emu::IsRunning(owner) ? ", which is still running ('zemt emulator reset DIR' releases it)"
                                       : ", which has ended (the next request releases it)");
}

// Many host commands fail as part of ordinary work (installing device
// rules that are not there, probing with grep, unmounting what is not
// mounted).  What tells about a failure: a command that was not found, and
// the mounts, copies and folders on the library's own mount directories.
// A plain "mkdir FOLDER" makes each folder of a destination's path on the
// way to it and fails, unheeded, for one that is already there.
bool tellsAboutFailure(const std::string& command, const std::string& status) {
    std::string program = command.substr(0, command.find(' '));
    program = program.substr(program.find_last_of('/') + 1);
    if (status == "127" || program == "getSystemId") return true;
    if (command.rfind("mkdir ", 0) == 0 && command.compare(6, 3, "-p ") != 0) return false;
    return command.find(" /tmp/") != std::string::npos && program != "umount" && program != "rm";
}

// The controller's events, oldest first (none when the log cannot be read).
std::vector<Record> controllerEvents() {
    zemt_emu::Inventory inventory(globals().emulatorDir, 0);
    std::string root;
    std::vector<Record> events;
    if (inventory.Load()) readRecords(inventory.Document(zemt_emu::Inventory::kEvents), root, events);
    return events;
}

// What the controller's own work (a task, a stage) logged as failed since
// this run began.
std::string failedEvents() {
    const std::vector<Record> events = controllerEvents();
    std::string text;
    for (std::size_t i = g_eventsFrom; i < events.size(); ++i) {
        const std::string action = events[i].Get("action");
        if (action.size() > 7 && action.compare(action.size() - 7, 7, "-failed") == 0)
            text += (text.empty() ? "" : "; ") + events[i].text;
    }
    return text;
}

std::string emulatorReason() {
    if (globals().emulatorDir.empty() || !g_emulatedHost) return "";
    std::string reason;
    for (const std::string& line : linesSince(emulatorFile(zemt_emu::files::kRequestLog), g_requestsFrom)) {
        std::string holder = sessionHolder(line);
        std::vector<std::string> notes = notesOf(line);
        if (!holder.empty()) {
            reason = holder;
        } else if (!notes.empty()) {
            reason.clear();
            for (const std::string& note : notes) reason += (reason.empty() ? "" : "; ") + noteWords(note);
        }
    }
    std::string command;
    for (const std::string& line : linesSince(emulatorFile(zemt_emu::files::kHostCommandLog), g_commandsFrom)) {
        std::stringstream split(line);
        std::string time, kind, status, text;
        std::getline(split, time, '\t');
        std::getline(split, kind, '\t');
        std::getline(split, status, '\t');
        std::getline(split, text);
        if (status != "0" && tellsAboutFailure(text, status))
            command = "the emulated host's command '" + text + "' exited with " + status;
    }
    if (!command.empty()) reason += (reason.empty() ? "" : "; ") + command;
    const std::string events = failedEvents();
    if (!events.empty()) reason += (reason.empty() ? "" : "; ") + events;
    return reason.empty() ? "" : "emulator: " + reason;
}

}  // namespace

std::string absolutePath(const std::string& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    if (ec) return path;
    std::string normal = absolute.lexically_normal().string();
    if (normal.size() > 1 && normal.back() == '/') normal.pop_back();
    return normal;
}

bool enterPackageFolder(const std::string& dir, bool needDescriptor, Problem& failure) {
    const std::string folder = absolutePath(dir.empty() ? "." : dir);
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        failure.message = dir + ": no such folder";
        return false;
    }
    if (needDescriptor && !fs::exists(fs::path(folder) / "package.xml", ec)) {
        failure.message = folder + " holds no package.xml: not an update package's folder";
        return false;
    }
    if (chdir(folder.c_str()) != 0) {
        failure.message = folder + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool prepareHost(Problem& failure) {
    std::string& dir = globals().emulatorDir;
    if (dir.empty()) return true;
    dir = absolutePath(dir);
    if (!fs::exists(emulatorFile(zemt_emu::files::kControllerConf))) {
        failure.message = dir + " is not an emulator state directory (create one with 'zemt emulator init " + dir + "')";
        return false;
    }
    g_requestsFrom = sizeOf(emulatorFile(zemt_emu::files::kRequestLog));
    g_commandsFrom = sizeOf(emulatorFile(zemt_emu::files::kHostCommandLog));
    g_eventsFrom = controllerEvents().size();
    try {
        g_emulatedHost.reset(new CEmulatedHost(dir));
    } catch (const std::exception& refused) {
        failure.message = refused.what();
        return false;
    }
    CPlatformLayer::SetPlatform(g_emulatedHost.get());
    return true;
}

// The library's own account first (where in the flow, which command or
// request), then what the emulator noted about the same failure.
std::string recordedReason() {
    const std::string library = zemtLastFailureReason();
    const std::string emulator = emulatorReason();
    if (library.empty() || emulator.empty()) return library + emulator;
    return library + "; " + emulator;
}

}  // namespace zemt_tool
