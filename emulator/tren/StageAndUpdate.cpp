// SPDX-License-Identifier: Apache-2.0
// Stage-and-update, sub-command 37: the controller reports the capability,
// stages (or stages and applies) the payload a drop box brought under
// /payload, and reports the outcome to status polls once the stage time
// has passed on the virtual clock.
#include <cctype>
#include <filesystem>
#include <fstream>

#include "Controller.h"
#include "zemt_emulator/Disks.h"
#include "zemt_emulator/Inventory.h"

namespace fs = std::filesystem;

namespace zemt_emu {
namespace {

// Operations (request byte 5).
const uint8_t kQueryCapability = 1;
const uint8_t kStageOnly = 2;
const uint8_t kStageAndApply = 4;
const uint8_t kReadStatus = 8;

const uint8_t kAccepted = 1;

// Status codes of a poll.
const uint8_t kNothingStarted = 1;
const uint8_t kPending = 2;
const uint8_t kValidationFailed = 4;
const uint8_t kXmlError = 44;
const uint8_t kRebootRequired = 45;
const uint8_t kNoMatchingDevice = 46;
const uint8_t kNoRebootRequired = 47;

const long kDefaultStageSeconds = 10;

const std::string kPayloadFolder = "/payload";

std::string stagedPayload(const std::string& dir) {
    return JoinPath(JoinPath(dir, files::kStaging), kPayloadFolder.substr(1));
}

bool underPayload(const std::string& destination) {
    const std::string folder = kPayloadFolder + "/";
    return destination == kPayloadFolder || destination.compare(0, folder.size(), folder) == 0;
}

}  // namespace

bool Controller::IsPayloadDocument(const std::vector<DocumentEntry>& entries) {
    for (const DocumentEntry& e : entries)
        if (!underPayload(e.destination)) return false;
    return !entries.empty();
}

int Controller::stagePayloadPass(const std::vector<DocumentEntry>& entries, const std::string& boxDir,
                                 std::string& note) {
    // Every entry is checked before the store changes.
    for (const DocumentEntry& e : entries) {
        if (!SafeInnerPath(e.destination.substr(1))) {
            note += " bad-destination";
            return kCcFailure;
        }
        if (e.mode == "dirmake" || e.mode == "filedelete") continue;
        if (e.mode == "filemove") {
            if (!underPayload(e.sourceKaver) || !SafeInnerPath(e.sourceKaver.substr(1))) {
                note += " bad-source";
                return kCcFailure;
            }
            continue;
        }
        if (e.mode != "filecopy" && e.mode != "fileappend") {
            note += " unknown-mode";
            return kCcFailure;
        }
        const std::string source = JoinPath(boxDir, e.source);
        if (e.source.empty() || !SafeInnerPath(e.source) || !fs::is_regular_file(source)) {
            note += " missing-source";
            return kCcFailure;
        }
        std::string hash = e.hash;
        for (char& c : hash) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (Md5OfFile(source) != hash) {
            note += " source-hash:" + e.source;
            return kCcFailure;
        }
    }
    // The first pass of a payload makes its folder afresh; later passes add
    // their files, and the chunks of a split file join beside it until the
    // pass with the last one moves the joined file into place.
    const std::string store = stagedPayload(dir_);
    auto inStore = [this](const std::string& path) {
        return fs::path(JoinPath(JoinPath(dir_, files::kStaging), path.substr(1)));
    };
    std::error_code ec;
    for (const DocumentEntry& e : entries) {
        const fs::path target = inStore(e.destination);
        if (e.destination == kPayloadFolder && e.mode == "dirmake") fs::remove_all(store, ec);
        if (e.mode == "dirmake" || e.mode == "filedelete" || e.mode == "filemove") {
            if (e.mode == "dirmake") fs::create_directories(target, ec);
            if (e.mode == "filedelete") fs::remove(target, ec);
            if (e.mode == "filemove") fs::rename(inStore(e.sourceKaver), target, ec);
            if (ec) {
                note += " failed-" + e.mode;
                return kCcFailure;
            }
            continue;
        }
        fs::create_directories(target.parent_path(), ec);
        std::ifstream in(JoinPath(boxDir, e.source), std::ios::binary);
        std::ofstream out(target, std::ios::binary | (e.mode == "fileappend" ? std::ios::app : std::ios::trunc));
        if (in.peek() != std::ifstream::traits_type::eof()) out << in.rdbuf();  // an empty file stays empty
        if (ec || !out) {
            note += " failed-" + e.mode;
            return kCcFailure;
        }
    }
    note += " payload-staged";
    return kCcSuccess;
}

void Controller::StageAndUpdate(const Request& request, Reply& reply) {
    const uint8_t operation = request.bytes[5];
    uint8_t answer = 0;
    if (operation == kQueryCapability) {
        answer = conf_.GetInt("guid", 0) != 0 ? 1 : 0;
    } else if (operation == kStageOnly || operation == kStageAndApply || operation == kReadStatus) {
        const bool start = operation != kReadStatus;
        const Fault* fault = fireWhere([start](const Fault& f) {
            return f.target == Fault::kStage && (start ? f.stageStart : f.stageStatus) >= 0;
        });
        if (fault) processNote_ = " fault=" + std::to_string(fault->lineNumber);
        if (start) {
            answer = fault ? static_cast<uint8_t>(fault->stageStart) : kAccepted;
            // A new stage replaces one still pending.
            if (answer == kAccepted) {
                state_.SetInt("stage.operation", operation);
                const long seconds = conf_.GetInt("stage.seconds", kDefaultStageSeconds);
                state_.SetInt("stage.until", static_cast<long>(now_) + seconds);
                state_.Erase("stage.status");
            }
        } else {
            const uint8_t status = stageStatus();
            answer = fault ? static_cast<uint8_t>(fault->stageStatus) : status;
        }
    } else {
        reply.Fail(kCcInvalidField);
        return;
    }
    putU16(reply.data, request.Handle());
    reply.data.push_back(answer);
    putU16(reply.data, 0);
}

uint8_t Controller::stageStatus() {
    if (!state_.Has("stage.operation"))
        return static_cast<uint8_t>(state_.GetInt("stage.status", kNothingStarted));
    if (static_cast<long>(now_) < state_.GetInt("stage.until", 0)) return kPending;
    const bool apply = state_.GetInt("stage.operation", 0) == kStageAndApply;
    state_.Erase("stage.operation");
    state_.Erase("stage.until");

    // Validation of the staged descriptor and payload against the inventory.
    Inventory inventory(dir_, now_);
    const std::string store = stagedPayload(dir_);
    std::string descriptor, why;
    bool payload = false;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(store, ec), end; !ec && it != end; it.increment(ec))
        payload = payload || (it->is_regular_file() && it->path() != fs::path(JoinPath(store, "package.xml")));
    uint8_t status = kValidationFailed;
    FirmwareChange change;
    const bool loaded = inventory.Load();
    if (!loaded) {
        why = "the inventory cannot be read";
    } else if (!ReadWholeFile(JoinPath(store, "package.xml"), descriptor)) {
        why = "/payload holds no package.xml";
    } else if (!payload) {
        why = "/payload holds no payload file beside package.xml";
    } else {
        change = inventory.UpdateFirmware(descriptor, "", "stage-and-update", apply);
        if (change.outcome == FirmwareChange::kNotADescriptor) {
            status = kXmlError;
            why = "package.xml is not a package descriptor";
        } else if (change.outcome == FirmwareChange::kNoVersion) {
            why = "package.xml names no vendorVersion";
        } else if (change.outcome == FirmwareChange::kNoDevice) {
            status = kNoMatchingDevice;
            why = "no device in the inventory fits the package";
        } else {
            status = change.rebootRequired ? kRebootRequired : kNoRebootRequired;
        }
    }
    state_.SetInt("stage.status", status);
    if (loaded) {
        const std::string reboot = change.rebootRequired ? "a reboot is required" : "no reboot is required";
        if (!why.empty())
            inventory.AddEvent("stage-failed", std::string(apply ? "Stage and update" : "Stage") +
                                                   " failed with status " + std::to_string(status) + ": " + why);
        else if (apply)
            inventory.AddEvent("stage-and-update", "Updated " + change.summary + "; " + reboot);
        else
            inventory.AddEvent("staged", "Staged " + change.summary + ", not applied; applying it: " + reboot);
        inventory.Save();
    }
    return status;
}

}  // namespace zemt_emu
