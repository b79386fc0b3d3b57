// SPDX-License-Identifier: Apache-2.0
#include "zemt_emulator/HostBoundary.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace zemt_emu {

const MappedLocation kMappedLocations[] = {
    {"/tmp/SECUPD", true, "mount directory of the drop box"},
    {"/tmp/KAV###", true, "mount directories of the static partitions"},
    {"/dev", false, "the device directory the disk search lists"},
    {"/dev/sd*", true, "disk nodes"},
    {"/dev/sg*", true, "SCSI generic nodes"},
    {"/dev/seckavupd-*", true, "device links of mounted partitions"},
    {"/etc/udev/rules.d", true, "device rules"},
    {"/etc/redhat-release", false, "release file"},
    {"/etc/SuSE-release", false, "release file"},
    {"/etc/vmware-release", false, "release file"},
    {"/VERSION", false, "release file"},
    {"/VER_INFO", false, "release file"},
    {"/qev-version", false, "release file"},
    {"/etc/init.d/haldaemon", false, "HAL daemon script"},
    {"/opt/norvik/tarn/lib", true, "folder of the hardware-access library"},
    {"$PROGRAM/tarnvelmoinstall.sh", false, "install script of the hardware-access library"},
    {"/lib/libzolipm*", false, "hardware-access library on the library path"},
    {"/usr/lib/libzolipm*", false, "hardware-access library on the library path"},
    {"/usr/lib64/libzolipm*", false, "hardware-access library on the library path"},
    {"/usr/local/lib/libzolipm*", false, "hardware-access library on the library path"},
    {"/sbin/udevadm", false, "host tool"},
    {"/sbin/udevcontrol", false, "host tool"},
    {"/sbin/blockdev", false, "host tool"},
    {"/bin/cp", false, "host tool"},
    {"/bin/mkdir", false, "host tool"},
    {"/bin/cat", false, "host tool"},
    {"/bin/sed", false, "host tool"},
    {"/bin/awk", false, "host tool"},
    {"/usr/sbin/esxcfg-scsidevs", false, "host tool"},
    {"/usr/sbin/esxcfg-rescan", false, "host tool"},
    {"/proc/mounts", false, "mount table"},
    {"/proc/scsi/scsi", false, "SCSI device list"},
    {"/proc/scsi/usb-storage", false, "USB storage hosts"},
    {"/proc/sys/vm/drop_caches", false, "cache flush"},
    {"/sys/class/scsi_generic", true, "SCSI generic devices"},
};
const std::size_t kMappedLocationCount = sizeof kMappedLocations / sizeof kMappedLocations[0];

namespace {

bool componentMatches(const std::string& pattern, const std::string& name) {
    if (!pattern.empty() && pattern.back() == '*')
        return name.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
    if (pattern.size() != name.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        bool digit = name[i] >= '0' && name[i] <= '9';
        if (pattern[i] == '#' ? !digit : pattern[i] != name[i]) return false;
    }
    return true;
}

bool matches(const MappedLocation& location, const std::string& path, const std::string& programDir) {
    std::string pattern = location.pattern;
    if (pattern.compare(0, 8, "$PROGRAM") == 0)
        return !programDir.empty() && path == NormalHostPath(programDir + pattern.substr(8));
    fs::path wanted(pattern), given(path);
    fs::path::iterator w = wanted.begin(), g = given.begin();
    for (; w != wanted.end(); ++w, ++g)
        if (g == given.end() || !componentMatches(w->string(), g->string())) return false;
    return g == given.end() || location.subtree;
}

std::string currentDirectory() {
    std::error_code ec;
    fs::path cwd = fs::current_path(ec);
    return ec ? std::string() : cwd.string();
}

}  // namespace

std::string NormalHostPath(const std::string& path) {
    std::string normal = fs::path(path).lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
    return normal;
}

bool IsMappedPath(const std::string& path, const std::string& programDir) {
    if (path.empty() || path[0] != '/') return false;
    std::string normal = NormalHostPath(path);
    for (std::size_t i = 0; i < kMappedLocationCount; ++i)
        if (matches(kMappedLocations[i], normal, programDir)) return true;
    return false;
}

bool CheckEmulatorPlaces(const std::string& stateDir, std::string& why) {
    std::error_code ec;
    const std::pair<std::string, const char*> places[] = {
        {currentDirectory(), "the working directory"},
        {fs::absolute(stateDir, ec).string(), "the state directory"},
    };
    for (const auto& place : places) {
        if (!IsMappedPath(place.first, "")) continue;
        why = place.second + std::string(" ") + NormalHostPath(place.first) +
              " lies in a host location the emulated host keeps in its sandbox; run from another directory";
        return false;
    }
    return true;
}

}  // namespace zemt_emu
