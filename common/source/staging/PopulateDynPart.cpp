// SPDX-License-Identifier: Apache-2.0
// Filling a drop box: the copy commands, the size a copy list needs, and
// the fillers that put one pass of a copy list into a mounted drop box.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "internal/ShellText.h"
#include "PlatformLayer.h"
#include "UpdateDocument.h"
#include "core/FailureReason.h"
#include "md5wrapper.h"
#include "secureKaver.h"

uint32_t eps = ONE_MEG;
char DynMountPoint[1024];
char targetFilePath[1024];

namespace {

// Chunk bytes travel through a buffer of this size, so memory stays flat
// whatever the drop box or file size.
const std::size_t kCopyBuffer = 1048576;

// A split file is joined beside its target, under the target's name with
// this suffix, and only moved onto the target once its last chunk is in:
// until then the stored version is untouched, and a run that fails half-way
// leaves at most this file, which the next run's first chunk overwrites.
// FAT long names hold it, and no user's file plausibly carries it.
const char* const kPartialSuffix = ".zemt-partial";

std::string partialName(const std::string& dstName) { return dstName + kPartialSuffix; }

const uint16_t kStateMask = 0x3F;
const uint16_t kDone = 1;
const uint16_t kSplitting = 2;

[[noreturn]] void fail(uint8_t code) { throw static_cast<unsigned char>(code); }

void addToDocument(std::ostringstream* xmlStr, const cfgEntry& entry, const std::string& mntPnt, bool chunk) {
    if (!AddCfgEntry(xmlStr, entry, mntPnt, chunk)) {
        KAVER_LOG("AddCfgEntry failed");
        failure::record("the update document cannot describe " + entry.dstName);
        fail(ZEMT_INTERROR);
    }
}

// The pass with the last chunk of a split file ends, after that chunk, by
// replacing the stored version with the joined file: delete the target,
// then move the temporary file onto it, in the chunks' order slot.
void placeJoinedFile(std::ostringstream* xmlStr, const cfgEntry& chunk, const std::string& target,
                     const std::string& mntPnt) {
    cfgEntry remove;
    remove.order = chunk.order;
    remove.mode = filedelete;
    remove.algorithm = chunk.algorithm;
    remove.dstName = target;
    addToDocument(xmlStr, remove, mntPnt, false);

    cfgEntry move = remove;
    move.mode = filemove;
    move.srcName = chunk.dstName;
    addToDocument(xmlStr, move, mntPnt, false);
}

// Space left in this pass, never below zero.
int64_t spaceLeft(int64_t available) { return available > 0 ? available : 0; }

// "WHAT: the system's reason", from errno.
std::string withErrno(const std::string& what) { return what + ": " + std::strerror(errno); }

// Copies `length` bytes of `src` from `offset` into a new file `dst`.
// Returns the bytes copied, or -1 when the target could not take them all
// (a full device shows up here, not as a later verification mismatch).
// Either failure records its reason.
int64_t copyChunk(const std::string& src, int64_t offset, int64_t length, const std::string& dst) {
    errno = EINVAL;  // a name with a NUL is never opened
    std::unique_ptr<FILE, int (*)(FILE*)> in(
        src.find('\0') == std::string::npos ? std::fopen(src.c_str(), "rb") : nullptr, &std::fclose);
    if (!in || fseeko(in.get(), static_cast<off_t>(offset), SEEK_SET) != 0) {
        failure::record(withErrno("cannot read " + src));
        return 0;
    }
    std::vector<char> buffer(static_cast<std::size_t>(length < static_cast<int64_t>(kCopyBuffer) ? length : kCopyBuffer));
    FILE* out = nullptr;
    int64_t copied = 0;
    bool writeFailed = false;
    while (copied < length) {
        int64_t want = length - copied;
        if (want > static_cast<int64_t>(buffer.size())) want = static_cast<int64_t>(buffer.size());
        std::size_t got = std::fread(buffer.data(), 1, static_cast<std::size_t>(want), in.get());
        if (got == 0) break;
        if (out == nullptr) {
            out = CPlatformLayer::OpenHostFile(dst, "wb");
            if (out == nullptr) {
                failure::record(withErrno("cannot write " + dst));
                return -1;
            }
        }
        if (std::fwrite(buffer.data(), 1, got, out) != got) {
            writeFailed = true;
            break;
        }
        copied += static_cast<int64_t>(got);
    }
    if (out == nullptr) {  // nothing could be read
        failure::record(std::ferror(in.get()) ? withErrno("cannot read " + src)
                                              : src + " ended before its recorded size");
        return 0;
    }
    if (std::fflush(out) != 0) writeFailed = true;
    if (std::fclose(out) != 0) writeFailed = true;
    if (writeFailed) failure::record(withErrno("cannot write " + dst));
    return writeFailed ? -1 : copied;
}

// One chunk of entry `i` at the root of the drop box; the pass ends after
// it.  `capacity` is what the drop box can still take in this pass.
void cutChunk(secureKaver& kaver, const std::string& mntPnt, std::ostringstream* xmlStr, uint32_t& start,
              uint32_t i, int64_t capacity) {
    static md5wrapper md5;
    cfgEntry& entry = kaver.FileList[i];
    KAVER_LOG("Split File: Creating Chunk");
    const unsigned n = entry.processed >> 6;
    const std::string name = "FileChunk" + std::to_string(n);
    const std::string path = mntPnt + name;

    int64_t want = static_cast<int64_t>(entry.fileSize) - entry.loc;
    if (want > capacity) want = capacity;
    const int64_t got = want > 0 ? copyChunk(entry.srcName, entry.loc, want, path) : 0;
    if (got <= 0) {
        KAVER_LOG(got == 0 ? "Could not read file" : "Could not write chunk " + path);
        if (want <= 0) failure::record("the drop box has no room for a chunk");
        failure::prefix("copying chunk " + std::to_string(n) + " of " + entry.srcName + " to " + entry.dstName);
        fail(ZEMT_INTERROR);
    }
    entry.loc += static_cast<int32_t>(got);
    CPlatformLayer::Run("sync");

    cfgEntry chunk;
    chunk.order = static_cast<int>(i);
    chunk.mode = n == 0 ? filecopy : fileappend;
    chunk.algorithm = 1;
    chunk.copyRc = entry.copyRc;
    chunk.filePerms = entry.filePerms;
    chunk.n_or_n1 = entry.n_or_n1;
    chunk.processed = 0;
    chunk.fileSize = static_cast<int32_t>(got);
    chunk.srcName = name;
    chunk.dstName = partialName(entry.dstName);
    chunk.hash = md5.getHashFromOpenFile(CPlatformLayer::OpenHostFile(path, "rb"));
    addToDocument(xmlStr, chunk, mntPnt, true);
    if (entry.loc < entry.fileSize) {
        entry.processed = static_cast<uint16_t>(((n + 1) << 6) | kSplitting);
        start = i;
    } else {
        placeJoinedFile(xmlStr, chunk, entry.dstName, mntPnt);
        entry.processed = kDone;
        KAVER_LOG("Last Split File Chunk");
        start = i + 1;
    }
    KAVER_LOG("Split File: Chunk " + name);
}

void addEntry(std::ostringstream* xmlStr, cfgEntry& entry, const std::string& mntPnt) {
    addToDocument(xmlStr, entry, mntPnt, false);
    entry.processed = kDone;
}

// A copy command fails the pass when the shell could not run it or the
// command itself failed: cp reports a full device through its exit status,
// and finding that now beats a mismatch found by verification later.
void copyOrFail(const std::string& mntPnt, const cfgEntry& entry) {
    if (doCopy(mntPnt, entry.dstName, entry.srcName, entry.mode) != 0) {
        KAVER_LOG("doCopy failed");
        failure::prefix(entry.mode == dirmake ? "making folder " + entry.dstName
                                              : "copying " + entry.srcName + " to " + entry.dstName);
        fail(ZEMT_INTERROR);
    }
    KAVER_LOG("doCopy succeeded");
}

// Outcome of a filecopy entry within a pass.
enum FileStep { Copied, EndPass };

// A filecopy entry: split, wait for the next pass, or copy whole.
FileStep fileCopy(secureKaver& kaver, const std::string& mntPnt, std::ostringstream* xmlStr, uint32_t& start,
                  uint32_t i, int64_t available, uint32_t dropBoxSize) {
    cfgEntry& entry = kaver.FileList[i];
    const int64_t room = static_cast<int64_t>(dropBoxSize) - eps;
    if ((entry.processed & kStateMask) == kSplitting || entry.fileSize > room) {
        // A chunk after whole files of the same pass gets only the space
        // those files left; with less than one allocation unit of room it
        // waits for the next, empty pass instead.
        const int64_t capacity = spaceLeft(available - eps) < room ? spaceLeft(available - eps) : room;
        if (capacity < static_cast<int64_t>(DYNCHUNK_SZ) && available < static_cast<int64_t>(dropBoxSize)) {
            KAVER_LOG("FileSize > AvailableSpace");
            start = i;
            return EndPass;
        }
        cutChunk(kaver, mntPnt, xmlStr, start, i, capacity);
        return EndPass;
    }
    if (available - eps < entry.fileSize) {
        KAVER_LOG("FileSize > AvailableSpace");
        start = i;
        return EndPass;
    }
    KAVER_LOG("filecopy");
    copyOrFail(mntPnt, entry);
    addEntry(xmlStr, entry, mntPnt);
    return Copied;
}

}  // namespace

