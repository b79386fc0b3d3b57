// SPDX-License-Identifier: Apache-2.0
// Polling a pending sub-command once a (virtual) second until it settles.
#include "KaverTest.h"

namespace {

class PollTest : public KaverTest {
protected:
    void SetUp() override {
        KaverTest::SetUp();
        build();
        openSession(0x0042);
    }
    // GetKAVERStatus answer: handle, then the awaited sub-command's status.
    static TrenReply status(uint8_t subStatus, uint8_t completion = 0) {
        return TrenReply::Code(completion, {0x42, 0x00, subStatus});
    }
};

TEST_F(PollTest, PollsUntilTheSubCommandSettles) {
    struct Row {
        const char* name;
        int count;
        std::vector<TrenReply> replies;
        bool result;
        std::size_t polls;
        int finalCompletionByte;  // IPMIReqBuf byte 2 afterwards; -1: untouched
    };
    const Row rows[] = {
        {"done at the first poll", 3000, {status(0)}, true, 1, 0},
        {"pending twice, then done", 3000, {status(2), status(2), status(0)}, true, 3, 0},
        {"sub-command failed", 3000, {status(2), status(1)}, false, 2, 1},
        {"pending on every poll", 5, std::vector<TrenReply>(5, status(2)), false, 5, 2},
        // A failing poll request stops at once, whatever else is scripted.
        {"poll request refused", 3000, {status(2, 1), status(0)}, false, 1, -1},
        {"poll request refused, stale status 0", 3000, {status(0, 1)}, true, 1, -1},
        // Any other poll result is logged and polling goes on.
        {"poll request invalid, then done", 3000, {status(2, 3), status(0)}, true, 2, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        tren.requests.clear();
        tren.script.assign(row.replies.begin(), row.replies.end());
        IPMIReqBuf.Parameters.IRREx.ReqRspBuffer[2] = 0xAA;
        const unsigned long before = platform.now();

        EXPECT_EQ(kaver->PollKaverCmdComplete(row.count, 0x07), row.result);
        EXPECT_EQ(tren.requests.size(), row.polls);
        EXPECT_EQ(platform.now() - before, row.polls) << "one second before each poll";
        EXPECT_EQ(IPMIReqBuf.Parameters.IRREx.ReqRspBuffer[2],
                  row.finalCompletionByte < 0 ? 0xAA : row.finalCompletionByte);
        tren.script.clear();
    }
}

TEST_F(PollTest, NothingIsSentWithoutPollsOrSession) {
    // Nothing polled yet in this process: the stored status is 0.
    EXPECT_TRUE(kaver->PollKaverCmdComplete(0, 0x07));
    EXPECT_TRUE(kaver->PollKaverCmdComplete(-1, 0x07));

    tren.then(status(2));
    EXPECT_FALSE(kaver->PollKaverCmdComplete(1, 0x07));
    tren.requests.clear();
    // The last polled status is what a call that sends nothing reports.
    EXPECT_FALSE(kaver->PollKaverCmdComplete(0, 0x07));

    kaver->thisSession.sessionActive = false;
    kaver->errorInfo.lastErr = 0;
    EXPECT_FALSE(kaver->PollKaverCmdComplete(10, 0x07));
    EXPECT_EQ(kaver->errorInfo.lastErr, ZEMT_NOKAVERSESS);
    EXPECT_TRUE(tren.requests.empty());
    EXPECT_EQ(platform.now(), 1u);
}

TEST_F(PollTest, LogsEachPollAndTheFailure) {
    enableDebugLog();
    build();
    openSession(0x0042);
    tren.then(status(2));
    tren.then(status(9, 1));
    kaver->PollKaverCmdComplete(3000, 0x07);
    EXPECT_TRUE(logHasInOrder(newLog(), {
        "Polling Count 0 \n \n",
        " PollKaverCmdComplete IPMIResponse[ 0xc4 0xa2 0x00 0x42 0x00 0x02 0x00]",
        "SubCmdStatus: 02",
        "Polling Count 1 \n \n",
        "SubCmdStatus: 09",
        "GetKAVERStatus Command returned: FAILURE.  Breaking out of Poll Loop",
    }));
}

}  // namespace
