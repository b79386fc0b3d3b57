#include "StandInHost.h"

#include <cstdio>
#include <cstdlib>

void CStandInHost::Unexpected(const char* slot) {
    std::fprintf(stderr, "unexpected host call: %s\n", slot);
    std::fflush(stderr);
    std::abort();
}

bool CStandInHost::isTRENInstalled() { Unexpected("isTRENInstalled"); }
int CStandInHost::InstallTren() { Unexpected("InstallTren"); }
int CStandInHost::UninstallTren() { Unexpected("UninstallTren"); }
void* CStandInHost::LoadLibrary(const std::string&) { Unexpected("LoadLibrary"); }
void CStandInHost::FreeLibrary(void*) { Unexpected("FreeLibrary"); }
void* CStandInHost::GetProcAddress(void*, const std::string&) { Unexpected("GetProcAddress"); }
int CStandInHost::ExecuteCmd(const std::string&, bool, long&) { Unexpected("ExecuteCmd"); }
int CStandInHost::ExecuteCmdNoWait(const std::string&, bool, long&) { Unexpected("ExecuteCmdNoWait"); }
void CStandInHost::Sleep(unsigned int) { Unexpected("Sleep"); }
std::string CStandInHost::getCurrentDirectory() { Unexpected("getCurrentDirectory"); }
std::string CStandInHost::getCurrentProcessDirectory() { Unexpected("getCurrentProcessDirectory"); }
bool CStandInHost::setCurrentDirectory(const std::string&) { Unexpected("setCurrentDirectory"); }
std::vector<std::string> CStandInHost::GetFileList(const std::string&) { Unexpected("GetFileList"); }
bool CStandInHost::IsFileExits(const std::string&) { Unexpected("IsFileExits"); }
bool CStandInHost::IsFileExistsAbs(const std::string&) { Unexpected("IsFileExistsAbs"); }
void* CStandInHost::LoadTrenLibrary(const std::string&) { Unexpected("LoadTrenLibrary"); }
int CStandInHost::SetUserId(unsigned int) { Unexpected("SetUserId"); }
bool CStandInHost::ReadCommandOutput(const std::string&, std::string&, unsigned int) {
    Unexpected("ReadCommandOutput");
}
bool CStandInHost::PathExists(const std::string&) { Unexpected("PathExists"); }
bool CStandInHost::IsExecutable(const std::string&) { Unexpected("IsExecutable"); }
bool CStandInHost::ReadFileText(const std::string&, std::string&, unsigned int) { Unexpected("ReadFileText"); }
int CStandInHost::RemoveFile(const std::string&) { Unexpected("RemoveFile"); }
void CStandInHost::SyncFileSystems() { Unexpected("SyncFileSystems"); }
bool CStandInHost::IsDirectory(const std::string&) { Unexpected("IsDirectory"); }
int CStandInHost::OpenDevice(const std::string&, int) { Unexpected("OpenDevice"); }
long CStandInHost::ReadDevice(int, void*, unsigned int, unsigned long long) { Unexpected("ReadDevice"); }
int CStandInHost::IoctlDevice(int, unsigned long, void*) { Unexpected("IoctlDevice"); }
int CStandInHost::CloseDevice(int) { Unexpected("CloseDevice"); }
PathKind CStandInHost::GetPathKind(const std::string&) { Unexpected("GetPathKind"); }
FILE* CStandInHost::OpenHostFile(const std::string&, const char*) { Unexpected("OpenHostFile"); }
