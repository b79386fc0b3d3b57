// SPDX-License-Identifier: Apache-2.0
// zemt package [DIR]: what the library's descriptor reader sees in a
// package's package.xml.  It reads the file only: no controller, no host
// change.
#include <CLI/CLI.hpp>
#include <iostream>
#include <string>

#include "Package.h"
#include "Tool.h"

namespace zemt_tool {

namespace {

std::string orNone(const std::string& text) { return text.empty() ? "(none)" : text; }

void printPackage(const std::string& folder, const PackageView& p) {
    std::cout << "Package " << folder << "\n"
              << "  component  " << orNone(p.componentId) << (p.display.empty() ? "" : " (" + p.display + ")") << "\n"
              << "  version    " << orNone(p.version) << "\n"
              << "  type       " << orNone(p.type) << "\n"
              << "  rollback   " << (p.rollbackInformation ? "rollback information present" : "no rollback information")
              << "\n";
    std::cout << "Supported devices:" << (p.devices.empty() ? " none\n" : "\n");
    std::vector<std::vector<std::string>> rows;
    for (const PackageDevice& d : p.devices) {
        if (d.pci.empty()) rows.push_back({d.componentId, "-", d.name});
        for (const SPCIInfo& pci : d.pci) rows.push_back({d.componentId, pciText(pci), d.name});
    }
    if (!rows.empty()) printRows({"COMPONENT", "PCI", "NAME"}, rows, "  ");
    std::cout << "Dependencies:" << (p.dependencies.empty() ? " none\n" : "\n");
    rows.clear();
    for (const PackageDependency& d : p.dependencies)
        rows.push_back({d.soft ? "soft" : "hard", d.componentId, orNone(d.componentType), orNone(d.version),
                        d.hasPci ? pciText(d.pci) : "-", d.name});
    if (!rows.empty()) printRows({"KIND", "COMPONENT", "TYPE", "VERSION", "PCI", "NAME"}, rows, "  ");
}

int runPackage(const std::string& dir) {
    Problem failure;
    const std::string folder = absolutePath(dir.empty() ? "." : dir);
    PackageView package;
    if (enterPackageFolder(dir, true, failure) && prepareHost(failure)) {
        package = readPackage();
        if (!package.recognised)
            failure.message = folder + "/package.xml is not a package descriptor the reader knows (not well-formed, "
                                       "larger than 4 MiB, or without a SoftwareComponent root)";
    }
    Json fields{{"package", folder}};
    const Json view = jsonPackage(package);
    for (auto it = view.begin(); it != view.end(); ++it) fields[it.key()] = it.value();
    return report(fields, failure, [&]() {
        if (!failure.failed()) printPackage(folder, package);
    });
}

}  // namespace

void addPackageCommand(CLI::App& root, CommandTable& table) {
    static std::string dir;
    CLI::App* package = addCommand(
        root, table,
        {"package", "what the library's descriptor reader sees in a package",
         "Reads package.xml of the package's folder (PACKAGE_DIR, or the working directory) with the\n"
         "library's reader, as an update does: the component id, version and type, the supported devices\n"
         "with their PCI identities and names, the hard and soft dependencies, and whether the package\n"
         "carries rollback information.  It reads the file only: it talks to no controller and changes\n"
         "nothing on the host, so it needs neither root nor --emulator.\n"
         "Exit status: 0 read, 1 the folder holds no package.xml the reader knows, 2 usage error.",
         "zemt package examples/packages/nx2-adapter-firmware\nzemt package /opt/updates/bios --json", false},
        []() { return runPackage(dir); });
    package->add_option("PACKAGE_DIR", dir, "the package's folder (default: the working directory)");
}

}  // namespace zemt_tool
