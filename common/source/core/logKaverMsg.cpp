// SPDX-License-Identifier: Apache-2.0
#include <ctime>
#include <sstream>

#include "zemt.h"

void logKaverMsg(const char* sourceFile, unsigned int line, const std::string& message) {
    if (!DebugLog) return;
    char stamp[80] = {0};
    std::time_t now = std::time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "[%Y-%m-%dT%H:%M:%S] ", &local);
    LogFile << stamp << ": " << getFileName(sourceFile ? sourceFile : "") << ":" << line << ": "
            << message << std::endl;
}

std::string getFileName(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int Ascii2Hex(const std::string& text) {
    std::istringstream in(text);
    unsigned int value = 0;
    if (!(in >> std::hex >> value)) return 0;
    return static_cast<int>(value);
}
