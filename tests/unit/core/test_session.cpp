// SPDX-License-Identifier: Apache-2.0
// Opening and closing the repository session.
#include <functional>

#include "KaverTest.h"

namespace {

class SessionTest : public KaverTest {};

TEST_F(SessionTest, FailuresStoreTheirCodeAndLogWhy) {
    struct Row {
        const char* name;
        bool active;
        systemGeneration_t generation;
        TrenReply reply;
        std::function<bool(secureKaver&)> call;
        uint8_t lastErr;
        std::size_t sent;
        std::vector<std::string> log;
    };
    auto begin = [](secureKaver& k) { return k.BeginKaverSession(1200); };
    auto extended = [](secureKaver& k) { return k.BeginKaverSessionExtended(1200); };
    auto end = [](secureKaver& k) { return k.EndKaverSession(); };
    const Row rows[] = {
        {"plain begin while active", true, PreVemo, TrenReply::Ok(), begin, 29, 0,
         {"Session is already active", "BeginKaverSession failed"}},
        {"begin refused, Vemo", false, VemoGen, TrenReply::Code(7), begin, 63, 1,
         {"Error starting session", "BeginKaverSession failed"}},
        {"begin refused, Sarn", false, SarnGen, TrenReply::Code(1), begin, 63, 1,
         {"Error starting session", "BeginKaverSession failed"}},
        {"begin refused, pre-Vemo", false, PreVemo, TrenReply::Code(1), begin, 5, 1,
         {"Error starting session", "BeginKaverSession failed"}},
        {"begin transport failure, generation unknown", false, Failure, TrenReply::NoExchange(), begin, 5,
         1, {"Error starting session", "BeginKaverSession failed"}},
        {"extended refused, Vemo", false, VemoGen, TrenReply::Code(1), extended, 63, 1,
         {"BeginKAVERSessionExtended Error starting session", "BeginKAVERSessionExtended failed"}},
        {"extended refused, pre-Vemo", false, PreVemo, TrenReply::Code(1), extended, 5, 1,
         {"BeginKAVERSessionExtended Error starting session", "BeginKAVERSessionExtended failed"}},
        {"end without session", false, PreVemo, TrenReply::Ok(), end, 2, 0,
         {"No Active Session Found", "EndKaverSession failed"}},
        {"end refused", true, PreVemo, TrenReply::Code(1), end, 30, 1,
         {"EndKaverSession failed", "EndKaverSession failed"}},
    };

    enableDebugLog();
    build();
    // Generation unknown and not learnable.
    tren.missing.insert("ZOLIPMGetSystemInfoParameter");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        kaver->thisSession = sessionHandle();
        kaver->thisSession.sessionActive = row.active;
        kaver->thisSession.KAVER_Handle = row.active ? 0x0011 : 0;
        GenerationType = row.generation;
        tren.fallback = row.reply;
        tren.requests.clear();
        markLog();

        EXPECT_FALSE(row.call(*kaver));
        EXPECT_EQ(kaver->getZEMTError(), row.lastErr);
        EXPECT_EQ(tren.requests.size(), row.sent);
        EXPECT_EQ(kaver->thisSession.sessionActive, row.active) << "a failure changes no session state";
        const std::string text = newLog();
        std::string::size_type pos = 0;
        for (const std::string& line : row.log) {
            pos = text.find(line, pos);
            ASSERT_NE(pos, std::string::npos) << line << "\n" << text;
            pos += line.size();
        }
    }
}

TEST_F(SessionTest, BeginAndEndTrackTheSession) {
    build();
    kaver->errorInfo.lastErr = 99;
    tren.then(TrenReply::Ok({0x1A, 0x00}));
    ASSERT_TRUE(kaver->BeginKaverSessionExtended(1200));
    EXPECT_EQ(kaver->getZEMTError(), 0);
    EXPECT_TRUE(kaver->IsSessionActive());
    EXPECT_EQ(kaver->thisSession.KAVER_Handle, 0x001A);

    // Already open: the extended form keeps it and sends nothing.
    tren.requests.clear();
    EXPECT_TRUE(kaver->BeginKaverSessionExtended(1200));
    EXPECT_TRUE(tren.requests.empty());

    kaver->thisSession.statBitMap = 0x0003;
    kaver->thisSession.wdTimeOut = 1200;
    tren.then(TrenReply::Ok({0x1A, 0x00}));
    ASSERT_TRUE(kaver->EndKaverSession());
    EXPECT_EQ(tren.requestBytes(0)[3], 0x1A) << "end names the granted handle";
    const sessionHandle& s = kaver->thisSession;
    EXPECT_EQ(s.KAVER_Handle, 0);
    EXPECT_FALSE(s.sessionActive);
    EXPECT_EQ(s.statBitMap, 0);
    EXPECT_EQ(s.wdTimeOut, 0);

    // A second end has nothing to close and sends nothing.
    EXPECT_FALSE(kaver->EndKaverSession());
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_NOKAVERSESS);
    EXPECT_EQ(tren.requests.size(), 1u);
}

TEST_F(SessionTest, PlainBeginOpensTheSessionToo) {
    build();
    kaver->errorInfo.lastErr = 99;
    tren.then(TrenReply::Ok({0x05, 0x01}));
    ASSERT_TRUE(kaver->BeginKaverSession(1200));
    EXPECT_EQ(kaver->getZEMTError(), 0);
    EXPECT_TRUE(kaver->thisSession.sessionActive);
    EXPECT_EQ(kaver->thisSession.KAVER_Handle, 0x0105);
}

TEST_F(SessionTest, InactiveSessionOverwritesTheLastError) {
    build();
    kaver->errorInfo.lastErr = ZEMT_HASHMISMATCH;
    EXPECT_FALSE(kaver->IsSessionActive());
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_NOKAVERSESS);

    openSession(1);
    kaver->errorInfo.lastErr = ZEMT_HASHMISMATCH;
    EXPECT_TRUE(kaver->IsSessionActive());
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_HASHMISMATCH);
    EXPECT_TRUE(tren.requests.empty()) << "the controller is not asked";
}

}  // namespace
