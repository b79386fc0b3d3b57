// SPDX-License-Identifier: Apache-2.0
// OEM transport: request framing of every command sent today, the retry
// policy on transport status, completion-code translation, handle refresh
// and the debug-log dumps.
#include <cstring>
#include <functional>

#include "KaverTest.h"

namespace {

struct ExpectedRequest {
    std::vector<uint8_t> bytes;  // ReqRspBuffer[0 .. ReqPhaseBufLen)
    uint32_t rspLen;
};

struct CommandCase {
    const char* name;
    std::function<void(secureKaver&)> send;
    std::vector<ExpectedRequest> requests;
};

class TransportTest : public KaverTest {};

TEST_F(TransportTest, EveryCommandIsFramedWithItsExactBytes) {
    const std::vector<CommandCase> cases = {
        {"BeginKaverSession(1200)", [](secureKaver& k) { k.BeginKaverSession(1200); },
         {{{0xC0, 0xA2, 0x00, 0x00, 0xB0, 0x04, 0x00, 0x00}, 9}}},
        {"BeginKaverSessionExtended(1200)", [](secureKaver& k) { k.BeginKaverSessionExtended(1200); },
         {{{0xC0, 0xA2, 0x12, 0x02, 0xB0, 0x04, 0x00, 0x00}, 9}}},
        {"BeginKaverSession(60)", [](secureKaver& k) { k.BeginKaverSession(60); },
         {{{0xC0, 0xA2, 0x00, 0x00, 0x3C, 0x00, 0x00, 0x00}, 9}}},
        {"EndKaverSession",
         [](secureKaver& k) {
             k.thisSession.sessionActive = true;
             k.thisSession.KAVER_Handle = 0x1234;
             k.EndKaverSession();
         },
         {{{0xC0, 0xA2, 0x01, 0x34, 0x12, 0x00, 0x00}, 5}}},
        {"GetKAVERStatus poll",
         [](secureKaver& k) {
             k.thisSession.sessionActive = true;
             k.thisSession.KAVER_Handle = 0x1234;
             k.PollKaverCmdComplete(1, 0x05);
         },
         {{{0xC0, 0xA2, 0x0A, 0x34, 0x12, 0x05, 0x00, 0x00}, 7}}},
        {"GetKAVERType", [](secureKaver& k) { k.GetKaverType(); }, {{{0xC0, 0xAD, 0x00, 0x00}, 6}}},
        {"GetKAVERAccessState", [](secureKaver& k) { k.IsKaverEnabled(); },
         {{{0xC0, 0xAE, 0x00, 0x00}, 6}}},
        {"GetSarniVELDVersion for iSSarniVELD", [](secureKaver& k) { k.iSSarniVELD(); },
         {{{0xC0, 0xBF, 0x04}, 23}}},
        {"GetSarniVELDVersion for isDepCheckSupported, then system kind",
         [](secureKaver& k) { k.isDepCheckSupported(); },
         {{{0xC0, 0xBF, 0x01}, 30}, {{0xC0, 0xBD}, 30}}},
        {"system kind", [](secureKaver& k) { k.isMonolithic(); }, {{{0xC0, 0xBD}, 30}}},
        {"getStateFlag",
         [](secureKaver& k) {
             k.thisSession.KAVER_Handle = 0x1234;
             uint8_t value = 0;
             k.getStateFlag(value);
         },
         {{{0xC0, 0xA2, 0x10, 0x34, 0x12, 0x00, 0x00, 0x00}, 8}}},
        {"setStateFlag(SSM)",
         [](secureKaver& k) {
             k.thisSession.KAVER_Handle = 0x1234;
             k.setStateFlag(5);
         },
         {{{0xC0, 0xA2, 0x11, 0x34, 0x12, 0x00, 0x05}, 7}}},
        {"regPowerCycle", [](secureKaver& k) { k.regPowerCycle(); },
         {{{0xC0, 0xA2, 0x11, 0x00, 0x00, 0x00, 0x05}, 7}}},
        {"power-supply count",
         [](secureKaver& k) {
             uint8_t n = 0;
             k.getPSCount(n);
         },
         {{{0x18, 0x59, 0x00, 0xEA, 0x00, 0x00}, 30}}},
        {"power-supply version",
         [](secureKaver& k) {
             unsigned int id = 0, present = 0;
             std::string version;
             k.getPSUVersion(3, id, version, present);
         },
         {{{0xC0, 0xB0, 0x0A, 0x03}, 30}}},
        {"cold reset", [](secureKaver& k) { k.rstiVELD(); }, {{{0x18, 0x02}, 0}}},
    };

    build();
    for (const CommandCase& c : cases) {
        SCOPED_TRACE(c.name);
        kaver->thisSession = sessionHandle();
        // Stale bytes in the shared blocks must not leak into a request.
        std::memset(&IPMIReqBuf, 0xEE, sizeof IPMIReqBuf);
        std::memset(&PollReqBuf, 0xEE, sizeof PollReqBuf);
        tren.requests.clear();

        c.send(*kaver);

        ASSERT_EQ(tren.requests.size(), c.requests.size());
        for (std::size_t i = 0; i < c.requests.size(); ++i) {
            const EsmIPMICmdIoctlReq& req = tren.requests[i];
            const ExpectedRequest& want = c.requests[i];
            EXPECT_EQ(tren.requestBytes(i), want.bytes);
            EXPECT_EQ(req.Parameters.IRREx.ReqPhaseBufLen, want.bytes.size());
            EXPECT_EQ(req.Parameters.IRREx.RspPhaseBufLen, want.rspLen);
            EXPECT_EQ(req.ReqType, 11u);
            EXPECT_EQ(req.Parameters.IRREx.RsSA, 0x20);
            EXPECT_EQ(req.Parameters.IRREx.ChannelNum, 0);
            EXPECT_EQ(req.Status, 0);
            EXPECT_EQ(req.IOCTLData.Reserved, 0u);
            EXPECT_EQ(req.IOCTLData.Status, 0);
            for (std::size_t b = want.bytes.size(); b < sizeof req.Parameters.IRREx.ReqRspBuffer; ++b)
                EXPECT_EQ(req.Parameters.IRREx.ReqRspBuffer[b], 0) << "buffer byte " << b;
        }
    }
}

enum class Action { Answer, Fail, RetryAfterPause, RetryAtOnce };

TEST_F(TransportTest, TransportStatusDecidesAnswerFailureOrRetry) {
    struct Row {
        int32_t status;
        const char* name;  // null: no message
        Action action;
    };
    const Row rows[] = {
        {-1, "ESM_STATUS_CMD_UNSUCCESSFUL", Action::Fail},
        {0, nullptr, Action::Answer},
        {1, "ESM_STATUS_CMD_NOT_IMPLEMENTED", Action::Fail},
        {2, "ESM_STATUS_CMD_BAD", Action::Fail},
        {3, "ESM_STATUS_CMD_TIMEOUT", Action::RetryAfterPause},
        {4, "ESM_STATUS_CMD_CANCELLED", Action::Fail},
        {5, "ESM_STATUS_CMD_ABORT", Action::Fail},
        {6, "ESM_STATUS_CMD_PENDING", Action::RetryAfterPause},
        {7, "ESM_STATUS_CMD_NO_SUCH_DEVICE", Action::Fail},
        {8, "ESM_STATUS_DEVICE_BUSY", Action::RetryAfterPause},
        {9, "ESM_STATUS_CMD_DEVICE_BAD", Action::Fail},
        {10, "ESM_STATUS_CMD_DEVICE_SPURIOUS_INTR", Action::RetryAfterPause},
        {11, "ESM_STATUS_CMD_RESOURCE_LOCKED", Action::Fail},
        {12, "ESM_STATUS_CMD_INVALID_INDEX", Action::Fail},
        {13, "ESM_STATUS_CMD_ERROR", Action::Fail},
        {14, "ESM_STATUS_CMD_DATA_NOT_READY", Action::RetryAfterPause},
        {15, "ESM_STATUS_CMD_DATA_UNDERRUN", Action::Fail},
        {16, "ESM_STATUS_CMD_DATA_OVERRUN", Action::RetryAtOnce},
        {17, "ESM_STATUS_DEVICE_NOT_READY", Action::RetryAfterPause},
        {18, "ESM_STATUS_DEVICE_EMPTY", Action::Fail},
        {19, "ESM_STATUS_DEVICE_FULL", Action::Fail},
        {20, nullptr, Action::Answer},
        {21, "ESM_STATUS_PENDING_DOIO_QUEUE", Action::RetryAfterPause},
        {22, "ESM_STATUS_PENDING_BUSY_QUEUE", Action::RetryAfterPause},
        {23, nullptr, Action::Answer},
        {-2, nullptr, Action::Answer},
        {1000, nullptr, Action::Answer},
    };

    enableDebugLog();
    build();
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "status " << row.status);
        tren.requests.clear();
        TrenReply first = TrenReply::Ok();
        first.status = row.status;
        tren.then(first);
        tren.then(TrenReply::Ok());
        std::memset(&IPMIReqBuf, 0, sizeof IPMIReqBuf);
        const unsigned long before = platform.now();
        markLog();

