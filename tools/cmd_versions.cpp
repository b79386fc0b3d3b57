// SPDX-License-Identifier: Apache-2.0
// zemt versions [COMPONENT_ID]: the versioned component folders of KAV022,
// ID/current (the installed version) and ID/previous (the one before it),
// with the version each folder's package.xml names and its files; read
// with KAV022 attached read-only, as ls reads it.
#include <CLI/CLI.hpp>
#include <iostream>
#include <string>
#include <vector>

#include "Answers.h"
#include "Partitions.h"
#include "Tool.h"
#include "secureKaver.h"

namespace zemt_tool {

namespace {

const char* const kRepository = "KAV022";
const std::size_t kDescriptorLimit = 4 * 1048576;

struct VersionFolder {
    bool present = false;
    std::string version;  // "" when package.xml is missing or names none
    std::vector<Entry> files;
};

struct Component {
    std::string id;
    bool componentFile = false;  // ID/ID.xml, which the controller's task reads
    VersionFolder current, previous;
};

// The vendorVersion of a package descriptor's text ("" when it names none).
std::string versionIn(const std::string& descriptor) {
    std::string root;
    std::vector<Record> children;
    Attributes attributes;
    if (!readRecords(descriptor, root, children, &attributes) || root != "SoftwareComponent") return "";
    return attributeOf(attributes, "vendorVersion");
}

VersionFolder readFolder(const AttachedPartition& partition, const std::string& path) {
    VersionFolder folder;
    std::string why, descriptor;
    folder.present = partition.kindOf(path) == "directory" && partition.list(path, folder.files, why);
    if (folder.present && partition.readFile(path + "/package.xml", descriptor, kDescriptorLimit))
        folder.version = versionIn(descriptor);
    return folder;
}

// The folders of KAV022's root that hold a current or previous folder, or
// only `wanted` when it is given.
std::vector<Component> readComponents(const AttachedPartition& partition, const std::string& wanted) {
    std::vector<Entry> root;
    std::string why;
    if (!wanted.empty()) root.push_back(Entry{wanted, partition.kindOf(wanted), -1});
    else partition.list("", root, why);
    std::vector<Component> components;
    for (const Entry& entry : root) {
        if (entry.kind != "directory") continue;
        Component c;
        c.id = entry.name;
        c.current = readFolder(partition, c.id + "/current");
        c.previous = readFolder(partition, c.id + "/previous");
        c.componentFile = partition.kindOf(c.id + "/" + c.id + ".xml") == "file";
        if (c.current.present || c.previous.present) components.push_back(c);
    }
    return components;
}

Json jsonFolder(const VersionFolder& f) {
    if (!f.present) return nullptr;
    return Json{{"version", f.version.empty() ? Json(nullptr) : Json(f.version)}, {"files", jsonEntries(f.files)}};
}

void printFolder(const char* name, const VersionFolder& f) {
    std::cout << "  " << name << (std::string(name) == "current" ? "   " : "  ");
    if (!f.present) {
        std::cout << "(no such folder)\n";
        return;
    }
    std::cout << (f.version.empty() ? "version unknown (no package.xml naming one)" : f.version) << "\n";
    printEntries(f.files, "    ");
}

int runVersions(const std::string& id) {
    if (id.find('/') != std::string::npos || id == "." || id == "..")
        return usageError("'" + id + "' is not a component id (a folder name of " + std::string(kRepository) + ")");
    Problem failure;
    std::vector<Component> components;
    if (prepareHost(failure)) {
        secureKaver kaver;
        if (startLibrary(kaver, failure)) {
            AttachedPartition partition(kaver, kRepository, failure);
            if (partition.ok()) {
                components = readComponents(partition, id);
                partition.detach(failure);
            }
        }
    }
    if (!failure.failed() && !id.empty() && components.empty())
        failure.message = std::string(kRepository) + " holds no versioned folders of component " + id;
    Json list = Json::array();
    for (const Component& c : components)
        list.push_back(Json{{"componentID", c.id},
                            {"componentFile", c.componentFile},
                            {"current", jsonFolder(c.current)},
                            {"previous", jsonFolder(c.previous)}});
    return report(Json{{"partition", kRepository}, {"components", list}}, failure, [&]() {
        if (failure.failed()) return;
        if (components.empty()) std::cout << kRepository << " holds no versioned component folders\n";
        for (const Component& c : components) {
            std::cout << kRepository << "/" << c.id
                      << (c.componentFile ? " (component file " + c.id + ".xml)" : " (no component file)") << "\n";
            printFolder("current", c.current);
            printFolder("previous", c.previous);
        }
    });
}

}  // namespace

void addVersionsCommand(CLI::App& root, CommandTable& table) {
    static std::string id;
    CLI::App* versions = addCommand(
        root, table,
        {"versions", "the versions in KAV022's current and previous folders of each component",
         "An update on a generation-two controller keeps each component's installed version in\n"
         "KAV022/ID/current and the one before it in KAV022/ID/previous (a first install puts the same\n"
         "version in both; reinstalling the version current holds replaces current only).  versions\n"
         "attaches KAV022 read-only, as ls does, and prints for each component (or only COMPONENT_ID) the\n"
         "vendorVersion of each folder's package.xml and the folder's files.  Rolling back is updating\n"
         "with the package of the version previous holds.\n"
         "Exit status: 0 shown, 1 KAV022 could not be read or holds no folders of COMPONENT_ID, 2 usage\n"
         "error.",
         "zemt --emulator /tmp/ctl versions\nzemt --emulator /tmp/ctl versions 159 --json", true},
        []() { return runVersions(id); });
    versions->add_option("COMPONENT_ID", id, "only this component's folders");
}

}  // namespace zemt_tool
