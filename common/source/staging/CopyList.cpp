// SPDX-License-Identifier: Apache-2.0
// The copy list: one staging run's actions, checked and hashed when they
// are added so that the later copy only moves bytes.
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "core/FailureReason.h"
#include "md5wrapper.h"
#include "secureKaver.h"

namespace {

// Failures inside the copy-list operations travel as a one-byte library
// code to the operation's own handler.
[[noreturn]] void fail(uint8_t code) { throw static_cast<unsigned char>(code); }

bool twoNameAction(xmlMode_t action) {
    return action == filecopy || action == dircopy || action == filemove || action == dirmove ||
           action == fileappend || action == signedunzip;
}

std::string firstComponent(const std::string& name) {
    std::string::size_type pos = name.find('/');
    return pos == std::string::npos ? name : name.substr(0, pos);
}

partId_t partitionOf(const std::string& name) { return secureKaver::getPartIndex(firstComponent(name)); }

// The caller's source files are the caller's data, not fixed host paths:
// they are examined with stat directly, the same file whose bytes the hash
// then reads.  A name with an embedded NUL would name another file and is
// refused as invalid.
bool statSource(const std::string& path, struct stat& st) {
    if (path.find('\0') != std::string::npos) {
        errno = EINVAL;
        return false;
    }
    return ::stat(path.c_str(), &st) == 0;
}

// The size field of an entry is 32 bits wide, so a larger source could
// not be described (nor split correctly): refuse it with the size code.
int32_t entrySize(const std::string& src, long long size) {
    if (size < 0 || size > INT32_MAX) {
        failure::record(src + " is larger than a copy-list entry can describe");
        fail(ZEMT_SIZEGT2GB);
    }
    return static_cast<int32_t>(size);
}

// Records why `src` cannot be used and ends the operation with `code`.
[[noreturn]] void refuseSource(secureKaver& kaver, const std::string& src, int why, uint8_t code) {
    kaver.errorInfo.errSubcode = static_cast<uint8_t>(why & 0xFF);
    failure::record("cannot read " + src + ": " + std::strerror(why));
    fail(code);
}

void checkSource(secureKaver& kaver, const std::string& src, uint8_t code, struct stat& st) {
    if (!statSource(src, st)) refuseSource(kaver, src, errno, code);
}

// A source that exists but cannot be read (a directory, no permission)
// would be recorded with the hash "-1", the same text an unreadable copy
// gives later, and so could pass verification without a byte copied.
// Refuse it now, as a missing source.
std::string hashSource(secureKaver& kaver, md5wrapper& md5, const std::string& src, const struct stat& st) {
    errno = 0;
    std::string hash = md5.getHashFromFile(src);
    if (hash == "-1")
        refuseSource(kaver, src, S_ISDIR(st.st_mode) ? EISDIR : (errno != 0 ? errno : EIO), ZEMT_SRCFILEMISSING);
    return hash;
}

bool isDuplicate(const std::vector<cfgEntry>& list, const std::string& src, const std::string& dest) {
    for (const cfgEntry& entry : list)
        if (entry.srcName == src && entry.dstName == dest) return true;
    return false;
}

}  // namespace

