/* SPDX-License-Identifier: Apache-2.0 */
// Static partitions as the commands see them: the rows the controller
// reported, a target "LABEL/path" on one, and a look at its files while it
// is attached.
#ifndef ZEMT_TOOLS_PARTITIONS_H
#define ZEMT_TOOLS_PARTITIONS_H

#include <stdint.h>

#include <string>
#include <vector>

#include "Tool.h"

class secureKaver;

namespace zemt_tool {

// A static partition the controller reported during initialisation.
struct PartitionRow {
    unsigned id;
    std::string label;
    std::string image;
    unsigned bit;
    unsigned catalogueMiB;  // the library's catalogue
    bool reportedKnown;     // the controller answered the size query
    uint64_t reportedBytes; // what the controller reports
    std::string format;
};
// Catalogue rows 1..256 marked present (after secureKaverInit), by id, with
// the size the controller reports for each.
std::vector<PartitionRow> reportedPartitions(secureKaver& kaver);
void printPartitionsText(const std::vector<PartitionRow>& rows, const char* indent);
Json jsonPartitions(const std::vector<PartitionRow>& rows);

// KAV001 .. KAV256: the labels of the catalogue's static partitions, the
// only ones the library can attach and find.
bool isStaticLabel(const std::string& label);

// "LABEL/a/./b/" as the static partition label and "a/b"; ".." is refused.
struct Target {
    std::string label;  // "KAV022"
    std::string path;   // "a/b", "" for the partition's root
    std::string folder() const;  // "kav022/a/b": the copy list's spelling
    std::string shown() const;   // "KAV022/a/b"
};
bool parseTarget(const std::string& text, Target& target, std::string& why);

// One entry of a folder on an attached partition.
struct Entry {
    std::string name;
    std::string kind;  // file, directory, symlink, other
    long long bytes;   // -1 when not a file or not known
};

// A static partition attached (and mounted read-only on the host) for as
// long as the object lives; the library detaches it again.
class AttachedPartition {
public:
    AttachedPartition(secureKaver& kaver, const std::string& label, Problem& failure);
    ~AttachedPartition();
    bool ok() const { return attached_; }
    // Detaches now; false with a failure when that did not work.
    bool detach(Problem& failure);

    // The host path of a path on the partition.
    std::string hostPath(const std::string& path) const;
    // A path's kind on the partition ("missing" when it is not there).
    std::string kindOf(const std::string& path) const;
    long long sizeOf(const std::string& path) const;
    // The entries of a folder (or the one entry a file is), sorted by name.
    bool list(const std::string& path, std::vector<Entry>& entries, std::string& why) const;
    // At most maxBytes of a file on the partition; false when it cannot be
    // opened.
    bool readFile(const std::string& path, std::string& text, std::size_t maxBytes) const;
    // Free bytes of the mounted file system, as `df -P -B1` reports them;
    // false when the host did not tell.
    bool freeSpace(uint64_t& bytes) const;

private:
    secureKaver& kaver_;
    std::string label_;
    std::string mountDir_;
    bool attached_ = false;
};

Json jsonEntries(const std::vector<Entry>& entries);
void printEntries(const std::vector<Entry>& entries, const std::string& indent = "");

}  // namespace zemt_tool

#endif
