// SPDX-License-Identifier: Apache-2.0
// Targets on static partitions, and a look at a partition's files while it
// is attached and mounted on the host (through the host seam, so that the
// emulated host answers the same way as the real one).
#include "Partitions.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>

#include "PlatformLayer.h"
#include "secureKaver.h"

namespace zemt_tool {

bool isStaticLabel(const std::string& label) {
    if (label.size() != 6 || label.compare(0, 3, "KAV") != 0) return false;
    for (std::size_t i = 3; i < 6; ++i)
        if (!std::isdigit(static_cast<unsigned char>(label[i]))) return false;
    int id = std::stoi(label.substr(3));
    return id >= 1 && id <= 256;
}

std::string Target::folder() const {
    std::string lower = label;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return path.empty() ? lower : lower + "/" + path;
}

std::string Target::shown() const { return path.empty() ? label : label + "/" + path; }

// A ".." component could name something outside the partition's mount
// directory: refused.
bool parseTarget(const std::string& text, Target& target, std::string& why) {
    std::string::size_type slash = text.find('/');
    target.label = text.substr(0, slash);
    if (!isStaticLabel(target.label)) {
        why = "'" + target.label + "' is not a static partition label (KAV001 to KAV256)";
        return false;
    }
    target.path.clear();
    if (slash == std::string::npos) return true;
    std::stringstream split(text.substr(slash + 1));
    std::string part;
    while (std::getline(split, part, '/')) {
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            why = "a path on the partition may not contain '..'";
            return false;
        }
        target.path += (target.path.empty() ? "" : "/") + part;
    }
    return true;
}

AttachedPartition::AttachedPartition(secureKaver& kaver, const std::string& label, Problem& failure)
    : kaver_(kaver), label_(label) {
    progress("attaching " + label + " (this can take a while)…");
    attached_ = kaver.AttachKaverPartition(label);
    if (!attached_) {
        failure.set("attaching " + label + " failed", kaver.getZEMTError());
        return;
    }
    kaver.getPartDrive(label, mountDir_);
}

AttachedPartition::~AttachedPartition() {
    Problem ignored;
    detach(ignored);
}

bool AttachedPartition::detach(Problem& failure) {
    if (!attached_) return true;
    attached_ = false;
    progress("detaching " + label_ + "…");
    if (kaver_.DetachKaverPartition(label_)) return true;
    if (!failure.failed()) failure.set("detaching " + label_ + " failed", kaver_.getZEMTError());
    return false;
}

std::string AttachedPartition::hostPath(const std::string& path) const { return mountDir_ + path; }

std::string AttachedPartition::kindOf(const std::string& path) const {
    switch (CPlatformLayer::GetPathKind(hostPath(path))) {
        case PathFile: return "file";
        case PathDirectory: return "directory";
        case PathSymlink: return "symlink";
        case PathMissing: return "missing";
        default: return "other";
    }
}

long long AttachedPartition::sizeOf(const std::string& path) const {
    std::unique_ptr<FILE, int (*)(FILE*)> in(CPlatformLayer::OpenHostFile(hostPath(path), "rb"), &std::fclose);
    if (!in || fseeko(in.get(), 0, SEEK_END) != 0) return -1;
    return static_cast<long long>(ftello(in.get()));
}

bool AttachedPartition::readFile(const std::string& path, std::string& text, std::size_t maxBytes) const {
    std::unique_ptr<FILE, int (*)(FILE*)> in(CPlatformLayer::OpenHostFile(hostPath(path), "rb"), &std::fclose);
    if (!in) return false;
    text.assign(maxBytes, '\0');
    text.resize(std::fread(&text[0], 1, maxBytes, in.get()));
    return true;
}

bool AttachedPartition::list(const std::string& path, std::vector<Entry>& entries, std::string& why) const {
    std::string kind = kindOf(path);
    if (kind == "missing") {
        why = "no such file or directory";
        return false;
    }
    if (kind != "directory") {
        entries.push_back(Entry{path.substr(path.find_last_of('/') + 1), kind, kind == "file" ? sizeOf(path) : -1});
        return true;
    }
    std::string dir = path.empty() ? "" : path + "/";
    for (const std::string& listed : CPlatformLayer::GetFileList(hostPath(path))) {
        std::string name = listed.substr(listed.find_last_of('/') + 1);
        std::string entryKind = kindOf(dir + name);
        entries.push_back(Entry{name, entryKind, entryKind == "file" ? sizeOf(dir + name) : -1});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return true;
}

// `df -P` prints a header and one line per file system: its fourth field
// is what is available.  The mount directory is the library's own
// (/tmp/KAVnnn), so it goes into the command as it is.
bool AttachedPartition::freeSpace(uint64_t& bytes) const {
    std::string out;
    if (!CPlatformLayer::ReadCommandOutput("df -P -B1 " + mountDir_, out, 4096)) return false;
    std::stringstream lines(out);
    std::string header, line, device, total, used, available;
    if (!std::getline(lines, header) || !std::getline(lines, line)) return false;
    std::stringstream fields(line);
    if (!(fields >> device >> total >> used >> available)) return false;
    if (available.empty() || available.find_first_not_of("0123456789") != std::string::npos) return false;
    bytes = std::stoull(available);
    return true;
}

Json jsonEntries(const std::vector<Entry>& entries) {
    Json list = Json::array();
    for (const Entry& e : entries)
        list.push_back(Json{{"name", e.name}, {"kind", e.kind}, {"bytes", e.bytes < 0 ? Json(nullptr) : Json(e.bytes)}});
    return list;
}

void printEntries(const std::vector<Entry>& entries, const std::string& indent) {
    char line[64];
    for (const Entry& e : entries) {
        std::snprintf(line, sizeof line, "%-10s%12s  ", e.kind.c_str(), e.bytes < 0 ? "-" : std::to_string(e.bytes).c_str());
        std::cout << indent << line << e.name << "\n";
    }
}

}  // namespace zemt_tool
