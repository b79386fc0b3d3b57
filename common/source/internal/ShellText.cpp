// SPDX-License-Identifier: Apache-2.0
// Caller's and files' names become shell words without changing what runs.
#include "internal/ShellText.h"

namespace shelltext {

namespace {

bool plain(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' || c == '.' ||
           c == '_' || c == '-' || c == '+' || c == ',' || c == ':' || c == '@' || c == '%' || c == '=';
}

}  // namespace

std::string arg(const std::string& path) {
    std::string word = path;
    if (!word.empty() && word[0] == '-') word = "./" + word;
    bool needsQuotes = word.empty();
    for (char c : word)
        if (!plain(c)) needsQuotes = true;
    if (!needsQuotes) return word;
    std::string out = "'";
    for (char c : word) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    out += "'";
    return out;
}

bool staysInside(const std::string& relative) {
    if (relative.find('\0') != std::string::npos) return false;
    if (!relative.empty() && relative[0] == '/') return false;
    std::string::size_type begin = 0;
    while (begin <= relative.size()) {
        std::string::size_type end = relative.find('/', begin);
        if (end == std::string::npos) end = relative.size();
        if (relative.compare(begin, end - begin, "..") == 0 && end - begin == 2) return false;
        begin = end + 1;
    }
    return true;
}

}  // namespace shelltext
