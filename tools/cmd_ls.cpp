// zemt ls LABEL[/PATH]: attach a static partition, list a directory of it
// through the host seam, and detach it again.
#include <algorithm>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "Json.h"
#include "PlatformLayer.h"
#include "Tool.h"
#include "secureKaver.h"

namespace zemt_tool {

namespace {

struct Entry {
    std::string name;
    const char* kind;
};

const char* kindName(PathKind kind) {
    switch (kind) {
        case PathFile: return "file";
        case PathDirectory: return "directory";
        case PathSymlink: return "symlink";
        case PathMissing: return "missing";
        default: return "other";
    }
}

// KAV001 .. KAV256, as the catalogue names static partitions.
bool validLabel(const std::string& label) {
    if (label.size() != 6 || label.compare(0, 3, "KAV") != 0) return false;
    for (std::size_t i = 3; i < 6; ++i)
        if (label[i] < '0' || label[i] > '9') return false;
    int id = std::stoi(label.substr(3));
    return id >= 1 && id <= 256;
}

}  // namespace

// Splits "LABEL/a/./b/" into the label and "a/b".  A ".." component could
// name something outside the partition's mount directory: refused.
bool splitTarget(const std::string& target, std::string& label, std::string& path, std::string& why) {
    std::string::size_type slash = target.find('/');
    label = target.substr(0, slash);
    if (!validLabel(label)) {
        why = "'" + label + "' is not a static partition label (KAV001 to KAV256)";
        return false;
    }
    path.clear();
    if (slash == std::string::npos) return true;
    std::stringstream split(target.substr(slash + 1));
    std::string part;
    while (std::getline(split, part, '/')) {
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            why = "a path on the partition may not contain '..'";
            return false;
        }
        path += (path.empty() ? "" : "/") + part;
    }
    return true;
}

namespace {

// Lists `target` (a directory, or a single entry) through the platform
// layer; false with a reason when it does not exist.
bool listEntries(const std::string& target, std::vector<Entry>& entries, std::string& why) {
    PathKind kind = CPlatformLayer::GetPathKind(target);
    if (kind == PathMissing) {
        why = "no such file or directory";
        return false;
    }
    if (kind != PathDirectory) {
        entries.push_back(Entry{target.substr(target.find_last_of('/') + 1), kindName(kind)});
        return true;
    }
    std::string dir = target;
    if (dir.back() != '/') dir += '/';
    for (const std::string& listed : CPlatformLayer::GetFileList(target)) {
        std::string name = listed.substr(listed.find_last_of('/') + 1);
        entries.push_back(Entry{name, kindName(CPlatformLayer::GetPathKind(dir + name))});
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return true;
}

}  // namespace

int cmdLs(const Args& args) {
    bool json = false;
    Args words = takeJsonFlag(args, json);
    if (words.size() != 1) return usageError("ls wants one LABEL[/PATH]");
    std::string label, path, why;
    if (!splitTarget(words[0], label, path, why)) return usageError("ls: " + why);

    secureKaver kaver;
    std::string failure;
    unsigned code = 0;
    std::string mountDir, target;
    std::vector<Entry> entries;
    bool attached = false, detached = false;
    startLibrary(kaver, failure, code);
    if (failure.empty()) {
        progress("attaching " + label + " (this can take a while)…");
        attached = kaver.AttachKaverPartition(label);
        if (!attached) {
            code = kaver.getZEMTError();
            failure = "attaching " + label + " failed";
        }
    }
    if (attached) {
        kaver.getPartDrive(label, mountDir);
        target = mountDir + path;
        if (!listEntries(target, entries, why)) failure = label + "/" + path + ": " + why;
        // Detach whatever the listing did.
        progress("detaching " + label + "…");
        detached = kaver.DetachKaverPartition(label);
        if (!detached && failure.empty()) {
            code = kaver.getZEMTError();
            failure = "detaching " + label + " failed";
        }
    }

    if (json) {
        JsonWriter j;
        j.BeginObject();
        j.Key("ok");
        j.Bool(failure.empty());
        j.Key("label");
        j.String(label);
        j.Key("path");
        j.String("/" + path);
        j.Key("attached");
        j.Bool(attached);
        j.Key("detached");
        j.Bool(detached);
        if (attached) {
            j.Key("directory");
            j.String(target);
            j.Key("entries");
            j.BeginArray();
            for (const Entry& e : entries) {
                j.BeginObject();
                j.Key("name");
                j.String(e.name);
                j.Key("kind");
                j.String(e.kind);
                j.EndObject();
            }
            j.EndArray();
        }
        printJsonResult(j, code, failure);
    } else {
        for (const Entry& e : entries) {
            std::string kind = e.kind;
            std::cout << kind << std::string(kind.size() < 10 ? 10 - kind.size() : 1, ' ') << e.name << "\n";
        }
    }
    return exitStatus("ls", failure, code);
}

}  // namespace zemt_tool
