// SPDX-License-Identifier: Apache-2.0
// The process-wide failure reason and its exported accessor.
#include "core/FailureReason.h"

#include <sys/wait.h>

#include <cstring>

#include "internal/hexDump.h"
#include "zemt_error.h"

namespace {
// Process-wide, like the library's other state, and held in a fixed buffer:
// it has no destructor that a static destructor elsewhere could outlive,
// and a program that unloads the library leaves no heap block behind.
char g_reason[4096];

// A text too long for the buffer loses its middle: the context is in front
// and the cause (an error text, an exit status) at the end.
void store(const std::string& text) {
    const std::size_t room = sizeof g_reason - 1;
    std::string kept = text;
    if (kept.size() > room) {
        const std::size_t head = (room - 3) / 2;
        kept = text.substr(0, head) + "..." + text.substr(text.size() - (room - 3 - head));
    }
    std::memcpy(g_reason, kept.data(), kept.size());
    g_reason[kept.size()] = '\0';
}

// One line of text whatever names it holds: a NUL would end the text early
// for a C caller, a newline would start another line.
std::string oneLine(const std::string& text) { return escapedText(text, true); }
}  // namespace

namespace failure {

void clear() { g_reason[0] = '\0'; }

void record(const std::string& why) { store(oneLine(why)); }

void prefix(const std::string& context) {
    store(g_reason[0] == '\0' ? oneLine(context) : oneLine(context) + ": " + g_reason);
}

std::string text() { return g_reason; }

Keep::~Keep() { store(saved_); }

std::string commandStatus(int status) {
    if (status == -1) return "could not be run";
    if (WIFEXITED(status)) return "exited " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return "was killed by signal " + std::to_string(WTERMSIG(status));
    return "ended with status " + std::to_string(status);
}

}  // namespace failure

const char* zemtLastFailureReason(void) { return g_reason; }
