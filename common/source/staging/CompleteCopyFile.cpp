// SPDX-License-Identifier: Apache-2.0
// Completing a copy list: a drop box is created, filled pass by pass,
// handed to the controller after each pass, and (general path) the result
// verified in its final partition.
#include <cstring>
#include <memory>

#include "staging/DocumentFile.h"
#include "internal/ShellText.h"
#include "PlatformLayer.h"
#include "UpdateDocument.h"
#include "core/FailureReason.h"
#include "core/Protocol.h"
#include "md5wrapper.h"
#include "secureKaver.h"

namespace {

const std::size_t kHashPartLength = 10;

[[noreturn]] void fail(uint8_t code) { throw static_cast<unsigned char>(code); }

uint8_t* requestBytes() { return IPMIReqBuf.Parameters.IRREx.ReqRspBuffer; }

void putHandle(uint16_t handle) {
    requestBytes()[3] = static_cast<uint8_t>(handle & 0xFF);
    requestBytes()[4] = static_cast<uint8_t>(handle >> 8);
}

std::string afterFirstSlash(const std::string& s) {
    std::string::size_type pos = s.find('/');
    return pos == std::string::npos ? s : s.substr(pos + 1);
}

uint16_t dropBoxBit() { return kaverPartInfo[dynPartSlot].i_bitmap; }

copyProgressHandler progressHandler = nullptr;
void* progressContext = nullptr;

bool carriesPayload(const cfgEntry& entry) {
    return (entry.mode == filecopy || entry.mode == signedunzip) && entry.fileSize > 0;
}

// Tells the handler how far the copy list got once pass `pass` was accepted
// and entries before `start` are wholly handed over.
void reportPass(const std::vector<cfgEntry>& list, uint32_t pass, uint32_t start) {
    if (progressHandler == nullptr) return;
    copyProgress p = {pass, start, static_cast<uint32_t>(list.size()), 0, 0};
    for (uint32_t i = 0; i < list.size(); ++i) {
        if (!carriesPayload(list[i])) continue;
        const uint64_t size = static_cast<uint64_t>(list[i].fileSize);
        p.bytes += size;
        if (i < start) p.bytesDone += size;
        else if (i == start && list[i].loc > 0) p.bytesDone += static_cast<uint64_t>(list[i].loc);
    }
    progressHandler(&p, progressContext);
}

}  // namespace

bool secureKaver::SecureKaverCopy(sessionHandle myHdl, std::string cfgHash, uint16_t reserveByte) {
    std::memset(&IPMIReqBuf, 0, sizeof IPMIReqBuf);
    uint8_t* b = requestBytes();
    b[2] = protocol::kSecureKaverUpdateHeader.number;
    putHandle(myHdl.KAVER_Handle);
    b[5] = 0;  // header
    const uint16_t bit = dropBoxBit();
    // Partition bitmaps travel most significant byte first.
    b[6] = static_cast<uint8_t>(bit >> 8);
    b[7] = static_cast<uint8_t>(bit & 0xFF);
    b[11] = static_cast<uint8_t>(reserveByte & 0xFF);
    b[12] = static_cast<uint8_t>(reserveByte >> 8);
    // The controller acts on the drop box only once the header and all four
    // parts have arrived; after a refusal the rest would only hand it a
    // partial hash, so nothing more is sent and the copy has failed.
    if (protocol::request(*this, protocol::kSecureKaverUpdateHeader) != KAVER_SUCCESS) {
        KAVER_LOG("Secure Kaver Copy hash header refused");
        return false;
    }

    for (std::size_t part = 0; part < 4; ++part) {
        std::memset(&IPMIReqBuf, 0, sizeof IPMIReqBuf);
        b[2] = protocol::kSecureKaverUpdateHashPart.number;
        putHandle(myHdl.KAVER_Handle);
        b[5] = 1;  // data
        std::string carried;
        for (std::size_t k = 0; k < kHashPartLength; ++k) {
            const std::size_t pos = part * kHashPartLength + k;
            if (pos >= 32 || pos >= cfgHash.size()) break;
            b[6 + k] = static_cast<uint8_t>(cfgHash[pos]);
            carried += cfgHash[pos];
            carried += ' ';
        }
        KAVER_LOG("Secure Kaver CopyPart " + std::to_string(part + 1) + " Hash: " + carried);
        if (protocol::request(*this, protocol::kSecureKaverUpdateHashPart) != KAVER_SUCCESS) {
            KAVER_LOG("Secure Kaver Copy hash part " + std::to_string(part + 1) + " refused");
            return false;
        }
    }
    return true;
}

