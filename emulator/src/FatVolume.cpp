// SPDX-License-Identifier: Apache-2.0
#include "zemt_emulator/FatVolume.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>


namespace fs = std::filesystem;

namespace zemt_emu {

namespace {

const std::size_t kEntryBytes = 32;
const unsigned char kAttrDirectory = 0x10;
const unsigned char kAttrLabel = 0x08;
const unsigned char kAttrLongName = 0x0F;
const unsigned char kLowerBase = 0x08;  // case flags of a short name
const unsigned char kLowerExtension = 0x10;
const int kMaxDepth = 64;  // a corrupted image may loop; real trees are shallow

// Code page 850, which mtools uses for short names, from byte 0x80 on.
const uint16_t kCodePage850[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x00C1, 0x00C2, 0x00C0, 0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x00A4, 0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE, 0x00CF, 0x2518, 0x250C,
    0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580, 0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4, 0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6,
    0x00A7, 0x00F7, 0x00B8, 0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,
};

uint32_t u16(const unsigned char* p) { return static_cast<uint32_t>(p[0] | (p[1] << 8)); }
uint32_t u32(const unsigned char* p) { return u16(p) | (u16(p + 2) << 16); }

void appendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The letters of code page 850 have their lower-case form 0x20 above, in
// ASCII and in the Latin-1 block alike (0xD7 is the multiplication sign).
uint32_t lowerCase(uint32_t c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 0x20;
    return c;
}

std::string shortNamePart(const unsigned char* bytes, std::size_t count, bool lower) {
    std::size_t length = count;
    while (length > 0 && bytes[length - 1] == ' ') --length;
    std::string part;
    for (std::size_t i = 0; i < length; ++i) {
        uint32_t c = bytes[i] < 0x80 ? bytes[i] : kCodePage850[bytes[i] - 0x80];
        appendUtf8(part, lower ? lowerCase(c) : c);
    }
    return part;
}

std::string shortName(const unsigned char* entry) {
    unsigned char base[8];
    for (int i = 0; i < 8; ++i) base[i] = entry[i];
    if (base[0] == 0x05) base[0] = 0xE5;  // a name starting with 0xE5 is stored as 0x05
    std::string name = shortNamePart(base, 8, (entry[12] & kLowerBase) != 0);
    std::string extension = shortNamePart(entry + 8, 3, (entry[12] & kLowerExtension) != 0);
    return extension.empty() ? name : name + "." + extension;
}

unsigned char shortNameChecksum(const unsigned char* entry) {
    unsigned char sum = 0;
    for (int i = 0; i < 11; ++i) sum = static_cast<unsigned char>(((sum & 1) << 7) + (sum >> 1) + entry[i]);
    return sum;
}

std::string longName(const std::vector<uint16_t>& units) {
    std::string name;
    for (std::size_t i = 0; i < units.size() && units[i] != 0; ++i) {
        uint32_t c = units[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        }
        appendUtf8(name, c);
    }
    return name;
}

// Letters in any case, as mtools looks names up: ASCII and the letters of
// code page 850.
bool sameLetters(const std::string& a, const std::string& b) {
    std::string x, y;
    for (const std::string* text : {&a, &b}) {
        std::string& out = text == &a ? x : y;
        for (std::size_t i = 0; i < text->size(); ++i) {
            unsigned char c = static_cast<unsigned char>((*text)[i]);
            if (c == 0xC3 && i + 1 < text->size()) {  // U+00C0..U+00FF
                appendUtf8(out, lowerCase(0xC0 + (static_cast<unsigned char>((*text)[++i]) & 0x3F)));
                continue;
            }
            out += static_cast<char>(lowerCase(c) < 0x80 ? lowerCase(c) : c);
        }
    }
    return x == y;
}

std::vector<std::string> components(const std::string& path) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    while (start <= path.size()) {
        std::string::size_type slash = path.find('/', start);
        std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (!part.empty()) parts.push_back(part);
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return parts;
}

bool writeAll(int fd, const char* data, std::size_t length) {
    while (length > 0) {
        ssize_t n = write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

FatVolume::~FatVolume() {
    if (fd_ >= 0) close(fd_);
}

bool FatVolume::Open(const std::string& mtoolsImage, std::string& error, bool forWriting) {
    std::string path = mtoolsImage;
    std::string::size_type at = mtoolsImage.rfind("@@");
    if (at != std::string::npos) {
        path = mtoolsImage.substr(0, at);
        base_ = std::strtoull(mtoolsImage.c_str() + at + 2, nullptr, 10);
    }
    fd_ = open(path.c_str(), (forWriting ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    unsigned char boot[512];
    if (fd_ < 0 || pread(fd_, boot, sizeof boot, static_cast<off_t>(base_)) != static_cast<ssize_t>(sizeof boot)) {
        error = "cannot read the boot sector of " + path;
        return false;
    }
    const uint32_t sectorBytes = u16(boot + 11), perCluster = boot[13], reserved = u16(boot + 14), fats = boot[16];
    rootEntries_ = u16(boot + 17);
    const uint32_t sectors = u16(boot + 19) != 0 ? u16(boot + 19) : u32(boot + 32);
    const uint32_t fatSectors = u16(boot + 22) != 0 ? u16(boot + 22) : u32(boot + 36);
    const uint32_t rootSectors = sectorBytes == 0 ? 0 : (rootEntries_ * 32 + sectorBytes - 1) / sectorBytes;
    const uint64_t firstData = static_cast<uint64_t>(reserved) + static_cast<uint64_t>(fats) * fatSectors + rootSectors;
    if (sectorBytes < 512 || perCluster == 0 || fats == 0 || fatSectors == 0 || firstData >= sectors) {
        error = path + " holds no FAT file system";
        return false;
    }
    clusterBytes_ = static_cast<long long>(sectorBytes) * perCluster;
    clusters_ = static_cast<uint32_t>((sectors - firstData) / perCluster);
    fatBits_ = clusters_ < 4085 ? 12 : clusters_ < 65525 ? 16 : 32;
    rootStart_ = base_ + (static_cast<uint64_t>(reserved) + static_cast<uint64_t>(fats) * fatSectors) * sectorBytes;
    dataStart_ = base_ + firstData * sectorBytes;
    if (fatBits_ == 32) {
        rootEntries_ = 0;
        rootCluster_ = u32(boot + 44);
        infoSector_ = u16(boot + 48);
    }
    sectorBytes_ = sectorBytes;
    reserved_ = reserved;
    fats_ = fats;
    fatSectors_ = fatSectors;
    fat_.resize(static_cast<std::size_t>(fatSectors) * sectorBytes);
    if (pread(fd_, fat_.data(), fat_.size(), static_cast<off_t>(base_ + static_cast<uint64_t>(reserved) * sectorBytes)) !=
        static_cast<ssize_t>(fat_.size())) {
        error = "cannot read the allocation table of " + path;
        return false;
    }
    return true;
}

uint32_t FatVolume::next(uint32_t cluster) const {
    std::size_t at = fatBits_ == 12 ? cluster + cluster / 2 : static_cast<std::size_t>(cluster) * (fatBits_ / 8);
    if (at + (fatBits_ == 32 ? 4 : 2) > fat_.size()) return 0;
    if (fatBits_ == 12) return cluster & 1 ? u16(&fat_[at]) >> 4 : u16(&fat_[at]) & 0xFFF;
    if (fatBits_ == 16) return u16(&fat_[at]);
    return u32(&fat_[at]) & 0x0FFFFFFF;
}

// The end of a chain, or a link that leads nowhere valid.
bool FatVolume::isEnd(uint32_t value) const { return value < 2 || value >= clusters_ + 2; }

uint64_t FatVolume::clusterOffset(uint32_t cluster) const {
    return dataStart_ + static_cast<uint64_t>(cluster - 2) * static_cast<uint64_t>(clusterBytes_);
}

long long FatVolume::FreeClusters() const {
    long long free = 0;
    for (uint32_t c = 2; c < clusters_ + 2; ++c)
        if (next(c) == 0) ++free;
    return free;
}

long FatVolume::FixedRootSlotsLeft() const {
    if (fatBits_ == 32) return -1;
    std::vector<unsigned char> bytes(static_cast<std::size_t>(rootEntries_) * kEntryBytes);
    if (pread(fd_, bytes.data(), bytes.size(), static_cast<off_t>(rootStart_)) != static_cast<ssize_t>(bytes.size()))
        return 0;
    long used = 0;
    while (used < static_cast<long>(rootEntries_) && bytes[static_cast<std::size_t>(used) * kEntryBytes] != 0x00) ++used;
    return static_cast<long>(rootEntries_) - used;
}

const std::vector<FatVolume::Entry>* FatVolume::folder(uint32_t firstCluster, bool root) const {
    const uint32_t key = root ? 0 : firstCluster;
    std::map<uint32_t, std::vector<Entry>>::const_iterator known = folders_.find(key);
    if (known != folders_.end()) return &known->second;
    std::vector<Entry> entries;
    std::vector<unsigned char> bytes;
    std::vector<uint32_t> chain;  // the folder's clusters, to place its entries
    if (root && fatBits_ != 32) {
        bytes.resize(static_cast<std::size_t>(rootEntries_) * kEntryBytes);
        if (pread(fd_, bytes.data(), bytes.size(), static_cast<off_t>(rootStart_)) != static_cast<ssize_t>(bytes.size()))
            return nullptr;
    } else {
        uint32_t cluster = root ? rootCluster_ : firstCluster;
        for (uint32_t count = 0; !isEnd(cluster); cluster = next(cluster)) {
            if (++count > clusters_) return nullptr;  // a chain that loops
            chain.push_back(cluster);
            std::size_t at = bytes.size();
            bytes.resize(at + static_cast<std::size_t>(clusterBytes_));
            if (pread(fd_, &bytes[at], static_cast<std::size_t>(clusterBytes_), static_cast<off_t>(clusterOffset(cluster))) !=
                clusterBytes_)
                return nullptr;
        }
    }
    std::vector<uint16_t> units;  // long name being gathered
    int expected = 0;             // the sequence number the next long-name entry must carry
    unsigned char checksum = 0;
    for (std::size_t at = 0; at + kEntryBytes <= bytes.size(); at += kEntryBytes) {
        const unsigned char* e = &bytes[at];
        if (e[0] == 0x00) break;
        if (e[0] == 0xE5) {
            expected = 0;
            continue;
        }
        if ((e[11] & 0x3F) == kAttrLongName) {
            int sequence = e[0] & 0x1F;
            if (e[0] & 0x40) {
                units.assign(static_cast<std::size_t>(sequence) * 13, 0xFFFF);
                expected = sequence;
                checksum = e[13];
            }
            if (sequence == 0 || sequence != expected || e[13] != checksum) {
                units.clear();
                expected = 0;
                continue;
            }
            static const int offsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
            for (int k = 0; k < 13; ++k) units[static_cast<std::size_t>(sequence - 1) * 13 + k] = static_cast<uint16_t>(u16(e + offsets[k]));
            --expected;
            continue;
        }
        bool named = expected == 0 && !units.empty() && shortNameChecksum(e) == checksum;
        std::string name = named ? longName(units) : shortName(e);
        units.clear();
        expected = 0;
        if ((e[11] & kAttrLabel) || e[0] == '.') continue;
        Entry entry;
        entry.name = name;
        entry.directory = (e[11] & kAttrDirectory) != 0;
        entry.size = entry.directory ? 0 : u32(e + 28);
        entry.firstCluster = u16(e + 26) | (fatBits_ == 32 ? u16(e + 20) << 16 : 0);
        entry.entryAt = chain.empty() ? rootStart_ + at
                                      : clusterOffset(chain[at / static_cast<std::size_t>(clusterBytes_)]) +
                                            at % static_cast<std::size_t>(clusterBytes_);
        entries.push_back(entry);
    }
    return &(folders_[key] = std::move(entries));
}

bool FatVolume::List(const std::string& path, std::vector<Entry>& entries) const {
    entries.clear();
    const std::vector<Entry>* found = folder(0, true);
    if (!components(path).empty()) {
        Entry entry;
        found = Find(path, entry) && entry.directory ? folder(entry.firstCluster, false) : nullptr;
    }
    if (found != nullptr) entries = *found;
    return found != nullptr;
}

bool FatVolume::Find(const std::string& path, Entry& entry) const {
    std::vector<std::string> parts = components(path);
    const std::vector<Entry>* entries = folder(0, true);
    for (std::size_t i = 0; entries != nullptr && i < parts.size(); ++i) {
        const Entry* match = nullptr;
        for (const Entry& e : *entries)
            if (e.name == parts[i]) match = &e;
        for (const Entry& e : *entries)
            if (match == nullptr && sameLetters(e.name, parts[i])) match = &e;
        if (match == nullptr) return false;
        entry = *match;
        if (i + 1 == parts.size()) return true;
        entries = entry.directory ? folder(entry.firstCluster, false) : nullptr;
    }
    return false;
}

bool FatVolume::walk(const std::string& prefix, uint32_t cluster, bool root, int depth,
                     const std::function<void(const std::string&, const Entry&)>& visit) const {
    const std::vector<Entry>* entries = depth > kMaxDepth ? nullptr : folder(cluster, root);
    if (entries == nullptr) return false;
    for (const Entry& e : *entries) {
        std::string path = prefix.empty() ? e.name : prefix + "/" + e.name;
        visit(path, e);
        if (e.directory && !walk(path, e.firstCluster, false, depth + 1, visit)) return false;
    }
    return true;
}

bool FatVolume::Walk(const std::function<void(const std::string& path, const Entry& entry)>& visit) const {
    return walk("", 0, true, 0, visit);
}

bool FatVolume::CopyOut(const Entry& file, int fd) const {
    uint64_t left = file.size;
    uint32_t cluster = file.firstCluster;
    std::vector<char> buffer;
    while (left > 0) {
        if (isEnd(cluster)) return false;
        // Consecutive clusters go in one piece.
        uint32_t first = cluster, count = 1;
        while (static_cast<uint64_t>(count) * static_cast<uint64_t>(clusterBytes_) < left && next(cluster) == cluster + 1) {
            cluster = next(cluster);
            ++count;
        }
        uint64_t run = static_cast<uint64_t>(count) * static_cast<uint64_t>(clusterBytes_);
        if (run > left) run = left;
        loff_t from = static_cast<loff_t>(clusterOffset(first));
        uint64_t done = 0;
        while (done < run) {
            ssize_t n = copy_file_range(fd_, &from, fd, nullptr, static_cast<std::size_t>(run - done), 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<uint64_t>(n);
        }
        // Where the kernel cannot copy between these files, through a buffer.
        while (done < run) {
            if (buffer.empty()) buffer.resize(1 << 20);
            std::size_t want = run - done < buffer.size() ? static_cast<std::size_t>(run - done) : buffer.size();
            ssize_t n = pread(fd_, buffer.data(), want, from);
            if (n <= 0 || !writeAll(fd, buffer.data(), static_cast<std::size_t>(n))) return false;
            from += n;
            done += static_cast<uint64_t>(n);
        }
        left -= run;
        cluster = next(cluster);
    }
    return true;
}

void FatVolume::link(uint32_t cluster, uint32_t value) {
    std::size_t at = fatBits_ == 12 ? cluster + cluster / 2 : static_cast<std::size_t>(cluster) * (fatBits_ / 8);
    if (at + (fatBits_ == 32 ? 4 : 2) > fat_.size()) return;
    uint32_t old = fatBits_ == 32 ? u32(&fat_[at]) : u16(&fat_[at]);
    uint32_t stored = fatBits_ == 12   ? (cluster & 1 ? (old & 0x000F) | (value << 4) : (old & 0xF000) | (value & 0xFFF))
                      : fatBits_ == 16 ? value & 0xFFFF
                                       : (old & 0xF0000000) | (value & 0x0FFFFFFF);
    for (int i = 0; i < (fatBits_ == 32 ? 4 : 2); ++i) fat_[at + i] = static_cast<unsigned char>(stored >> (8 * i));
}

bool FatVolume::writeFats() const {
    for (uint32_t copy = 0; copy < fats_; ++copy) {
        uint64_t at = base_ + (static_cast<uint64_t>(reserved_) + static_cast<uint64_t>(copy) * fatSectors_) * sectorBytes_;
        if (pwrite(fd_, fat_.data(), fat_.size(), static_cast<off_t>(at)) != static_cast<ssize_t>(fat_.size())) return false;
    }
    return true;
}

// FAT32 keeps a hint of the free clusters; it is kept true when it is set.
void FatVolume::noteAllocated(uint32_t count, uint32_t last) const {
    if (fatBits_ != 32 || infoSector_ == 0 || count == 0) return;
    unsigned char info[512];
    uint64_t at = base_ + static_cast<uint64_t>(infoSector_) * sectorBytes_;
    if (pread(fd_, info, sizeof info, static_cast<off_t>(at)) != static_cast<ssize_t>(sizeof info) ||
        u32(info) != 0x41615252 || u32(info + 484) != 0x61417272)
        return;
    uint32_t free = u32(info + 488);
    if (free != 0xFFFFFFFF) free = free >= count ? free - count : 0xFFFFFFFF;
    for (int i = 0; i < 4; ++i) {
        info[488 + i] = static_cast<unsigned char>(free >> (8 * i));
        info[492 + i] = static_cast<unsigned char>(last >> (8 * i));
    }
    pwrite(fd_, info, sizeof info, static_cast<off_t>(at));
}

bool FatVolume::Append(const Entry& file, int fd, uint64_t bytes) {
    if (file.directory || file.size + bytes > 0xFFFFFFFFull) return false;
    const uint64_t cb = static_cast<uint64_t>(clusterBytes_);
    uint32_t last = 0;
    for (uint32_t c = file.firstCluster, count = 0; !isEnd(c); c = next(c)) {
        if (++count > clusters_) return false;
        last = c;
    }
    const uint64_t used = file.size % cb;
    const uint64_t slack = last != 0 && used != 0 ? cb - used : 0;
    const uint64_t intoSlack = bytes < slack ? bytes : slack;
    const uint64_t needed = (bytes - intoSlack + cb - 1) / cb;
    std::vector<uint32_t> fresh;
    for (uint32_t c = 2; c < clusters_ + 2 && fresh.size() < needed; ++c)
        if (next(c) == 0) fresh.push_back(c);
    if (fresh.size() < needed) return false;

    // The bytes first, then the chain and the size that make them the file's.
    auto copyIn = [&](uint64_t to, uint64_t length) {
        loff_t at = static_cast<loff_t>(to);
        while (length > 0) {
            ssize_t n = copy_file_range(fd, nullptr, fd_, &at, static_cast<std::size_t>(length), 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                char buffer[65536];
                ssize_t got = read(fd, buffer, length < sizeof buffer ? static_cast<std::size_t>(length) : sizeof buffer);
                if (got <= 0 || pwrite(fd_, buffer, static_cast<std::size_t>(got), at) != got) return false;
                n = got;
                at += got;
            }
            length -= static_cast<uint64_t>(n);
        }
        return true;
    };
    if (intoSlack > 0 && !copyIn(clusterOffset(last) + used, intoSlack)) return false;
    uint64_t left = bytes - intoSlack;
    for (std::size_t i = 0; i < fresh.size(); ++i) {
        std::size_t run = 1;
        while (i + run < fresh.size() && fresh[i + run] == fresh[i] + run) ++run;
        uint64_t length = run * cb < left ? run * cb : left;
        if (!copyIn(clusterOffset(fresh[i]), length)) return false;
        left -= length;
        i += run - 1;
    }
    const uint32_t endOfChain = fatBits_ == 12 ? 0xFFF : fatBits_ == 16 ? 0xFFFF : 0x0FFFFFFF;
    for (std::size_t i = 0; i < fresh.size(); ++i) link(fresh[i], i + 1 < fresh.size() ? fresh[i + 1] : endOfChain);
    if (!fresh.empty() && last != 0) link(last, fresh.front());
    if (!fresh.empty() && !writeFats()) return false;
    noteAllocated(static_cast<uint32_t>(fresh.size()), fresh.empty() ? 0 : fresh.back());

    unsigned char entry[32];
    if (pread(fd_, entry, sizeof entry, static_cast<off_t>(file.entryAt)) != static_cast<ssize_t>(sizeof entry)) return false;
    const uint32_t size = static_cast<uint32_t>(file.size + bytes);
    const uint32_t first = last != 0 ? file.firstCluster : fresh.empty() ? 0 : fresh.front();
    for (int i = 0; i < 4; ++i) entry[28 + i] = static_cast<unsigned char>(size >> (8 * i));
    entry[26] = static_cast<unsigned char>(first);
    entry[27] = static_cast<unsigned char>(first >> 8);
    if (fatBits_ == 32) {
        entry[20] = static_cast<unsigned char>(first >> 16);
        entry[21] = static_cast<unsigned char>(first >> 24);
    }
    return pwrite(fd_, entry, sizeof entry, static_cast<off_t>(file.entryAt)) == static_cast<ssize_t>(sizeof entry);
}

bool FatVolume::SetShortNameCase(const Entry& entry, const std::string& wanted) {
    unsigned char e[32];
    if (pread(fd_, e, sizeof e, static_cast<off_t>(entry.entryAt)) != static_cast<ssize_t>(sizeof e)) return false;
    const unsigned char choices[] = {0, kLowerBase, kLowerExtension, kLowerBase | kLowerExtension};
    for (unsigned char flags : choices) {
        e[12] = static_cast<unsigned char>((e[12] & ~(kLowerBase | kLowerExtension)) | flags);
        if (shortName(e) == wanted)
            return pwrite(fd_, e, sizeof e, static_cast<off_t>(entry.entryAt)) == static_cast<ssize_t>(sizeof e);
    }
    return false;
}

bool ExtractFatTree(const std::string& image, const std::string& dir, std::string& error) {
    FatVolume volume;
    if (!volume.Open(image, error)) return false;
    bool copied = true;
    bool walked = volume.Walk([&](const std::string& path, const FatVolume::Entry& entry) {
        std::string target = dir + "/" + path;
        if (!copied) return;
        if (entry.directory) {
            std::error_code ec;
            fs::create_directory(target, ec);
            copied = !ec;
        } else {
            int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            copied = fd >= 0 && volume.CopyOut(entry, fd);
            if (fd >= 0 && close(fd) != 0) copied = false;
        }
        if (!copied) error = "cannot copy out " + path;
    });
    if (!walked && copied) error = "cannot read the folders of " + image;
    return walked && copied;
}

}  // namespace zemt_emu