int doCopy(std::string mntPnt, std::string dst, std::string src, exmlMode op) {
    KAVER_LOG("doCopy");
    const std::string::size_type first = dst.find('/');
    const std::string inside = first == std::string::npos ? dst : dst.substr(first + 1);
    // A name that would leave the drop box, or that no command can carry,
    // is refused before anything runs.
    if (!shelltext::staysInside(inside) || src.find('\0') != std::string::npos ||
        mntPnt.find('\0') != std::string::npos) {
        KAVER_LOG("doCopy refused an unusable name: " + dst);
        failure::record("unusable name " + dst);
        return -1;
    }

    if (first != std::string::npos) {
        for (std::string::size_type pos = dst.find('/', first + 1); pos != std::string::npos;
             pos = dst.find('/', pos + 1)) {
            const std::string cmd = "mkdir " + shelltext::arg(mntPnt + dst.substr(first + 1, pos - first - 1)) +
                                    " > /dev/null 2>&1";
            int rc = CPlatformLayer::Run(cmd);
            KAVER_LOG("Creating directory");
            KAVER_LOG(cmd);
            KAVER_LOG(rc < 0 ? "failed" : "succeeded");
        }
    }

    std::string program, cmd;
    switch (op) {
        case filecopy:
        case signedunzip:
            program = "/bin/cp";
            cmd = program + " " + shelltext::arg(src) + " " + shelltext::arg(mntPnt + inside) + " > /dev/null";
            break;
        case dirmake:
            program = "/bin/mkdir";
            cmd = program + " -p " + shelltext::arg(mntPnt + inside) + " > /dev/null 2>&1";
            break;
        case ssib:
            program = "/bin/cp";
            cmd = program + " " + shelltext::arg(src) + " " + shelltext::arg(mntPnt) + " > /dev/null";
            break;
        default:
            break;
    }
    if (!cmd.empty()) KAVER_LOG("Cmd: " + cmd);
    KAVER_LOG("Executing command " + cmd);
    if (cmd.empty()) return 0;
    const int status = CPlatformLayer::Run(cmd);
    if (status != 0) failure::record(program + " " + failure::commandStatus(status));
    return status;
}