namespace {

// The general and the generation-three completers differ in a few texts,
// the filler, and what follows the last pass.
bool completeCopy(secureKaver& kaver, bool sarn) {
    static md5wrapper md5;
    std::unique_ptr<std::ostringstream> stream;
    failure::clear();
    std::string step = "creating the drop box";  // what the reason of a failure is put behind
    try {
        uint32_t wanted = 0;
        kaver.CalculateAndAdjustPayloadSize(wanted);
        if (wanted > kaver.MAX_DYN_PART_SIZE) wanted = kaver.MAX_DYN_PART_SIZE;

        uint32_t granted = 0;
        while (granted < wanted) {
            if (!kaver.CreateDropBox(dynDriveName, wanted, &granted)) {
                if (granted == 0) fail(ZEMT_CREATE_DYN_PART_FAILED);
                granted -= ONE_MEG;
                if (granted <= ONE_MEG) {
                    KAVER_LOG("CreateDrobBox failed");
                    fail(ZEMT_CREATE_DYN_PART_FAILED);
                }
            } else if (granted < wanted) {
                // A smaller grant than asked is used as it is: asking again
                // would only meet the drop box that now exists.
                break;
            }
        }
        KAVER_LOG("CreateDropBox succeeded");

        uint32_t start = 0;
        uint32_t pass = 0;
        while (start < kaver.FileList.size()) {
            // "pass #N": the tool's progress lines begin "pass N: ".
            const std::string thisPass = "pass #" + std::to_string(pass + 1);
            stream.reset(new std::ostringstream());
            AddCfgHdr(stream.get());
            step = thisPass + ": attaching the drop box";
            if (!kaver.AttachPartition(0, dropBoxBit(), 0)) {
                KAVER_LOG("AttachPartition failed");
                fail(ZEMT_FINDMOUNTERR);
            }
            KAVER_LOG("AttachPartition succeeded");
            char mount[1024] = {0};
            if (!kaver.getDynPartDrive(dynDriveName, mount)) {
                KAVER_LOG("Dynamic Partition Mount Point NOT found");
                fail(ZEMT_FINDMOUNTERR);
            }
            step = thisPass;  // the fill names the file it failed on
            const std::string mountPoint(mount, strnlen(mount, sizeof mount));
            KAVER_LOG("Dynamic Partition Mount Point: " + mountPoint);

            for (uint32_t i = 0; i < start; ++i) {
                const cfgEntry& done = kaver.FileList[i];
                const std::string inside = afterFirstSlash(done.dstName);
                if ((done.mode == filecopy || done.mode == fileappend) && shelltext::staysInside(inside))
                    CPlatformLayer::RemoveFile(mountPoint + inside);
            }
            CPlatformLayer::Run("rm -f " + mountPoint + "FileChunk*" +
                                (sarn ? " &> /dev/null" : " > /dev/null 2>&1"));

            const bool filled = sarn ? kaver.populateDynPartSarn(mountPoint, stream.get(), start, granted)
                                     : kaver.populateDynPart(mountPoint, stream.get(), start, granted);
            if (!filled) {
                KAVER_LOG("populateDynPart failed");
                fail(ZEMT_FINDMOUNTERR);
            }

            std::string hash;
            step = thisPass + ": writing the update document";
            if (!documentfile::place(kaver, md5, *stream, mountPoint, hash)) fail(ZEMT_FINDMOUNTERR);
            stream.reset();

            step = thisPass + ": detaching the drop box";
            if (!kaver.DetachPartition(0, dropBoxBit(), 0, false)) {
                KAVER_LOG("DetachPartition failed");
                fail(ZEMT_DETACHFAILED);
            }
            KAVER_LOG("DetachPartition succeeded");
            step = thisPass + ": handing the update document to the controller";
            if (!kaver.SecureKaverCopy(kaver.thisSession, hash, 0)) {
                KAVER_LOG("SecureKaverCopy failed");
                fail(ZEMT_SMCFAILED);
            }
            KAVER_LOG("SecureKaverCopy succeeded");
            reportPass(kaver.FileList, ++pass, start);
        }

        if (!sarn) {
            step = "deleting the drop box";
            if (!kaver.DeleteDropBox(0)) {
                KAVER_LOG("DeleteDropBox Failed");
                fail(ZEMT_DELETEDROPBOXERR);
            }
            KAVER_LOG("DeleteDropBox succeeded");
            step = "verifying the copies";
            if (!kaver.VerifyCopyFiles()) {
                KAVER_LOG("Copy verification Failed");
                fail(ZEMT_COPYVERIFYFAIL);
            }
            KAVER_LOG("Copy verification Succeeded");
        }
        kaver.l_state = 0;
        return true;
    } catch (unsigned char code) {
        stream.reset();
        kaver.storeErrorInfo(code);
        KAVER_LOG("copyPayload failed");
        failure::prefix(step);
        failure::Keep reason;  // through the clean-up below
        if (code == ZEMT_CREATE_DYN_PART_FAILED) {
            KAVER_LOG(sarn ? "create drop box failed" : "Creat Drop Box Failed");
        } else if (code == ZEMT_FINDMOUNTERR || code == ZEMT_SMCFAILED) {
            // The log macro skips its argument when the log is off: the
            // clean-up calls stay outside it.
            if (code == ZEMT_FINDMOUNTERR) {
                const bool detached = kaver.DetachPartition(0, dropBoxBit(), 0, false);
                KAVER_LOG(detached ? "DetachPartition succeeded" : "DetachPartition Failed");
            }
            const bool deleted = kaver.DeleteDropBox(0);
            KAVER_LOG(deleted ? "DeleteDropBox succeeded" : "DeleteDropBox Failed");
        }
        kaver.l_state = 0;
        return false;
    } catch (...) {
        kaver.storeErrorInfo(ZEMT_INTERROR);
        KAVER_LOG("copyPayload failed");
        KAVER_LOG("ZEMT internal error");
        failure::record(step + ": internal error");
        kaver.l_state = 0;
        return false;
    }
}

}  // namespace

void setCopyProgressHandler(copyProgressHandler handler, void* context) {
    progressHandler = handler;
    progressContext = context;
}

bool secureKaver::CompleteCopyFile() { return completeCopy(*this, false); }

bool secureKaver::CompleteCopyFileSarn() {
    KAVER_LOG("Entering CompleteCopyFileSarn");
    return completeCopy(*this, true);
}
