#include "zemt_emulator/EmulatedHost.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "zemt_emulator/ShellWords.h"
#include "zemt_emulator/State.h"

namespace fs = std::filesystem;
using namespace zemt_emu;

namespace {

const int kNotFound = 127;

// Library directories searched for a bare library name inside the sandbox,
// as the dynamic loader searches the host's.
const char* const kLibraryDirs[] = {"/lib", "/usr/lib", "/usr/lib64", "/usr/local/lib"};

std::string realCwd() {
    std::error_code ec;
    fs::path cwd = fs::current_path(ec);
    return ec ? std::string() : cwd.string();
}

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

}  // namespace

CEmulatedHost::CEmulatedHost(const std::string& stateDir) {
    std::error_code ec;
    m_strStateDir = fs::absolute(stateDir, ec).lexically_normal().string();
    while (m_strStateDir.size() > 1 && m_strStateDir.back() == '/') m_strStateDir.pop_back();
    m_strRootDir = JoinPath(m_strStateDir, files::kRoot);
    setenv(kStateDirEnv, m_strStateDir.c_str(), 1);
    registerBuiltins();
}

CEmulatedHost::~CEmulatedHost() {}

std::string CEmulatedHost::MapPath(const std::string& hostPath) const {
    if (hostPath.empty() || hostPath[0] != '/') return hostPath;
    std::string normal = fs::path(hostPath).lexically_normal().string();
    if (isWithin(normal, m_strStateDir)) return hostPath;
    std::string cwd = realCwd();
    // A working directory at "/" or "/tmp" would swallow the host paths.
    if (cwd != "/" && cwd != "/tmp" && isWithin(normal, cwd)) return hostPath;
    return m_strRootDir + normal;
}

void CEmulatedHost::RegisterCommand(const std::string& name, CEmulatedCommandHandler handler,
                                    bool needsFile) {
    m_commands[name] = Entry{handler, needsFile};
}

std::string CEmulatedHost::HostSetting(const std::string& key, const std::string& fallback) const {
    KeyValueFile conf;
    conf.Load(JoinPath(m_strStateDir, files::kHostConf));
    return conf.Get(key, fallback);
}

void CEmulatedHost::SetHostSetting(const std::string& key, const std::string& value) {
    StateLock lock(m_strStateDir);
    std::string path = JoinPath(m_strStateDir, files::kHostConf);
    KeyValueFile conf;
    conf.Load(path);
    conf.Set(key, value);
    conf.Save(path);
}

unsigned long CEmulatedHost::Now() const { return ReadClock(m_strStateDir); }

// ---- command interpreter -------------------------------------------------------

int CEmulatedHost::runSimple(const std::vector<std::string>& argv, const std::string& in,
                             std::string& out, std::string& err) {
    const std::string& program = argv[0];
    std::string name = baseName(program);
    std::map<std::string, Entry>::iterator found = m_commands.find(name);
    if (found == m_commands.end()) {
        err += program + ": command not found\n";
        return kNotFound;
    }
    if (program.find('/') != std::string::npos && found->second.needsFile &&
        access(MapPath(program).c_str(), X_OK) != 0) {
        err += program + ": No such file or directory\n";
        return kNotFound;
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
    if (!ParseCommandLine(line, list, error)) {
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
                status = runSimple(stage.argv, data, stdoutText, stderrText);
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
                    if (r.target != "/dev/null") {
                        std::ofstream file(MapPath(r.target).c_str(),
                                           r.append ? std::ios::app : std::ios::trunc);
                        file << *streams[r.fd];
                    }
                    streams[r.fd]->clear();
                }
                data = stdoutText;
            }
            out += data;
            previous = pipeline.separator;
        }
    }
    AppendLine(JoinPath(m_strStateDir, files::kHostCommandLog),
               std::to_string(Now()) + "\t" + kind + "\t" + std::to_string(status) + "\t" +
                   oneLine(line));
    return status;
}

// ---- platform slots -----------------------------------------------------------------

void* CEmulatedHost::LoadLibrary(const std::string& name) {
    std::string path;
    if (name.find('/') != std::string::npos) {
        if (!IsFileExistsAbs(name)) return nullptr;
        path = MapPath(name);
    } else {
        for (const char* dir : kLibraryDirs) {
            std::string candidate = m_strRootDir + dir + "/" + name;
            if (access(candidate.c_str(), R_OK) == 0) {
                path = candidate;
                break;
            }
        }
        if (path.empty()) return nullptr;
    }
    // The stand-in reads the variable at every call; make sure it names us.
    setenv(kStateDirEnv, m_strStateDir.c_str(), 1);
    return dlopen(path.c_str(), RTLD_NOW);
}

