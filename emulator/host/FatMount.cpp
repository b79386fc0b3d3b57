// SPDX-License-Identifier: Apache-2.0
// What a vfat mount of the emulated host refuses, at the moment of the
// write, as the kernel's vfat driver does: writes on a read-only mount,
// names FAT cannot hold, a name beside one that differs only in case (the
// two would be one file), links, and more than the file system holds.  A
// mount is a sandbox directory that is written back into the image at
// umount, so whatever passes here also fits there.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>

#include "zemt_emulator/EmulatedHost.h"
#include "zemt_emulator/EmulatorTime.h"
#include "zemt_emulator/FatImage.h"
#include "zemt_emulator/HostBoundary.h"

namespace fs = std::filesystem;
using namespace zemt_emu;

namespace {

const long kLabelEntries = 1;   // every repository volume has a label entry
const long kFolderEntries = 2;  // "." and ".."

// The room a folder tree takes on a FAT volume: file clusters, and the
// directory entries of each folder (a folder takes whole clusters).  Each
// folder's share comes from the host's record of it, read afresh only when
// the folder changed in a way the host did not note itself.
class FatTally {
public:
    FatTally(const std::string& top, const FatGeometry& g, const CEmulatedHost& host)
        : top_(top), g_(g), host_(host) {
        walk(top, 0);
    }

    void AddFile(long long bytes) { fileClusters_ += ClustersFor(bytes, g_.clusterBytes); }
    void RemoveFile(long long bytes) { fileClusters_ -= ClustersFor(bytes, g_.clusterBytes); }
    void AddName(const std::string& folder, const std::string& name) { entries_[folder] += FatEntries(name); }
    void AddFolder(const std::string& folder) { entries_[folder] = kFolderEntries; }

    // Clusters left over, or -1 when the fixed root directory of FAT12/16 is full.
    long long FreeClusters() const {
        long long used = fileClusters_;
        for (const auto& folder : entries_) {
            bool fixedRoot = folder.first == top_ && g_.rootEntries > 0;
            if (fixedRoot && folder.second > g_.rootEntries) return -1;
            if (!fixedRoot) used += ClustersFor(folder.second * 32, g_.clusterBytes);
        }
        return g_.clusters - used;
    }

private:
    void walk(const std::string& folder, int depth) {
        const CEmulatedHost::FolderRecord& record = host_.FolderRecordOf(folder);
        entries_[folder] = (folder == top_ ? kLabelEntries : kFolderEntries) + record.entries;
        for (const auto& child : record.children) {
            if (child.second >= 0) fileClusters_ += ClustersFor(child.second, g_.clusterBytes);
            else if (depth < 64) walk(folder + "/" + child.first, depth + 1);
        }
    }

    std::string top_;
    FatGeometry g_;
    const CEmulatedHost& host_;
    long long fileClusters_ = 0;
    std::map<std::string, long> entries_;
};

// A file on a mount that stops taking bytes where the file system is full.
struct LimitedFile {
    int fd;
    long long limit;  // largest size the file may reach
    CEmulatedHost* host;
    std::string path;  // host path, for the room count at close
};

ssize_t limitedRead(void* cookie, char* buffer, size_t size) {
    return read(static_cast<LimitedFile*>(cookie)->fd, buffer, size);
}

ssize_t limitedWrite(void* cookie, const char* buffer, size_t size) {
    LimitedFile* file = static_cast<LimitedFile*>(cookie);
    off_t at = lseek(file->fd, 0, SEEK_CUR);
    long long room = file->limit - static_cast<long long>(at);
    bool fits = static_cast<long long>(size) <= room;
    ssize_t written = room > 0 ? write(file->fd, buffer, fits ? size : static_cast<size_t>(room)) : 0;
    // A short count marks the stream failed; errno says why.
    if (!fits && written >= 0) errno = ENOSPC;
    return written < 0 ? 0 : written;
}

int limitedSeek(void* cookie, off64_t* offset, int whence) {
    off_t at = lseek(static_cast<LimitedFile*>(cookie)->fd, static_cast<off_t>(*offset), whence);
    if (at < 0) return -1;
    *offset = at;
    return 0;
}

int limitedClose(void* cookie) {
    LimitedFile* file = static_cast<LimitedFile*>(cookie);
    int status = close(file->fd);
    file->host->NoteChange(file->path);
    delete file;
    return status;
}

bool writesTo(const char* mode) {
    std::string m = mode ? mode : "";
    return m.find_first_of("wa+") != std::string::npos;
}

}  // namespace

const CEmulatedHost::FolderRecord& CEmulatedHost::FolderRecordOf(const std::string& folder) const {
    FolderRecord& record = folders_[folder];
    struct stat st;
    bool same = stat(folder.c_str(), &st) == 0 && record.read &&
                record.changed == st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec && record.inode == st.st_ino;
    if (!same) record = FolderRecord::Read(folder);
    return record;
}

CEmulatedHost::FolderRecord CEmulatedHost::FolderRecord::Read(const std::string& folder) {
    FolderRecord record;
    struct stat st;
    if (stat(folder.c_str(), &st) != 0) return record;
    record.read = true;
    record.changed = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
    record.inode = st.st_ino;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) record.Note(folder, it->path().filename().string());
    return record;
}

