// SPDX-License-Identifier: Apache-2.0
#include "staging/DocumentFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "PlatformLayer.h"
#include "UpdateDocument.h"
#include "core/FailureReason.h"
#include "md5wrapper.h"
#include "secureKaver.h"

namespace documentfile {

namespace {

std::string recordPath(const std::string& mountPoint) {
    std::string path = mountPoint + (updFileName ? updFileName : "");
    if (path.size() > sizeof targetFilePath - 1) path.resize(sizeof targetFilePath - 1);
    std::memcpy(targetFilePath, path.c_str(), path.size() + 1);
    return path;
}

}  // namespace

bool write(const std::string& path, const std::string& text) {
    FILE* out = CPlatformLayer::OpenHostFile(path, "wb");
    bool ok = out != nullptr;
    if (out != nullptr) {
        ok = std::fwrite(text.data(), 1, text.size(), out) == text.size();
        if (std::fflush(out) != 0) ok = false;
        if (std::fclose(out) != 0) ok = false;
    }
    if (!ok) failure::record("cannot write " + path + ": " + std::strerror(errno));
    return ok;
}

bool place(secureKaver& kaver, md5wrapper& md5, std::ostringstream& stream, const std::string& mountPoint,
           std::string& hash) {
    AddCfgFtr(&stream);
    const std::string text = stream.str();
    KAVER_LOG("update.xml Contents: " + text);
    hash = md5.getHashFromString(text);
    KAVER_LOG("update.xml Hash: " + hash);
    const std::string path = recordPath(mountPoint);
    KAVER_LOG("Dynamic Partition volumeLabel: " + path);
    if (!write(path, text)) {
        KAVER_LOG("Could not write " + path);
        return false;
    }
    CPlatformLayer::Run("sync");
    kaver.syncAll(mountPoint);
    return true;
}

}  // namespace documentfile
