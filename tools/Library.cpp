// The library calls several commands share: sessions, the full
// initialisation, and the static partitions the controller reports.
#include <cstdio>
#include <cstring>
#include <iostream>

#include "Partitions.h"
#include "Tool.h"
#include "kaverPartInfo.h"
#include "secureKaver.h"

namespace zemt_tool {

namespace {
const uint16_t kQuerySessionTimeout = 60;
const uint8_t kGetPartitionInfo = 4;
const uint64_t kChunkBytes = 32768;

const char* formatName(partFormat format) {
    switch (format) {
        case FAT32: return "FAT32";
        case FAT16: return "FAT16";
        case Ext2: return "ext2";
        case UnknownPart: return "unknown";
        default: return "invalid";
    }
}

// The size the controller reports for the static partition on `bit`:
// bytes 5-6 of its partition-info answer, in 32 KiB units, least
// significant byte first (as drop-box sizes travel).  The library does not
// keep it, so the tool asks once more in the open session.
bool askReportedSize(secureKaver& kaver, uint16_t bit, uint64_t& bytes) {
    unsigned n = 0;
    while (n < 16 && bit != (1u << n)) ++n;
    std::memset(&IPMIReqBuf, 0, sizeof IPMIReqBuf);
    uint8_t* buffer = IPMIReqBuf.Parameters.IRREx.ReqRspBuffer;
    buffer[3] = static_cast<uint8_t>(kaver.thisSession.KAVER_Handle & 0xFF);
    buffer[4] = static_cast<uint8_t>(kaver.thisSession.KAVER_Handle >> 8);
    buffer[5] = staticPartType;
    buffer[6] = static_cast<uint8_t>(n);
    if (n >= 16 || kaver.IPMIRequest(kGetPartitionInfo, &IPMIReqBuf, GETPARTINFO_REQLEN, GETPARTINFO_RSPLEN) != 0)
        return false;
    bytes = (static_cast<uint64_t>(buffer[5]) | static_cast<uint64_t>(buffer[6]) << 8) * kChunkBytes;
    return true;
}

std::string mib(uint64_t bytes) {
    char text[32];
    if (bytes % 1048576 == 0)
        std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(bytes / 1048576));
    else
        std::snprintf(text, sizeof text, "%.2f", static_cast<double>(bytes) / 1048576.0);
    return text;
}

}  // namespace

bool openSession(secureKaver& kaver) {
    return kaver.BeginKaverSessionExtended(kQuerySessionTimeout) || kaver.BeginKaverSession(kQuerySessionTimeout);
}

std::string whyNoRepository(secureKaver& kaver) {
    kaver.storeErrorInfo(0);
    kaverSupport_t again = kaver.GetKaverType();
    if (kaver.getZEMTError() != 0)
        return "the controller did not answer the repository query; whether it has a repository is not known";
    if (again == noKaverPresent) return "the controller has no repository";
    return std::string("the repository query failed during initialisation (asked again, the controller reports a ") +
           repositoryName(again) + " repository: try once more)";
}

bool startLibrary(secureKaver& kaver, Problem& failure) {
    if (!kaver.InitOk) {
        failure.set("the library could not start", kaver.getZEMTError());
        return false;
    }
    progress("initialising (this can take a while)…");
    if (!kaver.secureKaverInit()) {
        unsigned code = kaver.getZEMTError();
        failure.set(code == ZEMT_NOKAVERPRESENT ? "initialisation failed: " + whyNoRepository(kaver)
                                                : "initialisation failed",
                    code);
        return false;
    }
    return true;
}

std::vector<PartitionRow> reportedPartitions(secureKaver& kaver) {
    std::vector<PartitionRow> rows;
    for (int id = 1; id < MaxPartInfoEntry; ++id) {
        const spartInfo& row = kaverPartInfo[id];
        if (!row.i_present) continue;
        PartitionRow r{static_cast<unsigned>(id), row.i_volumeLabel, row.i_image_name, row.i_bitmap,
                       row.i_mbSize, false, 0, formatName(row.i_partFormat)};
        r.reportedKnown = askReportedSize(kaver, row.i_bitmap, r.reportedBytes);
        rows.push_back(r);
    }
    kaver.storeErrorInfo(0);  // a size the controller did not give is shown as unknown
    return rows;
}

void printPartitionsText(const std::vector<PartitionRow>& rows, const char* indent) {
    char line[320];
    std::snprintf(line, sizeof line, "%s%-4s %-7s %-6s %9s  %-7s %s\n", indent, "ID", "LABEL", "BIT", "SIZE(MiB)",
                  "FORMAT", "IMAGE");
    std::cout << line;
    for (const PartitionRow& r : rows) {
        std::string size = r.reportedKnown ? mib(r.reportedBytes) : "?";
        std::string catalogue = r.catalogueMiB == 0 ? "a reserved row without a size"
                                                    : std::to_string(r.catalogueMiB) + " MiB";
        std::string note;
        if (!r.reportedKnown)
            note = "  (size not reported; catalogue: " + catalogue + ")";
        else if (r.reportedBytes != static_cast<uint64_t>(r.catalogueMiB) * 1048576)
            note = "  (catalogue: " + catalogue + ")";
        std::snprintf(line, sizeof line, "%s%-4u %-7s %-6s %9s  %-7s %s%s\n", indent, r.id, r.label.c_str(),
                      hex16(r.bit).c_str(), size.c_str(), r.format.c_str(), r.image.c_str(), note.c_str());
        std::cout << line;
    }
}

Json jsonPartitions(const std::vector<PartitionRow>& rows) {
    Json list = Json::array();
    for (const PartitionRow& r : rows) {
        Json row;
        row["id"] = r.id;
        row["label"] = r.label;
        row["image"] = r.image;
        row["bit"] = r.bit;
        row["bitHex"] = hex16(r.bit);
        // What the controller reports; null when it did not answer.
        row["sizeBytes"] = r.reportedKnown ? Json(r.reportedBytes) : Json(nullptr);
        row["sizeMiB"] = r.reportedKnown ? Json(static_cast<double>(r.reportedBytes) / 1048576.0) : Json(nullptr);
        row["catalogueMiB"] = r.catalogueMiB;
        row["format"] = r.format;
        list.push_back(row);
    }
    return list;
}

}  // namespace zemt_tool
