// SPDX-License-Identifier: Apache-2.0
// What the controller does with a task file it kept: the record's command
// names a wrapper program of the controller, the component file in the
// firmware store (partition KAV022) and the place of its output,
//
//     WRAPPER /u frmw:\ID\ID.xml ramfs:\output.xml
//
// The emulated wrapper checks the component file and the payload in
// frmw:\ID\current against the inventory and applies the payload's
// version to the device; every outcome goes to the event log.
#include <libxml/parser.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <sstream>

#include "Controller.h"
#include "zemt_emulator/Disks.h"
#include "zemt_emulator/FatImage.h"
#include "zemt_emulator/Inventory.h"

namespace zemt_emu {
namespace {

const char* const kFirmwareStore = "kav022";
const char* const kUpdateSwitch = " /u frmw:\\";
const char* const kOutputStore = " ramfs:\\";

typedef std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> OwnedDoc;

OwnedDoc parse(const std::string& text) {
    return OwnedDoc(xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                                  XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
                    &xmlFreeDoc);
}

bool named(const xmlNode* node, const char* name) {
    return node != nullptr && node->type == XML_ELEMENT_NODE && xmlStrEqual(node->name, BAD_CAST name);
}

// The first element NAME among the children of PARENT (null-safe).
const xmlNode* child(const xmlNode* parent, const char* name) {
    for (const xmlNode* n = parent ? parent->children : nullptr; n != nullptr; n = n->next)
        if (named(n, name)) return n;
    return nullptr;
}

std::string attribute(const xmlNode* node, const char* name) {
    xmlChar* value = node ? xmlGetProp(node, BAD_CAST name) : nullptr;
    std::string text = value ? reinterpret_cast<const char*>(value) : "";
    xmlFree(value);
    return text;
}

bool endsWithIgnoringCase(const std::string& name, const std::string& end) {
    if (end.empty() || name.size() < end.size()) return end.empty();
    return std::equal(end.begin(), end.end(), name.end() - end.size(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
}

// A file of the partition image, read with mtools.
bool readImageFile(const std::string& image, const std::string& inner, std::string& text) {
    return RunTool({"mtype", "-i", image, "::/" + MtoolsExisting(inner)}, &text) == 0;
}

// The file names (not folders) of a folder of the partition image.
std::vector<std::string> imageFiles(const std::string& image, const std::string& inner) {
    std::string listing;
    std::vector<std::string> names;
    if (RunTool({"mdir", "-a", "-i", image, "::/" + MtoolsExisting(inner) + "/"}, &listing) != 0) return names;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        FatListing entry;
        if (ParseMdirLine(line, entry) && !entry.directory) names.push_back(entry.name);
    }
    return names;
}

std::string joined(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& item : items) out += (out.empty() ? "" : ", ") + item;
    return out;
}

}  // namespace

std::string Controller::runTask(const std::string& name) {
    std::string wrapper, componentId, descriptor, reboot;
    // Why the task cannot run, or nothing.
    auto check = [&]() -> std::string {
        std::string task;
        ReadWholeFile(JoinPath(JoinPath(dir_, files::kTasks), name), task);
        OwnedDoc taskDoc = parse(task);
        const xmlNode* root = taskDoc ? xmlDocGetRootElement(taskDoc.get()) : nullptr;
        const xmlNode* record = child(root, "Record");
        if (!named(root, "SSIB") || record == nullptr) return "it is not a task file (no SSIB record)";
        reboot = attribute(record, "reboot_required");
        const std::string command = attribute(record, "cmd");
        const std::string::size_type update = command.find(kUpdateSwitch);
        const std::string::size_type from = update + std::strlen(kUpdateSwitch);
        const std::string::size_type output = command.find(kOutputStore, update == std::string::npos ? 0 : from);
        if (update == std::string::npos || update == 0 || output == std::string::npos)
            return "its command is not 'WRAPPER /u frmw:\\ID\\ID.xml ramfs:\\output.xml'";
        wrapper = command.substr(0, update);
        const std::string stored = command.substr(from, output - from);  // ID\ID.xml
        const std::string shown = "frmw:\\" + stored;
        const std::string shownFolder = "frmw:\\" + stored.substr(0, stored.rfind('\\') + 1) + "current";

        std::vector<std::string> wrappers;
        std::istringstream known(conf_.Get("task.wrappers", kDefaultTaskWrappers));
        for (std::string item; std::getline(known, item, ',');) wrappers.push_back(item);
        if (std::find(wrappers.begin(), wrappers.end(), wrapper) == wrappers.end())
            return "the controller has no wrapper program '" + wrapper + "' (it has " + joined(wrappers) + ")";

        std::string path = stored, image, inner, componentText;
        std::replace(path.begin(), path.end(), '\\', '/');
        if (!resolveTarget(std::string(kFirmwareStore) + "/" + path, image, inner) ||
            !readImageFile(image, inner, componentText))
            return "the component file " + shown + " is not in the repository";
        OwnedDoc component = parse(componentText);
        const xmlNode* wrapperElement = component ? xmlDocGetRootElement(component.get()) : nullptr;
        const xmlNode* device = child(child(wrapperElement, "SupportedDevices"), "Device");
        componentId = attribute(device, "componentID");
        if (!named(wrapperElement, "Wrapper") || componentId.empty())
            return "the component file " + shown + " names no wrapper and device";
        if (attribute(wrapperElement, "filePathName") != wrapper)
            return "the component file " + shown + " names the wrapper '" + attribute(wrapperElement, "filePathName") +
                   "', the task runs '" + wrapper + "'";

        // The payload: the descriptor and, for firmware of a known file
        // type, a file of that type.
        const std::string current = inner.substr(0, inner.rfind('/') + 1) + "current";
        if (!readImageFile(image, current + "/package.xml", descriptor))
            return "the payload has no package.xml in " + shownFolder;
        const std::string extension = attribute(child(device, "FmpInfo"), "FileExtension");
        for (const std::string& file : imageFiles(image, current))
            if (file != "package.xml" && endsWithIgnoringCase(file, extension)) return "";
        return shownFolder + " holds no " + (extension.empty() ? "" : "*" + extension + " ") + "payload file";
    };

    Inventory inventory(dir_, now_);
    if (!inventory.Load()) return "failed";
    std::string why = check();
    if (why.empty()) {
        const FirmwareChange change = inventory.UpdateFirmware(descriptor, componentId, "ssib", true);
        if (change.outcome == FirmwareChange::kNotADescriptor)
            why = "the payload's package.xml is not a package descriptor";
        else if (change.outcome == FirmwareChange::kNoVersion)
            why = "the payload's package.xml names no vendorVersion";
        else if (change.outcome == FirmwareChange::kNoDevice)
            why = "no device of component " + componentId + " in the inventory fits the payload";
        else
            inventory.AddEvent("task-applied", "Task " + name + ": " + wrapper + " updated " + change.summary +
                                                   (reboot.empty() || reboot == "0" ? "" : "; a reboot is required"));
    }
    if (!why.empty()) inventory.AddEvent("task-failed", "Task " + name + " failed: " + why);
    inventory.Save();
    return why.empty() ? "applied" : "failed";
}

}  // namespace zemt_emu
