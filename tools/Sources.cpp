#include "Sources.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "zemt_emulator/FatImage.h"

namespace fs = std::filesystem;

namespace zemt_tool {

namespace {

// A file is readable when its first byte can be read (an empty file when it
// opens); the reason otherwise.
bool readable(const std::string& path, std::string& why) {
    std::ifstream in(path, std::ios::binary);
    if (in) in.peek();
    if (in.is_open() && !in.bad()) return true;
    why = std::strerror(errno != 0 ? errno : EIO);
    return false;
}

Item itemFor(const fs::path& source, const std::string& onPartition, const Target& target) {
    Item item;
    item.source = source.string();
    item.onPartition = target.path.empty() ? onPartition : target.path + "/" + onPartition;
    item.destination = target.folder() + "/" + onPartition;
    std::error_code ec;
    item.bytes = static_cast<long long>(fs::file_size(source, ec));
    return item;
}

bool addFile(const fs::path& source, const std::string& arg, const std::string& onPartition, const Target& target,
             std::vector<Item>& items, Problem& failure) {
    std::string why;
    errno = 0;
    if (!readable(source.string(), why)) {
        failure.message = arg + ": cannot be read (" + why + ")";
        return false;
    }
    items.push_back(itemFor(source, onPartition, target));
    return true;
}

bool addFolder(const fs::path& base, const std::string& arg, const Target& target, std::vector<Item>& items,
               Problem& failure) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file(ec)) files.push_back(it->path());
    if (ec) {
        failure.message = arg + ": " + ec.message();
        return false;
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        std::string below = base.filename().string() + "/" + file.lexically_relative(base).string();
        if (!addFile(file, file.string(), below, target, items, failure)) return false;
    }
    return true;
}

std::string folded(const std::string& name) {
    std::string lower = name;
    for (char& c : lower)
        if (static_cast<unsigned char>(c) < 0x80) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

}  // namespace

void collectSources(const std::vector<std::string>& sources, const Target& target, std::vector<Item>& items,
                    Problem& failure) {
    for (const std::string& arg : sources) {
        fs::path source = fs::path(absolutePath(arg));
        std::error_code ec;
        fs::file_status status = fs::status(source, ec);
        if (!fs::exists(status)) {
            failure.message = arg + ": no such file or directory";
            return;
        }
        if (fs::is_regular_file(status)) {
            if (!addFile(source, arg, source.filename().string(), target, items, failure)) return;
        } else if (fs::is_directory(status)) {
            if (source.filename().empty()) source = source.parent_path();
            if (!addFolder(source, arg, target, items, failure)) return;
        } else {
            failure.message = arg + ": not a file or folder";
            return;
        }
    }
    if (items.empty()) failure.message = "nothing to copy (the folders hold no files)";
}

void checkNames(const std::vector<Item>& items, Problem& failure) {
    std::map<std::string, const Item*> taken;
    for (const Item& item : items) {
        std::stringstream parts(item.onPartition);
        std::string part;
        while (std::getline(parts, part, '/')) {
            if (!zemt_emu::IsFatName(part)) {
                failure.message = item.source + ": '" + part +
                                  "' is not a name FAT can hold (no control characters and none of \" * : < > ? \\ |)";
                return;
            }
            if (zemt_emu::Utf16Length(part) > zemt_emu::kFatNameMax) {
                failure.message = item.source + ": '" + part + "' is longer than the 255 characters FAT allows";
                return;
            }
        }
        auto found = taken.emplace(folded(item.onPartition), &item);
        if (!found.second) {
            failure.message = found.first->second->source + " and " + item.source + " would both be " +
                              item.destination + " (FAT does not tell upper from lower case)";
            return;
        }
    }
}

}  // namespace zemt_tool
