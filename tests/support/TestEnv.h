/* SPDX-License-Identifier: Apache-2.0 */
#ifndef ZEMT_TEST_ENV_H
#define ZEMT_TEST_ENV_H

#include <string>

// Puts the library's process-wide state back to its defaults: debug log
// off and closed, generation unknown, request blocks zeroed, no TREN bound.
void resetLibraryGlobals();

// A fresh directory under the system temp dir, removed with its content on
// destruction.  With enter = true the process works inside it meanwhile.
class ScopedTempDir {
public:
    explicit ScopedTempDir(bool enter = false);
    ~ScopedTempDir();
    ScopedTempDir(const ScopedTempDir&) = delete;
    ScopedTempDir& operator=(const ScopedTempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
    std::string previous_;
};

bool fileExists(const std::string& path);
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);

// The base-utilities logger is a process-wide singleton that cannot be
// switched off again.  Tests that switch it on go through this guard, which
// points it at a temp file and afterwards at /dev/null, and remembers that
// it happened so a test needing a never-initialised logger can tell.
class BaseLogCapture {
public:
    BaseLogCapture();
    ~BaseLogCapture();
    std::string text() const { return readFile(dir_.file("base.log")); }
    const std::string& path() const { return path_; }
    static bool everInitialised();

private:
    ScopedTempDir dir_;
    std::string path_;
};

#endif