void secureKaver::CalculateAndAdjustPayloadSize(uint32_t& size) {
    uint64_t sum = 0;
    for (const cfgEntry& entry : FileList)
        if ((entry.mode == filecopy || entry.mode == signedunzip) && entry.fileSize > 0)
            sum += static_cast<uint64_t>(entry.fileSize);
    if (sum <= 65535) sum = 0x10000;
    else if (sum % DYNCHUNK_SZ != 0) sum += DYNCHUNK_SZ - sum % DYNCHUNK_SZ;
    sum += eps;
    if (!FileList.empty() && FileList.front().mode == signedunzip) sum += 4ull * eps;
    // A list larger than any drop box asks for the most a uint32 can say;
    // the completers cap it at MAX_DYN_PART_SIZE anyway.
    sum += size;
    size = sum > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(sum);
}

bool secureKaver::populateDynPart(std::string mntPnt, std::ostringstream* xmlStr, uint32_t& start,
                                  uint32_t dropBoxSize) {
    try {
        uint32_t i = start;
        int64_t available = dropBoxSize;
        uint32_t next = static_cast<uint32_t>(FileList.size());
        for (; i < FileList.size(); ++i) {
            cfgEntry& entry = FileList[i];
            KAVER_LOG("SrcName: " + entry.srcName);
            KAVER_LOG("DstName: " + entry.dstName);
            switch (entry.mode) {
                case filecopy:
                    if (fileCopy(*this, mntPnt, xmlStr, next, i, available, dropBoxSize) == EndPass) {
                        start = next;
                        return true;
                    }
                    break;
                case dirmake:
                    KAVER_LOG("dirmake");
                    copyOrFail(mntPnt, entry);
                    addEntry(xmlStr, entry, mntPnt);
                    break;
                case dirmove:
                case dirdelete:
                case filemove:
                case filedelete:
                    KAVER_LOG(entry.mode == dirmove     ? "dirmove"
                              : entry.mode == dirdelete ? "dirdelete"
                              : entry.mode == filemove  ? "filemove"
                                                        : "filedelete");
                    addEntry(xmlStr, entry, mntPnt);
                    break;
                case ssib:
                    KAVER_LOG("ssib");
                    copyOrFail(mntPnt, entry);
                    addEntry(xmlStr, entry, mntPnt);
                    break;
                case fileappend:
                    KAVER_LOG("fileappend ignored");
                    break;
                default:
                    KAVER_LOG("Unhandled mode");
                    break;
            }
            available -= entry.fileSize;
        }
        start = static_cast<uint32_t>(FileList.size());
        return true;
    } catch (...) {
        KAVER_LOG("populateDynPart failed");
        return false;
    }
}

