// What the zemt commands share: exit codes, usage errors, the names of the
// library's codes, and the one way to open a query session.
#ifndef ZEMT_TOOLS_TOOL_H
#define ZEMT_TOOLS_TOOL_H

#include <stdint.h>

#include <string>
#include <vector>

class secureKaver;
class JsonWriter;

namespace zemt_tool {

const int kExitOk = 0;
const int kExitFailed = 1;
const int kExitUsage = 2;

typedef std::vector<std::string> Args;

// Prints "zemt: MESSAGE", a blank line and the general usage to stderr.
int usageError(const std::string& message);

// Names of the library's codes, for text and JSON output.
const char* errorName(unsigned code);
const char* osName(int code);
const char* generationName(int generation);
const char* repositoryName(int kind);
const char* flagName(unsigned value);
std::string errorText(unsigned code);  // "19 (ZEMT_INVPARTNAME)"
std::string hex16(unsigned value);     // "0x0004"

// {"code": N, "name": NAME}: a number with the name the tool gives it.
void jsonNamedCode(JsonWriter& j, long long code, const char* name);
// {"code": N, "name": "ZEMT_...", "message": ...}; code and name are null
// for a failure without a library code.
void jsonError(JsonWriter& j, unsigned code, const std::string& message = "");

// Extended session first, the plain one as fallback; a short watchdog.
bool openSession(secureKaver& kaver);
// Checks that the library started and runs its full initialisation (with a
// progress line); on failure sets `failure` and `code` and returns false.
bool startLibrary(secureKaver& kaver, std::string& failure, unsigned& code);
// Takes "--json" out of the arguments and returns the other words.
Args takeJsonFlag(const Args& args, bool& json);
// kExitOk when `failure` is empty; otherwise prints "zemt: COMMAND:
// FAILURE[, error CODE]" to stderr and returns kExitFailed.
int exitStatus(const char* command, const std::string& failure, unsigned code);
// A partition label as the controller's folder names spell it ("kav022").
std::string folderOf(const std::string& label);
// Closes a command's JSON object, adding "error" when `failure` is set, and
// prints it.
void printJsonResult(JsonWriter& j, unsigned code, const std::string& failure);

// A static partition the controller reported, as the catalogue now has it.
struct PartitionRow {
    unsigned id;
    std::string label;
    std::string image;
    unsigned bit;
    unsigned sizeMiB;
    std::string format;
};
// Catalogue rows 1..256 marked present (after secureKaverInit), by id.
std::vector<PartitionRow> reportedPartitions();
void printPartitionsText(const std::vector<PartitionRow>& rows, const char* indent);
void jsonPartitions(JsonWriter& j, const std::vector<PartitionRow>& rows);

// Progress for the long waits: a line on stderr, flushed at once so that it
// is seen before the call it announces returns.  Kept off stdout so that
// --json output stays one document.
void progress(const std::string& line);

// Splits "LABEL/a/./b/" into a static partition label (KAV001..KAV256)
// and "a/b"; ".." is refused.
bool splitTarget(const std::string& target, std::string& label, std::string& path, std::string& why);

// The commands.  Each gets the words after its name.
int cmdInfo(const Args& args);
int cmdFlag(const Args& args);
int cmdInit(const Args& args);
int cmdPartitions(const Args& args);
int cmdLs(const Args& args);
int cmdEmulator(const Args& args);
int cmdStage(const Args& args);
int cmdRm(const Args& args);

extern const char* const kUsage;
extern const char* const kEmulatorUsage;

}  // namespace zemt_tool

#endif
