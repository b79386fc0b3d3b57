// SPDX-License-Identifier: Apache-2.0
// Fuzz target: arbitrary bytes as the answer document (output.xml) the
// controller leaves in the drop box, read with the library's bound and
// judged as a dependency check's answer.  The text read is the file up to
// its first NUL; a pass needs the status text, and what a failure hands
// back is the end of the answer.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "inventory/AnswerFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::string path;
    if (path.empty()) {
        // A file in memory where there is one: a disk write per input
        // would slow the run a hundredfold.
        std::string name = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/zemt-fuzz-answer-XXXXXX";
        const int fd = mkstemp(&name[0]);
        if (fd < 0) std::abort();
        close(fd);
        path = name;
        std::atexit([] { std::remove(path.c_str()); });
    }
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr || std::fwrite(data, 1, size, out) != size || std::fclose(out) != 0) std::abort();

    std::string text;
    if (answerfile::read(path, text) != answerfile::Read) std::abort();
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    if (text != bytes.substr(0, bytes.find('\0'))) std::abort();

    std::string reported;
    switch (answerfile::judgeDependencies(text, reported)) {
        case answerfile::Passed:
            if (text.find("<status>0</status>") == std::string::npos) std::abort();
            break;
        case answerfile::Failed:
            if (reported.size() >= text.size() || text.compare(text.size() - reported.size(), reported.size(), reported) != 0)
                std::abort();
            break;
        case answerfile::Empty:
            if (!text.empty()) std::abort();
            break;
    }
    return 0;
}
