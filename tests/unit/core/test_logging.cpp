// SPDX-License-Identifier: Apache-2.0
// The library's debug log and the base-utilities logger.
#include <filesystem>
#include <regex>
#include <sstream>

#include "KaverTest.h"
#include "Logger.h"

namespace {

const char* kStamp = R"(\[\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\] )";

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

class DebugLogTest : public KaverTest {};

TEST_F(DebugLogTest, NoSwitchNoFile) {
    cwd.reset(new ScopedTempDir(true));
    build(false);
    logKaverMsg(__FILE__, __LINE__, "not written");
    kaver.reset();
    EXPECT_FALSE(DebugLog);
    EXPECT_FALSE(fileExists(cwd->file("ZEMT_DBG.log")));
}

TEST_F(DebugLogTest, SwitchingOnEmptiesTheLogAndSaysSo) {
    enableDebugLog();
    writeFile(cwd->file("ZEMT_DBG.log"), "left from an earlier run\n");
    build(false);
    EXPECT_TRUE(DebugLog);
    const std::vector<std::string> text = lines(log());
    ASSERT_FALSE(text.empty());
    EXPECT_TRUE(std::regex_match(text[0], std::regex(std::string("^") + kStamp +
                                                     R"(: secureKaver\.cpp:\d+: Debug message logging started\.$)")))
        << text[0];
    EXPECT_EQ(log().find("left from an earlier run"), std::string::npos);
}

TEST_F(DebugLogTest, LineFormat) {
    enableDebugLog();
    build();
    logKaverMsg("/some/dir/operation.cpp", 7, "value 42");
    logKaverMsg("bare.cpp", 12345, "");
    const std::vector<std::string> text = lines(newLog());
    ASSERT_EQ(text.size(), 2u);
    EXPECT_TRUE(std::regex_match(text[0], std::regex(std::string("^") + kStamp + ": operation.cpp:7: value 42$")))
        << text[0];
    EXPECT_TRUE(std::regex_match(text[1], std::regex(std::string("^") + kStamp + ": bare.cpp:12345: $")))
        << text[1];
}

TEST_F(DebugLogTest, SecondObjectSharesTheLogAndEitherDestructionEndsIt) {
    for (bool firstDiesFirst : {true, false}) {
        SCOPED_TRACE(firstDiesFirst ? "first object destroyed first" : "second object destroyed first");
        enableDebugLog();
        std::unique_ptr<secureKaver> first(new secureKaver());
        logKaverMsg(__FILE__, __LINE__, "written by the first");
        std::unique_ptr<secureKaver> second(new secureKaver());
        EXPECT_NE(log().find("written by the first"), std::string::npos) << "second object truncated the log";
        EXPECT_EQ(log().find("Debug message logging started.", log().find("written by the first")),
                  std::string::npos);

        (firstDiesFirst ? first : second).reset();
        EXPECT_FALSE(DebugLog);
        const std::size_t size = log().size();
        logKaverMsg(__FILE__, __LINE__, "after");
        (firstDiesFirst ? second : first).reset();
        EXPECT_EQ(log().size(), size) << "nothing is written once logging is off";
        resetLibraryGlobals();
        CLinuxImpl::nTRENInstallRefCount = 0;
    }
}

TEST(BaseLoggerTest, NothingWrittenBeforeInitialize) {
    if (BaseLogCapture::everInitialised()) GTEST_SKIP() << "logger already switched on in this process";
    ScopedTempDir dir(true);
    CLogger::GetInstance()->log(__FILE__, __LINE__, "not written");
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(BaseLoggerTest, FieldWidthsAreMinimums) {
    BaseLogCapture capture;
    CLogger::GetInstance()->log("/src/Short.cpp", 7, "seven");
    CLogger::GetInstance()->log("/src/AVeryLongSourceFileNameIndeed.cpp", 123456, "long");
    const std::vector<std::string> text = lines(capture.text());
    ASSERT_EQ(text.size(), 2u);
    EXPECT_TRUE(std::regex_match(text[0], std::regex(std::string("^") + kStamp + ":                 Short.cpp:    7: seven$")))
        << text[0];
    EXPECT_TRUE(std::regex_match(
        text[1], std::regex(std::string("^") + kStamp + ": AVeryLongSourceFileNameIndeed.cpp:123456: long$")))
        << text[1];
}

TEST(BaseLoggerTest, InitializeEmptiesTheFile) {
    ScopedTempDir dir;
    writeFile(dir.file("again.log"), "old line\n");
    {
        BaseLogCapture capture;
        EXPECT_EQ(CLogger::GetInstance()->Initialize(dir.file("again.log")), 0);
        CLogger::GetInstance()->log("x.cpp", 1, "new");
    }
    const std::string text = readFile(dir.file("again.log"));
    EXPECT_EQ(text.find("old line"), std::string::npos);
    EXPECT_NE(text.find("new"), std::string::npos);
}

}  // namespace
