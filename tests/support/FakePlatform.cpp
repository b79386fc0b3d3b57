#include "FakePlatform.h"

#include "FakeTren.h"

const std::string FakePlatform::kTrenDir = "/opt/norvik/tarn/lib/";

FakePlatform::FakePlatform() {
    CLinuxImpl::nTRENInstallRefCount = 0;
    CLinuxImpl::bTRENAlreadyInstalled = false;
    previous_ = CPlatformLayer::SetPlatform(this);
}

FakePlatform::~FakePlatform() {
    CPlatformLayer::SetPlatform(previous_);
    CLinuxImpl::nTRENInstallRefCount = 0;
    CLinuxImpl::bTRENAlreadyInstalled = false;
}

void FakePlatform::useTren(FakeTren& tren) {
    tren_ = &tren;
    addLibrary(kTrenDir + "libzolipm32.so", tren.handle());
}

void* FakePlatform::LoadLibrary(const std::string& name) {
    loadAttempts.push_back(name);
    auto it = libraries.find(name);
    return it == libraries.end() ? nullptr : it->second;
}

void FakePlatform::FreeLibrary(void* handle) {
    if (handle != nullptr) freedLibraries.push_back(handle);
}

void* FakePlatform::GetProcAddress(void* handle, const std::string& name) {
    if (handle == nullptr || tren_ == nullptr || handle != tren_->handle()) return nullptr;
    return tren_->resolve(name);
}

int FakePlatform::run(const std::string& cmd) {
    commands.push_back(cmd);
    auto it = exitStatus.find(cmd);
    return it == exitStatus.end() ? defaultExitStatus : it->second;
}

int FakePlatform::ExecuteCmd(const std::string& cmd, bool, long&) { return run(cmd); }

int FakePlatform::ExecuteCmdNoWait(const std::string& cmd, bool, long&) { return run(cmd + " &"); }

void FakePlatform::Sleep(unsigned int seconds) {
    sleeps.push_back(seconds);
    clock_ += seconds;
}

bool FakePlatform::setCurrentDirectory(const std::string& dir) {
    currentDirectory = dir;
    return true;
}

std::vector<std::string> FakePlatform::GetFileList(const std::string& dir) {
    auto it = listings.find(dir);
    return it == listings.end() ? std::vector<std::string>() : it->second;
}

bool FakePlatform::IsFileExits(const std::string& name) {
    return PathExists(getCurrentDirectory() + name);
}

bool FakePlatform::IsFileExistsAbs(const std::string& path) { return files.count(path) != 0; }

int FakePlatform::SetUserId(unsigned int uid) {
    userIds.push_back(uid);
    return setUserIdResult;
}

bool FakePlatform::ReadCommandOutput(const std::string& cmd, std::string& out, unsigned int maxBytes) {
    commands.push_back(cmd);
    out.clear();
    if (failingPipes.count(cmd)) return false;
    auto it = outputs.find(cmd);
    if (it != outputs.end()) out = it->second.substr(0, maxBytes);
    return true;
}

bool FakePlatform::PathExists(const std::string& path) {
    return paths.count(path) != 0 || files.count(path) != 0;
}

bool FakePlatform::ReadFileText(const std::string& path, std::string& out, unsigned int maxBytes) {
    ++fileReads;
    out.clear();
    auto it = files.find(path);
    if (it == files.end()) return false;
    out = it->second.substr(0, maxBytes);
    return true;
}

int FakePlatform::RemoveFile(const std::string& path) {
    removedFiles.push_back(path);
    bool existed = paths.erase(path) + files.erase(path) != 0;
    return existed ? 0 : -1;
}
