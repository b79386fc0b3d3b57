/* SPDX-License-Identifier: Apache-2.0 */
#ifndef ZEMT_LOGGER_H
#define ZEMT_LOGGER_H

#include <fstream>
#include <string>

#include "zemt_export.h"

// Debug log of the base utilities; separate from the library's own log.
class ZEMT_API CLogger {
public:
    static CLogger* GetInstance();

    int Initialize(const std::string& path);
    void log(const char* sourceFile, unsigned int line, const std::string& message);
    static std::string getFileName(const std::string& path);

    ~CLogger();

private:
    CLogger();

    std::string m_strLogFilePath;
    std::ofstream m_ofstreamLogFile;
    bool m_bDebugLogEnabled;

    static CLogger* m_ptrInstance;
};

#define BASEUTILS_LOG(msg) CLogger::GetInstance()->log(__FILE__, __LINE__, (msg))

#endif
