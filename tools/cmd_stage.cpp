// SPDX-License-Identifier: Apache-2.0
// zemt stage FILE|DIR... --to LABEL/dir: copies files into a static
// partition through a drop box, with the library's copy list and its
// general completer, which also reads every copy back and compares hashes.
// What can be known beforehand is checked before anything is sent.
#include <CLI/CLI.hpp>
#include <iostream>
#include <string>
#include <vector>

#include "Partitions.h"
#include "PlatformLayer.h"
#include "Sources.h"
#include "Tool.h"
#include "md5wrapper.h"
#include "secureKaver.h"

namespace zemt_tool {

namespace {

struct StageOptions {
    std::vector<std::string> sources;
    std::string to;
    unsigned maxDropBoxMiB = 0;  // 0: as large as the controller allows
};

// After the last pass the library reads every copy back.
const PassWords kStagePasses = {"file(s)", "verifying the copies…"};

// The room the copies need against what the mounted partition has free: a
// copy over an existing file needs only what it adds.  Unknown free space
// is no refusal (the controller checks again).
void checkRoom(AttachedPartition& partition, const Target& target, const std::vector<Item>& items,
               Problem& failure) {
    uint64_t available = 0;
    if (!partition.freeSpace(available)) {
        progress("the host did not report the free space of " + target.label + "; the controller checks it");
        return;
    }
    long long needed = 0;
    for (const Item& item : items) {
        long long existing = partition.sizeOf(item.onPartition);
        needed += item.bytes - (existing > 0 ? existing : 0);
    }
    if (needed > 0 && static_cast<uint64_t>(needed) > available)
        failure.message = "not enough room on " + target.label + ": the files need " + std::to_string(needed) +
                          " bytes more than it holds now, and it has " + std::to_string(available) + " bytes free";
}

// After a failed verification: which copy differs from its source, if the
// partition shows one now.
std::string findMismatch(secureKaver& kaver, const Target& target, const std::vector<Item>& items) {
    Problem ignored;
    AttachedPartition partition(kaver, target.label, ignored);
    if (!partition.ok()) return "";
    md5wrapper md5;
    for (const Item& item : items) {
        std::string shown = target.label + "/" + item.onPartition;
        if (partition.kindOf(item.onPartition) != "file") return shown + " is missing";
        std::string hash = md5.getHashFromOpenFile(CPlatformLayer::OpenHostFile(partition.hostPath(item.onPartition), "rb"));
        if (hash != item.md5) return shown + " differs from its source (MD5 " + hash + ", expected " + item.md5 + ")";
    }
    return "";
}

int runStage(const StageOptions& o) {
    Target target;
    std::string why;
    if (!parseTarget(o.to, target, why)) return usageError(why);

    Problem failure;
    std::vector<Item> items;
    collectSources(o.sources, target, items, failure);
    if (!failure.failed()) checkNames(items, failure);
    bool staged = false;
    long long total = 0;
    for (const Item& item : items) total += item.bytes;
    if (!failure.failed() && prepareHost(failure)) {
        secureKaver kaver;
        if (startLibrary(kaver, failure)) {
            {
                AttachedPartition partition(kaver, target.label, failure);
                if (partition.ok()) checkRoom(partition, target, items, failure);
            }
            uint32_t cap = o.maxDropBoxMiB * ONE_MEG;
            if (cap != 0 && cap < kaver.MAX_DYN_PART_SIZE) kaver.MAX_DYN_PART_SIZE = cap;
            if (!failure.failed() && !kaver.StartCopyFile())
                failure.set("the copy list could not be opened", kaver.getZEMTError());
            for (const Item& item : items)
                if (!failure.failed() && !kaver.AddFile(item.source, item.destination, filecopy))
                    failure.set("adding " + item.source + " failed", kaver.getZEMTError());
            for (Item& item : items)
                for (const cfgEntry& e : kaver.FileList)
                    if (e.srcName == item.source && e.dstName == item.destination) item.md5 = e.hash;
            if (!failure.failed()) {
                progress("staging " + std::to_string(items.size()) + " file(s), " + std::to_string(total) +
                         " bytes, into " + target.shown() + " (this can take a while)…");
                setCopyProgressHandler(&reportCopyPass, const_cast<PassWords*>(&kStagePasses));
                staged = kaver.CompleteCopyFile();
                setCopyProgressHandler(nullptr, nullptr);
                unsigned code = kaver.getZEMTError();
                kaver.EndCopyFile();
                if (!staged && code == ZEMT_COPYVERIFYFAIL) {
                    std::string mismatch = findMismatch(kaver, target, items);
                    failure.set(mismatch.empty() ? "verification failed: the copies could not be read back, or differed"
                                                 : "verification failed: " + mismatch,
                                code);
                } else if (!staged) {
                    failure.set("staging into " + target.shown() + " failed", code);
                }
            }
        }
    }

    Json files = Json::array();
    for (const Item& item : items)
        files.push_back(Json{{"source", item.source},
                             {"destination", item.destination},
                             {"bytes", item.bytes},
                             {"md5", item.md5}});
    Json fields{{"target", target.shown()}, {"bytes", total}, {"verified", staged}, {"files", files}};
    return report(fields, failure, [&]() {
        if (!staged) return;
        for (const Item& item : items) std::cout << item.md5 << "  " << item.destination << "\n";
        std::cout << "verified " << items.size() << " file(s), " << total << " bytes\n";
    });
}

}  // namespace

void addStageCommand(CLI::App& root, CommandTable& table) {
    static StageOptions o;
    CLI::App* stage = addCommand(
        root, table,
        {"stage", "copy files into a folder of a static partition and verify them",
         "Copies files (folders with their contents) into LABEL/dir through a drop box, then reads every\n"
         "copy back and compares its MD5.  A file keeps its name; a folder's files keep their path below\n"
         "the folder's name.  Before anything is sent, stage checks that every source can be read, that no\n"
         "two files get the same name on the partition (FAT ignores the case of ASCII letters), that every\n"
         "name is one FAT can hold, and that the partition has room: it attaches the partition and asks the\n"
         "host for the mounted file system's free space (df), counting a copy over an existing file only\n"
         "for what it adds.",
         "zemt --emulator /tmp/ctl stage firmware.bin --to KAV022/fw\n"
         "zemt --emulator /tmp/ctl stage ./package-dir --to KAV022 --max-drop-box 2",
         true},
        []() { return runStage(o); });
    stage->add_option("SOURCE", o.sources, "files and folders to copy")->required();
    stage->add_option("--to", o.to, "the static partition and folder to copy into")->required()->option_text("LABEL/dir");
    stage->add_option("--max-drop-box", o.maxDropBoxMiB, "cap the drop box at MIB (more, smaller passes)")
        ->check(CLI::Range(2, 2047))
        ->option_text("MIB");
}

}  // namespace zemt_tool