        uint8_t r = kaver->OEMIPMIRequest(KaverSessionCommand, 3, &IPMIReqBuf, 7, 13);

        const bool retries = row.action == Action::RetryAfterPause || row.action == Action::RetryAtOnce;
        EXPECT_EQ(r, row.action == Action::Fail ? 1 : 0);
        EXPECT_EQ(tren.requests.size(), retries ? 2u : 1u);
        EXPECT_EQ(platform.now() - before, row.action == Action::RetryAfterPause ? 2u : 0u);
        if (retries) {
            EXPECT_EQ(tren.requests[1].Status, 0) << "block not restored before the retry";
        }
        if (row.name) {
            EXPECT_NE(newLog().find(row.name), std::string::npos);
        } else {
            EXPECT_EQ(newLog().find("ESM_STATUS"), std::string::npos);
        }
        tren.script.clear();
    }
}

TEST_F(TransportTest, CompletionCodeBecomesTheResult) {
    struct Row {
        uint8_t code;
        uint8_t result;
        const char* message;
        unsigned pause;
    };
    const Row rows[] = {
        {0, 0, "IVELD returned SUCCESS\n", 0},
        {1, 1, "IVELD returned FAILURE\n", 0},
        {2, 2, "IVELD returned PENDING\n", 0},
        {3, 3, "IVELD returned INVALID\n", 0},
        {4, 4, "IVELD returned OVERFLOW\n", 0},
        {5, 5, "IVELD returned KAVER_DISABLED\n", 0},
        {6, 6, "IVELD returned KAVER_BMAP_IMAGE_INVALID\n", 0},
        {7, 7, "IVELD returned KAVER_SESSION_IN_PROGRESS\n", 0},
        {8, 8, "IVELD returned KAVER_PARTITIONS_ATTACHED\n", 0},
        {9, 1, "Unrecognized IVELD return code [0x09]", 0},
        {0x7A, 1, "Unrecognized IVELD return code [0x7a]", 0},
        {0xFE, 1, "Unrecognized IVELD return code [0xfe]", 0},
        {0xFF, 2, "IVELD is processing\n", 2},
    };

    enableDebugLog();
    build();
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "code " << int(row.code));
        tren.then(TrenReply::Code(row.code));
        const unsigned long before = platform.now();
        markLog();

        EXPECT_EQ(kaver->OEMIPMIRequest(GetKAVERType, 0, &IPMIReqBuf, 4, 6), row.result);
        EXPECT_NE(newLog().find(row.message), std::string::npos);
        EXPECT_EQ(platform.now() - before, row.pause);
        // "In process" is handed on as a pending answer.
        if (row.code == 0xFF) {
            EXPECT_EQ(IPMIReqBuf.Parameters.IRREx.ReqRspBuffer[2], 2);
        }
    }
}

