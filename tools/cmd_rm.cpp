// zemt rm LABEL/path: deletes a stored file from a static partition with a
// one-entry copy list (a filedelete) handed to the controller.
#include <iostream>
#include <string>

#include "Json.h"
#include "Tool.h"
#include "secureKaver.h"

namespace zemt_tool {

int cmdRm(const Args& args) {
    bool json = false;
    Args words = takeJsonFlag(args, json);
    if (words.size() != 1) return usageError("rm wants one LABEL/path");
    std::string label, path, why;
    if (!splitTarget(words[0], label, path, why)) return usageError("rm: " + why);
    if (path.empty()) return usageError("rm: name a path on the partition, not the whole partition");
    const std::string folder = folderOf(label);

    secureKaver kaver;
    std::string failure;
    unsigned code = 0;
    startLibrary(kaver, failure, code);
    if (failure.empty() && !kaver.StartCopyFile()) {
        code = kaver.getZEMTError();
        failure = "the copy list could not be opened";
    }
    if (failure.empty() && !kaver.DeleteKaverFile(folder + "/" + path)) {
        code = kaver.getZEMTError();
        failure = "the deletion could not be listed";
    }
    if (failure.empty()) {
        progress("deleting " + label + "/" + path + " (this can take a while)…");
        if (!kaver.CompleteCopyFile()) {
            code = kaver.getZEMTError();
            failure = "deleting failed";
        }
        kaver.EndCopyFile();
    }

    if (json) {
        JsonWriter j;
        j.BeginObject();
        j.Key("ok");
        j.Bool(failure.empty());
        j.Key("path");
        j.String(label + "/" + path);
        printJsonResult(j, code, failure);
    } else if (failure.empty()) {
        std::cout << "deleted " << label << "/" << path << "\n";
    }
    return exitStatus("rm", failure, code);
}

}  // namespace zemt_tool
