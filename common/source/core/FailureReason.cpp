// SPDX-License-Identifier: Apache-2.0
// The process-wide failure reason and its exported accessor.
#include "core/FailureReason.h"

#include <sys/wait.h>

#include "internal/hexDump.h"
#include "zemt_error.h"

namespace {
// Process-wide, like the library's other state; made on first use so that
// a static destructor elsewhere may still record.
std::string& reason() {
    static std::string* text = new std::string();
    return *text;
}

// One line of text whatever names it holds: a NUL would end the text early
// for a C caller, a newline would start another line.
std::string oneLine(const std::string& text) { return escapedText(text, true); }
}  // namespace

namespace failure {

void clear() { reason().clear(); }

void record(const std::string& why) { reason() = oneLine(why); }

void prefix(const std::string& context) {
    std::string& text = reason();
    text = text.empty() ? oneLine(context) : oneLine(context) + ": " + text;
}

const std::string& text() { return reason(); }

Keep::~Keep() { reason() = saved_; }

std::string commandStatus(int status) {
    if (status == -1) return "could not be run";
    if (WIFEXITED(status)) return "exited " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return "was killed by signal " + std::to_string(WTERMSIG(status));
    return "ended with status " + std::to_string(status);
}

}  // namespace failure

const char* zemtLastFailureReason(void) { return failure::text().c_str(); }
