/* SPDX-License-Identifier: Apache-2.0 */
#ifndef ZEMT_TEST_KAVER_TEST_H
#define ZEMT_TEST_KAVER_TEST_H

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>

#include "FakePlatform.h"
#include "FakeTren.h"
#include "TestEnv.h"
#include "secureKaver.h"

// A library object on a fake host with a fake TREN.  Member order matters:
// the working directory outlives the object (its destructor still logs),
// and the platform outlives both.
class KaverTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetLibraryGlobals();
        platform.useTren(tren);
    }
    void TearDown() override {
        kaver.reset();
        resetLibraryGlobals();
    }

    // Work in a fresh temp dir with the debug-log switch present, so the
    // next object writes ZEMT_DBG.log there.
    void enableDebugLog() {
        cwd.reset();  // leave the old dir before entering the new one
        cwd.reset(new ScopedTempDir(true));
        platform.addPath("zemtdebuglog");
    }

    // Builds the object; by default forgets what construction sent and ran
    // so tests see only their own traffic.
    secureKaver& build(bool forgetConstruction = true) {
        kaver.reset();  // an old object's destructor would switch the new log off
        kaver.reset(new secureKaver());
        if (forgetConstruction) {
            tren.requests.clear();
            platform.commands.clear();
            markLog();
        }
        return *kaver;
    }

    void openSession(uint16_t handle) {
        kaver->thisSession.sessionActive = true;
        kaver->thisSession.KAVER_Handle = handle;
    }

    std::string log() const { return cwd ? readFile(cwd->file("ZEMT_DBG.log")) : std::string(); }
    void markLog() { logMark_ = log().size(); }
    std::string newLog() const {
        std::string text = log();
        return text.size() > logMark_ ? text.substr(logMark_) : std::string();
    }

    std::unique_ptr<ScopedTempDir> cwd;
    FakePlatform platform;
    FakeTren tren;
    std::unique_ptr<secureKaver> kaver;

private:
    std::size_t logMark_ = 0;
};

// Every text appears in `log`, in the given order.
inline ::testing::AssertionResult logHasInOrder(const std::string& log,
                                                std::initializer_list<std::string> texts) {
    std::string::size_type pos = 0;
    for (const std::string& text : texts) {
        std::string::size_type found = log.find(text, pos);
        if (found == std::string::npos)
            return ::testing::AssertionFailure() << "missing (in order) \"" << text << "\" in log:\n" << log;
        pos = found + text.size();
    }
    return ::testing::AssertionSuccess();
}

#endif
