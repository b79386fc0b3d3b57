// zemt rm LABEL/path: deletes a stored file from a static partition with a
// one-entry copy list (a filedelete) handed to the controller.  The file is
// looked at first (there, and a file), and its folder listed afterwards.
#include <CLI/CLI.hpp>
#include <iostream>
#include <string>
#include <vector>

#include "Partitions.h"
#include "Tool.h"
#include "secureKaver.h"

namespace zemt_tool {

namespace {

std::string parentOf(const std::string& path) {
    std::string::size_type slash = path.find_last_of('/');
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

// What is at the path now: "file", "directory", "missing", ...
std::string lookAt(secureKaver& kaver, const Target& target, Problem& failure) {
    AttachedPartition partition(kaver, target.label, failure);
    return partition.ok() ? partition.kindOf(target.path) : "";
}

int runRm(const std::string& where) {
    Target target;
    std::string why;
    if (!parseTarget(where, target, why)) return usageError(why);
    if (target.path.empty()) return usageError("name a file on the partition, not the whole partition");
    // No FAT name holds them, and the controller never takes them as patterns.
    if (target.path.find_first_of("*?") != std::string::npos)
        return usageError("'" + where + "' holds a wildcard (* or ?): rm deletes one file, named exactly");

    Problem failure;
    bool deleted = false;
    Target folder{target.label, parentOf(target.path)};
    std::vector<Entry> entries;
    if (prepareHost(failure)) {
        secureKaver kaver;
        if (startLibrary(kaver, failure)) {
            std::string kind = lookAt(kaver, target, failure);
            if (kind == "missing")
                failure.message = target.shown() + ": no such file";
            else if (kind == "directory")
                failure.message = target.shown() + " is a folder: rm deletes single files";
            else if (!failure.failed() && kind != "file")
                failure.message = target.shown() + " is not a file (" + kind + ")";
        }
        if (!failure.failed()) {
            if (!kaver.StartCopyFile() || !kaver.DeleteKaverFile(target.folder())) {
                failure.set("the deletion could not be listed", kaver.getZEMTError());
            } else {
                progress("deleting " + target.shown() + " (this can take a while)…");
                if (!kaver.CompleteCopyFile()) failure.set("deleting " + target.shown() + " failed", kaver.getZEMTError());
                kaver.EndCopyFile();
            }
        }
        if (!failure.failed()) {
            AttachedPartition partition(kaver, target.label, failure);
            if (partition.ok()) {
                deleted = partition.kindOf(target.path) == "missing";
                if (!deleted) failure.message = target.shown() + " is still there after the deletion";
                if (!partition.list(folder.path, entries, why)) entries.clear();
            }
        }
    }
    Json fields{{"path", target.shown()}, {"deleted", deleted}, {"folder", folder.shown()}, {"entries", jsonEntries(entries)}};
    return report(fields, failure, [&]() {
        if (!deleted) return;
        std::cout << "deleted " << target.shown() << "; " << folder.shown() << " now holds "
                  << (entries.empty() ? "nothing" : std::to_string(entries.size()) + " entr" +
                                                        (entries.size() == 1 ? "y:" : "ies:"))
                  << "\n";
        printEntries(entries);
    });
}

}  // namespace

void addRmCommand(CLI::App& root, CommandTable& table) {
    static std::string where;
    CLI::App* rm = addCommand(
        root, table,
        {"rm", "delete a stored file from a static partition, and list its folder afterwards",
         "Looks at the file first: a name that is not there is reported as no such file, a folder is\n"
         "refused, and so are the wildcards * and ?.  The name is taken exactly (FAT ignores the case of\n"
         "ASCII letters).",
         "zemt --emulator /tmp/ctl rm KAV022/fw/firmware.bin", true},
        []() { return runRm(where); });
    rm->add_option("LABEL/PATH", where, "the file to delete")->required();
}

}  // namespace zemt_tool
