// SPDX-License-Identifier: Apache-2.0
// What the controller does with a detached drop box: it reads the update
// document at the drop box's root, checks it against the hash the host sent,
// and carries out its File entries in order against the partition images.
// Everything goes through mtools; nothing is mounted.
#include "Controller.h"

#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "zemt_emulator/Disks.h"
#include "zemt_emulator/FatImage.h"
#include "zemt_emulator/FatVolume.h"
#include "zemt_emulator/Inventory.h"

namespace fs = std::filesystem;

namespace zemt_emu {
namespace {

const char* const kDocumentName = "update.xml";

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string childText(xmlNode* parent, const char* name) {
    for (xmlNode* n = parent->children; n != nullptr; n = n->next) {
        if (n->type != XML_ELEMENT_NODE || std::strcmp(reinterpret_cast<const char*>(n->name), name) != 0)
            continue;
        xmlChar* text = xmlNodeGetContent(n);
        std::string value = text ? reinterpret_cast<const char*>(text) : "";
        xmlFree(text);
        return value;
    }
    return "";
}

bool parseDocument(const std::string& path, std::vector<DocumentEntry>& entries) {
    xmlDoc* doc = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (doc == nullptr) return false;
    xmlNode* root = xmlDocGetRootElement(doc);
    bool ok = root != nullptr && std::strcmp(reinterpret_cast<const char*>(root->name), "KAVER_Update") == 0;
    for (xmlNode* n = ok ? root->children : nullptr; n != nullptr; n = n->next) {
        if (n->type != XML_ELEMENT_NODE || std::strcmp(reinterpret_cast<const char*>(n->name), "File") != 0)
            continue;
        DocumentEntry e;
        xmlChar* order = xmlGetProp(n, reinterpret_cast<const xmlChar*>("order"));
        long value = 0;
        if (order == nullptr || !ParseNumber(reinterpret_cast<const char*>(order), value)) ok = false;
        xmlFree(order);
        e.order = value;
        e.hash = childText(n, "Hash");
        e.source = childText(n, "Source");
        e.sourceKaver = childText(n, "SourceKAVER");
        e.destination = childText(n, "Destination");
        e.mode = childText(n, "Mode");
        entries.push_back(e);
    }
    xmlFreeDoc(doc);
    // Entries run in order; equal orders (the chunks of one file) keep
    // their document order.
    std::stable_sort(entries.begin(), entries.end(),
                     [](const DocumentEntry& a, const DocumentEntry& b) { return a.order < b.order; });
    return ok;
}

}  // namespace

bool SafeInnerPath(const std::string& inner) {
    if (inner.empty()) return true;
    std::string::size_type start = 0;
    while (start <= inner.size()) {
        std::string::size_type slash = inner.find('/', start);
        std::string part = inner.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part == ".." || !IsFatName(part)) return false;
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return inner[0] != '/';
}

// "kav022/a/b" -> image of KAV022 and "a/b".
bool Controller::resolveTarget(const std::string& path, std::string& image, std::string& inner) const {
    std::string::size_type slash = path.find('/');
    std::string folder = path.substr(0, slash);
    inner = slash == std::string::npos ? "" : path.substr(slash + 1);
    while (!inner.empty() && inner.back() == '/') inner.pop_back();
    if (inner == ".") inner.clear();
    for (int bit = 0; bit < 16; ++bit) {
        std::string label = partitionLabel(false, bit);
        if (!label.empty() && lower(label) == lower(folder) && SafeInnerPath(inner)) {
            image = MtoolsImage(imagePath(false, bit), conf_.GetInt("partition_table", 0) != 0 ? kPartitionOffset : 0);
            return true;
        }
    }
    return false;
}

const Fault* Controller::fireProcessFault() {
    return fireWhere([](const Fault& fault) { return fault.target == Fault::kProcess; });
}

namespace {

// The folders of a path inside an image that are not there yet are made,
// from the top down (with the last component too when includeLast).
bool makeParents(const std::string& image, const std::string& inner, bool includeLast) {
    FatVolume volume;
    std::string error;
    if (!volume.Open(image, error)) return false;
    std::vector<std::string> missing;
    std::string::size_type pos = 0;
    while (true) {
        std::string::size_type slash = inner.find('/', pos);
        if (slash == std::string::npos && !includeLast) break;
        std::string dir = slash == std::string::npos ? inner : inner.substr(0, slash);
        FatVolume::Entry entry;
        if (!dir.empty() && !volume.Find(dir, entry)) missing.push_back("::/" + MtoolsNew(dir));
        else if (!dir.empty() && !entry.directory) return false;
        if (slash == std::string::npos) break;
        pos = slash + 1;
    }
    if (missing.empty()) return true;
    std::vector<std::string> argv = {"mmd", "-D", "s", "-i", image};
    argv.insert(argv.end(), missing.begin(), missing.end());
    return RunTool(argv) == 0;
}

// The partitions as the document's check reads them, each opened once.
class Volumes {
public:
    const FatVolume* Get(const std::string& image) {
        std::unique_ptr<FatVolume>& volume = open_[image];
        std::string error;
        if (!volume) {
            volume.reset(new FatVolume);
            if (!volume->Open(image, error)) volume.reset(new FatVolume);
        }
        return volume->ClusterBytes() > 0 ? volume.get() : nullptr;
    }

