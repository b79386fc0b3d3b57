// SPDX-License-Identifier: Apache-2.0
#include "TestEnv.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "Logger.h"
#include "PlatformLayer.h"
#include "secureKaver.h"

namespace {
bool g_baseLogInitialised = false;
}

void resetLibraryGlobals() {
    if (LogFile.is_open()) LogFile.close();
    LogFile.clear();
    DebugLog = false;
    BenchFlag = false;
    GenerationType = Failure;
    std::memset(&IPMIReqBuf, 0, sizeof IPMIReqBuf);
    std::memset(&PollReqBuf, 0, sizeof PollReqBuf);
    zolipmiLib = nullptr;
    pfnCommandWithoutRetry = nullptr;
    dynHandleIdx = 0;
    CLinuxImpl::nTRENInstallRefCount = 0;
    CLinuxImpl::bTRENAlreadyInstalled = false;
}

ScopedTempDir::ScopedTempDir(bool enter) {
    std::string pattern = (std::filesystem::temp_directory_path() / "zemt-test-XXXXXX").string();
    if (mkdtemp(&pattern[0]) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    if (enter) {
        previous_ = std::filesystem::current_path().string();
        std::filesystem::current_path(path_);
    }
}

ScopedTempDir::~ScopedTempDir() {
    std::error_code ignored;
    if (!previous_.empty()) std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
}

bool fileExists(const std::string& path) { return std::filesystem::exists(path); }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

BaseLogCapture::BaseLogCapture() : path_(dir_.file("base.log")) {
    g_baseLogInitialised = true;
    CLogger::GetInstance()->Initialize(path_);
}

BaseLogCapture::~BaseLogCapture() { CLogger::GetInstance()->Initialize("/dev/null"); }

bool BaseLogCapture::everInitialised() { return g_baseLogInitialised; }
