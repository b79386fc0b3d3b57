// SPDX-License-Identifier: Apache-2.0
// What the controller does with the inventory-log entries of an update
// document: queries answer with output.xml in the drop box, updates change
// the inventory log, a dependency check evaluates the drop box's
// package.xml against it and answers with its verdict.

#include <cctype>
#include <cstdlib>
#include <filesystem>

#include "Controller.h"
#include "zemt_emulator/Disks.h"
#include "zemt_emulator/Inventory.h"

namespace fs = std::filesystem;

namespace zemt_emu {
namespace {

const char* const kAnswerName = "output.xml";
// The oversized-answer fault writes this much (above the 4 MiB the
// library reads) and grows the drop box to hold it.
const long kOversizedAnswer = 5 * 1048576;
const long kGrownDropBox = 8 * 1048576;

std::string lowerText(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool isQuery(const std::string& mode, Inventory::Kind& kind) {
    if (mode == "rql_query_current_records") kind = Inventory::kCurrent;
    else if (mode == "rql_query_history_records") kind = Inventory::kHistory;
    else if (mode == "rql_query_event_records") kind = Inventory::kEvents;
    else return false;
    return true;
}

bool isUpdate(const std::string& mode) {
    return mode == "rql_update_records" || mode == "rql_update_entire_inventory";
}

}  // namespace

bool Controller::checkInventoryEntry(const std::string& mode, const std::string& source, const std::string& hash,
                                     const std::string& boxDir, std::string& note) {
    Inventory::Kind kind;
    if (isQuery(mode, kind)) return true;
    const bool dependency = mode == "rql_query_dependency";
    // Firmware that cannot check dependencies does not know the mode.
    if (dependency && !DependencyCheckSupported(conf_.GetInt("firmware.major", 2), conf_.GetInt("firmware.minor", 30),
                                                conf_.GetInt("monolithic", 0) != 0)) {
        note += " unknown-mode";
        return false;
    }
    if (!dependency && !isUpdate(mode)) {
        note += " unknown-mode";
        return false;
    }
    const std::string path = JoinPath(boxDir, source);
    if (source.empty() || source.find('/') != std::string::npos || !fs::is_regular_file(path)) {
        note += " missing-source";
        return false;
    }
    if (!hash.empty() && Md5OfFile(path) != lowerText(hash)) {
        note += " source-hash:" + source;
        return false;
    }
    std::string records;
    if (isUpdate(mode) && (!ReadWholeFile(path, records) || !Inventory::ValidRecords(records))) {
        note += " bad-records";
        return false;
    }
    return true;
}

int Controller::carryOutInventoryEntry(const std::string& mode, const std::string& source, const std::string& boxDir,
                                       int bit, const std::string& effect, std::string& note) {
    Inventory inventory(dir_, now_);
    if (!inventory.Load()) {
        note += " no-inventory";
        return 1;
    }
    static const char* const kSent[] = {"Current records sent: ", "History records sent: ", "Event records sent: "};
    std::string answer;
    Inventory::Kind kind;
    if (isQuery(mode, kind)) {
        answer = inventory.Document(kind);
        inventory.AddEvent("query", kSent[kind] + std::to_string(inventory.Count(kind)));
    } else {
        std::string input;
        if (!ReadWholeFile(JoinPath(boxDir, source), input)) return 1;
        if (isUpdate(mode)) {
            if (!inventory.Apply(input, mode == "rql_update_entire_inventory", mode)) return 1;
        } else {
            bool passed = false;
            answer = inventory.CheckDependencies(input, passed);
        }
    }
    if (!inventory.Save()) return 1;
    return isUpdate(mode) ? 0 : writeAnswer(answer, bit, effect, note);
}

// Places the answer in the drop box, as the fault script lets it.
int Controller::writeAnswer(std::string answer, int bit, const std::string& effect, std::string& note) {
    if (effect == "no-answer") {
        note += " no-answer";
        return 0;
    }
    const long offset = conf_.GetInt("partition_table", 0) != 0 ? kPartitionOffset : 0;
    if (effect == "empty-answer") {
        answer.clear();
    } else if (effect == "malformed-answer") {
        answer.resize(answer.size() / 2);  // cut off in the middle of the document
    } else if (effect == "oversized-answer") {
        const std::string::size_type declarationEnd = answer.find("?>") + 2;
        answer.insert(declarationEnd, "\n<!--" + std::string(kOversizedAnswer, '-') + "-->");
        std::string error;
        if (!MakeFatImage(imagePath(true, bit), kGrownDropBox, partitionLabel(true, bit), offset != 0, error))
            return 1;
    }
    if (!effect.empty() && effect.find("answer") != std::string::npos) note += " " + effect;
    ScratchDir scratch(dir_, "answer");
    const std::string name = JoinPath(scratch.Path(), kAnswerName);
    const bool written = !scratch.Path().empty() && WriteWholeFile(name, answer);
    return written ? RunTool({"mcopy", "-o", "-i", MtoolsImage(imagePath(true, bit), offset), name,
                              std::string("::/") + kAnswerName})
                   : 1;
}

}  // namespace zemt_emu