TEST_F(TransportTest, RetriesStopAfterTenAttempts) {
    struct Row {
        const char* name;
        std::vector<int32_t> statuses;  // one per attempt
        uint8_t result;
        unsigned long seconds;
    };
    const Row rows[] = {
        {"timeout every time", std::vector<int32_t>(10, 3), 2, 18},
        {"device busy every time", std::vector<int32_t>(10, 8), 2, 18},
        // Overruns alone never mark the exchange pending: a failure, not success.
        {"data overrun every time", std::vector<int32_t>(10, 16), 1, 0},
        // Once pending, every later attempt waits, overruns included.
        {"timeout then overruns", {3, 16, 16, 16, 16, 16, 16, 16, 16, 16}, 2, 18},
        {"overruns then a timeout", {16, 16, 16, 16, 16, 16, 16, 16, 16, 3}, 2, 0},
        {"nine timeouts then an answer", {3, 3, 3, 3, 3, 3, 3, 3, 3, 0}, 0, 18},
    };

    build();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        tren.requests.clear();
        for (int32_t status : row.statuses) {
            TrenReply reply = TrenReply::Ok();
            reply.status = status;
            tren.then(reply);
        }
        tren.then(TrenReply::Ok());  // an eleventh attempt would succeed
        const unsigned long before = platform.now();

        EXPECT_EQ(kaver->OEMIPMIRequest(KaverSessionCommand, 3, &IPMIReqBuf, 7, 13), row.result);
        EXPECT_EQ(tren.requests.size(), 10u);
        EXPECT_EQ(platform.now() - before, row.seconds);
        tren.script.clear();
    }
}