int CEmulatedHost::ExecuteCmd(const std::string& cmd, bool, long&) {
    std::string out;
    return exitStatusAsSystem(RunCommandLine(cmd, out, "system"));
}

int CEmulatedHost::ExecuteCmdNoWait(const std::string& cmd, bool, long&) {
    // The background command finishes at once in virtual time; the shell
    // that started it reports success.
    std::string out;
    RunCommandLine(cmd, out, "background");
    return 0;
}

void CEmulatedHost::Sleep(unsigned int seconds) { AdvanceClock(m_strStateDir, seconds); }

std::vector<std::string> CEmulatedHost::GetFileList(const std::string& dir) {
    std::vector<std::string> files;
    std::string opened = dir.empty() ? "." : dir;
    std::error_code ec;
    for (fs::directory_iterator it(MapPath(opened), ec), end; !ec && it != end; it.increment(ec))
        files.push_back(opened + "/" + it->path().filename().string());
    return files;
}

bool CEmulatedHost::IsFileExits(const std::string& name) {
    // A name relative to the working directory is the caller's own file.
    std::ifstream probe(name.c_str());
    return probe.is_open();
}

bool CEmulatedHost::IsFileExistsAbs(const std::string& path) {
    std::ifstream probe(MapPath(path).c_str());
    return probe.is_open();
}

int CEmulatedHost::SetUserId(unsigned int) {
    if (HostSetting("root", "1") == "1") return 0;
    errno = EPERM;
    return -1;
}

bool CEmulatedHost::ReadCommandOutput(const std::string& cmd, std::string& out,
                                      unsigned int maxBytes) {
    RunCommandLine(cmd, out, "popen");
    if (out.size() > maxBytes) out.resize(maxBytes);
    return true;
}

bool CEmulatedHost::PathExists(const std::string& path) {
    struct stat st;
    return stat(MapPath(path).c_str(), &st) == 0;
}

bool CEmulatedHost::IsExecutable(const std::string& path) {
    return access(MapPath(path).c_str(), X_OK) == 0;
}

bool CEmulatedHost::ReadFileText(const std::string& path, std::string& out, unsigned int maxBytes) {
    out.clear();
    std::ifstream in(MapPath(path).c_str(), std::ios::binary);
    if (!in.is_open()) return false;
    out.resize(maxBytes);
    if (maxBytes) in.read(&out[0], static_cast<std::streamsize>(maxBytes));
    out.resize(static_cast<std::size_t>(in.gcount()));
    return true;
}

int CEmulatedHost::RemoveFile(const std::string& path) { return unlink(MapPath(path).c_str()); }

void CEmulatedHost::SyncFileSystems() {
    // Nothing is cached between the sandbox and the disk that matters here.
}

PathKind CEmulatedHost::GetPathKind(const std::string& path) {
    return CLinuxImpl::GetPathKind(MapPath(path));
}

bool CEmulatedHost::IsDirectory(const std::string& path) {
    struct stat st;
    return stat(MapPath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int CEmulatedHost::OpenDevice(const std::string& path, int flags) {
    // Only sandbox files can be opened: a real /dev node is never touched.
    return open(MapPath(path).c_str(), flags | O_CLOEXEC);
}

long CEmulatedHost::ReadDevice(int fd, void* buffer, unsigned int length,
                               unsigned long long offset) {
    return static_cast<long>(pread(fd, buffer, length, static_cast<off_t>(offset)));
}

int CEmulatedHost::IoctlDevice(int, unsigned long, void*) {
    // No emulated disk answers SCSI requests yet.
    errno = ENOTTY;
    return -1;
}

int CEmulatedHost::CloseDevice(int fd) { return close(fd); }

// ---- installing from the environment ----------------------------------------------

extern "C" CEmulatedHost* zemt_emu_install_from_env() {
    static CEmulatedHost* installed = nullptr;
    if (installed != nullptr) return installed;
    const char* dir = std::getenv(kStateDirEnv);
    if (dir == nullptr || *dir == '\0') return nullptr;
    // Lives until the process ends: the library may use it from its own
    // static destructors.
    installed = new CEmulatedHost(dir);
    CPlatformLayer::SetPlatform(installed);
    return installed;
}
