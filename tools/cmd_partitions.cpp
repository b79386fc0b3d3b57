// zemt partitions: the static partitions the controller reported during
// initialisation, with the sizes it reports (and the catalogue's beside
// them where the two differ).
#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "Partitions.h"
#include "Tool.h"
#include "secureKaver.h"

namespace zemt_tool {

void addPartitionsCommand(CLI::App& root, CommandTable& table) {
    addCommand(root, table,
               {"partitions", "the repository partitions the controller reports, with bits and sizes",
                "SIZE is what the controller reports for each partition; where the library's catalogue gives\n"
                "another size, it is shown beside it (in JSON: sizeBytes, sizeMiB and catalogueMiB).",
                "zemt --emulator /tmp/ctl partitions\nzemt --emulator /tmp/ctl partitions --json", true},
               []() {
                   Problem failure;
                   std::vector<PartitionRow> rows;
                   if (prepareHost(failure)) {
                       secureKaver kaver;
                       if (startLibrary(kaver, failure)) rows = reportedPartitions(kaver);
                   }
                   return report(Json{{"partitions", jsonPartitions(rows)}}, failure, [&]() {
                       if (!failure.failed()) printPartitionsText(rows, "");
                   });
               });
}

}  // namespace zemt_tool
