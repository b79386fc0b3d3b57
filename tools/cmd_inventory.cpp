// SPDX-License-Identifier: Apache-2.0
// zemt inventory [current|history|events]: the controller's inventory log;
// zemt inventory add: records a device in it (UpdateRQL).
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "Answers.h"
#include "Tool.h"
#include "secureKaver.h"

namespace zemt_tool {

namespace {

const std::size_t kDeviceListLimit = 4 * 1048576;

struct Column {
    const char* title;
    std::string (*value)(const Record&);
};

std::string attr(const Record& r, const char* key) { return r.Get(key); }

const Column kDeviceColumns[] = {
    {"COMPONENT", [](const Record& r) { return attr(r, "componentID"); }},
    {"TYPE", [](const Record& r) { return r.Firmware("componentType"); }},
    {"VERSION", [](const Record& r) { return r.Firmware("version"); }},
    {"NAME", [](const Record& r) { return attr(r, "display"); }},
};
const Column kChangeColumns[] = {
    {"TIME", [](const Record& r) { return attr(r, "time"); }},
    {"ACTION", [](const Record& r) { return attr(r, "action"); }},
    {"COMPONENT", [](const Record& r) { return attr(r, "componentID"); }},
    {"FROM", [](const Record& r) { return attr(r, "fromVersion"); }},
    {"TO", [](const Record& r) { return attr(r, "toVersion"); }},
    {"BY", [](const Record& r) { return attr(r, "by"); }},
    {"NAME", [](const Record& r) { return attr(r, "display"); }},
};
const Column kEventColumns[] = {
    {"TIME", [](const Record& r) { return attr(r, "time"); }},
    {"ID", [](const Record& r) { return attr(r, "id"); }},
    {"ACTION", [](const Record& r) { return attr(r, "action"); }},
    {"TEXT", [](const Record& r) { return r.text; }},
};

template <std::size_t N>
void printTable(const Column (&columns)[N], const std::vector<Record>& records) {
    std::vector<std::string> titles;
    for (const Column& c : columns) titles.push_back(c.title);
    std::vector<std::vector<std::string>> rows;
    for (const Record& r : records) {
        rows.emplace_back();
        for (const Column& c : columns) rows.back().push_back(c.value(r));
    }
    printRows(titles, rows);
}

struct Kind {
    const char* name;
    xmlMode_t mode;
    const char* element;  // the records the emulator's layout holds
};
const Kind kKinds[] = {
    {"current", rql_query_current_records, "Device"},
    {"history", rql_query_history_records, "Change"},
    {"events", rql_query_event_records, "Event"},
};

// The records, when every one is of the kind's element.
bool recognised(const Kind& kind, const std::string& root, const std::vector<Record>& records) {
    if (root != "SVMInventory") return false;
    for (const Record& r : records)
        if (r.element != kind.element) return false;
    return true;
}

void printRecords(const Kind& kind, const std::vector<Record>& records) {
    if (std::string(kind.element) == "Device") printTable(kDeviceColumns, records);
    else if (std::string(kind.element) == "Change") printTable(kChangeColumns, records);
    else printTable(kEventColumns, records);
}

int runQuery(const std::string& which, bool xml) {
    const Kind* kind = nullptr;
    for (const Kind& k : kKinds)
        if (which == k.name) kind = &k;
    Problem failure;
    std::string document, root;
    std::vector<Record> records;
    bool known = false;
    if (prepareHost(failure)) {
        secureKaver kaver;
        if (startLibrary(kaver, failure)) {
            progress("asking the controller for its " + which + " records (this can take a while)…");
            std::stringstream answer;
            if (!kaver.QueryRQL(answer, kind->mode))
                failure.set("the inventory-log query failed", kaver.getZEMTError());
            document = answer.str();
        }
    }
    if (!failure.failed()) known = readRecords(document, root, records) && recognised(*kind, root, records);
    Json fields{{"kind", which},
                {"recognised", known},
                {"records", jsonRecords(known ? records : std::vector<Record>())},
                {"document", xml || (!known && !failure.failed()) ? Json(document) : Json(nullptr)}};
    return report(fields, failure, [&]() {
        if (failure.failed()) return;
        if (xml || !known) {
            if (!known && !xml) progress("the answer is not in a layout zemt knows; here it is as it came:");
            std::cout << document << (document.empty() || document.back() == '\n' ? "" : "\n");
        } else {
            printRecords(*kind, records);
        }
    });
}

// The caller's device list, bounded as the library bounds it.
std::string readDeviceList(const std::string& path, Problem& failure) {
    std::ifstream in(absolutePath(path), std::ios::binary);
    if (!in.is_open()) {
        failure.message = path + ": cannot be opened (" + std::strerror(errno) + ")";
        return "";
    }
    std::string text(kDeviceListLimit + 1, '\0');
    in.read(&text[0], static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (in.bad()) failure.message = path + ": cannot be read";
    else if (text.size() > kDeviceListLimit) failure.message = path + ": larger than 4 MiB";
    return text;
}

struct AddOptions {
    std::string component, devices, package;
    bool entire = false;
};

int runAdd(const AddOptions& o) {
    if (o.component.empty() == o.devices.empty())
        return usageError("give --component ID (the device package.xml describes) or --devices FILE, one of them");
    Problem failure;
    std::string list = o.devices.empty() ? "" : readDeviceList(o.devices, failure);
    const xmlMode_t mode = o.entire ? rql_update_entire_inventory : rql_update_records;
    std::string sent;
    if (!failure.failed() && enterPackageFolder(o.package, !o.component.empty(), failure) && prepareHost(failure)) {
        secureKaver kaver;
        if (startLibrary(kaver, failure)) {
            sent = kaver.getRQLXml(o.component, list);
            progress(std::string(o.entire ? "replacing the controller's inventory" : "recording in the controller's inventory") +
                     " (this can take a while)…");
            if (!kaver.UpdateRQL(o.component, mode, list))
                failure.set("the inventory-log update failed", kaver.getZEMTError());
        }
    }
    std::string root;
    std::vector<Record> devices;
    readRecords(sent, root, devices);
    Json fields{{"mode", o.entire ? "rql_update_entire_inventory" : "rql_update_records"},
                {"records", jsonRecords(devices)},
                {"document", sent.empty() ? Json(nullptr) : Json(sent)}};
    return report(fields, failure, [&]() {
        if (failure.failed()) return;
        std::cout << (o.entire ? "Replaced the controller's inventory with " : "Recorded ") << devices.size()
                  << " device(s)" << (o.entire ? "" : " in the controller's inventory") << ":\n";
        printTable(kDeviceColumns, devices);
    });
}

}  // namespace

void addInventoryCommand(CLI::App& root, CommandTable& table) {
    static std::string which = "current";
    static bool xml = false;
    CLI::App* inventory = addCommand(
        root, table,
        {"inventory", "the controller's inventory log: current, history or events",
         "Asks the controller for its current records (devices and their firmware), its history (what\n"
         "changed, when) or its events (what it did), and prints them as a table; --xml prints the document\n"
         "as the controller wrote it, --json structured records.  An answer in a layout zemt does not know is\n"
         "printed as it came.",
         "zemt --emulator /tmp/ctl inventory\nzemt --emulator /tmp/ctl inventory history --json\n"
         "zemt --emulator /tmp/ctl inventory add --component 21500 --package examples/packages/nx2-adapter-firmware",
         true},
        []() { return runQuery(which, xml); });
    inventory->add_option("KIND", which, "current (the default), history or events")
        ->check(CLI::IsMember({"current", "history", "events"}));
    inventory->add_flag("--xml", xml, "print the answer document as it came");

    static AddOptions o;
    CLI::App* add = addCommand(
        *inventory, table,
        {"add", "record devices in the controller's inventory log",
         "With --component ID the record describes the device ID of the package in --package DIR (or the\n"
         "working directory): its package.xml gives the name, type and version, its getSystemId the system's\n"
         "version compatibilities.  With --devices FILE the Device elements of FILE are recorded as they are.\n"
         "--entire replaces the whole inventory with these records.",
         "zemt --emulator /tmp/ctl inventory add --component 21500 --package examples/packages/nx2-adapter-firmware\n"
         "zemt --emulator /tmp/ctl inventory add --devices devices.xml --entire",
         true},
        []() { return runAdd(o); });
    CLI::Option* component = add->add_option("--component", o.component, "the package's device to record")->option_text("ID");
    add->add_option("--devices", o.devices, "a file of Device elements to record")->option_text("FILE")->excludes(component);
    add->add_flag("--entire", o.entire, "replace the whole inventory");
    add->add_option("--package", o.package, "the package's folder (default: the working directory)")->option_text("DIR");
}

}  // namespace zemt_tool
