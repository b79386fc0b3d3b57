// SPDX-License-Identifier: Apache-2.0
#include "zemt_emulator/MountManifest.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "zemt_emulator/State.h"

namespace fs = std::filesystem;

namespace zemt_emu {

namespace files {
const char* const kMountManifests = "mount-manifests";
}  // namespace files

namespace {

// "/tmp/SECUPD" -> "%2Ftmp%2FSECUPD": one flat file name per mount directory.
std::string manifestPath(const std::string& stateDir, const std::string& mountDir) {
    std::string name;
    for (unsigned char c : mountDir) {
        if (std::isalnum(c) || c == '.' || c == '_' || c == '-') {
            name += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            name += escaped;
        }
    }
    return JoinPath(JoinPath(stateDir, files::kMountManifests), name);
}

}  // namespace

Manifest ScanTree(const std::string& dir) {
    Manifest manifest;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        struct stat st;
        if (lstat(it->path().c_str(), &st) != 0) continue;
        ManifestItem item;
        item.directory = S_ISDIR(st.st_mode);
        item.size = item.directory ? 0 : static_cast<uint64_t>(st.st_size);
        item.changed = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
        item.inode = static_cast<uint64_t>(st.st_ino);
        manifest[it->path().lexically_relative(dir).string()] = item;
    }
    return manifest;
}

bool SaveManifest(const std::string& stateDir, const std::string& mountDir, const Manifest& manifest) {
    std::ostringstream out;
    for (const auto& entry : manifest)
        out << (entry.second.directory ? 'd' : 'f') << '\t' << entry.second.size << '\t' << entry.second.changed
            << '\t' << entry.second.inode << '\t' << entry.first << '\n';
    std::error_code ec;
    fs::create_directories(JoinPath(stateDir, files::kMountManifests), ec);
    return WriteWholeFile(manifestPath(stateDir, mountDir), out.str());
}

bool LoadManifest(const std::string& stateDir, const std::string& mountDir, Manifest& manifest) {
    manifest.clear();
    std::string text;
    if (!ReadWholeFile(manifestPath(stateDir, mountDir), text)) return false;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        char kind = 0;
        ManifestItem item;
        std::string path;
        if (!(fields >> kind >> item.size >> item.changed >> item.inode) || fields.get() != '\t' ||
            !std::getline(fields, path))
            return false;
        item.directory = kind == 'd';
        manifest[path] = item;
    }
    return true;
}

void RemoveManifest(const std::string& stateDir, const std::string& mountDir) {
    std::error_code ec;
    fs::remove(manifestPath(stateDir, mountDir), ec);
}

}  // namespace zemt_emu
