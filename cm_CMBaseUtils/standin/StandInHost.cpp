// SPDX-License-Identifier: Apache-2.0
// Every slot of the stand-in base: name itself and stop the program.
#include "StandInHost.h"

#include <cstdio>
#include <cstdlib>

void CStandInHost::unexpected(const char* slot) {
    std::fprintf(stderr, "unexpected host call: %s\n", slot);
    std::fflush(stderr);
    std::abort();
}

bool CStandInHost::isTRENInstalled() { unexpected("isTRENInstalled"); }
int CStandInHost::InstallTren() { unexpected("InstallTren"); }
int CStandInHost::UninstallTren() { unexpected("UninstallTren"); }
void* CStandInHost::LoadLibrary(const std::string&) { unexpected("LoadLibrary"); }
void CStandInHost::FreeLibrary(void*) { unexpected("FreeLibrary"); }
void* CStandInHost::GetProcAddress(void*, const std::string&) { unexpected("GetProcAddress"); }
int CStandInHost::ExecuteCmd(const std::string&, bool, long&) { unexpected("ExecuteCmd"); }
int CStandInHost::ExecuteCmdNoWait(const std::string&, bool, long&) { unexpected("ExecuteCmdNoWait"); }
void CStandInHost::Sleep(unsigned int) { unexpected("Sleep"); }
std::string CStandInHost::getCurrentDirectory() { unexpected("getCurrentDirectory"); }
std::string CStandInHost::getCurrentProcessDirectory() { unexpected("getCurrentProcessDirectory"); }
bool CStandInHost::setCurrentDirectory(const std::string&) { unexpected("setCurrentDirectory"); }
std::vector<std::string> CStandInHost::GetFileList(const std::string&) { unexpected("GetFileList"); }
bool CStandInHost::IsFileExits(const std::string&) { unexpected("IsFileExits"); }
bool CStandInHost::IsFileExistsAbs(const std::string&) { unexpected("IsFileExistsAbs"); }
void* CStandInHost::LoadTrenLibrary(const std::string&) { unexpected("LoadTrenLibrary"); }
int CStandInHost::SetUserId(unsigned int) { unexpected("SetUserId"); }
bool CStandInHost::ReadCommandOutput(const std::string&, std::string&, unsigned int) {
    unexpected("ReadCommandOutput");
}
bool CStandInHost::PathExists(const std::string&) { unexpected("PathExists"); }
bool CStandInHost::IsExecutable(const std::string&) { unexpected("IsExecutable"); }
bool CStandInHost::ReadFileText(const std::string&, std::string&, unsigned int) { unexpected("ReadFileText"); }
int CStandInHost::RemoveFile(const std::string&) { unexpected("RemoveFile"); }
void CStandInHost::SyncFileSystems() { unexpected("SyncFileSystems"); }
bool CStandInHost::IsDirectory(const std::string&) { unexpected("IsDirectory"); }
int CStandInHost::OpenDevice(const std::string&, int) { unexpected("OpenDevice"); }
long CStandInHost::ReadDevice(int, void*, unsigned int, unsigned long long) { unexpected("ReadDevice"); }
int CStandInHost::IoctlDevice(int, unsigned long, void*) { unexpected("IoctlDevice"); }
int CStandInHost::CloseDevice(int) { unexpected("CloseDevice"); }
PathKind CStandInHost::GetPathKind(const std::string&) { unexpected("GetPathKind"); }
FILE* CStandInHost::OpenHostFile(const std::string&, const char*) { unexpected("OpenHostFile"); }
