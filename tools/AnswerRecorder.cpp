// SPDX-License-Identifier: Apache-2.0
// Which host files are the controller's answer, and the copy kept of it.
#include "AnswerRecorder.h"

#include <cstdio>
#include <vector>

#include "zemt.h"

namespace zemt_tool {

namespace {
// What the library itself reads of an answer at most.
const std::size_t kAnswerLimit = 4 * 1048576;

bool isAnswer(const std::string& path) {
    const std::string name = curInvFileName != nullptr ? curInvFileName : "output.xml";
    return path.size() >= name.size() && path.compare(path.size() - name.size(), name.size(), name) == 0 &&
           (path.size() == name.size() || path[path.size() - name.size() - 1] == '/');
}
}  // namespace

FILE* AnswerRecorder::OpenHostFile(const std::string& path, const char* mode) {
    FILE* file = m_inner->OpenHostFile(path, mode);
    if (file == nullptr || !isAnswer(path) || std::string(mode) != "rb") return file;
    // Read a copy, then hand the file back at its start.
    std::vector<char> bytes(kAnswerLimit);
    std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
    m_answer.assign(bytes.data(), got);
    std::rewind(file);
    return file;
}

}  // namespace zemt_tool
