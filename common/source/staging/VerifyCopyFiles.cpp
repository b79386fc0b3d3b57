// SPDX-License-Identifier: Apache-2.0
// Verification: the copies are read back from their final partition and
// compared by MD5 with the sources as they were when they were added.
#include "internal/ShellText.h"
#include "PlatformLayer.h"
#include "core/FailureReason.h"
#include "md5wrapper.h"
#include "secureKaver.h"

namespace {

[[noreturn]] void fail(uint8_t code) { throw static_cast<unsigned char>(code); }

std::string afterFirstSlash(const std::string& s) {
    std::string::size_type pos = s.find('/');
    return pos == std::string::npos ? s : s.substr(pos + 1);
}

}  // namespace

bool secureKaver::VerifyCopyFiles() {
    static md5wrapper md5;
    // Nothing to compare and no partition to pick: nothing to ask the
    // controller either.
    if (FileList.empty()) return true;
    const uint16_t part = FileList.front().partNum;
    const std::string label = part < MaxPartInfoEntry ? kaverPartInfo[part].i_volumeLabel : std::string();
    try {
        if (!AttachKaverPartition(label)) {
            KAVER_LOG("Attach partition failed");
            failure::prefix("attaching " + label);
            fail(ZEMT_ATTACHPARTFAIL);
        }
        KAVER_LOG("AttachPartition succeeded");
        std::string mountedAs;
        if (!getPartDrive(label, mountedAs)) {
            KAVER_LOG("Dynamic Partition Mount Point NOT found");
            fail(ZEMT_FINDMOUNTERR);
        }
        KAVER_LOG("Dynamic Partition Mount Point found" + mountedAs);
        for (const cfgEntry& entry : FileList) {
            if (entry.mode != filecopy && entry.mode != fileappend) continue;
            KAVER_LOG("Constructing the target file name");
            const std::string inside = afterFirstSlash(entry.dstName);
            // A name reaching out of the partition was never copied there;
            // it cannot match.
            const std::string target = mountedAs + inside;
            const std::string hash = shelltext::staysInside(inside) ? md5.getHashFromOpenFile(CPlatformLayer::OpenHostFile(target, "rb")) : "-1";
            KAVER_LOG("Verifying: " + target);
            if (hash != entry.hash) {
                KAVER_LOG("File: " + target + "Target File Hash: " + hash + ", Payload File Hash: " + entry.hash);
                KAVER_LOG("The file copied to the kaver did not match the original file.");
                failure::record(entry.dstName + " does not match its source " + entry.srcName);
                fail(ZEMT_COPYVERIFYFAIL);
            }
            KAVER_LOG("Verify Successful");
        }
        UpdateCompletionStatus = true;
        if (!DetachKaverPartition(label)) {
            KAVER_LOG("DetachPartition failed");
            failure::prefix("detaching " + label);
            fail(ZEMT_DETACHFAILED);
        }
        KAVER_LOG("DetachPartition succeeded");
        KAVER_LOG("VerifyCopyFiles Succeeded");
        return true;
    } catch (unsigned char code) {
        storeErrorInfo(code);
        KAVER_LOG("Verification failed.");
        failure::Keep reason;
        if (code == ZEMT_COPYVERIFYFAIL || code == ZEMT_FINDMOUNTERR) DetachKaverPartition(label);
        return false;
    } catch (...) {
        KAVER_LOG("Verification failed.");
        KAVER_LOG("ZEMT internal error");
        storeErrorInfo(ZEMT_INTERROR);
        return false;
    }
}
