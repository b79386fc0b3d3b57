// SPDX-License-Identifier: Apache-2.0
#include "inventory/AnswerFile.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "PlatformLayer.h"

namespace answerfile {

Outcome read(const std::string& path, std::string& text) {
    text.clear();
    std::unique_ptr<FILE, int (*)(FILE*)> in(CPlatformLayer::OpenHostFile(path, "rb"), &std::fclose);
    if (!in) return NotOpened;
    if (fseeko(in.get(), 0, SEEK_END) != 0) return Unreadable;
    const off_t length = ftello(in.get());
    if (length < 0) return Unreadable;
    if (static_cast<unsigned long long>(length) > kMaxBytes) return TooLarge;
    if (fseeko(in.get(), 0, SEEK_SET) != 0) return Unreadable;
    std::vector<char> bytes(static_cast<std::size_t>(length));
    const std::size_t got = bytes.empty() ? 0 : std::fread(bytes.data(), 1, bytes.size(), in.get());
    if (std::ferror(in.get())) return Unreadable;
    text.assign(bytes.data(), got);
    text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
    return Read;
}

Verdict judgeDependencies(const std::string& answer, std::string& reported) {
    reported.clear();
    if (answer.find("<status>0</status>") != std::string::npos) return Passed;
    if (answer.empty()) return Empty;
    const std::string::size_type end = answer.find("?>");
    reported = answer.substr(end == std::string::npos ? 1 : end + 2);
    return Failed;
}

}  // namespace answerfile
