// SPDX-License-Identifier: Apache-2.0
// Initialisation after construction: learn the server, open a session and
// bring the repository to a clean state.
#include <cstdio>

#include "core/FailureReason.h"
#include "partitions/HostPaths.h"
#include "secureKaver.h"

namespace {
const uint32_t kLargeDropBoxLimit = 0x12400000;  // generation-two and -three controllers
const uint32_t kSmallDropBoxLimit = 0x01D00000;
}  // namespace

bool secureKaver::secureKaverInit() {
    InitOk = false;
    failure::clear();
    getLinuxOSVer();
    if (LinuxOSVer == -1) {
        KAVER_LOG("Unsupported OS");
        failure::record("the host's operating system is not one the library supports");
        // Every failure of the initialisation leaves a code behind: callers
        // (the update wrapper above all) report it.
        errorInfo.lastErr = ZEMT_UNSUPPORTEDOS;
        return false;
    }
    GenerationType = static_cast<systemGeneration_t>(GetSystemGeneration());

    bool result = false;
    KAVERType = GetKaverType();
    if (KAVERType == noKaverPresent) {
        // A repository kind the library does not know reads as none, but
        // without an error code of its own.
        errorInfo.lastErr = ZEMT_NOKAVERPRESENT;
        failure::prefix("the controller reports no repository");
    } else if (!IsKaverEnabled()) {
        KAVER_LOG("Kaver is disabled.");
        errorInfo.lastErr = ZEMT_KAVER_DISABLED;
        failure::prefix("the repository is not enabled");
    } else {
        bool session = BeginKaverSessionExtended(KAVER_SESSION_TIMEOUT);
        if (!session) {
            KAVER_LOG("BeginKAVERSessionExt Session failed trying with BeginKaverSession");
            session = BeginKaverSession(KAVER_SESSION_TIMEOUT);
            if (!session) {
                KAVER_LOG("Begin Kaver Session Failed.");
                failure::prefix("opening a session");
            }
        }
        if (session) {
            char handle[32];
            std::snprintf(handle, sizeof handle, "(%x, %x)", thisSession.KAVER_Handle & 0xFF,
                          (thisSession.KAVER_Handle >> 8) & 0xFF);
            KAVER_LOG(std::string("Kaver Session Handle") + handle);

            getPartInfo(getPartIndexInfo());
            // Holding the one session the controller grants, this run is the
            // only one using the mount directories: a mount on them now was
            // left by a run that died or failed to unmount, and would make
            // every mount of that partition fail until it is gone.
            hostpaths::unmountLeftOvers(*this);
            DetachAll();
            const uint16_t dynBitmap = getDynPartIndexInfo();
            if (dynBitmap != 0) {
                KAVER_LOG("secureKaverInit some dynamic paritions exists.");
                deleteDynPartWithName(dynBitmap, dynDriveName ? dynDriveName : "");
            } else {
                KAVER_LOG("secureKaverInit dynamic parition doesn't exists.");
            }
            InitOk = true;
            result = true;
        }
    }
    MAX_DYN_PART_SIZE = GenerationType > 0 ? kLargeDropBoxLimit : kSmallDropBoxLimit;
    return result;
}