void CEmulatedHost::FolderRecord::Note(const std::string& folder, const std::string& name) {
    std::map<std::string, long long>::iterator old = children.find(name);
    if (old != children.end()) {
        entries -= FatEntries(name);
        children.erase(old);
    }
    struct stat st;
    if (lstat((folder + "/" + name).c_str(), &st) != 0) {
        // Gone: it may have been named in another case of its letters.
        for (std::map<std::string, long long>::iterator it = children.begin(); it != children.end();) {
            if (SameFatName(it->first, name) && lstat((folder + "/" + it->first).c_str(), &st) != 0) {
                entries -= FatEntries(it->first);
                it = children.erase(it);
            } else {
                ++it;
            }
        }
        return;
    }
    children[name] = S_ISDIR(st.st_mode) ? -1 : static_cast<long long>(st.st_size);
    entries += FatEntries(name);
}

void CEmulatedHost::NoteChange(const std::string& hostPath) {
    std::string path = MapPath(hostPath);
    // Records of the path itself and below go: a folder removed or emptied.
    for (FolderRecords::iterator it = folders_.lower_bound(path); it != folders_.end();) {
        if (it->first != path && it->first.compare(0, path.size() + 1, path + "/") != 0) break;
        it = folders_.erase(it);
    }
    std::string::size_type slash = path.rfind('/');
    FolderRecords::iterator parent = folders_.find(path.substr(0, slash));
    if (slash == std::string::npos || parent == folders_.end()) return;
    struct stat st;
    if (stat(parent->first.c_str(), &st) != 0) {
        folders_.erase(parent);
        return;
    }
    parent->second.Note(parent->first, path.substr(slash + 1));
    parent->second.changed = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
    parent->second.inode = st.st_ino;
}

int CEmulatedHost::CheckWrite(const std::string& hostPath, WriteKind kind, long long bytes) const {
    Mount mount;
    if (!MountHolding(hostPath, mount)) return 0;
    if (!mount.readWrite) return EROFS;
    if (kind == kModify) return 0;
    if (kind == kMakeLink) return EPERM;

    fs::path target = MapPath(hostPath);
    std::string folder = target.parent_path().string();
    std::string name = fs::path(NormalHostPath(hostPath)).filename().string();
    std::error_code ec;
    fs::file_status status = fs::symlink_status(target, ec);
    bool rewrite = kind == kCreateFile && fs::is_regular_file(status) && target.filename() == name;
    if (!rewrite) {
        if (fs::exists(status)) return EEXIST;  // there already, or there in another case
        if (!IsFatName(name)) return EINVAL;
        if (Utf16Length(name) > kFatNameMax) return ENAMETOOLONG;
    }

    FatGeometry geometry;
    if (!ReadFatGeometry(mount.image, mount.offset, geometry)) return EIO;
    FatTally tally(rootDir_ + mount.dir, geometry, *this);
    if (rewrite) tally.RemoveFile(static_cast<long long>(fs::file_size(target, ec)));
    else tally.AddName(folder, name);
    if (kind == kMakeDirectory) tally.AddFolder(target.string());
    else tally.AddFile(bytes);
    return tally.FreeClusters() < 0 ? ENOSPC : 0;
}

bool CEmulatedHost::MountRoom(const std::string& hostPath, Mount& mount, Room& room) const {
    std::string normal = NormalHostPath(hostPath);
    bool found = MountHolding(normal, mount);
    for (const Mount& m : Mounts())
        if (!found && m.dir == normal) {
            mount = m;
            found = true;
        }
    FatGeometry geometry;
    if (!found || !ReadFatGeometry(mount.image, mount.offset, geometry)) return false;
    FatTally tally(rootDir_ + mount.dir, geometry, *this);
    room.totalBytes = geometry.clusters * geometry.clusterBytes;
    room.freeBytes = std::max(0LL, tally.FreeClusters()) * geometry.clusterBytes;
    return true;
}

FILE* CEmulatedHost::OpenHostFile(const std::string& path, const char* mode) {
    EmulatorTimer timer;
    if (!writesTo(mode) || path.find('\0') != std::string::npos) return realHost_.OpenHostFile(MapPath(path), mode);
    // The file is made (or emptied) first, as fopen would; what it may grow
    // to is what the mount has left once it is empty.
    int refused = CheckWrite(path, kCreateFile, 0);
    if (refused != 0) {
        errno = refused;
        return nullptr;
    }
    Mount mount;
    FILE* plain = realHost_.OpenHostFile(MapPath(path), mode);
    if (plain == nullptr || !MountHolding(path, mount)) return plain;
    NoteChange(path);
    FatGeometry geometry;
    ReadFatGeometry(mount.image, mount.offset, geometry);
    std::error_code ec;
    long long size = static_cast<long long>(fs::file_size(MapPath(path), ec));
    FatTally tally(rootDir_ + mount.dir, geometry, *this);
    tally.RemoveFile(size);
    LimitedFile* file = new LimitedFile{dup(fileno(plain)), tally.FreeClusters() * geometry.clusterBytes, this, path};
    std::fclose(plain);
    if (file->fd < 0 || file->limit < 0) {
        if (file->fd >= 0) close(file->fd);
        delete file;
        errno = ENOSPC;
        return nullptr;
    }
    if (std::string(mode).find('a') != std::string::npos) lseek(file->fd, 0, SEEK_END);
    cookie_io_functions_t io = {limitedRead, limitedWrite, limitedSeek, limitedClose};
    FILE* limited = fopencookie(file, mode, io);
    if (limited == nullptr) limitedClose(file);
    return limited;
}
