// The library calls and catalogue readings several commands share.
#include <cstdio>
#include <iostream>

#include "Json.h"
#include "Tool.h"
#include "kaverPartInfo.h"
#include "secureKaver.h"

namespace zemt_tool {

namespace {
const uint16_t kQuerySessionTimeout = 60;

const char* formatName(partFormat format) {
    switch (format) {
        case FAT32: return "FAT32";
        case FAT16: return "FAT16";
        case Ext2: return "ext2";
        case UnknownPart: return "unknown";
        default: return "invalid";
    }
}
}  // namespace

bool openSession(secureKaver& kaver) {
    return kaver.BeginKaverSessionExtended(kQuerySessionTimeout) ||
           kaver.BeginKaverSession(kQuerySessionTimeout);
}

std::vector<PartitionRow> reportedPartitions() {
    std::vector<PartitionRow> rows;
    for (int id = 1; id < MaxPartInfoEntry; ++id) {
        const spartInfo& row = kaverPartInfo[id];
        if (!row.i_present) continue;
        rows.push_back(PartitionRow{static_cast<unsigned>(id), row.i_volumeLabel, row.i_image_name,
                                    row.i_bitmap, row.i_mbSize, formatName(row.i_partFormat)});
    }
    return rows;
}

void printPartitionsText(const std::vector<PartitionRow>& rows, const char* indent) {
    char line[256];
    std::snprintf(line, sizeof line, "%s%-4s %-7s %-6s %9s  %-7s %s\n", indent, "ID", "LABEL", "BIT",
                  "SIZE(MiB)", "FORMAT", "IMAGE");
    std::cout << line;
    for (const PartitionRow& r : rows) {
        std::snprintf(line, sizeof line, "%s%-4u %-7s %-6s %9u  %-7s %s\n", indent, r.id, r.label.c_str(),
                      hex16(r.bit).c_str(), r.sizeMiB, r.format.c_str(), r.image.c_str());
        std::cout << line;
    }
}

void jsonPartitions(JsonWriter& j, const std::vector<PartitionRow>& rows) {
    j.BeginArray();
    for (const PartitionRow& r : rows) {
        j.BeginObject();
        j.Key("id");
        j.Number(r.id);
        j.Key("label");
        j.String(r.label);
        j.Key("image");
        j.String(r.image);
        j.Key("bit");
        j.Number(r.bit);
        j.Key("bitHex");
        j.String(hex16(r.bit));
        j.Key("sizeMiB");
        j.Number(r.sizeMiB);
        j.Key("format");
        j.String(r.format);
        j.EndObject();
    }
    j.EndArray();
}

bool startLibrary(secureKaver& kaver, std::string& failure, unsigned& code) {
    if (!kaver.InitOk) {
        code = kaver.getZEMTError();
        failure = "the library could not start";
        return false;
    }
    progress("initialising (this can take a while)…");
    if (!kaver.secureKaverInit()) {
        code = kaver.getZEMTError();
        failure = "initialisation failed";
        return false;
    }
    return true;
}

Args takeJsonFlag(const Args& args, bool& json) {
    Args words;
    json = false;
    for (const std::string& arg : args) {
        if (arg == "--json")
            json = true;
        else
            words.push_back(arg);
    }
    return words;
}

}  // namespace zemt_tool