bool secureKaver::populateDynPartSarn(std::string strMntPnt, std::ostringstream* osXmlStr, uint32_t& uStart,
                                      uint32_t uDropBoxSize) {
    KAVER_LOG("Entering populateDynPartSarn");
    try {
        int64_t available = uDropBoxSize;
        uint32_t next = static_cast<uint32_t>(FileList.size());
        for (uint32_t i = uStart; i < FileList.size(); ++i) {
            cfgEntry& entry = FileList[i];
            KAVER_LOG("SrcName: " + entry.srcName);
            KAVER_LOG("DstName: " + entry.dstName);
            if (entry.mode == filecopy) {
                if (fileCopy(*this, strMntPnt, osXmlStr, next, i, available, uDropBoxSize) == EndPass) {
                    uStart = next;
                    KAVER_LOG("Leaving populateDynPartSarn");
                    return true;
                }
            } else if (entry.mode == dirmake) {
                KAVER_LOG("dirmake");
                copyOrFail(strMntPnt, entry);
                addEntry(osXmlStr, entry, strMntPnt);
            } else {
                KAVER_LOG("Unhandled mode");
            }
            available -= entry.fileSize;
        }
        uStart = static_cast<uint32_t>(FileList.size());
        KAVER_LOG("Leaving populateDynPartSarn");
        return true;
    } catch (unsigned char code) {
        KAVER_LOG("populateDynPart failed with error code " + std::to_string(code));
        KAVER_LOG("Leaving populateDynPartSarn");
        return false;
    } catch (...) {
        KAVER_LOG("populateDynPart failed with error code " + std::to_string(ZEMT_INTERROR));
        KAVER_LOG("Leaving populateDynPartSarn");
        return false;
    }
}

bool secureKaver::populateDynPart(std::ostringstream* xmlStr) {
    KAVER_LOG("Entering populateDynPart");
    try {
        if (FileList.empty()) fail(ZEMT_INTERROR);
        cfgEntry& e = FileList.front();
        const std::string mnt(DynMountPoint, strnlen(DynMountPoint, sizeof DynMountPoint));

        if (doCopy(mnt, e.dstName, e.srcName, e.mode) != 0) {
            KAVER_LOG("doCopy of Payload zip failed");
            failure::prefix("copying " + e.srcName + " to " + e.dstName);
            fail(ZEMT_INTERROR);
        }
        KAVER_LOG("doCopy of Payload zip succeeded");

        if (doCopy(mnt, e.dstName + ".sig", e.srcName + ".sig", e.mode) != 0) {
            KAVER_LOG("doCopy of Signature file failed");
            failure::prefix("copying " + e.srcName + ".sig to " + e.dstName + ".sig");
            fail(ZEMT_INTERROR);
        }
        KAVER_LOG("doCopy of Signature file succeeded");

        std::string descriptor = "package.xml";
        std::string::size_type sep = e.dstName.find_first_of("/\\");
        if (sep != std::string::npos) descriptor = e.dstName.substr(0, sep + 1) + "package.xml";
        if (doCopy(mnt, descriptor, "package.xml", e.mode) != 0) {
            KAVER_LOG("doCopy of Package XML file failed");
            failure::prefix("copying package.xml to " + descriptor);
            fail(ZEMT_INTERROR);
        }
        KAVER_LOG("doCopy of Package XML file succeeded");

        addToDocument(xmlStr, e, mnt, false);
        return true;
    } catch (...) {
        KAVER_LOG("populateDynPart failed");
        return false;
    }
}
