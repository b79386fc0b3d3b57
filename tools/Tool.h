/* SPDX-License-Identifier: Apache-2.0 */
// What the zemt commands share: exit statuses, the global options, how a
// failure is reported (in words, with the library's code and the recorded
// reason), JSON output, and how a command is added to the command line.
#ifndef ZEMT_TOOLS_TOOL_H
#define ZEMT_TOOLS_TOOL_H

#include <stdint.h>

#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace CLI {
class App;
}
class secureKaver;
struct copyProgress;

namespace zemt_tool {

const int kExitOk = 0;
const int kExitFailed = 1;
const int kExitUsage = 2;
// depcheck only: the check could not be made (the exchange failed, or the
// controller cannot check).
const int kExitNoCheck = 3;
// update only: the package's dependencies are not met, nothing was changed.
const int kExitDependencies = 4;

// Keys keep the order they were written in, so documents read well.
typedef nlohmann::ordered_json Json;

// The options that go before or after any command.
struct Globals {
    bool json = false;
    std::string emulatorDir;  // empty: the real controller and host
    // Everything after the first "--": the program 'emulator exec' runs.
    bool separator = false;
    std::vector<std::string> afterSeparator;
};
Globals& globals();

// A failure as the tool reports it (not called Failure: that name is the
// library's "no generation" value).
struct Problem {
    std::string message;  // what failed, in words
    unsigned code = 0;    // the library's code, 0 when it gave none
    std::string reason;   // what the library or the emulator recorded

    bool failed() const { return !message.empty(); }
    // Takes the library's code and the recorded reason along with `what`.
    void set(const std::string& what, unsigned libraryCode);
};

// ---- the command line ------------------------------------------------------------
// A command's body: runs after the whole command line was parsed.
typedef std::function<int()> CommandBody;
typedef std::map<const CLI::App*, CommandBody> CommandTable;

struct CommandHelp {
    const char* name;
    const char* summary;     // one line, shown in the command list
    const char* details;     // more text for the command's own --help (may be null)
    const char* examples;    // "zemt ...\nzemt ..." (may be null)
    bool changesRealHost;    // without --emulator it works on the real host
};
// Adds a command under `parent` with its help text and body.
CLI::App* addCommand(CLI::App& parent, CommandTable& table, const CommandHelp& help, CommandBody body);

// A usage error: one line on stderr naming the problem and the command's
// --help (and with --json a document on stdout); returns kExitUsage.
int usageError(const std::string& message);
// The command being run, "emulator init" for example ("" before one is known).
void setCommandPath(const std::string& path);
const std::string& commandPath();

// ---- reporting ---------------------------------------------------------------------
// {"ok":..., FIELDS..., "error": null | {...}} on stdout.
void printJson(const Json& fields, const Problem& failure);
Json jsonError(const Problem& failure);
// With a failure: "zemt: COMMAND: MESSAGE" and what the code and the reason
// say on stderr; returns `status`, or kExitOk without a failure.
int finish(const Problem& failure, int status = kExitFailed);
// Prints the document (with --json) or calls `text` (without), then
// finish().
int report(const Json& fields, const Problem& failure, const std::function<void()>& text,
           int status = kExitFailed);

// Names and meanings of the library's codes.
const char* errorName(unsigned code);
std::string errorMeaning(unsigned code);
std::string errorText(unsigned code);  // "19 (ZEMT_INVPARTNAME)"
const char* osName(int code);
const char* generationName(int generation);
const char* repositoryName(int kind);
const char* flagName(unsigned value);
std::string hex16(unsigned value);     // "0x0004"
// {"code": N, "name": NAME}
Json namedCode(long long code, const char* name);

// Progress of the slow steps: a line on stderr, flushed at once, so that
// --json output on stdout stays one document.
void progress(const std::string& line);
// A copy-progress handler (setCopyProgressHandler): one progress line per
// pass the controller accepted, and `afterLast` once every entry is done.
struct PassWords {
    const char* entries;    // what the copy-list entries are called: "file(s)"
    const char* afterLast;  // "verifying the copies…"
};
void reportCopyPass(const copyProgress* pass, void* passWords);
// Lines of columns two blanks apart, the titles first (every row has a
// cell per title).
void printRows(const std::vector<std::string>& titles, const std::vector<std::vector<std::string>>& rows,
               const std::string& indent = "");

// ---- the host and the library ------------------------------------------------------
// Installs the emulated host when --emulator was given (before the first
// library object); false with a failure when the state directory is not
// usable.  Commands that change directory do so first.
bool prepareHost(Problem& failure);
// The reason the library or the emulator recorded for the last failure of
// this run ("" when there is none).
std::string recordedReason();

// Extended session first, the plain one as fallback; a short watchdog.
bool openSession(secureKaver& kaver);
// Checks that the library started and runs its full initialisation (with a
// progress line); false with a failure otherwise.
bool startLibrary(secureKaver& kaver, Problem& failure);
// After the initialisation found no repository: whether the controller
// said so or its query failed (it is asked once more to tell).
std::string whyNoRepository(secureKaver& kaver);

// A user's path as an absolute one, so that it survives a change of directory.
std::string absolutePath(const std::string& path);
// Makes a package's folder (or, for "", the working directory) the working
// directory, as the library reads ./package.xml and runs ./getSystemId
// there; with `needDescriptor`, package.xml must be in it.  Before
// prepareHost.
bool enterPackageFolder(const std::string& dir, bool needDescriptor, Problem& failure);

// `zemt --version`: the tool's, the library's and (with --emulator) the
// emulator's versions.
int printVersion();

// ---- commands --------------------------------------------------------------------
void addInfoCommand(CLI::App& root, CommandTable& table);
void addFlagCommand(CLI::App& root, CommandTable& table);
void addInitCommand(CLI::App& root, CommandTable& table);
void addPartitionsCommand(CLI::App& root, CommandTable& table);
void addLsCommand(CLI::App& root, CommandTable& table);
void addStageCommand(CLI::App& root, CommandTable& table);
void addRmCommand(CLI::App& root, CommandTable& table);
void addInventoryCommand(CLI::App& root, CommandTable& table);
void addDepcheckCommand(CLI::App& root, CommandTable& table);
void addPackageCommand(CLI::App& root, CommandTable& table);
void addUpdateCommand(CLI::App& root, CommandTable& table);
void addVersionsCommand(CLI::App& root, CommandTable& table);
void addEmulatorCommand(CLI::App& root, CommandTable& table);

}  // namespace zemt_tool

#endif
