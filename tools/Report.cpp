// SPDX-License-Identifier: Apache-2.0
// How a command's outcome reaches the user: one JSON document of the same
// shape for success and failure, or text, and on failure a message that
// says what failed, what the library's code means and why, where the
// library or the emulator recorded it.
#include <algorithm>
#include <iostream>

#include "Tool.h"
#include "secureKaver.h"

namespace zemt_tool {

void Problem::set(const std::string& what, unsigned libraryCode) {
    message = what;
    code = libraryCode;
    reason = recordedReason();
}

Json jsonError(const Problem& failure) {
    if (!failure.failed()) return nullptr;
    Json error;
    error["code"] = failure.code == 0 ? Json(nullptr) : Json(failure.code);
    error["name"] = failure.code == 0 ? Json(nullptr) : Json(errorName(failure.code));
    error["meaning"] = failure.code == 0 ? Json(nullptr) : Json(errorMeaning(failure.code));
    error["message"] = failure.message;
    error["reason"] = failure.reason.empty() ? Json(nullptr) : Json(failure.reason);
    return error;
}

// Texts are written as UTF-8; a byte that is not part of valid UTF-8 comes
// out as U+FFFD, the replacement character.
void printJson(const Json& fields, const Problem& failure) {
    Json doc;
    doc["ok"] = !failure.failed();
    for (auto it = fields.begin(); it != fields.end(); ++it) doc[it.key()] = it.value();
    doc["error"] = jsonError(failure);
    std::cout << doc.dump(-1, ' ', false, Json::error_handler_t::replace) << "\n";
}

int finish(const Problem& failure, int status) {
    if (!failure.failed()) return kExitOk;
    std::cerr << "zemt: " << commandPath() << ": " << failure.message << "\n";
    if (failure.code != 0)
        std::cerr << "  error " << errorText(failure.code) << ": " << errorMeaning(failure.code) << "\n";
    if (!failure.reason.empty()) std::cerr << "  reason: " << failure.reason << "\n";
    return status;
}

int report(const Json& fields, const Problem& failure, const std::function<void()>& text, int status) {
    if (globals().json)
        printJson(fields, failure);
    else if (text)
        text();
    return finish(failure, status);
}

void progress(const std::string& line) { std::cerr << line << std::endl; }

void reportCopyPass(const copyProgress* p, void* passWords) {
    const PassWords& words = *static_cast<const PassWords*>(passWords);
    progress("pass " + std::to_string(p->pass) + ": " + std::to_string(p->bytesDone) + " of " +
             std::to_string(p->bytes) + " bytes staged, " + std::to_string(p->entriesDone) + " of " +
             std::to_string(p->entries) + " " + words.entries + " complete");
    if (p->entriesDone == p->entries) progress(words.afterLast);
}

void printRows(const std::vector<std::string>& titles, const std::vector<std::vector<std::string>>& rows,
               const std::string& indent) {
    std::vector<std::size_t> width(titles.size());
    for (std::size_t c = 0; c < titles.size(); ++c) {
        width[c] = titles[c].size();
        for (const auto& row : rows) width[c] = std::max(width[c], row[c].size());
    }
    auto line = [&](const std::vector<std::string>& cells) {
        std::string text = indent;
        for (std::size_t c = 0; c < cells.size(); ++c)
            text += c + 1 == cells.size() ? cells[c] : cells[c] + std::string(width[c] - cells[c].size() + 2, ' ');
        std::cout << text << "\n";
    };
    line(titles);
    for (const auto& row : rows) line(row);
}

}  // namespace zemt_tool
