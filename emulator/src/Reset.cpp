// SPDX-License-Identifier: Apache-2.0
#include <filesystem>

#include "zemt_emulator/Disks.h"
#include "zemt_emulator/MountManifest.h"
#include "zemt_emulator/HostBoundary.h"
#include "zemt_emulator/State.h"

namespace fs = std::filesystem;

namespace zemt_emu {

namespace {

// controller.state keys of what a run holds; the rest (handles handed out,
// the state flag, last statuses, fault counters) stays.
const char* const kReleasedKeys[] = {"session.", "pending.", "copy.", "attached.", "dynamic.", "secure.",
                                     "stage.", "reset.until"};

void releaseControllerState(const std::string& dir) {
    std::string path = JoinPath(dir, files::kControllerState);
    KeyValueFile state;
    state.Load(path);
    for (const std::string& key : state.Keys())
        for (const char* prefix : kReleasedKeys)
            if (key.compare(0, std::char_traits<char>::length(prefix), prefix) == 0) state.Erase(key);
    state.Save(path);
}

// Everything but the host's own system disk goes; so do the drop-box images.
void withdrawDisks(const std::string& dir) {
    DiskTable disks;
    disks.Load(dir);
    std::vector<Disk> kept;
    for (const Disk& d : disks.Disks())
        if (d.id == "system") kept.push_back(d);
    disks.Disks().swap(kept);
    disks.Save(dir);
    SyncDiskNodes(dir, disks);
    std::error_code ec;
    for (fs::directory_iterator it(JoinPath(dir, files::kPartitions), ec), end; !ec && it != end; it.increment(ec))
        if (it->path().filename().string().compare(0, 8, "dynamic-") == 0) fs::remove(it->path(), ec);
}

// Mounts are dropped as a pulled disk drops them: nothing is written back.
// The library's mount directories and device links go with them.
void dropMounts(const std::string& dir) {
    SaveMounts(dir, {});
    std::string root = JoinPath(dir, files::kRoot);
    std::error_code ec;
    fs::remove_all(JoinPath(dir, files::kMountManifests), ec);
    std::vector<fs::path> gone;
    for (const char* parent : {"/tmp", "/dev"})
        for (fs::directory_iterator it(root + parent, ec), end; !ec && it != end; it.increment(ec)) {
            std::string host = std::string(parent) + "/" + it->path().filename().string();
            bool link = host.compare(0, 15, "/dev/seckavupd-") == 0;
            if (link || (host.compare(0, 5, "/tmp/") == 0 && IsMappedPath(host, ""))) gone.push_back(it->path());
        }
    for (const fs::path& path : gone) fs::remove_all(path, ec);
}

}  // namespace

bool ResetStateDir(const std::string& dir, std::string& error) {
    std::error_code ec;
    if (!fs::exists(JoinPath(dir, files::kControllerConf), ec)) {
        error = dir + " is not an emulator state directory";
        return false;
    }
    StateLock lock(dir);
    releaseControllerState(dir);
    withdrawDisks(dir);
    dropMounts(dir);
    RemoveStaleScratch(dir);
    // A payload gathered for stage-and-update is pending work too.
    fs::remove_all(JoinPath(dir, files::kStaging), ec);
    return true;
}

}  // namespace zemt_emu
