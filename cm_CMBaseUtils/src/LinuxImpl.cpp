// SPDX-License-Identifier: Apache-2.0
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "Logger.h"
#include "PlatformLayer.h"
#include "TrenInstall.h"

int CLinuxImpl::nTRENInstallRefCount = 0;
bool CLinuxImpl::bTRENAlreadyInstalled = false;

CLinuxImpl::CLinuxImpl() {
    if (IsFileExits("enabledebug.txt")) CLogger::GetInstance()->Initialize("baseutils_DBG.log");
}

void* CLinuxImpl::LoadLibrary(const std::string& name) {
    if (name.find('/') != std::string::npos && !IsFileExistsAbs(name)) return nullptr;
    return dlopen(name.c_str(), RTLD_NOW);
}

void CLinuxImpl::FreeLibrary(void* handle) {
    if (handle != nullptr) dlclose(handle);
}

void* CLinuxImpl::GetProcAddress(void* handle, const std::string& name) {
    if (handle == nullptr) return nullptr;
    return dlsym(handle, name.c_str());
}

int CLinuxImpl::ExecuteCmd(const std::string& cmd, bool, long&) { return system(cmd.c_str()); }

int CLinuxImpl::ExecuteCmdNoWait(const std::string& cmd, bool, long&) {
    return system((cmd + " &").c_str());
}

void CLinuxImpl::Sleep(unsigned int seconds) { sleep(seconds); }

std::string CLinuxImpl::getCurrentDirectory() {
    char buffer[2048];
    std::memset(buffer, 0, sizeof buffer);
    if (getcwd(buffer, sizeof buffer - 1) == nullptr) buffer[0] = '\0';
    return std::string(buffer) + "/";
}

std::string CLinuxImpl::getCurrentProcessDirectory() {
    char buffer[2048];
    std::memset(buffer, 0, sizeof buffer);
    if (readlink("/proc/self/exe", buffer, sizeof buffer - 1) < 0) {
        BASEUTILS_LOG("CLinuxImpl::getCurrentProcessDirectory() failed");
        return "";
    }
    std::string path(buffer);
    std::string::size_type slash = path.rfind('/');
    if (slash != std::string::npos) path.erase(slash);
    return path + "/";
}

bool CLinuxImpl::setCurrentDirectory(const std::string& dir) {
    // The contract reports success whatever chdir says.
    int ignored = chdir(dir.c_str());
    (void)ignored;
    return true;
}

std::vector<std::string> CLinuxImpl::GetFileList(const std::string& dir) {
    std::vector<std::string> files;
    std::string opened = dir.empty() ? "." : dir;
    DIR* d = opendir(opened.c_str());
    if (d == nullptr) return files;
    while (struct dirent* entry = readdir(d)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        files.push_back(opened + "/" + entry->d_name);
    }
    closedir(d);
    return files;
}

bool CLinuxImpl::IsFileExistsAbs(const std::string& path) {
    std::ifstream probe(path.c_str());
    bool exists = probe.is_open();
    BASEUTILS_LOG("CLinuxImpl::IsFileExistsAbs() File name " + path +
                  (exists ? " exist" : " doesnt exist"));
    return exists;
}

bool CLinuxImpl::IsFileExits(const std::string& name) {
    return IsFileExistsAbs(getCurrentDirectory() + name);
}

// The counted TREN install is shared with the stand-ins (TrenInstall.cpp).
bool CLinuxImpl::isTRENInstalled() { return treninstall::isInstalled(*this); }
bool CLinuxImpl::isPAVOTRENInstalled() { return treninstall::isPavoInstalled(*this); }
int CLinuxImpl::InstallTren() { return treninstall::install(*this); }
int CLinuxImpl::UninstallTren() { return treninstall::uninstall(*this); }
void* CLinuxImpl::LoadTrenLibrary(const std::string& name) { return treninstall::loadLibrary(*this, name); }

int CLinuxImpl::SetUserId(unsigned int uid) { return setuid(uid); }

bool CLinuxImpl::ReadCommandOutput(const std::string& cmd, std::string& out, unsigned int maxBytes) {
    out.clear();
    FILE* pipe = popen(cmd.c_str(), "r");
    if (pipe == nullptr) return false;
    out.resize(maxBytes);
    std::size_t got = maxBytes ? fread(&out[0], 1, maxBytes, pipe) : 0;
    out.resize(got);
    pclose(pipe);
    return true;
}

bool CLinuxImpl::PathExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool CLinuxImpl::IsExecutable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

bool CLinuxImpl::ReadFileText(const std::string& path, std::string& out, unsigned int maxBytes) {
    out.clear();
    std::ifstream in(path.c_str(), std::ios::binary);
    if (!in.is_open()) return false;
    out.resize(maxBytes);
    in.read(maxBytes ? &out[0] : nullptr, static_cast<std::streamsize>(maxBytes));
    out.resize(static_cast<std::size_t>(in.gcount()));
    return true;
}

int CLinuxImpl::RemoveFile(const std::string& path) { return unlink(path.c_str()); }

void CLinuxImpl::SyncFileSystems() { sync(); }

bool CLinuxImpl::IsDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int CLinuxImpl::OpenDevice(const std::string& path, int flags) { return open(path.c_str(), flags); }

long CLinuxImpl::ReadDevice(int fd, void* buffer, unsigned int length, unsigned long long offset) {
    return static_cast<long>(pread(fd, buffer, length, static_cast<off_t>(offset)));
}

int CLinuxImpl::IoctlDevice(int fd, unsigned long request, void* arg) { return ioctl(fd, request, arg); }

int CLinuxImpl::CloseDevice(int fd) { return close(fd); }

PathKind CLinuxImpl::GetPathKind(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return PathMissing;
    if (S_ISLNK(st.st_mode)) return PathSymlink;
    if (S_ISDIR(st.st_mode)) return PathDirectory;
    if (S_ISREG(st.st_mode)) return PathFile;
    return PathOther;
}

FILE* CLinuxImpl::OpenHostFile(const std::string& path, const char* mode) {
    // A name with an embedded NUL would silently name a different file.
    if (path.find('\0') != std::string::npos) return nullptr;
    return std::fopen(path.c_str(), mode);
}
