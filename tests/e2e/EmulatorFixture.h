/* SPDX-License-Identifier: Apache-2.0 */
// Shared set-up of the end-to-end tests: a fresh emulator state directory
// and working directory in a temporary directory, the emulated host
// installed in the library, and readers for the logs the emulator writes.
#ifndef ZEMT_E2E_EMULATORFIXTURE_H
#define ZEMT_E2E_EMULATORFIXTURE_H

#include <gtest/gtest.h>
#include <sys/types.h>

#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <memory>
#include <string>
#include <vector>

#include "zemt_emulator/EmulatedHost.h"
#include "zemt_emulator/State.h"

class secureKaver;

// One line of requests.log.
struct LoggedRequest {
    unsigned long time = 0;
    std::string kind;              // "cmd", "sysinfo" or "free"
    std::vector<unsigned> request; // request bytes
    std::vector<unsigned> response;  // empty when nothing was answered
    std::string status;            // transport status ("-" when none)
    std::string rest;              // the remainder (result=..., notes)

    bool Is(std::initializer_list<unsigned> prefix) const;
    bool Answered() const { return !response.empty(); }
};

// One line of host-commands.log.
struct LoggedCommand {
    unsigned long time = 0;
    std::string kind;  // system, background, popen
    int status = 0;
    std::string text;
};

struct ProcessResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

class EmulatorTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the state directory (options start from the defaults) and
    // installs the emulated host.
    void Init(const std::function<void(zemt_emu::InitOptions&)>& configure = nullptr);
    // Starts over with a new temporary directory and state (for tables).
    void Fresh(const std::function<void(zemt_emu::InitOptions&)>& configure = nullptr);
    void Fault(const std::string& line);

    std::vector<LoggedRequest> Requests() const;
    // Requests from index FROM on that start with PREFIX.
    long CountRequests(std::initializer_list<unsigned> prefix, std::size_t from = 0) const;
    std::vector<LoggedCommand> Commands() const;
    std::vector<std::string> CommandTexts() const;
    unsigned long Clock() const;
    std::string ControllerState(const std::string& key) const;
    std::string HostSetting(const std::string& key) const;

    std::string InRoot(const std::string& hostPath) const;
    bool RootHas(const std::string& hostPath) const;
    void WriteWorkFile(const std::string& name, const std::string& text) const;

    // A library object after secureKaverInit (session open, bits learnt).
    std::unique_ptr<secureKaver> Start();

    // A partition image of the state directory, and what is in it (read
    // with mtools, not through the library); "<missing>" for no such file.
    std::string Image(const std::string& name) const;
    std::string ImageFile(const std::string& image, const std::string& name) const;
    bool ImageHasDir(const std::string& image, const std::string& name) const;

    // Nothing is mounted on the emulated host and no mount directory
    // /tmp/LABEL nor any device link /dev/seckavupd-* is left behind.
    void ExpectNothingMounted(const std::string& label) const;

    // Runs a program with extra environment settings (an empty value unsets
    // the variable), in the working directory, and collects its output.
    ProcessResult Run(const std::vector<std::string>& argv,
                      const std::map<std::string, std::string>& env = {}) const;
    ProcessResult RunZemt(const std::vector<std::string>& args,
                          const std::map<std::string, std::string>& env = {}) const;
    // zemt --emulator STATE_DIR WORDS...
    ProcessResult Zemt(std::vector<std::string> words) const;
    // The same from another directory.
    ProcessResult RunIn(const std::string& dir, const std::vector<std::string>& argv,
                        const std::map<std::string, std::string>& env = {}) const;
    // Starts a program without waiting for it; its output goes to files
    // named after TAG.  Finish waits for it: a program ended by a signal
    // exits with 128 + the signal.
    pid_t Launch(const std::string& dir, const std::vector<std::string>& argv,
                 const std::map<std::string, std::string>& env, const std::string& tag) const;
    ProcessResult Finish(pid_t pid, const std::string& tag) const;

    std::string tempDir_;
    std::string workDir_;
    std::string stateDir_;
    std::unique_ptr<CEmulatedHost> host_;

private:
    std::string savedCwd_;
    std::string savedEnv_;
    bool hadEnv_ = false;
};

std::string ProcessDirectory();

// The one JSON document a zemt command printed (a failed expectation and
// null when stdout is not exactly one).
nlohmann::json ParseJson(const std::string& text);

// SIZE bytes that differ from position to position (per SEED), so that a
// misplaced or missing chunk shows.
std::string VaryingBytes(std::size_t size, unsigned seed);

#endif
