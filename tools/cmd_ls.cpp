// zemt ls LABEL[/PATH]: attach a static partition, list a folder of it with
// sizes through the host seam, and detach it again.
#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "Partitions.h"
#include "Tool.h"
#include "secureKaver.h"

namespace zemt_tool {

void addLsCommand(CLI::App& root, CommandTable& table) {
    static std::string where;
    CLI::App* ls = addCommand(
        root, table,
        {"ls", "list a folder (or a file) of a static partition, with sizes",
         "Attaches static partition LABEL (KAV001 to KAV256), mounts it read-only on the host, lists PATH\n"
         "on it and detaches it again.  Sizes are in bytes; '-' for a folder.",
         "zemt --emulator /tmp/ctl ls KAV022\nzemt --emulator /tmp/ctl ls KAV022/fw --json", true},
        []() {
            Target target;
            std::string why;
            if (!parseTarget(where, target, why)) return usageError(why);
            Problem failure;
            std::vector<Entry> entries;
            bool attached = false, detached = false;
            if (prepareHost(failure)) {
                secureKaver kaver;
                if (startLibrary(kaver, failure)) {
                    AttachedPartition partition(kaver, target.label, failure);
                    attached = partition.ok();
                    if (attached && !partition.list(target.path, entries, why))
                        failure.message = target.shown() + ": " + why;
                    detached = attached && partition.detach(failure);
                }
            }
            Json fields{{"label", target.label},
                        {"path", "/" + target.path},
                        {"attached", attached},
                        {"detached", detached},
                        {"entries", jsonEntries(entries)}};
            return report(fields, failure, [&]() { printEntries(entries); });
        });
    ls->add_option("LABEL[/PATH]", where, "a static partition, and a path on it")->required();
}

}  // namespace zemt_tool