uint16_t GetPartNum(std::string fileName) {
    if (fileName.empty()) return 0;
    const char* sep = (RecordSep != nullptr && *RecordSep != '\0') ? RecordSep : "/";
    std::string::size_type pos = fileName.find(sep);
    const std::string first = pos == std::string::npos ? fileName : fileName.substr(0, pos);

    // atoi's reading (blanks, a sign, leading digits), kept modulo 2^16 so
    // that an absurdly long number cannot overflow.
    std::string::size_type i = 0;
    while (i < first.size() && (first[i] == ' ' || (first[i] >= '\t' && first[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < first.size() && (first[i] == '+' || first[i] == '-')) negative = first[i++] == '-';
    uint16_t value = 0;
    for (; i < first.size() && first[i] >= '0' && first[i] <= '9'; ++i)
        value = static_cast<uint16_t>(value * 10u + static_cast<unsigned>(first[i] - '0'));
    return negative ? static_cast<uint16_t>(0u - value) : value;
}

bool secureKaver::StartCopyFile() {
    if (l_state != 0) {
        storeErrorInfo(ZEMT_EWRONGORDER);
        KAVER_LOG("l_state != 0");
        return false;
    }
    FileList.clear();
    l_state = 1;
    l_entryNumber = 1;
    n_payload_added = 0;
    return true;
}

bool secureKaver::EndCopyFile() {
    l_state = 0;
    return true;
}

bool secureKaver::AddFile(std::string src, std::string dest, exmlMode action) {
    static md5wrapper md5;
    failure::clear();
    try {
        if (src.empty() && twoNameAction(action)) {
            sessionEc = noSourceFile;
            fail(ZEMT_NOSRCFILE);
        }
        if (dest.empty() && twoNameAction(action)) {
            sessionEc = noDestinationFile;
            fail(ZEMT_NODESTFILE);
        }
        if (l_state == 0) {
            sessionEc = addOrderError;
            fail(ZEMT_ADDORDERERROR);
        }
        if (isDuplicate(FileList, src, dest)) return true;

        cfgEntry entry;
        struct stat st;
        switch (action) {
            case filecopy:
            case fileappend:
            case ssib:
                checkSource(*this, src, ZEMT_SRCFILEMISSING, st);
                entry.srcName = src;
                if (action != ssib) {
                    entry.dstName = dest;
                    entry.partNum = partitionOf(dest);
                }
                entry.filePerms = static_cast<int>(st.st_mode);
                entry.fileSize = entrySize(src, st.st_size);
                entry.hash = hashSource(*this, md5, src, st);
                break;
            case signedunzip: {
                // The package travels with its signature and descriptor; the
                // size covers all three so the drop box is made big enough.
                struct stat sig, pkg;
                checkSource(*this, src, ZEMT_SRCFILEMISSING, st);
                checkSource(*this, src + ".sig", ZEMT_SIGNFILEMISSING, sig);
                checkSource(*this, "package.xml", ZEMT_PACKAGEXMLMISSING, pkg);
                entry.srcName = src;
                entry.dstName = dest;
                entry.partNum = partitionOf(dest);
                entry.filePerms = static_cast<int>(st.st_mode);
                entry.fileSize = entrySize(src, static_cast<long long>(st.st_size) + sig.st_size + pkg.st_size);
                break;
            }
            case filemove:
            case dirmove:
                entry.srcName = src;
                entry.dstName = dest;
                entry.partNum = partitionOf(src);
                break;
            case filedelete:
            case dirmake:
                entry.dstName = dest;
                entry.partNum = partitionOf(dest);
                break;
            case dirdelete:
                entry.srcName = src;
                entry.partNum = partitionOf(src);
                break;
            default:  // dircopy, doNotDisturb, inventory-log modes: no names
                break;
        }

        entry.order = l_entryNumber++;
        entry.mode = action;
        entry.algorithm = 1;
        FileList.push_back(entry);
        return true;
    } catch (unsigned char code) {
        storeErrorInfo(code);
        return false;
    } catch (...) {
        KAVER_LOG("ZEMT internal error");
        storeErrorInfo(ZEMT_INTERROR);
        return false;
    }
}

bool secureKaver::AddFile(std::string src, std::string dest, bool /*SplitFile*/) {
    // Large files are split when the drop box is filled, whatever the flag.
    static md5wrapper md5;
    failure::clear();
    try {
        if (src.empty()) {
            sessionEc = noSourceFile;
            fail(ZEMT_NOSRCFILE);
        }
        if (dest.empty()) {
            sessionEc = noDestinationFile;
            fail(ZEMT_NODESTFILE);
        }
        if (l_state == 0) {
            sessionEc = addOrderError;
            fail(ZEMT_ADDORDERERROR);
        }
        if (isDuplicate(FileList, src, dest)) return true;

        struct stat st;
        checkSource(*this, src, ZEMT_SRCFILEMISSING, st);
        cfgEntry entry;
        entry.mode = filecopy;
        entry.algorithm = 1;
        entry.filePerms = static_cast<int>(st.st_mode);
        entry.fileSize = entrySize(src, st.st_size);
        entry.partNum = GetPartNum(dest);
        entry.srcName = src;
        entry.dstName = dest;
        entry.hash = hashSource(*this, md5, src, st);
        // This overload numbers from the counter's next value, so its first
        // entry after StartCopyFile has order 2.
        entry.order = ++l_entryNumber;
        FileList.push_back(entry);
        return true;
    } catch (unsigned char code) {
        storeErrorInfo(code);
        return false;
    } catch (...) {
        KAVER_LOG("ZEMT internal error");
        storeErrorInfo(ZEMT_INTERROR);
        return false;
    }
}
