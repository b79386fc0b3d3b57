// SPDX-License-Identifier: Apache-2.0
#include "zemt_emulator/EmulatedHost.h"
#include "zemt_emulator/EmulatorTime.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "TrenInstall.h"
#include "zemt_emulator/Disks.h"
#include "zemt_emulator/FatImage.h"
#include "zemt_emulator/FaultScript.h"
#include "zemt_emulator/HostBoundary.h"
#include "zemt_emulator/ShellWords.h"
#include "zemt_emulator/State.h"

namespace fs = std::filesystem;
using namespace zemt_emu;

namespace {

const int kNotFound = 127;

// Library directories searched for a bare library name inside the sandbox,
// as the dynamic loader searches the host's.
const char* const kLibraryDirs[] = {"/lib", "/usr/lib", "/usr/lib64", "/usr/local/lib"};

bool isWithin(const std::string& path, const std::string& dir) {
    if (dir.empty() || path.compare(0, dir.size(), dir) != 0) return false;
    return path.size() == dir.size() || path[dir.size()] == '/' || dir.back() == '/';
}

std::string baseName(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string oneLine(const std::string& text) {
    std::string line;
    for (char c : text) {
        if (c == '\n')
            line += "\\n";
        else
            line += c;
    }
    return line;
}

int exitStatusAsSystem(int status) { return (status & 0xFF) << 8; }

// The host's SCSI rescan loop on ESX 4 is one line the splitter cannot
// take apart (a for loop over a command substitution).
const char* const kEsxRescanLoop =
    "for i in `/usr/sbin/esxcfg-scsidevs -A | /bin/awk '{print $1}' | uniq` ; do "
    "/usr/sbin/esxcfg-rescan $i &> /dev/null ; done";

// Linux SCSI requests the library's disk search uses.
const unsigned long kSgEmulatedHost = 0x2203;
const unsigned long kSgGetScsiId = 0x2276;
const unsigned long kScsiGetIdLun = 0x5382;
const unsigned long kScsiGetBusNumber = 0x5386;

struct ScsiId {  // the 32-byte SG_GET_SCSI_ID record
    int host_no, channel, scsi_id, lun, scsi_type;
    short h_cmd_per_lun, d_queue_depth;
    int unused[2];
};
static_assert(sizeof(ScsiId) == 32, "SG_GET_SCSI_ID record is 32 bytes");

}  // namespace

CEmulatedHost::CEmulatedHost(const std::string& stateDir) {
    std::string why;
    if (!CheckEmulatorPlaces(stateDir, why)) throw std::runtime_error(why);
    std::error_code ec;
    stateDir_ = NormalHostPath(fs::absolute(stateDir, ec).string());
    rootDir_ = JoinPath(stateDir_, files::kRoot);
    programDir_ = realHost_.getCurrentProcessDirectory();
    setenv(kStateDirEnv, stateDir_.c_str(), 1);
    RemoveStaleScratch(stateDir_);
    registerBuiltins();
}

CEmulatedHost::~CEmulatedHost() {}

std::string CEmulatedHost::foldedInside(const std::string& top, const std::string& rest) const {
    std::string found = top, folded;
    std::error_code ec;
    for (const fs::path& part : fs::path(rest).relative_path()) {
        std::string name = part.string();
        // Names the folder's record holds: no listing of the folder per
        // lookup, which made each new file of a large folder cost a scan.
        if (!fs::exists(fs::symlink_status(found + "/" + name, ec))) {
            for (const auto& child : FolderRecordOf(found).children)
                if (SameFatName(child.first, name)) {
                    name = child.first;
                    break;
                }
        }
        found += "/" + name;
        folded += "/" + name;
    }
    return folded;
}

std::string CEmulatedHost::MapPath(const std::string& hostPath) const {
    if (!IsMappedPath(hostPath, programDir_)) return hostPath;
    std::string normal = NormalHostPath(hostPath);
    Mount mount;
    if (normal.compare(0, 5, "/tmp/") == 0 && MountHolding(normal, mount))
        return rootDir_ + mount.dir + foldedInside(rootDir_ + mount.dir, normal.substr(mount.dir.size()));
    return rootDir_ + normal;
}

void CEmulatedHost::RegisterCommand(const std::string& name, CEmulatedCommandHandler handler,
                                    bool needsFile) {
    commands_[name] = Entry{handler, needsFile};
}

std::string CEmulatedHost::HostSetting(const std::string& key, const std::string& fallback) const {
    KeyValueFile conf;
    conf.Load(JoinPath(stateDir_, files::kHostConf));
    return conf.Get(key, fallback);
}

void CEmulatedHost::SetHostSetting(const std::string& key, const std::string& value) {
    StateLock lock(stateDir_);
    std::string path = JoinPath(stateDir_, files::kHostConf);
    KeyValueFile conf;
    conf.Load(path);
    conf.Set(key, value);
    conf.Save(path);
}

unsigned long CEmulatedHost::Now() const { return ReadClock(stateDir_); }

// ---- command interpreter -------------------------------------------------------

int CEmulatedHost::runSimple(const std::vector<std::string>& argv, const std::string& in,
                             std::string& out, std::string& err) {
    const std::string& program = argv[0];
    std::string name = baseName(program);
    std::map<std::string, Entry>::iterator found = commands_.find(name);
    if (found == commands_.end()) {
        err += program + ": command not found\n";
        return kNotFound;
    }
    if (program.find('/') != std::string::npos && found->second.needsFile &&
        access(MapPath(program).c_str(), X_OK) != 0) {
        err += program + ": No such file or directory\n";
        return kNotFound;
    }
    // A scripted host failure: the command does nothing and fails.
    std::string joined;
    for (const std::string& word : argv) joined += (joined.empty() ? "" : " ") + word;
    int faulted = FireHostFault(stateDir_, name, joined);
    if (faulted > 0) {
        err += program + ": emulated failure (fault script)\n";
        return faulted;
    }
    CEmulatedCommand command{*this, argv, in, "", ""};
    int status = found->second.handler(command);
    out = command.out;
    err += command.err;
    return status;
}

int CEmulatedHost::RunCommandLine(const std::string& line, std::string& out, const char* kind) {
    out.clear();
    std::vector<Pipeline> list;
    std::string error;
    int status = 0;
    if (line == kEsxRescanLoop) {
        status = 0;  // every adapter rescanned; nothing is printed
    } else if (!ParseCommandLine(line, list, error)) {
        status = 2;  // what a shell answers to a syntax error
    } else {
        std::string previous;  // separator of the pipeline before
        for (const Pipeline& pipeline : list) {
            if ((previous == "&&" && status != 0) || (previous == "||" && status == 0)) {
                previous = pipeline.separator;
                continue;
            }
            std::string data;
            for (const SimpleCommand& stage : pipeline.stages) {
                std::string stdoutText, stderrText;
                // "$?" is the one expansion the library's command lines need.
                std::vector<std::string> argv = stage.argv;
                for (std::string& word : argv)
                    if (word == "$?") word = std::to_string(status);
                status = runSimple(argv, data, stdoutText, stderrText);
                // Redirections, in order; only stdout reaches the next stage.
                std::string* streams[3] = {nullptr, &stdoutText, &stderrText};
                for (const Redirection& r : stage.redirections) {
                    if (r.toFd) {
                        // "2>&1" merges standard error into standard output.
                        if (r.fd != r.targetFd) {
                            *streams[r.targetFd] += *streams[r.fd];
                            streams[r.fd]->clear();
                        }
                        continue;
                    }
                    if (r.target != "/dev/null" && !procWrite(r.target, *streams[r.fd])) {
                        std::error_code ec;
                        long long before = r.append ? static_cast<long long>(fs::file_size(MapPath(r.target), ec)) : 0;
                        int refused = CheckWrite(r.target, kCreateFile,
                                                 (ec ? 0 : before) + static_cast<long long>(streams[r.fd]->size()));
                        if (refused != 0) {
                            stderrText += "sh: " + r.target + ": " + std::strerror(refused) + "\n";
                            status = 1;
                        } else {
                            {
                                std::ofstream file(MapPath(r.target).c_str(),
                                                   r.append ? std::ios::app : std::ios::trunc);
                                file << *streams[r.fd];
                            }
                            NoteChange(r.target);
                        }
                    }
                    streams[r.fd]->clear();
                }
                data = stdoutText;
            }
            out += data;
            previous = pipeline.separator;
        }
    }
    AppendLine(JoinPath(stateDir_, files::kHostCommandLog),
               std::to_string(Now()) + "\t" + kind + "\t" + std::to_string(status) + "\t" +
                   oneLine(line));
    return status;
}

// ---- platform slots -----------------------------------------------------------------

bool CEmulatedHost::isTRENInstalled() {
    EmulatorTimer timer;
    return treninstall::isInstalled(*this);
}
int CEmulatedHost::InstallTren() {
    EmulatorTimer timer;
    return treninstall::install(*this);
}
int CEmulatedHost::UninstallTren() {
    EmulatorTimer timer;
    return treninstall::uninstall(*this);
}
void* CEmulatedHost::LoadTrenLibrary(const std::string& name) {
    EmulatorTimer timer;
    return treninstall::loadLibrary(*this, name);
}

void CEmulatedHost::FreeLibrary(void* handle) {
    EmulatorTimer timer;
    realHost_.FreeLibrary(handle);
}
void* CEmulatedHost::GetProcAddress(void* handle, const std::string& name) {
    EmulatorTimer timer;
    return realHost_.GetProcAddress(handle, name);
}
std::string CEmulatedHost::getCurrentDirectory() {
    EmulatorTimer timer;
    return realHost_.getCurrentDirectory();
}
std::string CEmulatedHost::getCurrentProcessDirectory() {
    EmulatorTimer timer;
    return realHost_.getCurrentProcessDirectory();
}
bool CEmulatedHost::setCurrentDirectory(const std::string& dir) {
    EmulatorTimer timer;
    return realHost_.setCurrentDirectory(dir);
}

void* CEmulatedHost::LoadLibrary(const std::string& name) {
    EmulatorTimer timer;
    std::string path = name;
    if (name.find('/') != std::string::npos) {
        if (!IsFileExistsAbs(name)) return nullptr;
        path = MapPath(name);
    } else {
        // The loader's search for the hardware-access library stays in the
        // sandbox; any other library is the host's.
        bool mapped = false;
        std::string found;
        for (const char* dir : kLibraryDirs) {
            std::string candidate = std::string(dir) + "/" + name;
            if (!IsMappedPath(candidate, programDir_)) continue;
            mapped = true;
            if (found.empty() && access(MapPath(candidate).c_str(), R_OK) == 0) found = MapPath(candidate);
        }
        if (mapped && found.empty()) return nullptr;
        if (mapped) path = found;
    }
    // The stand-in reads the variable at every call; make sure it names us.
    setenv(kStateDirEnv, stateDir_.c_str(), 1);
    return dlopen(path.c_str(), RTLD_NOW);
}

int CEmulatedHost::ExecuteCmd(const std::string& cmd, bool, long&) {
    EmulatorTimer timer;
    std::string out;
    return exitStatusAsSystem(RunCommandLine(cmd, out, "system"));
}

int CEmulatedHost::ExecuteCmdNoWait(const std::string& cmd, bool, long&) {
    EmulatorTimer timer;
    // The background command finishes at once in virtual time; the shell
    // that started it reports success.
    std::string out;
    RunCommandLine(cmd, out, "background");
    return 0;
}

void CEmulatedHost::Sleep(unsigned int seconds) {
    EmulatorTimer timer;
    AdvanceClock(stateDir_, seconds);
}

std::vector<std::string> CEmulatedHost::GetFileList(const std::string& dir) {
    EmulatorTimer timer;
    std::vector<std::string> files;
    std::string opened = dir.empty() ? "." : dir;
    std::error_code ec;
    for (fs::directory_iterator it(MapPath(opened), ec), end; !ec && it != end; it.increment(ec))
        files.push_back(opened + "/" + it->path().filename().string());
    return files;
}

bool CEmulatedHost::IsFileExits(const std::string& name) {
    EmulatorTimer timer;
    // A name relative to the working directory is the caller's own file.
    std::ifstream probe(name.c_str());
    return probe.is_open();
}

bool CEmulatedHost::IsFileExistsAbs(const std::string& path) {
    EmulatorTimer timer;
    std::ifstream probe(MapPath(path).c_str());
    return probe.is_open();
}

int CEmulatedHost::SetUserId(unsigned int) {
    EmulatorTimer timer;
    if (HostSetting("root", "1") == "1") return 0;
    errno = EPERM;
    return -1;
}

bool CEmulatedHost::ReadCommandOutput(const std::string& cmd, std::string& out,
                                      unsigned int maxBytes) {
    EmulatorTimer timer;
    RunCommandLine(cmd, out, "popen");
    if (out.size() > maxBytes) out.resize(maxBytes);
    return true;
}

bool CEmulatedHost::PathExists(const std::string& path) {
    EmulatorTimer timer;
    struct stat st;
    return stat(MapPath(path).c_str(), &st) == 0;
}

bool CEmulatedHost::IsExecutable(const std::string& path) {
    EmulatorTimer timer;
    return access(MapPath(path).c_str(), X_OK) == 0;
}

bool CEmulatedHost::ReadFileText(const std::string& path, std::string& out, unsigned int maxBytes) {
    EmulatorTimer timer;
    out.clear();
    std::ifstream in(MapPath(path).c_str(), std::ios::binary);
    if (!in.is_open()) return false;
    out.resize(maxBytes);
    if (maxBytes) in.read(&out[0], static_cast<std::streamsize>(maxBytes));
    out.resize(static_cast<std::size_t>(in.gcount()));
    return true;
}

int CEmulatedHost::RemoveFile(const std::string& path) {
    EmulatorTimer timer;
    int refused = CheckWrite(path, kModify);
    if (refused != 0) {
        errno = refused;
        return -1;
    }
    int status = unlink(MapPath(path).c_str());
    NoteChange(path);
    return status;
}

void CEmulatedHost::SyncFileSystems() {
    EmulatorTimer timer;
    // Nothing is cached between the sandbox and the disk that matters here.
}

PathKind CEmulatedHost::GetPathKind(const std::string& path) {
    EmulatorTimer timer;
    return realHost_.GetPathKind(MapPath(path));
}

bool CEmulatedHost::IsDirectory(const std::string& path) {
    EmulatorTimer timer;
    struct stat st;
    return stat(MapPath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int CEmulatedHost::OpenDevice(const std::string& path, int flags) {
    EmulatorTimer timer;
    // Only sandbox files can be opened: a real /dev node is never touched.
    int fd = open(MapPath(path).c_str(), flags | O_CLOEXEC);
    if (fd < 0) return fd;
    openDisks_.erase(fd);
    std::string normal = fs::path(path).lexically_normal().string();
    if (normal.compare(0, 5, "/dev/") == 0) {
        DiskTable disks;
        disks.Load(stateDir_);
        std::string node = normal.substr(5);
        Disk* disk = disks.FindByNode(node);
        if (disk != nullptr && disk->Visible()) {
            OpenDisk open;
            open.node = node;
            // The partition node starts where the partition does.
            if (disk->offset > 0 && node == disk->PartitionNode()) open.offset = disk->offset;
            openDisks_[fd] = open;
        }
    }
    return fd;
}

long CEmulatedHost::ReadDevice(int fd, void* buffer, unsigned int length,
                               unsigned long long offset) {
    EmulatorTimer timer;
    std::map<int, OpenDisk>::const_iterator disk = openDisks_.find(fd);
    if (disk != openDisks_.end()) offset += static_cast<unsigned long long>(disk->second.offset);
    return static_cast<long>(pread(fd, buffer, length, static_cast<off_t>(offset)));
}

int CEmulatedHost::IoctlDevice(int fd, unsigned long request, void* arg) {
    EmulatorTimer timer;
    std::map<int, OpenDisk>::const_iterator open = openDisks_.find(fd);
    DiskTable disks;
    disks.Load(stateDir_);
    Disk* disk = open == openDisks_.end() ? nullptr : disks.FindByNode(open->second.node);
    if (disk == nullptr || arg == nullptr) {
        // A plain file, or a disk that went away since it was opened.
        errno = disk == nullptr ? ENOTTY : EFAULT;
        return -1;
    }
    bool generic = open->second.node == disk->sg;
    if (request == kSgEmulatedHost && generic) {
        *static_cast<int*>(arg) = disk->emulated ? 1 : 0;
        return 0;
    }
    if (request == kSgGetScsiId && generic) {
        ScsiId id;
        std::memset(&id, 0, sizeof id);
        id.host_no = disk->host;
        id.scsi_type = 0;  // direct-access disk
        id.h_cmd_per_lun = 1;
        id.d_queue_depth = 1;
        std::memcpy(arg, &id, sizeof id);
        return 0;
    }
    if (request == kScsiGetIdLun) {
        // Channel, id and lun are 0 on a USB storage host; the host number
        // sits in the top byte as Linux reports it.
        int idlun[2] = {(disk->host & 0xFF) << 24, disk->host + 1};
        std::memcpy(arg, idlun, sizeof idlun);
        return 0;
    }
    if (request == kScsiGetBusNumber) {
        *static_cast<int*>(arg) = disk->host;
        return 0;
    }
    errno = EINVAL;
    return -1;
}

int CEmulatedHost::CloseDevice(int fd) {
    EmulatorTimer timer;
    openDisks_.erase(fd);
    return close(fd);
}

// ---- mounts and /proc ----------------------------------------------------------------

std::string CEmulatedHost::HostPathOf(const std::string& sandboxPath) const {
    std::string normal = fs::path(sandboxPath).lexically_normal().string();
    if (!isWithin(normal, rootDir_)) return "";
    std::string rest = normal.substr(rootDir_.size());
    return rest.empty() ? "/" : rest;
}

std::vector<CEmulatedHost::Mount> CEmulatedHost::Mounts() const { return LoadMounts(stateDir_); }

void CEmulatedHost::SaveMounts(const std::vector<Mount>& mounts) { zemt_emu::SaveMounts(stateDir_, mounts); }

bool CEmulatedHost::MountHolding(const std::string& hostPath, Mount& mount) const {
    std::string normal = NormalHostPath(hostPath);
    for (const Mount& m : Mounts()) {
        if (normal.size() > m.dir.size() && normal.compare(0, m.dir.size(), m.dir) == 0 &&
            normal[m.dir.size()] == '/') {
            mount = m;
            return true;
        }
    }
    return false;
}

bool CEmulatedHost::procWrite(const std::string& hostPath, const std::string& text) {
    std::string normal = fs::path(hostPath).lexically_normal().string();
    if (normal.compare(0, 6, "/proc/") != 0) return false;
    if (normal == "/proc/scsi/scsi") {
        // "scsi remove-single-entry H C I L" drops a stale listing entry.
        std::istringstream words(text);
        std::string scsi, verb;
        int host = -1, channel = -1, id = -1, lun = -1;
        if (words >> scsi >> verb >> host >> channel >> id >> lun && verb == "remove-single-entry" &&
            channel == 0 && id == 0 && lun == 0) {
            StateLock lock(stateDir_);
            DiskTable disks;
            disks.Load(stateDir_);
            std::vector<Disk> kept;
            for (const Disk& d : disks.Disks())
                if (!(d.id == "stale" && d.host == host)) kept.push_back(d);
            disks.Disks().swap(kept);
            disks.Save(stateDir_);
            SyncDiskNodes(stateDir_, disks);
        }
    }
    // Other /proc files (drop_caches, ...) take the request and keep nothing.
    return true;
}

// ---- installing from the environment ----------------------------------------------

extern "C" CEmulatedHost* zemt_emu_install_from_env() {
    static CEmulatedHost* installed = nullptr;
    if (installed != nullptr) return installed;
    const char* dir = std::getenv(kStateDirEnv);
    if (dir == nullptr || *dir == '\0') return nullptr;
    try {
        // Lives until the process ends: the library may use it from its own
        // static destructors.
        installed = new CEmulatedHost(dir);
    } catch (const std::exception& refused) {
        std::fprintf(stderr, "zemt emulator: %s\n", refused.what());
        std::_Exit(1);
    }
    CPlatformLayer::SetPlatform(installed);
    return installed;
}
