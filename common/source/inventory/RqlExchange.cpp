// SPDX-License-Identifier: Apache-2.0
#include "inventory/RqlExchange.h"

#include <cstring>

#include "staging/DocumentFile.h"
#include "PlatformLayer.h"
#include "core/FailureReason.h"
#include "inventory/AnswerFile.h"
#include "md5wrapper.h"
#include "secureKaver.h"

std::vector<cfgEntry> RqlRequest;

namespace rql {

void fail(uint8_t code) { throw static_cast<unsigned char>(code); }

void request(xmlMode_t mode, const std::string& srcName, const std::string& dstName, const std::string& hash) {
    cfgEntry entry;
    entry.order = 1;
    entry.mode = mode;
    entry.algorithm = 1;
    entry.processed = 0;
    entry.srcName = srcName;
    entry.dstName = dstName;
    entry.hash = hash;
    RqlRequest.clear();
    RqlRequest.push_back(entry);
}

Exchange::Exchange(secureKaver& kaver) : kaver_(kaver) { failure::clear(); }

bool Exchange::create(uint32_t size, const char* failedText, const char* smallText) {
    uint32_t granted = 0;
    if (!kaver_.CreateDropBox(dynDriveName, size, &granted)) {
        KAVER_LOG("CreateDropBox failed");
        KAVER_LOG(failedText);
        failure::prefix("creating the drop box");
        return false;
    }
    exists_ = true;
    bit_ = kaverPartInfo[dynPartSlot].i_bitmap;
    if (granted < size) {
        KAVER_LOG(smallText);
        failure::record("the controller granted a drop box of " + std::to_string(granted) + " bytes, " +
                        std::to_string(size) + " needed");
        fail(ZEMT_PARTSIZESMALL);
    }
    return true;
}

void Exchange::attach(const char* succeededText) {
    if (!kaver_.AttachPartition(0, bit_, 0)) {
        KAVER_LOG("AttachPartition failed.");
        failure::prefix("attaching the drop box");
        fail(ZEMT_NODYNPRESENT);
    }
    KAVER_LOG(succeededText);
}

std::string Exchange::mountPoint() {
    char mount[1024] = {0};
    kaver_.getDynPartDrive(dynDriveName, mount);
    return std::string(mount, strnlen(mount, sizeof mount));
}

bool Exchange::labelKnown() const { return !kaverPartInfo[dynPartSlot].i_volumeLabel.empty(); }

bool Exchange::placeRequest(const std::string& document, md5wrapper& md5, const char* failedText,
                            const char* documentName, std::string& mount, std::string& hash) {
    if (!create(ONE_MEG, failedText, "PartitionSize obtained is < ONE MEG")) return false;
    hash = md5.getHashFromString(document);
    KAVER_LOG(hash);
    KAVER_LOG("Initiating the update.");
    attach("AttachPartition succeeded");
    KAVER_LOG("Finding where the dynamic partition was attached.");
    mount = mountPoint();
    KAVER_LOG("Dynamic Partition Mount Point: " + mount);
    if (!labelKnown()) {
        KAVER_LOG("Dynamic Partition volumeLabel is empty");
        KAVER_LOG("update.xml path could not be constructed");
        failure::record("the drop box has no volume label");
        fail(ZEMT_FINDMOUNTERR);
    }
    const std::string path = mount + updFileName;
    KAVER_LOG("update.xml path: " + path);
    KAVER_LOG(std::string(documentName) + " Hash: ");
    KAVER_LOG(hash);
    KAVER_LOG(std::string(documentName) + " Content: ");
    KAVER_LOG(document);
    write(path, document);
    return true;
}

void Exchange::write(const std::string& path, const std::string& text) {
    if (!documentfile::write(path, text)) {
        KAVER_LOG("Could not write " + path);
        fail(ZEMT_FINDMOUNTERR);
    }
}

void Exchange::detach() {
    if (!kaver_.DetachPartition(0, bit_, 0, false)) {
        KAVER_LOG("DetachPartition failed");
        failure::prefix("detaching the drop box");
        fail(ZEMT_DETACHFAILED);
    }
    KAVER_LOG("DetachPartition succeeded");
}

void Exchange::handOver(const std::string& hash) {
    detach();
    if (!kaver_.SecureKaverCopy(kaver_.thisSession, hash, 0)) {
        KAVER_LOG("SecureKaverCopy failed");
        failure::prefix("handing the request to the controller");
        fail(ZEMT_SMCFAILED);
    }
    KAVER_LOG("SecureKaverCopy succeeded");
}

std::string Exchange::fetchAnswer(const char* missingText, const char* contentsText) {
    attach("AttachPartition succeeded.");
    const std::string mount = mountPoint();
    KAVER_LOG("Dynamic Partition mount point: " + mount);
    if (!labelKnown()) {
        KAVER_LOG("DynamicPartition volumeLabel empty");
        failure::record("the drop box has no volume label");
        fail(ZEMT_FINDMOUNTERR);
    }
    const std::string path = mount + curInvFileName;
    KAVER_LOG("output.xml path: " + path);
    if (!CPlatformLayer::IsFileExistsAbs(path)) {
        KAVER_LOG(missingText);
        failure::record("the controller left no answer " + path);
        fail(ZEMT_NOFILEFOUND);
    }
    std::string text;
    switch (answerfile::read(path, text)) {
        case answerfile::Read:
            break;
        case answerfile::NotOpened:
            KAVER_LOG("Open of output.xml failed.");
            failure::record("cannot open " + path);
            fail(ZEMT_NOFILEFOUND);
        case answerfile::TooLarge:
            KAVER_LOG("output.xml is larger than " + std::to_string(answerfile::kMaxBytes) + " bytes");
            failure::record(path + " is larger than " + std::to_string(answerfile::kMaxBytes) + " bytes");
            fail(ZEMT_NOFILEFOUND);
        case answerfile::Unreadable:
            KAVER_LOG("Reading output.xml failed.");
            failure::record("cannot read " + path);
            fail(ZEMT_NOFILEFOUND);
    }
    KAVER_LOG(contentsText);
    KAVER_LOG(text);
    return text;
}

void Exchange::remove(const char* failedText, const char* succeededText) {
    if (!kaver_.DeleteDropBox(0)) {
        KAVER_LOG(failedText);
        failure::prefix("deleting the drop box");
        fail(ZEMT_DELETEDROPBOXERR);
    }
    exists_ = false;
    KAVER_LOG(succeededText);
}

void Exchange::cleanUp(uint8_t code, bool detachFirst, bool retryFailedDelete, const char* deleteFailedText) {
    kaver_.storeErrorInfo(code);
    failure::Keep reason;
    // The log macro skips its argument when the log is off: the clean-up
    // calls stay outside it.
    if (detachFirst) {
        const bool detached = kaver_.DetachPartition(0, bit_, 0, false);
        if (!detached) KAVER_LOG("DetachPartition Failed.");
    }
    // A drop box this exchange never made is not its to delete: the
    // catalogue row may still name one that belongs to someone else.
    if (exists_ && (retryFailedDelete || code != ZEMT_DELETEDROPBOXERR)) {
        const bool deleted = kaver_.DeleteDropBox(0);
        if (!deleted) KAVER_LOG(deleteFailedText);
    }
    kaver_.storeErrorInfo(code);
}

}  // namespace rql
