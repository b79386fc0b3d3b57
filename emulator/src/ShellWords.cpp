// SPDX-License-Identifier: Apache-2.0
#include "zemt_emulator/ShellWords.h"

#include <cctype>

namespace zemt_emu {
namespace {

bool isOperatorChar(char c) { return c == '|' || c == '&' || c == ';' || c == '>' || c == '<'; }

// Longest operator starting at text[i]; empty when there is none.
std::string operatorAt(const std::string& text, std::size_t i) {
    static const char* const operators[] = {"2>&1", "1>&2", "&>>", "2>>", "&&", "||", ">>", "&>",
                                            ">&",   "2>",   "1>",  "|",   "&",  ";",  ">",  "<"};
    for (const char* op : operators) {
        std::string candidate(op);
        if (text.compare(i, candidate.size(), candidate) == 0) return candidate;
    }
    return "";
}

}  // namespace

bool SplitShellWords(const std::string& line, std::vector<ShellToken>& tokens, std::string& error) {
    tokens.clear();
    error.clear();
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (i < n) {
        char c = line[i];
        if (c == ' ' || c == '\t' || c == '\n') {
            ++i;
            continue;
        }
        // A digit directly followed by '>' is a file-descriptor redirection.
        bool fdRedirect = (c == '1' || c == '2') && i + 1 < n && line[i + 1] == '>';
        if (isOperatorChar(c) || fdRedirect) {
            std::string op = operatorAt(line, i);
            if (!op.empty()) {
                tokens.push_back(ShellToken{ShellToken::kOperator, op, false});
                i += op.size();
                continue;
            }
        }
        ShellToken word{ShellToken::kWord, "", false};
        while (i < n) {
            c = line[i];
            if (c == ' ' || c == '\t' || c == '\n' || isOperatorChar(c)) break;
            if (c == '\\') {
                if (i + 1 >= n) {
                    error = "trailing backslash";
                    return false;
                }
                word.text += line[i + 1];
                word.quoted = true;
                i += 2;
            } else if (c == '\'') {
                std::size_t close = line.find('\'', i + 1);
                if (close == std::string::npos) {
                    error = "unterminated single quote";
                    return false;
                }
                word.text += line.substr(i + 1, close - i - 1);
                word.quoted = true;
                i = close + 1;
            } else if (c == '"') {
                ++i;
                bool closed = false;
                while (i < n) {
                    c = line[i];
                    if (c == '"') {
                        closed = true;
                        ++i;
                        break;
                    }
                    if (c == '\\' && i + 1 < n &&
                        (line[i + 1] == '"' || line[i + 1] == '\\' || line[i + 1] == '$' ||
                         line[i + 1] == '`')) {
                        word.text += line[i + 1];
                        i += 2;
                        continue;
                    }
                    word.text += c;
                    ++i;
                }
                if (!closed) {
                    error = "unterminated double quote";
                    return false;
                }
                word.quoted = true;
            } else {
                word.text += c;
                ++i;
            }
        }
        tokens.push_back(word);
    }
    return true;
}

bool ParseCommandLine(const std::string& line, std::vector<Pipeline>& list, std::string& error) {
    list.clear();
    std::vector<ShellToken> tokens;
    if (!SplitShellWords(line, tokens, error)) return false;

    Pipeline pipeline;
    SimpleCommand command;
    auto finishCommand = [&](const std::string& where) -> bool {
        if (command.argv.empty()) {
            error = "missing command " + where;
            return false;
        }
        pipeline.stages.push_back(command);
        command = SimpleCommand();
        return true;
    };

    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const ShellToken& token = tokens[i];
        if (token.kind == ShellToken::kWord) {
            command.argv.push_back(token.text);
            continue;
        }
        const std::string& op = token.text;
        if (op == "|") {
            if (!finishCommand("before '|'")) return false;
        } else if (op == ";" || op == "&&" || op == "||" || op == "&") {
            if (!finishCommand("before '" + op + "'")) return false;
            pipeline.separator = op;
            list.push_back(pipeline);
            pipeline = Pipeline();
        } else if (op == "2>&1" || op == "1>&2") {
            Redirection r{op[0] - '0', false, true, op[3] - '0', ""};
            command.redirections.push_back(r);
        } else if (op == "<") {
            error = "input redirection is not supported";
            return false;
        } else {
            // An output redirection to a file: the next token names it.
            if (i + 1 >= tokens.size() || tokens[i + 1].kind != ShellToken::kWord) {
                error = "redirection '" + op + "' without a file";
                return false;
            }
            const std::string& target = tokens[++i].text;
            bool append = op.find(">>") != std::string::npos;
            if (op[0] == '&' || op == ">&") {
                command.redirections.push_back(Redirection{1, append, false, 0, target});
                command.redirections.push_back(Redirection{2, false, true, 1, ""});
            } else {
                int fd = op[0] == '2' ? 2 : 1;
                command.redirections.push_back(Redirection{fd, append, false, 0, target});
            }
        }
    }
    if (!command.argv.empty() || !command.redirections.empty()) {
        if (!finishCommand("at the end")) return false;
    }
    if (!pipeline.stages.empty()) {
        list.push_back(pipeline);
    } else if (!list.empty() && list.back().separator != "&" && list.back().separator != ";") {
        error = "command line ends in '" + list.back().separator + "'";
        return false;
    }
    if (list.empty()) {
        error = "empty command line";
        return false;
    }
    return true;
}

}  // namespace zemt_emu
