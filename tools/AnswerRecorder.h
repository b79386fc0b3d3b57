/* SPDX-License-Identifier: Apache-2.0 */
// Keeps a copy of the answer document the library reads from the drop box
// (output.xml), so that the tool can show why a dependency check passed:
// the library hands the answer back only when the check fails (and the
// update entry points never).  Every other host call passes on unchanged.
#ifndef ZEMT_TOOLS_ANSWERRECORDER_H
#define ZEMT_TOOLS_ANSWERRECORDER_H

#include <string>

#include "HostRelay.h"

namespace zemt_tool {

class AnswerRecorder : public HostRelay {
public:
    // The last answer document read (at most 4 MiB of it).
    const std::string& Answer() const { return m_answer; }

    FILE* OpenHostFile(const std::string& path, const char* mode) override;

private:
    std::string m_answer;
};

}  // namespace zemt_tool

#endif
