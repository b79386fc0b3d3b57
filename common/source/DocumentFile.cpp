#include "DocumentFile.h"

#include <cstdio>
#include <cstring>

#include "PlatformLayer.h"
#include "secureKaver.h"

namespace documentfile {

std::string recordPath(const std::string& mountPoint) {
    std::string path = mountPoint + (updFileName ? updFileName : "");
    if (path.size() > sizeof targetFilePath - 1) path.resize(sizeof targetFilePath - 1);
    std::memcpy(targetFilePath, path.c_str(), path.size() + 1);
    return path;
}

bool write(const std::string& path, const std::string& text) {
    FILE* out = CPlatformLayer::OpenHostFile(path, "wb");
    if (out == nullptr) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    if (std::fflush(out) != 0) ok = false;
    if (std::fclose(out) != 0) ok = false;
    return ok;
}

}  // namespace documentfile
