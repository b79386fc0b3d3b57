// SPDX-License-Identifier: Apache-2.0
// Stage-and-update: the capability query, the start request with its
// pending answers, and the status poll with every status the controller
// can give.
#include "KaverTest.h"

namespace {

const uint8_t kSub = 37;

class StageAndUpdateTest : public KaverTest {
protected:
    void SetUp() override {
        KaverTest::SetUp();
        enableDebugLog();
        build();
        openSession(0x1234);
    }
    // An answer of the sub-command: response byte 5 carries the result.
    static TrenReply answer(uint8_t byte5) { return TrenReply::Ok({0x00, 0x00, byte5}); }
    static TrenReply failed() { return TrenReply::Code(1); }

    void script(std::initializer_list<TrenReply> replies) {
        tren.script.assign(replies.begin(), replies.end());
    }
    // Operation byte (request byte 5) of every request, in order.
    std::vector<uint8_t> operations() const {
        std::vector<uint8_t> out;
        for (std::size_t i = 0; i < tren.requests.size(); ++i) out.push_back(tren.requestBytes(i)[5]);
        return out;
    }
    void reset() {
        tren.requests.clear();
        tren.script.clear();
        tren.fallback = TrenReply();
        platform.sleeps.clear();
        markLog();
    }
};

TEST_F(StageAndUpdateTest, RequestLayout) {
    script({answer(1)});
    ASSERT_TRUE(kaver->checkGUIDEnable());
    ASSERT_EQ(tren.requests.size(), 1u);
    EXPECT_EQ(tren.requestBytes(0), (std::vector<uint8_t>{0xC0, 0xA2, kSub, 0x34, 0x12, 0x01, 0x00}));
    EXPECT_EQ(tren.requests[0].Parameters.IRREx.RspPhaseBufLen, 8u);
}

TEST_F(StageAndUpdateTest, CapabilityQuery) {
    struct Row {
        const char* name;
        std::vector<TrenReply> replies;
        bool session;
        bool enabled;
        std::vector<std::string> log;
    };
    const Row rows[] = {
        {"enabled", {answer(1)}, true, true,
         {"Entering checkGUIDEnable", "checkGUIDEnable Command is successful",
          "checkGUIDEnable IPMI is success and also GUID check is enabled"}},
        {"not enabled", {answer(0)}, true, false,
         {"checkGUIDEnable Command is successful", "checkGUIDEnable IPMI Command is false and also GUID check is false"}},
        {"other value", {answer(2)}, true, false,
         {"checkGUIDEnable IPMI Command is false and also GUID check is false"}},
        {"request failed", {failed()}, true, false, {"checkGUIDEnable Command is failed"}},
        {"no session", {}, false, false,
         {"No Active Session to check GUID Compatibility", "checkGUIDEnable Command is failed"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        reset();
        kaver->errorInfo.lastErr = 0;
        kaver->thisSession.sessionActive = row.session;
        tren.script.assign(row.replies.begin(), row.replies.end());
        EXPECT_EQ(kaver->checkGUIDEnable(), row.enabled);
        EXPECT_EQ(tren.requests.size(), row.session ? 1u : 0u);
        EXPECT_EQ(kaver->getZEMTError(), row.session ? 0 : ZEMT_NOKAVERSESS);
        for (const std::string& line : row.log) EXPECT_TRUE(logHasInOrder(newLog(), {line}));
    }
}

// The start request: accepted answers are polled, refusals end at once,
// pending (and unlisted) answers are asked again after 2 s, ten times in
// all.
TEST_F(StageAndUpdateTest, StartRequest) {
    const std::vector<TrenReply> tenPending(10, answer(3));
    const std::vector<TrenReply> tenUnlisted(10, answer(7));
    struct Row {
        const char* name;
        bool stageAndUpdate;
        std::vector<TrenReply> replies;
        int result;
        std::vector<uint8_t> operations;
        unsigned long seconds;
        std::vector<std::string> log;
    };
    const Row rows[] = {
        {"stage and update, applied", true, {answer(1), answer(45)}, 0, {4, 8}, 0,
         {"Entering sendIPMICommandToStageAndUpdate() Function", "Stage or Update KAVER command Is successful ",
          "sendIPMICommandToStageAndUpdate request Accepted and Polling for status", "Entering pollForStatus() Function",
          "Success and Reboot is required"}},
        {"stage only", false, {answer(1), answer(47)}, 1, {2, 8}, 0, {" Success and Reboot is Not required"}},
        {"not accepted", true, {answer(2)}, -1, {4}, 0,
         {"sendIPMICommandToStageAndUpdate request Not Accepted and Stage Only Failed"}},
        {"pending three times", true, {answer(3), answer(3), answer(3), answer(1), answer(45)}, 0, {4, 4, 4, 4, 8},
         6, {"sendIPMICommandToStageAndUpdate Pending", "nRetryCount 1", "nRetryCount 3"}},
        {"pending ten times", true, tenPending, -1, std::vector<uint8_t>(10, 4), 20, {"nRetryCount 10"}},
        {"unlisted answers are bounded too", true, tenUnlisted, -1, std::vector<uint8_t>(10, 4), 20,
         {"sendIPMICommandToStageAndUpdate unexpected answer 7", "nRetryCount 10"}},
        {"request failed", true, {failed()}, -1, {4}, 0, {"checkGUIDEnable Command is failed"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        reset();
        // Whatever comes after the script would be accepted and polled.
        tren.fallback = answer(45);
        tren.script.assign(row.replies.begin(), row.replies.end());
        const unsigned long before = platform.now();
        EXPECT_EQ(kaver->sendIPMICommandToStageAndUpdate(row.stageAndUpdate), row.result);
        EXPECT_EQ(operations(), row.operations);
        EXPECT_EQ(platform.now() - before, row.seconds);
        for (const std::string& line : row.log) EXPECT_TRUE(logHasInOrder(newLog(), {line}));
    }

    reset();
    kaver->thisSession.sessionActive = false;
    EXPECT_EQ(kaver->sendIPMICommandToStageAndUpdate(true), -1);
    EXPECT_TRUE(tren.requests.empty());
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_NOKAVERSESS);
    EXPECT_TRUE(logHasInOrder(newLog(), {"No Active Session to perform Stage/Update", "Stage or Update Command is failed"}));
}

// Every status of the poll: only 45 and 47 succeed, 2 and unlisted codes
// are polled again after 2 s.
TEST_F(StageAndUpdateTest, EveryPollStatus) {
    struct Row {
        std::vector<uint8_t> statuses;
        int result;
        const char* message;
    };
    const Row rows[] = {
        {{1}, -1, " Polling Failed"},
        {{2, 45}, 0, "Pending Staging/Update in Progress"},
        {{4}, -1, "Failed Payload and Package Validation"},
        {{9}, -1, "Errror in ssib Creation"},
        {{23}, -1, "Cannot acquire or release KAVER session "},
        {{32}, -1, "Unable to copy contents form SECUPD"},
        {{44}, -1, " XML Error"},
        {{45}, 0, "Success and Reboot is required"},
        {{46}, -1, " No Matching / Supported Device Found"},
        {{47}, 1, " Success and Reboot is Not required"},
        {{48}, -1, "Unable to Delete SECUPD"},
        {{0, 47}, 1, "Unknow return code and continue to poll again"},
        {{3, 2, 99, 46}, -1, "Unknow return code and continue to poll again"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.message);
        SCOPED_TRACE(row.statuses.front());
        reset();
        for (uint8_t status : row.statuses) tren.then(answer(status));
        const unsigned long before = platform.now();
        EXPECT_EQ(kaver->pollForStatus(), row.result);
        EXPECT_EQ(operations(), std::vector<uint8_t>(row.statuses.size(), 8));
        EXPECT_EQ(platform.now() - before, 2 * (row.statuses.size() - 1));
        EXPECT_TRUE(logHasInOrder(newLog(), {"Entering pollForStatus() Function", row.message}));
    }
}

TEST_F(StageAndUpdateTest, PollingEnds) {
    // A controller that stays pending is given up after 3000 polls.
    tren.recordRequests = false;
    tren.fallback = answer(2);
    const unsigned long before = platform.now();
    EXPECT_EQ(kaver->pollForStatus(), -1);
    EXPECT_EQ(platform.now() - before, 6000u);
    EXPECT_EQ(tren.subCommandCount[kSub], 3000);
    EXPECT_TRUE(logHasInOrder(newLog(), {"Leaving pollForStatus() Function"}));

    // A failed poll request ends at once.
    reset();
    tren.recordRequests = true;
    script({failed(), answer(45)});
    EXPECT_EQ(kaver->pollForStatus(), -1);
    EXPECT_EQ(tren.requests.size(), 1u);

    reset();
    kaver->thisSession.sessionActive = false;
    EXPECT_EQ(kaver->pollForStatus(), -1);
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_NOKAVERSESS);
    EXPECT_TRUE(logHasInOrder(newLog(), {"No Active Session to perform Stage/Update", "Polling Command is failed"}));
}

}  // namespace