TEST_F(TransportTest, FailedOrMissingTrenCallIsAFailure) {
    enableDebugLog();
    build();
    tren.then(TrenReply::NoExchange());
    markLog();
    EXPECT_EQ(kaver->OEMIPMIRequest(GetKAVERType, 0, &IPMIReqBuf, 4, 6), 1);
    EXPECT_EQ(tren.requests.size(), 1u) << "a failed call is not retried";
    EXPECT_NE(newLog().find("ZOLIPMCommand ERROR\n"), std::string::npos);

    // A TREN without the command function: failure, no call through null.
    pfnCommandWithoutRetry = nullptr;
    tren.requests.clear();
    EXPECT_EQ(kaver->OEMIPMIRequest(GetKAVERType, 0, &IPMIReqBuf, 4, 6), 1);
    EXPECT_EQ(kaver->IPMIRequest(16, &IPMIReqBuf, 8, 8), 1);
    EXPECT_FALSE(kaver->ProcessIPMICommand(&IPMIReqBuf));
    EXPECT_TRUE(tren.requests.empty());
}

TEST_F(TransportTest, PlainTransportRetriesOnlyWhenTheCallFails) {
    build();
    tren.thenRepeat(TrenReply::NoExchange(), 3);
    EXPECT_TRUE(kaver->ProcessIPMICommand(&IPMIReqBuf));
    EXPECT_EQ(tren.requests.size(), 4u);
    EXPECT_EQ(platform.now(), 6u);

    // Transport status and completion code are the caller's business.
    tren.requests.clear();
    TrenReply refused = TrenReply::Code(1);
    refused.status = 3;
    tren.then(refused);
    EXPECT_TRUE(kaver->ProcessIPMICommand(&IPMIReqBuf));
    EXPECT_EQ(tren.requests.size(), 1u);

    tren.requests.clear();
    tren.thenRepeat(TrenReply::NoExchange(), 10);
    const unsigned long before = platform.now();
    EXPECT_FALSE(kaver->ProcessIPMICommand(&IPMIReqBuf));
    EXPECT_EQ(tren.requests.size(), 10u);
    EXPECT_EQ(platform.now() - before, 18u);
}

