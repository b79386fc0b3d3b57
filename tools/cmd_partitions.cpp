// zemt partitions: the catalogue rows of the static partitions the
// controller reported during initialisation.
#include <iostream>
#include <string>
#include <vector>

#include "Json.h"
#include "Tool.h"
#include "secureKaver.h"

namespace zemt_tool {

int cmdPartitions(const Args& args) {
    bool json = false;
    Args words = takeJsonFlag(args, json);
    if (!words.empty()) return usageError("partitions: unexpected argument '" + words[0] + "'");

    secureKaver kaver;
    std::string failure;
    unsigned code = 0;
    startLibrary(kaver, failure, code);
    std::vector<PartitionRow> rows;
    if (failure.empty()) rows = reportedPartitions();

    if (json) {
        JsonWriter j;
        j.BeginObject();
        j.Key("ok");
        j.Bool(failure.empty());
        if (failure.empty()) {
            j.Key("partitions");
            jsonPartitions(j, rows);
        } else {
            j.Key("error");
            jsonError(j, code, failure);
        }
        j.EndObject();
        std::cout << j.Text() << "\n";
    } else if (failure.empty()) {
        printPartitionsText(rows, "");
    }
    return exitStatus("partitions", failure, code);
}

}  // namespace zemt_tool
