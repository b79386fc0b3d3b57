/* SPDX-License-Identifier: Apache-2.0 */
// Why the last operation failed, in words.  The failure is recorded where
// it happens (a command and its exit status, a file that cannot be opened
// or written, a request the controller refused) and each caller on the way
// up puts its context in front: "pass #2: copying fw.bin to KAV022/fw/fw.bin:
// /bin/cp exited 1".  It is extra to the error codes and log lines, never
// instead of them; zemtLastFailureReason() reads it.
#ifndef ZEMT_CORE_FAILURE_REASON_H
#define ZEMT_CORE_FAILURE_REASON_H

#include <string>

namespace failure {

// Forgets the reason; each public operation that records one starts here.
void clear();
// Records why something failed, replacing an earlier reason.
void record(const std::string& why);
// Puts "context: " in front of the reason (the context alone when there
// is none yet).
void prefix(const std::string& context);
// The reason; one longer than 4,095 bytes keeps its start and its end.
std::string text();

// A system() status in words: "exited 1", "was killed by signal 9", "could
// not be run".
std::string commandStatus(int status);

// Keeps the reason of a failure while its clean-up runs: what the clean-up
// itself fails at is logged as before but does not replace the cause.
class Keep {
public:
    Keep() : saved_(text()) {}
    ~Keep();
    Keep(const Keep&) = delete;
    Keep& operator=(const Keep&) = delete;

private:
    std::string saved_;
};

}  // namespace failure

#endif
