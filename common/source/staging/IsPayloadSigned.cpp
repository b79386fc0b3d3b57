// SPDX-License-Identifier: Apache-2.0
// Whether the package carries a signed payload: a ".zip" archive and a
// ".sig" signature in its payload folder.  The signature itself is checked
// by the controller.
#include "PlatformLayer.h"
#include "secureKaver.h"

namespace {
const std::string PAYLOAD_DIR = "payload";
}

bool secureKaver::IsPayloadSigned(std::string& m_strPayloadFileName) {
    KAVER_LOG("IsPayloadSigned :: Payload Signing Started\n");
    const std::vector<std::string> files = CPlatformLayer::GetFileList(PAYLOAD_DIR);
    if (files.size() < 2) {
        KAVER_LOG("Payload or Sign File not found \n");
        return false;
    }
    bool zip = false, sig = false;
    for (const std::string& file : files) {
        KAVER_LOG("FileName = " + file);
        std::string::size_type dot = file.rfind('.');
        const std::string extension = dot == std::string::npos ? std::string() : file.substr(dot);
        if (extension == ".zip") {
            KAVER_LOG("IsPayloadSigned :: strExtension(.zip) = " + extension);
            m_strPayloadFileName = file;
            KAVER_LOG("IsPayloadSigned :: m_strPayloadFileName = " + m_strPayloadFileName);
            zip = true;
        } else if (extension == ".sig") {
            KAVER_LOG("IsPayloadSigned :: strExtension(.sign) = " + extension);
            sig = true;
        }
    }
    if (zip && sig) {
        KAVER_LOG("IsPayloadSigned :: Zip and Sign file exists");
        return true;
    }
    KAVER_LOG("IsPayloadSigned :: Payload Signing failed. Zip or Sing file does not exist");
    return false;
}