    long long FreeBytes(const std::string& image) {
        const FatVolume* volume = Get(image);
        return volume ? volume->FreeClusters() * volume->ClusterBytes() : -1;
    }

    // Size of the one file `inner` names, or 0 when there is none.
    long long FileBytes(const std::string& image, const std::string& inner) {
        const FatVolume* volume = Get(image);
        FatVolume::Entry entry;
        if (inner.empty() || volume == nullptr || !volume->Find(inner, entry) || entry.directory) return 0;
        return static_cast<long long>(entry.size);
    }

private:
    std::map<std::string, std::unique_ptr<FatVolume>> open_;
};

std::string folderOf(const std::string& inner) {
    std::string::size_type slash = inner.rfind('/');
    return slash == std::string::npos ? "" : inner.substr(0, slash);
}

std::string nameOf(const std::string& inner) { return inner.substr(inner.rfind('/') + 1); }

// Consecutive copies into one folder of one image go in one mcopy run:
// each source is linked into a scratch folder under its target's name,
// so that the run names every file as a copy of its own would.
class CopyBatch {
public:
    explicit CopyBatch(const std::string& scratch) : dir_(JoinPath(scratch, "batch")) {}

    // Whether a copy to INNER of IMAGE can join the files gathered so far.
    bool Takes(const std::string& image, const std::string& inner) const {
        if (files_.empty()) return true;
        if (image != image_ || folderOf(inner) != folder_) return false;
        for (const std::string& file : files_)
            if (SameFatName(nameOf(file), nameOf(inner))) return false;
        return true;
    }

    bool Add(const std::string& image, const std::string& inner, const std::string& source) {
        std::error_code ec;
        if (files_.empty()) {
            image_ = image;
            folder_ = folderOf(inner);
            fs::create_directories(dir_, ec);
        }
        std::string linked = JoinPath(dir_, nameOf(inner));
        fs::create_hard_link(source, linked, ec);
        if (ec) fs::copy_file(source, linked, fs::copy_options::overwrite_existing, ec);
        files_.push_back(linked);
        return !ec;
    }

