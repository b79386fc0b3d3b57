/* SPDX-License-Identifier: Apache-2.0 */
// The drop-box cycle every inventory-log exchange runs: create a drop box,
// attach it, write the request, detach it, have the controller process it
// (secure copy), and, where an answer is awaited, attach again, read
// output.xml, detach and delete.  The operations differ in some texts and
// in which failures detach or delete; those stay with each operation.
// Library-internal.
#ifndef ZEMT_INVENTORY_RQL_EXCHANGE_H
#define ZEMT_INVENTORY_RQL_EXCHANGE_H

#include <stdint.h>

#include <string>
#include <vector>

#include "cfgEntry.h"

class md5wrapper;
class secureKaver;

// The copy list the request document is written from; cleared by every
// exchange before it adds its one entry.
extern std::vector<cfgEntry> RqlRequest;

namespace rql {

// Ends an exchange with a reason code (caught by the operation).
[[noreturn]] void fail(uint8_t code);

// Empties RqlRequest and adds the exchange's entry (order 1, MD5).
void request(xmlMode_t mode, const std::string& srcName, const std::string& dstName, const std::string& hash);

class Exchange {
public:
    // Each exchange is one public operation: it starts with no failure
    // reason, and each step below puts its own in front of what failed.
    explicit Exchange(secureKaver& kaver);

    // A drop box of at least `size` bytes.  False, after "CreateDropBox
    // failed" and `failedText`, when the controller made none; a smaller
    // grant logs `smallText` and fails with ZEMT_PARTSIZESMALL.
    bool create(uint32_t size, const char* failedText, const char* smallText);
    // Attaches the drop box; ZEMT_NODYNPRESENT after "AttachPartition failed.".
    void attach(const char* succeededText);
    // Where the attached drop box is mounted ("/tmp/SECUPD/").
    std::string mountPoint();
    // The catalogue knows the drop box's volume label.
    bool labelKnown() const;
    // The start of the exchanges that await an answer: a 1 MiB drop box
    // (false as create() when none is made), attached, and the request
    // `document` written into it.  `documentName` begins the lines that log
    // its hash and content ("Update.xml" or "update.xml").  `mount` receives
    // the mount point, `hash` the document's MD5.
    bool placeRequest(const std::string& document, md5wrapper& md5, const char* failedText,
                      const char* documentName, std::string& mount, std::string& hash);
    // Writes a file into the drop box; ZEMT_FINDMOUNTERR when it cannot be
    // written whole (the controller would only refuse a cut document).
    void write(const std::string& path, const std::string& text);
    // ZEMT_DETACHFAILED after "DetachPartition failed".
    void detach();
    // Detaches and has the controller process the document with `hash`;
    // ZEMT_SMCFAILED after "SecureKaverCopy failed".
    void handOver(const std::string& hash);
    // Attaches again and reads output.xml, logging `missingText` when it is
    // not there and `contentsText` before its text; ZEMT_NOFILEFOUND when it
    // is missing, cannot be opened, read, or is larger than the library
    // takes in.
    std::string fetchAnswer(const char* missingText, const char* contentsText);
    // Deletes the drop box; ZEMT_DELETEDROPBOXERR after `failedText`.
    void remove(const char* failedText, const char* succeededText);

    // After a failure with `code`: detaches the drop box when asked, then
    // deletes it if this exchange made it and has not deleted it, unless
    // its deletion is what failed and `retryFailedDelete` is false.  The
    // reason code and the failure reason are kept whatever the clean-up
    // itself reports.
    void cleanUp(uint8_t code, bool detachFirst, bool retryFailedDelete, const char* deleteFailedText);

private:
    secureKaver& kaver_;
    uint16_t bit_ = 0;
    bool exists_ = false;  // made by this exchange and not yet deleted
};

}  // namespace rql

#endif
