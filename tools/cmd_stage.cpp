// zemt stage FILE|DIR... --to LABEL/dir: copies files into a static
// partition through a drop box, with the library's copy list and its
// general completer, which also reads every copy back and compares hashes.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "Json.h"
#include "Tool.h"
#include "secureKaver.h"
#include "zemt_emulator/State.h"

namespace fs = std::filesystem;

namespace zemt_tool {

namespace {

struct Item {
    Item(const std::string& from, const std::string& to) : source(from), destination(to) {}
    std::string source;       // absolute host path
    std::string destination;  // "kavNNN/dir/name"
    long long bytes = 0;
    std::string md5;
};

// Files named directly keep their base name; a directory's files keep their
// path below it.  Anything else (a device, a socket, a missing path) is
// refused before anything is sent.
bool collect(const std::string& arg, const std::string& folder, std::vector<Item>& items, std::string& why) {
    std::error_code ec;
    fs::path source = fs::absolute(arg, ec);
    fs::file_status st = fs::status(source, ec);
    if (fs::is_regular_file(st)) {
        items.push_back(Item(source.lexically_normal().string(), folder + source.filename().string()));
        return true;
    }
    if (!fs::is_directory(st)) {
        why = arg + ": not a file or directory";
        return false;
    }
    fs::path base = source.lexically_normal();
    if (base.filename().empty()) base = base.parent_path();
    std::vector<Item> found;
    for (fs::recursive_directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        found.push_back(Item(it->path().string(),
                             folder + base.filename().string() + "/" + it->path().lexically_relative(base).string()));
    }
    if (ec) {
        why = arg + ": " + ec.message();
        return false;
    }
    std::sort(found.begin(), found.end(), [](const Item& a, const Item& b) { return a.destination < b.destination; });
    items.insert(items.end(), found.begin(), found.end());
    return true;
}

// One line per pass the controller accepted; after the last pass the
// library reads every copy back.
void reportPass(const copyProgress* p, void*) {
    progress("pass " + std::to_string(p->pass) + ": " + std::to_string(p->bytesDone) + " of " +
             std::to_string(p->bytes) + " bytes staged, " + std::to_string(p->entriesDone) + " of " +
             std::to_string(p->entries) + " file(s) complete");
    if (p->entriesDone == p->entries) progress("verifying the copies…");
}

}  // namespace

int cmdStage(const Args& args) {
    bool json = false;
    std::string to;
    uint32_t maxDropBox = 0;  // 0: as large as the controller allows
    std::vector<std::string> sources;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--json") {
            json = true;
        } else if (args[i] == "--max-drop-box") {
            long mib = 0;
            if (i + 1 >= args.size() || !zemt_emu::ParseNumber(args[++i], mib) || mib < 2 || mib > 2047)
                return usageError("stage: --max-drop-box wants a size in MiB, 2 to 2047");
            maxDropBox = static_cast<uint32_t>(mib) * ONE_MEG;
        } else if (args[i] == "--to") {
            if (i + 1 >= args.size()) return usageError("stage: --to wants LABEL/dir");
            to = args[++i];
        } else {
            sources.push_back(args[i]);
        }
    }
    if (sources.empty()) return usageError("stage wants at least one FILE or DIR");
    if (to.empty()) return usageError("stage wants --to LABEL/dir");
    std::string label, path, why;
    if (!splitTarget(to, label, path, why)) return usageError("stage: " + why);
    std::string folder = folderOf(label) + "/" + (path.empty() ? "" : path + "/");
    std::vector<Item> items;
    for (const std::string& source : sources)
        if (!collect(source, folder, items, why)) return usageError("stage: " + why);
    if (items.empty()) return usageError("stage: nothing to copy");

    secureKaver kaver;
    std::string failure;
    unsigned code = 0;
    bool staged = false;
    long long total = 0;
    startLibrary(kaver, failure, code);
    if (maxDropBox != 0 && maxDropBox < kaver.MAX_DYN_PART_SIZE) kaver.MAX_DYN_PART_SIZE = maxDropBox;
    if (failure.empty() && !kaver.StartCopyFile()) {
        code = kaver.getZEMTError();
        failure = "the copy list could not be opened";
    }
    for (std::size_t i = 0; failure.empty() && i < items.size(); ++i) {
        if (!kaver.AddFile(items[i].source, items[i].destination, filecopy)) {
            code = kaver.getZEMTError();
            failure = "adding " + items[i].source + " failed";
        }
    }
    if (failure.empty()) {
        for (Item& item : items) {
            for (const cfgEntry& e : kaver.FileList) {
                if (e.srcName == item.source && e.dstName == item.destination) {
                    item.bytes = e.fileSize;
                    item.md5 = e.hash;
                }
            }
            total += item.bytes;
        }
        progress("staging " + std::to_string(items.size()) + " file(s), " + std::to_string(total) +
                 " bytes, into " + label + "/" + path + " (this can take a while)…");
        setCopyProgressHandler(&reportPass, nullptr);
        staged = kaver.CompleteCopyFile();
        setCopyProgressHandler(nullptr, nullptr);
        if (!staged) {
            code = kaver.getZEMTError();
            failure = code == 47 ? "a copy did not match its source" : "staging failed";
        }
        kaver.EndCopyFile();
    }

    if (json) {
        JsonWriter j;
        j.BeginObject();
        j.Key("ok");
        j.Bool(failure.empty());
        j.Key("target");
        j.String(label + "/" + path);
        j.Key("bytes");
        j.Number(total);
        j.Key("verified");
        j.Bool(staged);
        j.Key("files");
        j.BeginArray();
        for (const Item& item : items) {
            j.BeginObject();
            j.Key("source");
            j.String(item.source);
            j.Key("destination");
            j.String(item.destination);
            j.Key("bytes");
            j.Number(item.bytes);
            j.Key("md5");
            j.String(item.md5);
            j.EndObject();
        }
        j.EndArray();
        printJsonResult(j, code, failure);
    } else if (staged) {
        for (const Item& item : items) std::cout << item.md5 << "  " << item.destination << "\n";
        std::cout << "verified " << items.size() << " file(s), " << total << " bytes\n";
    }
    return exitStatus("stage", failure, code);
}

}  // namespace zemt_tool