TEST_F(TransportTest, SuccessfulAnswersRefreshTheSessionHandle) {
    build();
    openSession(0x0101);

    tren.then(TrenReply::Ok({0x1A, 0x00}));
    EXPECT_EQ(kaver->IPMIRequest(3, &IPMIReqBuf, 7, 13), 0);
    EXPECT_EQ(kaver->thisSession.KAVER_Handle, 0x001A);

    tren.then(TrenReply::Ok({0x00, 0x00}));
    EXPECT_EQ(kaver->IPMIRequest(3, &IPMIReqBuf, 7, 13), 0);
    EXPECT_EQ(kaver->thisSession.KAVER_Handle, 0x001A) << "a zero handle is not taken";

    tren.then(TrenReply::Ok({0x34, 0x12}));
    EXPECT_EQ(kaver->IPMIRequest(3, &IPMIReqBuf, 7, 13), 0);
    EXPECT_EQ(kaver->thisSession.KAVER_Handle, 0x1234) << "little-endian";

    tren.then(TrenReply::Code(3, {0x77, 0x77}));
    EXPECT_EQ(kaver->IPMIRequest(3, &IPMIReqBuf, 7, 13), 3);
    EXPECT_EQ(kaver->thisSession.KAVER_Handle, 0x1234) << "a refused answer is not taken";
}

TEST_F(TransportTest, PendingAnswerIsSettledByThePoll) {
    build();
    openSession(0x0042);
    tren.then(TrenReply::Code(2));             // the sub-command: pending
    tren.then(TrenReply::Ok({0x42, 0x00, 2}));  // poll 1: still pending
    tren.then(TrenReply::Ok({0x42, 0x00, 0}));  // poll 2: done

    EXPECT_EQ(kaver->IPMIRequest(7, &IPMIReqBuf, 14, 9), 0);
    ASSERT_EQ(tren.requests.size(), 3u);
    EXPECT_EQ(tren.requestBytes(1)[2], 0x0A);
    EXPECT_EQ(tren.requestBytes(1)[5], 7) << "the poll asks about the pending sub-command";
    EXPECT_EQ(platform.now(), 2u);

    // The poll reports a failed sub-command: its status is the result.
    tren.requests.clear();
    tren.then(TrenReply::Code(2));
    tren.then(TrenReply::Ok({0x42, 0x00, 1}));
    EXPECT_EQ(kaver->IPMIRequest(7, &IPMIReqBuf, 14, 9), 2);
}

// A request that fails says why in words: which request, and the
// completion code, transport status or poll outcome that failed it.
TEST_F(TransportTest, FailuresRecordTheirReason) {
    struct Row {
        const char* name;
        std::vector<TrenReply> replies;
        std::function<uint8_t(secureKaver&)> send;
        const char* reason;
    };
    auto attach = [](secureKaver& k) { return k.IPMIRequest(5, &IPMIReqBuf, 13, 7); };
    std::vector<TrenReply> timeouts(10, TrenReply::Transport(3));
    const Row rows[] = {
        {"refused", {TrenReply::Code(3)}, attach, "AttachPartitions refused: completion code 0x03"},
        {"unknown code", {TrenReply::Code(0xC1)}, attach, "AttachPartitions refused: completion code 0xc1"},
        {"transport failure", {TrenReply::Transport(2)}, attach,
         "AttachPartitions: transport status ESM_STATUS_CMD_BAD"},
        {"no exchange", {TrenReply::NoExchange()}, attach,
         "AttachPartitions: the hardware-access library exchanged nothing"},
        {"never settled", timeouts, attach, "AttachPartitions: no final answer in 10 attempts"},
        {"sub-command without a name", {TrenReply::Code(1)},
         [](secureKaver& k) { return k.IPMIRequest(37, &IPMIReqBuf, 7, 8); },
         "sub-command 37 refused: completion code 0x01"},
        {"other OEM command", {TrenReply::Code(1)},
         [](secureKaver& k) { return k.OEMIPMIRequest(GetKAVERType, 0, &IPMIReqBuf, 4, 6); },
         "command 0xad refused: completion code 0x01"},
        {"pending, then failed", {TrenReply::Code(2), TrenReply::Ok({0x42, 0x00, 1})}, attach,
         "AttachPartitions: final status 0x01"},
        {"pending, then the poll refused", {TrenReply::Code(2), TrenReply::Code(1)}, attach,
         "AttachPartitions: GetKAVERStatus refused: completion code 0x01"},
    };
    build();
    openSession(0x0042);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        tren.script.clear();
        for (const TrenReply& reply : row.replies) tren.then(reply);
        EXPECT_NE(row.send(*kaver), 0);
        EXPECT_STREQ(zemtLastFailureReason(), row.reason);
    }
}