    // Carries the gathered copies out; 0 or the failing run's status.
    int Flush() {
        if (files_.empty()) return 0;
        int rc = folder_.empty() || makeParents(image_, folder_, true) ? 0 : 1;
        // A few hundred names per run keep the command line short.
        const std::size_t kPerRun = 500;
        for (std::size_t from = 0; rc == 0 && from < files_.size(); from += kPerRun) {
            std::vector<std::string> argv = {"mcopy", "-o", "-m", "-i", image_};
            std::size_t to = std::min(files_.size(), from + kPerRun);
            argv.insert(argv.end(), files_.begin() + static_cast<long>(from), files_.begin() + static_cast<long>(to));
            argv.push_back("::/" + (folder_.empty() ? std::string() : MtoolsExisting(folder_) + "/"));
            rc = RunTool(argv);
        }
        std::error_code ec;
        fs::remove_all(dir_, ec);
        files_.clear();
        return rc;
    }

private:
    std::string dir_, image_, folder_;
    std::vector<std::string> files_;
};

// A file moves with mmove, which keeps the old entry's case flags and so
// would store a lower-case 8.3 name such as fw.bin in capitals: the flags
// are set as a copy sets them.  A name no flags give is written anew.
int moveFile(const std::string& image, const std::string& from, const std::string& to, const std::string& work) {
    int rc = RunTool({"mmove", "-i", image, "::/" + MtoolsExisting(from), "::/" + MtoolsNew(to)});
    FatVolume volume;
    FatVolume::Entry moved;
    std::string error;
    if (rc != 0 || !volume.Open(image, error, true) || !volume.Find(to, moved)) return rc != 0 ? rc : 1;
    if (moved.name == nameOf(to) || volume.SetShortNameCase(moved, nameOf(to))) return 0;
    std::string copy = JoinPath(work, "moved");
    int fd = open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool copied = fd >= 0 && volume.CopyOut(moved, fd);
    if (fd >= 0 && close(fd) != 0) copied = false;
    rc = copied ? RunTool({"mdel", "-i", image, "::/" + MtoolsExisting(to)}) : 1;
    if (rc == 0) rc = RunTool({"mcopy", "-o", "-m", "-i", image, copy, "::/" + MtoolsNew(to)});
    std::error_code ec;
    fs::remove(copy, ec);
    return rc;
}

}  // namespace

int Controller::processDropBox(int bit, const std::string& expectedHash, std::string& note) {
    const Fault* fault = fireProcessFault();
    std::string effect = fault ? fault->effect : "";
    if (fault) note = " fault=" + std::to_string(fault->lineNumber);
    processPolls_ = fault ? fault->polls : 0;
    ScratchDir boxDir(dir_, "process"), workDir(dir_, "process");
    const std::string& boxPath = boxDir.Path();
    const std::string& workPath = workDir.Path();
    if (boxPath.empty() || workPath.empty()) return kCcFailure;
    std::string boxImage = MtoolsImage(imagePath(true, bit), conf_.GetInt("partition_table", 0) != 0 ? kPartitionOffset : 0);
    std::string error;
    if (!ExtractFatTree(boxImage, boxPath, error)) return kCcFailure;
    std::string document = JoinPath(boxPath, kDocumentName);
    if (!fs::exists(document)) {
        note += " no-document";
        return kCcFailure;
    }
    if (effect == "refuse" || Md5OfFile(document) != lower(expectedHash)) {
        note += " hash-refused";
        return kCcFailure;
    }
    std::vector<DocumentEntry> entries;
    if (effect == "unparsable" || !parseDocument(document, entries)) {
        note += " unparsable";
        return kCcFailure;
    }
    if (IsPayloadDocument(entries)) return stagePayloadPass(entries, boxPath, note);

    // Check the whole document before changing anything, so that a refused
    // document leaves every partition as it was.
    std::map<std::string, long long> needed;
    Volumes volumes;
    for (const DocumentEntry& e : entries) {
        if (IsInventoryMode(e.mode)) {
            if (!checkInventoryEntry(e.mode, e.source, e.hash, boxPath, note)) return kCcFailure;
            continue;
        }
        std::string image, inner;
        bool twoNames = e.mode == "filemove" || e.mode == "dirmove";
        bool hasSource = e.mode == "filecopy" || e.mode == "fileappend" || e.mode == "signedunzip" || e.mode == "ssib";
        if (e.mode != "ssib" && !resolveTarget(e.destination, image, inner)) {
            note += " bad-destination";
            return kCcFailure;
        }
        if (twoNames && !resolveTarget(e.sourceKaver, image, inner)) {
            note += " bad-source";
            return kCcFailure;
        }
        if (hasSource) {
            if (!SafeInnerPath(e.source) || e.source.empty() || !fs::is_regular_file(JoinPath(boxPath, e.source))) {
                note += " missing-source";
                return kCcFailure;
            }
            std::string source = JoinPath(boxPath, e.source);
            if (e.mode != "signedunzip" && Md5OfFile(source) != lower(e.hash)) {
                note += " source-hash:" + e.source;
                return kCcFailure;
            }
            if (e.mode != "ssib") {
                resolveTarget(e.destination, image, inner);
                needed[image] += static_cast<long long>(fs::file_size(source));
                // A copy over an existing file gives that file's room back
                // first, as mcopy -o does.
                if (e.mode == "filecopy") needed[image] -= volumes.FileBytes(image, inner);
            }
        } else if (e.mode != "filedelete" && e.mode != "dirdelete" && e.mode != "dirmake" && !twoNames) {
            note += " unknown-mode";
            return kCcFailure;
        }
    }
    for (const auto& need : needed) {
        long long available = volumes.FreeBytes(need.first);
        if (effect == "full" || available < 0 || need.second > available) {
            note += " partition-full";
            return kCcOverflow;
        }
    }

    std::string corruptImage, corruptInner;
    std::vector<std::pair<std::string, std::string>> tasks;  // name, registration
    CopyBatch batch(workPath);
    for (const DocumentEntry& e : entries) {
        std::string image, inner;
        resolveTarget(e.mode == "ssib" ? std::string() : e.destination, image, inner);
        std::string source = JoinPath(boxPath, e.source);
        int rc = 0;
        if (e.mode != "filecopy" || !batch.Takes(image, inner)) rc = batch.Flush();
        if (rc != 0) {
            note += " failed-filecopy";
            return kCcFailure;
        }
        if (e.mode == "filecopy") {
            rc = batch.Add(image, inner, source) ? 0 : 1;
            corruptImage = image;
            corruptInner = inner;
        } else if (e.mode == "fileappend") {
            // Joining a chunk: its bytes go on at the end of the target, in place.
            FatVolume volume;
            FatVolume::Entry target;
            std::string error;
            int fd = open(source.c_str(), O_RDONLY | O_CLOEXEC);
            std::error_code ec;
            uint64_t bytes = fs::file_size(source, ec);
            rc = fd >= 0 && !ec && volume.Open(image, error, true) && volume.Find(inner, target) &&
                         volume.Append(target, fd, bytes)
                     ? 0
                     : 1;
            if (fd >= 0) close(fd);
            corruptImage = image;
            corruptInner = inner;
        } else if (e.mode == "filemove" || e.mode == "dirmove") {
            std::string fromImage, fromInner;
            resolveTarget(e.sourceKaver, fromImage, fromInner);
            if (fromImage != image) {
                rc = 1;  // moves stay inside one partition
            } else {
                RunTool({"mdeltree", "-i", image, "::/" + MtoolsExisting(inner)});
                RunTool({"mdel", "-i", image, "::/" + MtoolsExisting(inner)});
                rc = makeParents(image, inner, false) ? 0 : 1;
                if (rc == 0 && e.mode == "filemove") {
                    rc = moveFile(image, fromInner, inner, workPath);
                } else if (rc == 0) {
                    rc = RunTool({"mmove", "-i", image, "::/" + MtoolsExisting(fromInner), "::/" + MtoolsNew(inner)});
                }
            }
        } else if (e.mode == "filedelete") {
            // Nothing to delete is not a failure: a first copy has no old version.
            rc = RunTool({"mdel", "-i", image, "::/" + MtoolsExisting(inner)});
            if (rc != 0 && RunTool({"mdir", "-b", "-i", image, "::/" + MtoolsExisting(inner)}) != 0) rc = 0;
        } else if (e.mode == "dirdelete") {
            rc = inner.empty() ? 1 : RunTool({"mdeltree", "-i", image, "::/" + MtoolsExisting(inner)});
        } else if (e.mode == "dirmake") {
            rc = makeParents(image, inner, true) ? 0 : 1;
        } else if (e.mode == "ssib") {
            // A task file: the controller keeps it and runs it once the whole
            // document is carried out.
            std::error_code ec;
            const std::string name = fs::path(e.source).filename().string();
            fs::create_directories(JoinPath(dir_, files::kTasks), ec);
            fs::copy_file(source, JoinPath(JoinPath(dir_, files::kTasks), name), fs::copy_options::overwrite_existing,
                          ec);
            tasks.emplace_back(name, std::to_string(now_) + " " + name + " " + lower(e.hash));
            rc = ec ? 1 : 0;
        } else if (e.mode == "signedunzip") {
            std::string unpacked = JoinPath(workPath, "unzip");
            fs::create_directories(unpacked);
            rc = RunTool({"unzip", "-o", "-q", source, "-d", unpacked});
            if (rc == 0 && makeParents(image, inner, true)) {
                std::vector<std::string> argv = {"mcopy", "-s", "-o", "-m", "-i", image};
                for (const auto& item : fs::directory_iterator(unpacked)) argv.push_back(item.path().string());
                argv.push_back("::/" + MtoolsExisting(inner));
                if (argv.size() > 7) rc = RunTool(argv);
            }
            fs::remove_all(unpacked);
        } else if (IsInventoryMode(e.mode)) {
            rc = carryOutInventoryEntry(e.mode, e.source, boxPath, bit, effect, note);
        }
        if (rc != 0) {
            note += " failed-" + e.mode;
            return kCcFailure;
        }
    }
    if (batch.Flush() != 0) {
        note += " failed-filecopy";
        return kCcFailure;
    }
    if (effect == "corrupt" && !corruptImage.empty()) {
        // Flip the first byte of the last file written.
        std::string copy = JoinPath(workPath, "corrupt");
        if (RunTool({"mcopy", "-o", "-n", "-i", corruptImage, "::/" + MtoolsExisting(corruptInner), copy}) == 0) {
            std::fstream file(copy, std::ios::binary | std::ios::in | std::ios::out);
            char c = 0;
            if (file.get(c)) {
                file.seekp(0);
                file.put(static_cast<char>(c ^ 0xFF));
            }
            file.close();
            RunTool({"mcopy", "-o", "-m", "-i", corruptImage, copy, "::/" + MtoolsNew(corruptInner)});
        }
        note += " corrupted";
    }
    for (const auto& task : tasks) {
        const std::string outcome = runTask(task.first);
        AppendLine(JoinPath(dir_, files::kTaskLog), task.second + " " + outcome);
        note += " task-" + outcome;
    }
    return kCcSuccess;
}

// Sub-command 9: the hash header, then four parts of ten hash characters.
void Controller::SecureCopy(const Request& request, Reply& reply) {
    putU16(reply.data, request.Handle());
    putU16(reply.data, 0);
    if (request.bytes[5] == 0) {
        if (request.length < 13) {
            reply.Fail(kCcRequestLength);
            return;
        }
        // Most significant byte first, as in every partition bitmap.
        state_.SetInt("copy.bitmap", (request.bytes[6] << 8) | request.bytes[7]);
        state_.SetInt("copy.parts", 0);
        state_.Set("copy.hash", "");
        return;
    }
    if (request.bytes[5] != 1 || request.length < 17 || !state_.Has("copy.parts")) {
        reply.Fail(request.length < 17 ? kCcRequestLength : kCcInvalidField);
        return;
    }
    long parts = state_.GetInt("copy.parts", 0) + 1;
    std::string hash = state_.Get("copy.hash");
    for (int i = 0; i < 10; ++i) {
        char c = static_cast<char>(request.bytes[6 + i]);
        if (c == '\0') break;
        hash += c;
    }
    state_.SetInt("copy.parts", parts);
    state_.Set("copy.hash", hash);
    if (parts < 4) return;
    state_.Erase("copy.parts");

    long bitmap = state_.GetInt("copy.bitmap", 0);
    int bit = -1;
    for (int b = 0; b < 16; ++b)
        if (bitmap == (1L << b)) bit = b;
    if (bit < 0 || (dynamicBitmap() & (1u << bit)) == 0) {
        reply.Fail(kCcInvalid);
        return;
    }
    if (state_.GetInt("attached.dynamic", 0) & (1L << bit)) {
        reply.Fail(kCcPartitionsAttached);
        return;
    }
    std::string note;
    int result = processDropBox(bit, hash, note);
    processNote_ = note;
    finishPending(9, result, reply, request.Handle());
}

// The controller takes processing on and reports its outcome through
// GetKAVERStatus, after as many pending polls as a fault asks for.
void Controller::finishPending(uint8_t sub, int result, Reply& reply, uint16_t handle) {
    long polls = processPolls_;
    reply = Reply();
    reply.completion = kCcPending;
    putU16(reply.data, handle);
    putU16(reply.data, 0);
    state_.SetInt("pending.sub", sub);
    state_.SetInt("pending.left", polls);
    state_.SetInt("pending.final", result);
}

uint8_t* Controller::SecureUpdate(uint8_t sub, uint16_t handle, const uint8_t* data, std::size_t length,
                                  int* status) {
    const int kPendingStatus = 0x1002;
    std::vector<uint8_t> request = {0xC0, 0xA2, sub, static_cast<uint8_t>(handle & 0xFF),
                                    static_cast<uint8_t>(handle >> 8)};
    request.insert(request.end(), data, data + length);
    std::string head = "tren " + HexBytes(request.data(), request.size()) + " | ";
    const Fault* fault = fire(request.data(), request.size(), false);
    std::string note = fault ? " fault=" + std::to_string(fault->lineNumber) : "";
    *status = 0;
    if (static_cast<long>(now_) < state_.GetInt("reset.until", 0) || !sessionValid(handle)) {
        *status = kCcInvalid;
    } else if (fault && fault->completion >= 0) {
        *status = fault->completion;
    } else {
        state_.SetInt("session.expires", static_cast<long>(now_) + state_.GetInt("session.timeout", 0));
        long bit = state_.GetInt("secure.bit", -1);
        int result = kCcSuccess;
        if (fault && fault->pending >= 0 && fault->finalStatus != 0) {
            // Pending and then failing: like any pending command, no effect.
            result = fault->finalStatus;
        } else if (sub == 0x20) {
            // Begin: a SECUPD drop box of the asked units, presented to the host.
            long units = data[0] | (data[1] << 8);
            if (bit >= 0) {
                result = kCcSessionInProgress;
            } else {
                uint8_t create[14] = {0xC0, 0xA2, 7, request[3], request[4], static_cast<uint8_t>(units & 0xFF),
                                      static_cast<uint8_t>(units >> 8), 'S', 'E', 'C', 'U', 'P', 'D', 0x40};
                Reply made;
                CreateDynamicPartition(Request{create, sizeof create}, made);
                result = made.completion;
                if (result == kCcSuccess) {
                    bit = 0;
                    while (bit < 16 && (made.data[3] | (made.data[2] << 8)) != (1L << bit)) ++bit;
                    state_.SetInt("secure.bit", bit);
                    presentDisk(true, static_cast<int>(bit));
                    state_.SetInt("attached.dynamic", state_.GetInt("attached.dynamic", 0) | (1L << bit));
                }
            }
        } else if (sub == 0x22) {
            // Process: the host has written the box; take it back and carry it out.
            if (bit < 0) {
                result = kCcInvalid;
            } else {
                withdrawDisk(true, static_cast<int>(bit));
                state_.SetInt("attached.dynamic", state_.GetInt("attached.dynamic", 0) & ~(1L << bit));
                std::string hash = HexBytes(data, 16);
                hash.erase(std::remove(hash.begin(), hash.end(), ' '), hash.end());
                std::string processNote;
                result = processDropBox(static_cast<int>(bit), hash, processNote);
                note += processNote;
            }
        } else {
            // End: the box goes away whatever happened before.
            if (bit >= 0) {
                withdrawDisk(true, static_cast<int>(bit));
                state_.SetInt("attached.dynamic", state_.GetInt("attached.dynamic", 0) & ~(1L << bit));
                std::error_code ec;
                std::filesystem::remove(imagePath(true, static_cast<int>(bit)), ec);
                state_.Erase("dynamic." + std::to_string(bit) + ".units");
                state_.Erase("dynamic." + std::to_string(bit) + ".label");
                state_.Erase("secure.bit");
            }
        }
        long polls = sub == 0x22 ? processPolls_ : 0;
        if (fault && fault->pending >= 0) {
            polls = fault->pending;
            if (result == kCcSuccess) result = fault->finalStatus;
        }
        if (polls > 0 || (fault && fault->pending >= 0)) {
            state_.SetInt("pending.sub", sub);
            state_.SetInt("pending.left", polls);
            state_.SetInt("pending.final", result);
            *status = kPendingStatus;
        } else {
            state_.SetInt("status." + std::to_string(sub), result);
            *status = result;
        }
    }
    uint8_t* buffer = nullptr;
    if (*status == 0 || *status == kPendingStatus) buffer = static_cast<uint8_t*>(std::calloc(8, 1));
    log(head + (buffer ? "buffer" : "-") + " | status=" + std::to_string(*status) + note);
    save();
    return buffer;
}

}  // namespace zemt_emu
