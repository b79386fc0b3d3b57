// SPDX-License-Identifier: Apache-2.0
#include "zemt_emulator/FatImage.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "zemt_emulator/Disks.h"
#include "zemt_emulator/State.h"

namespace fs = std::filesystem;

namespace zemt_emu {

namespace {

// The characters of a UTF-8 text, one string each.
std::vector<std::string> characters(const std::string& text) {
    std::vector<std::string> chars;
    for (std::size_t i = 0; i < text.size();) {
        unsigned char lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        chars.push_back(text.substr(i, length));
        i += length;
    }
    return chars;
}

std::string trimmed(const std::string& text) {
    std::string::size_type first = text.find_first_not_of(' ');
    std::string::size_type last = text.find_last_not_of(' ');
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

bool isShortNameCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || std::strchr("!#$%&'()-@^_`{}~", c) != nullptr;
}

// Each character mtools would take as a pattern, in brackets.
std::string literalPattern(const std::string& name) {
    std::string pattern;
    for (char c : name) {
        if (c == '[' || c == '*' || c == '?')
            pattern += std::string("[") + c + "]";
        else
            pattern += c;
    }
    return pattern;
}

// "00-00-0000  00:00" position in an mdir line, with the date format the
// emulator's tools are started with.
std::string::size_type datePosition(const std::string& text) {
    for (std::string::size_type at = 0; at + 17 <= text.size(); ++at) {
        bool match = true;
        for (std::size_t k = 0; k < 17 && match; ++k) {
            char c = text[at + k];
            char want = "0000-00-00  00:00"[k];
            match = want == '0' ? (c >= '0' && c <= '9') : c == want;
        }
        if (match) return at;
    }
    return std::string::npos;
}

}  // namespace

bool IsFatName(const std::string& name) {
    for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || std::strchr("\"*/:<>?\\|", c) != nullptr) return false;
    return true;
}

long Utf16Length(const std::string& name) {
    long units = 0;
    for (const std::string& c : characters(name)) units += c.size() == 4 ? 2 : 1;
    return units;
}

long FatEntries(const std::string& name) {
    std::string::size_type dot = name.find('.');
    std::string base = name.substr(0, dot);
    std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
    bool plain = !base.empty() && base.size() <= 8 && ext.size() <= 3 && ext.find('.') == std::string::npos &&
                 (dot == std::string::npos || !ext.empty());
    for (char c : base + ext) plain = plain && isShortNameCharacter(c);
    return plain ? 1 : 1 + (Utf16Length(name) + 12) / 13;
}

bool SameFatName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

bool ReadFatGeometry(const std::string& image, long offset, FatGeometry& g) {
    unsigned char boot[512];
    std::ifstream in(image.c_str(), std::ios::binary);
    in.seekg(offset);
    if (!in.read(reinterpret_cast<char*>(boot), sizeof boot)) return false;
    auto u16 = [&](int at) { return static_cast<long long>(boot[at] | (boot[at + 1] << 8)); };
    auto u32 = [&](int at) { return u16(at) | (u16(at + 2) << 16); };
    long long sectorBytes = u16(11), perCluster = boot[13], reserved = u16(14), fats = boot[16];
    long long rootEntries = u16(17);
    long long sectors = u16(19) != 0 ? u16(19) : u32(32);
    long long fatSectors = u16(22) != 0 ? u16(22) : u32(36);
    if (sectorBytes == 0 || perCluster == 0) return false;
    long long rootSectors = (rootEntries * 32 + sectorBytes - 1) / sectorBytes;
    long long dataSectors = sectors - reserved - fats * fatSectors - rootSectors;
    if (dataSectors <= 0) return false;
    g.clusterBytes = perCluster * sectorBytes;
    g.clusters = dataSectors / perCluster;
    g.rootEntries = u16(22) != 0 ? static_cast<long>(rootEntries) : 0;
    return true;
}

long long ClustersFor(long long bytes, long long clusterBytes) {
    return clusterBytes > 0 ? (bytes + clusterBytes - 1) / clusterBytes : 0;
}

std::string MtoolsExisting(const std::string& inner) { return literalPattern(inner); }

std::string MtoolsNew(const std::string& inner) {
    std::string::size_type slash = inner.rfind('/');
    if (slash == std::string::npos) return inner;
    return literalPattern(inner.substr(0, slash)) + inner.substr(slash);
}

bool ParseMdirLine(const std::string& line, FatListing& entry) {
    // NAME8 EXT SIZE|<DIR> DATE  TIME [ LONG NAME]
    std::vector<std::string> chars = characters(line);
    if (chars.size() < 13 || chars[8] != " ") return false;
    std::string base, ext, rest;
    for (std::size_t i = 0; i < chars.size(); ++i) {
        if (i < 8)
            base += chars[i];
        else if (i > 8 && i < 12)
            ext += chars[i];
        else if (i >= 12)
            rest += chars[i];
    }
    std::string::size_type date = datePosition(rest);
    if (date == std::string::npos) return false;
    std::string size = trimmed(rest.substr(0, date));
    if (size != "<DIR>" && (size.empty() || size.find_first_not_of("0123456789 ") != std::string::npos)) return false;
    std::string after = rest.substr(date + 17);
    base = trimmed(base);
    ext = trimmed(ext);
    entry.directory = size == "<DIR>";
    entry.name = after.size() > 2 && after.compare(0, 2, "  ") == 0 ? after.substr(2)
                                                                   : base + (ext.empty() ? "" : "." + ext);
    return !entry.name.empty() && entry.name != "." && entry.name != "..";
}

}  // namespace zemt_emu