TEST_F(TransportTest, DebugLogDumpsExactlyTheDeclaredLengths) {
    enableDebugLog();
    build();
    tren.then(TrenReply::Ok({0x1A, 0x00, 0x55, 0x66, 0x77, 0x88}));
    kaver->BeginKaverSession(1200);
    kaver->GetKaverType();
    const std::string text = newLog();
    EXPECT_NE(text.find(": BeginKAVERSession IPMIRequest[ 0xc0 0xa2 0x00 0x00 0xb0 0x04 0x00 0x00]\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(":  IPMIResponse[ 0xc4 0xa2 0x00 0x1a 0x00 0x55 0x66 0x77 0x88]\n"),
              std::string::npos)
        << text;
    // Not a repository sub-command: a blank stands for the name.
    EXPECT_NE(text.find(":   IPMIRequest[ 0xc0 0xad 0x00 0x00]\n"), std::string::npos) << text;
    EXPECT_NE(text.find("New Kaver Handle = 26"), std::string::npos);
}

TEST_F(TransportTest, SubCommandNames) {
    build();
    const std::pair<uint8_t, const char*> names[] = {
        {0, "BeginKAVERSession"},     {1, "EndKAVERSession"},
        {2, "ResetKAVERSessionWD"},   {3, "Getpartitionindexinfo"},
        {4, "GetPartitionInfo"},      {5, "AttachPartitions"},
        {6, "DetachPartitions"},      {7, "CreateDynamicPartition"},
        {8, "DeleteDynamicPartition"}, {9, "SecureKAVERUpdate"},
        {10, "GetKAVERStatus"},       {11, "ChangePartitionAccessType"},
        {12, "RegisterSSIBTask"},     {16, "getStateFlagCmd"},
        {17, "setStateFlagCmd"},      {18, "BeginKAVERSessionExtended"},
        {32, "BeginSecureUpdate"},    {34, "ProcessSecureUpdate"},
        {35, "EndSecureUpdate"},      {13, ""},
        {15, ""},                     {33, ""},
        {36, ""},                     {37, ""},
        {255, ""},
    };
    for (const auto& n : names) EXPECT_EQ(kaver->getIPMICommandName(n.first), n.second) << int(n.first);
}

// The completion codes and command lengths every caller names are declared
// once, in the public header, with the controller's values.
TEST(TransportConstants, SharedNamesCarryTheWireValues) {
#define ROW(name, value) {#name, static_cast<unsigned>(name), value}
    const struct {
        const char* name;
        unsigned actual;
        unsigned expected;
    } rows[] = {
        ROW(KAVER_SUCCESS, 0), ROW(KAVER_FAILURE, 1), ROW(KAVER_PENDING, 2), ROW(KAVER_INVALID, 3),
        ROW(KAVER_OVERFLOW, 4), ROW(KAVER_DISABLED, 5), ROW(KAVER_BMAP_IMAGE_INVALID, 6),
        ROW(KAVER_SESSION_IN_PROGRESS, 7), ROW(KAVER_PARTITIONS_ATTACHED, 8), ROW(KAVER_INPROCESS, 0xFF),
        ROW(BEGINKAVERSESS_REQLEN, 8), ROW(BEGINKAVERSESS_RSPLEN, 9), ROW(ENDKAVERSESS_REQLEN, 7),
        ROW(ENDKAVERSESS_RSPLEN, 5), ROW(KAVERSESSWDOG_REQLEN, 7), ROW(KAVERSESSWDOG_RSPLEN, 7),
        ROW(GETPARTINDEX_REQLEN, 7), ROW(GETPARTINDEX_RSPLEN, 13), ROW(GETPARTINFO_REQLEN, 9),
        ROW(GETPARTINFO_RSPLEN, 14), ROW(ATTACHPART_REQLEN, 13), ROW(ATTACHPART_RSPLEN, 7),
        ROW(DETACHPART_REQLEN, 13), ROW(DETACHPART_RSPLEN, 7), ROW(CREATEDYNPART_REQLEN, 14),
        ROW(CREATEDYNPART_RSPLEN, 9), ROW(DELETEDYNPART_REQLEN, 11), ROW(DELETEDYNPART_RSPLEN, 7),
        ROW(DETACHDYNPART_REQLEN, 11), ROW(DETACHDYNPART_RSPLEN, 7), ROW(UPDATEHASHHDR_REQLEN, 13),
        ROW(UPDATEHASHHDR_RSPLEN, 7), ROW(SECKAVERUP_HASHDATA_REQLEN, 17), ROW(SECKAVERUP_HASHDATA_RSPLEN, 7),
        ROW(GETKAVERSTATUS_REQLEN, 8), ROW(GETKAVERSTATUS_RSPLEN, 7), ROW(CMDREGSSIBTASK1_REQLEN, 8),
        ROW(CMDREGSSIBTASK1_RSPLEN, 7), ROW(CMDREGSSIBTASK2_REQLEN, 17), ROW(CMDREGSSIBTASK2_RSPLEN, 7),
        ROW(GETFLAGSTATUS_REQLEN, 8), ROW(GETFLAGSTATUS_RSPLEN, 8), ROW(SETFLAGSTATUS_REQLEN, 7),
        ROW(SETFLAGSTATUS_RSPLEN, 7), ROW(STAGEANDUPDATE_REQLEN, 7), ROW(STAGEANDUPDATE_RSPLEN, 8),
        ROW(GETKAVERTYPE_REQLEN, 4), ROW(GETKAVERTYPE_RSPLEN, 6), ROW(GETKAVERACCESSSTATE_REQLEN, 4),
        ROW(GETKAVERACCESSSTATE_RSPLEN, 6), ROW(SETKAVERACCESSSTATE_REQLEN, 6),
        ROW(SETKAVERACCESSSTATE_RSPLEN, 5), ROW(QUERYRQL_REQLEN, 7), ROW(QUERYRQL_RSPLEN, 7),
        ROW(GETPMSTATUS_REQLEN, 8), ROW(GETPMSTATUS_RSPLEN, 34), ROW(RESEXTCFG_REQLEN, 5),
        ROW(RESEXTCFG_RSPLEN, 7), ROW(SETEXTCFG_REQLEN, 17), ROW(SETEXTCFG_RSPLEN, 7),
        ROW(GETIVELDVER_REQLEN, 3), ROW(GETIVELDVER_RSPLEN, 23), ROW(IPMI_HDRSIZE, 2),
        ROW(KAVER_BMC_ADD, 0x20), ROW(KAVER_NETFUN_LUN, 0xC0), ROW(KAVER_IPMI_OEM_CMD, 0xA2),
        ROW(ZEMT_MAXPOLLCNT, 3000), ROW(KAVER_POLL_TIMEOUT, 500), ROW(KAVER_SESSION_TIMEOUT, 1200),
        ROW(IPMI_TIMEOUT, 90), ROW(DYNCHUNK_SZ, 0x8000), ROW(MAXCHUNK_SZ, 0x80000000u), ROW(ONE_K, 1024),
        ROW(ONE_MEG, 1048576), ROW(TWO_MEG, 2097152), ROW(emptyBitMap, 0), ROW(ENOERROR, 0),
        ROW(MAX_STAT_COUNT, 120), ROW(MAXBSIZE, 26214400), ROW(UMOUNT_WAIT_TIME, 7), ROW(MAXPATH_LEN, 360),
        ROW(maxPartitions, 257), ROW(dynPartSlot, 0), ROW(MaxPartInfoEntry, 257), ROW(FLOPPY, 0),
        ROW(RESERVED, 0x20), ROW(USB_KEY, 0x40), ROW(READONLY, 0), ROW(READWRITE, 0x08),
        ROW(staticPartType, 0), ROW(dynamicPartType, 0x80),
    };
#undef ROW
    for (const auto& row : rows) EXPECT_EQ(row.actual, row.expected) << row.name;
}

}  // namespace
