// SPDX-License-Identifier: Apache-2.0
// Writing a read-write mount back into its partition image, at umount and
// sync.  What changed since the mount (or the last write-back) is carried
// into the image in a few mtools runs: removed folders and files, new
// folders, and the new or changed files of each folder.  When there is no
// record of what the mount held, or the image might not take the changes
// in place, a fresh file system is made from the whole mount instead and
// replaces the image's only when all of it fitted.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

#include "zemt_emulator/Disks.h"
#include "zemt_emulator/EmulatedHost.h"
#include "zemt_emulator/FatImage.h"
#include "zemt_emulator/FatVolume.h"
#include "zemt_emulator/MountManifest.h"
#include "zemt_emulator/State.h"

namespace fs = std::filesystem;
using namespace zemt_emu;

namespace {

// Names per mtools run: the command line stays far below its limit.
const std::size_t kNamesPerRun = 500;

std::string parentOf(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

struct Changes {
    std::vector<std::string> goneFolders, goneFiles, newFolders;
    std::map<std::string, std::vector<std::string>> written;  // folder -> files to copy in
    std::map<std::string, long> newSlots;                      // folder -> directory entries added
    long long freedClusters = 0, neededClusters = 0;

    bool Empty() const { return goneFolders.empty() && goneFiles.empty() && newFolders.empty() && written.empty(); }
};

Changes changesBetween(const Manifest& before, const Manifest& now, long long clusterBytes) {
    Changes c;
    std::set<std::string> goneFolders;
    auto insideGone = [&](const std::string& path) {
        for (std::string up = parentOf(path); !up.empty(); up = parentOf(up))
            if (goneFolders.count(up)) return true;
        return false;
    };
    for (const auto& old : before) {
        Manifest::const_iterator found = now.find(old.first);
        if (found != now.end() && found->second.directory == old.second.directory) continue;
        if (!old.second.directory) c.freedClusters += ClustersFor(static_cast<long long>(old.second.size), clusterBytes);
        if (insideGone(old.first)) continue;  // its folder goes as a whole
        if (old.second.directory) {
            goneFolders.insert(old.first);
            c.goneFolders.push_back(old.first);
        } else {
            c.goneFiles.push_back(old.first);
        }
    }
    for (const auto& item : now) {
        Manifest::const_iterator old = before.find(item.first);
        bool isNew = old == before.end() || old->second.directory != item.second.directory;
        if (item.second.directory) {
            if (!isNew) continue;
            c.newFolders.push_back(item.first);
            c.neededClusters += 1;
        } else {
            if (!isNew && old->second == item.second) continue;
            c.written[parentOf(item.first)].push_back(item.first);
            c.neededClusters += ClustersFor(static_cast<long long>(item.second.size), clusterBytes);
            if (!isNew) c.freedClusters += ClustersFor(static_cast<long long>(old->second.size), clusterBytes);
        }
        if (isNew) c.newSlots[parentOf(item.first)] += FatEntries(nameOf(item.first));
    }
    return c;
}

// Whether the image takes the changes whatever room its folders have
// left: every new directory entry may need a cluster of its own folder.
bool fitsInPlace(const FatVolume& volume, const Changes& c) {
    long long needed = c.neededClusters;
    for (const auto& folder : c.newSlots) {
        if (folder.first.empty() && volume.FixedRootSlotsLeft() >= 0) {
            if (folder.second > volume.FixedRootSlotsLeft()) return false;
        } else {
            needed += ClustersFor(folder.second * 32, volume.ClusterBytes());
        }
    }
    return needed <= volume.FreeClusters() + c.freedClusters;
}

std::string existing(const std::string& inner) { return "::/" + MtoolsExisting(inner); }

// Runs TOOL over NAMES, a few hundred at a time; the first failing status.
int runOver(std::vector<std::string> head, const std::vector<std::string>& names, const std::string& tail,
            std::string& output) {
    int status = 0;
    for (std::size_t from = 0; from < names.size() && status == 0; from += kNamesPerRun) {
        std::vector<std::string> argv = head;
        argv.insert(argv.end(), names.begin() + static_cast<long>(from),
                    names.begin() + static_cast<long>(std::min(names.size(), from + kNamesPerRun)));
        if (!tail.empty()) argv.push_back(tail);
        status = RunTool(argv, &output);
    }
    return status;
}

std::string writeError(const std::string& output) {
    return output.find("Disk full") != std::string::npos ? "No space left on device" : "write error: " + output;
}

bool writeChanges(const std::string& image, const std::string& dir, const Changes& c, std::string& error) {
    std::string output;
    std::vector<std::string> names;
    // Removals first, so that their room and names are free for what comes.
    // One that finds nothing (a write-back cut short before) is fine.
    for (const std::string& folder : c.goneFolders) names.push_back(existing(folder));
    runOver({"mdeltree", "-i", image}, names, "", output);
    names.clear();
    for (const std::string& file : c.goneFiles) names.push_back(existing(file));
    runOver({"mdel", "-i", image}, names, "", output);
    names.clear();
    // Parents sort before their children.
    for (const std::string& folder : c.newFolders) names.push_back("::/" + MtoolsNew(folder));
    if (runOver({"mmd", "-D", "s", "-i", image}, names, "", output) != 0) {
        error = writeError(output);
        return false;
    }
    for (const auto& folder : c.written) {
        names.clear();
        for (const std::string& file : folder.second) names.push_back(JoinPath(dir, file));
        std::string target = "::/" + (folder.first.empty() ? std::string() : MtoolsExisting(folder.first) + "/");
        if (runOver({"mcopy", "-o", "-i", image}, names, target, output) != 0) {
            error = writeError(output);
            return false;
        }
    }
    return true;
}

}  // namespace

bool CEmulatedHost::WriteBack(const Mount& mount, std::string& error) {
    std::error_code ec;
    std::uintmax_t size = fs::file_size(mount.image, ec);
    if (ec || size <= static_cast<std::uintmax_t>(mount.offset)) {
        error = "the partition image is gone";
        return false;
    }
    std::string dir = MapPath(mount.dir);
    std::string image = MtoolsImage(mount.image, mount.offset);
    Manifest before, now = ScanTree(dir);
    FatVolume volume;
    bool known = LoadManifest(stateDir_, mount.dir, before) && volume.Open(image, error);
    Changes changes = changesBetween(before, now, known ? volume.ClusterBytes() : 1);
    bool written = known && fitsInPlace(volume, changes) ? changes.Empty() || writeChanges(image, dir, changes, error)
                                                         : rewriteImage(mount, error);
    if (written) SaveManifest(stateDir_, mount.dir, now);
    return written;
}

bool CEmulatedHost::rewriteImage(const Mount& mount, std::string& error) {
    // A fresh file system with everything under the mount directory; it
    // replaces the image's only when all of it fitted.
    std::error_code ec;
    long bytes = static_cast<long>(fs::file_size(mount.image, ec)) - mount.offset;
    ScratchDir scratch(stateDir_, "writeback");
    if (scratch.Path().empty()) {
        error = "no room for scratch files";
        return false;
    }
    std::string temp = JoinPath(scratch.Path(), "image");
    if (!MakeFatImage(temp, bytes, mount.label, false, error)) return false;
    std::vector<std::string> argv = {"mcopy", "-s", "-i", temp};
    for (fs::directory_iterator it(MapPath(mount.dir), ec), end; !ec && it != end; it.increment(ec))
        argv.push_back(it->path().string());
    if (argv.size() > 4) {
        argv.push_back("::/");
        std::string output;
        if (RunTool(argv, &output) != 0) {
            error = writeError(output);
            return false;
        }
    }
    std::ifstream in(temp.c_str(), std::ios::binary);
    std::fstream out(mount.image.c_str(), std::ios::in | std::ios::out | std::ios::binary);
    out.seekp(mount.offset);
    std::vector<char> buffer(1 << 16);
    while (in && out) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        out.write(buffer.data(), in.gcount());
    }
    bool written = static_cast<bool>(out);
    if (!written) error = "cannot write the partition image";
    return written;
}
