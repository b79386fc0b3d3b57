// The files `zemt stage` copies: where each comes from and where it goes,
// and the checks that need no controller (readable sources, names FAT can
// hold, no two files on one name).
#ifndef ZEMT_TOOLS_SOURCES_H
#define ZEMT_TOOLS_SOURCES_H

#include <string>
#include <vector>

#include "Partitions.h"
#include "Tool.h"

namespace zemt_tool {

struct Item {
    std::string source;       // absolute host path
    std::string destination;  // "kav022/dir/name": the copy list's spelling
    std::string onPartition;  // "dir/name": the path on the partition
    long long bytes = 0;
    std::string md5;          // as the library computed it
};

// Files named directly keep their base name; a folder's files keep their
// path below the folder's name.  A missing or unreadable source, or one
// that is neither a file nor a folder, is a failure.
void collectSources(const std::vector<std::string>& sources, const Target& target, std::vector<Item>& items,
                    Problem& failure);
// Every name on the way must be one a vfat mount takes, and no two files
// may land on one name (vfat compares ASCII letters without case).
void checkNames(const std::vector<Item>& items, Problem& failure);

}  // namespace zemt_tool

#endif
