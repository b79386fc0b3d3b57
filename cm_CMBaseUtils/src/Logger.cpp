// SPDX-License-Identifier: Apache-2.0
#include "Logger.h"

#include <ctime>
#include <iomanip>

CLogger* CLogger::m_ptrInstance = nullptr;

CLogger::CLogger() : m_strLogFilePath("debug.log"), m_bDebugLogEnabled(false) {}

CLogger::~CLogger() {
    if (m_ofstreamLogFile.is_open()) m_ofstreamLogFile.close();
}

CLogger* CLogger::GetInstance() {
    if (m_ptrInstance == nullptr) m_ptrInstance = new CLogger();
    return m_ptrInstance;
}

int CLogger::Initialize(const std::string& path) {
    m_strLogFilePath = path;
    if (m_ofstreamLogFile.is_open()) m_ofstreamLogFile.close();
    m_ofstreamLogFile.clear();
    m_ofstreamLogFile.open(m_strLogFilePath.c_str(), std::ios::out | std::ios::trunc);
    // A path that cannot be opened leaves the log off, even after an
    // earlier successful start.
    m_bDebugLogEnabled = m_ofstreamLogFile.is_open();
    return 0;
}

std::string CLogger::getFileName(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void CLogger::log(const char* sourceFile, unsigned int line, const std::string& message) {
    if (!m_bDebugLogEnabled) return;
    char stamp[80] = {0};
    std::time_t now = std::time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "[%Y-%m-%dT%H:%M:%S] ", &local);
    m_ofstreamLogFile.seekp(0, std::ios::end);
    m_ofstreamLogFile << stamp << ": " << std::setw(25) << getFileName(sourceFile ? sourceFile : "")
                      << ":" << std::setw(5) << line << ": " << message << std::endl;
}
