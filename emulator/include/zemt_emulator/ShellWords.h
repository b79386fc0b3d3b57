/* SPDX-License-Identifier: Apache-2.0 */
// A small shell-command parser for the emulated host.  It understands the
// command lines the library writes (words, quotes, backslashes, pipes, the
// list operators ; && || &, and redirections such as "> /dev/null 2>&1") and
// nothing more: no expansions of any kind.  '$', '`' and glob characters stay
// literal in the words, so nothing a command line holds is ever evaluated.
#ifndef ZEMT_EMULATOR_SHELLWORDS_H
#define ZEMT_EMULATOR_SHELLWORDS_H

#include <string>
#include <vector>

namespace zemt_emu {

struct ShellToken {
    enum Kind { kWord, kOperator };
    Kind kind;
    std::string text;
    bool quoted;  // some part of the word was quoted or escaped
};

// False (with a reason) on an unterminated quote or a trailing backslash.
bool SplitShellWords(const std::string& line, std::vector<ShellToken>& tokens, std::string& error);

struct Redirection {
    int fd;              // 1 or 2
    bool append;         // >>
    bool toFd;           // 2>&1 / 1>&2
    int targetFd;        // with toFd
    std::string target;  // file name otherwise
};

struct SimpleCommand {
    std::vector<std::string> argv;
    std::vector<Redirection> redirections;
};

struct Pipeline {
    std::vector<SimpleCommand> stages;
    // How the next pipeline of the list runs: ";", "&&", "||", "&" or "" (last).
    std::string separator;
};

// Parses a whole command line into a list of pipelines.
bool ParseCommandLine(const std::string& line, std::vector<Pipeline>& list, std::string& error);

}  // namespace zemt_emu

#endif
