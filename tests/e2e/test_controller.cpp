// SPDX-License-Identifier: Apache-2.0
// The library's controller channel against the emulated controller:
// generation, sessions and their watchdog, polling, the state queries,
// scripted faults and the restart at destruction.  Time is virtual: every
// wait below is asserted in emulated seconds and costs nothing.
#include <algorithm>
#include <cstring>

#include "EmulatorFixture.h"
#include "PlatformLayer.h"
#include "secureKaver.h"

namespace {

const unsigned kOem = 0xC0;
const unsigned kSession = 0xA2;

std::vector<LoggedRequest> since(const std::vector<LoggedRequest>& all, std::size_t from) {
    return std::vector<LoggedRequest>(all.begin() + static_cast<long>(std::min(from, all.size())),
                                      all.end());
}

std::size_t countOf(const std::vector<LoggedRequest>& requests, std::initializer_list<unsigned> prefix) {
    return static_cast<std::size_t>(std::count_if(
        requests.begin(), requests.end(), [&](const LoggedRequest& r) { return r.Is(prefix); }));
}

class ControllerTest : public EmulatorTest {};

// ---- generation ---------------------------------------------------------------

TEST_F(ControllerTest, GenerationFollowsTheControllersGenerationByte) {
    const std::pair<const char*, int> cases[] = {
        {"pre-vemo", PreVemo}, {"0x0f", PreVemo}, {"vemo", VemoGen},
        {"0x15", VemoGen},     {"sarn", SarnGen}, {"0x16", SarnGen},
    };
    for (const auto& c : cases) {
        Fresh([&](zemt_emu::InitOptions& o) { o.generation = c.first; });
        secureKaver kaver;
        EXPECT_EQ(kaver.GetSystemGeneration(), c.second) << c.first;
        std::vector<LoggedRequest> requests = Requests();
        std::size_t buffers = 0, frees = 0;
        for (const LoggedRequest& r : requests) {
            if (r.kind == "sysinfo" && r.Answered()) {
                ++buffers;
                EXPECT_EQ(r.request, (std::vector<unsigned>{0x00, 0x00, 0xDD, 0x02, 0x00, 0x12}));
            }
            if (r.kind == "free") ++frees;
        }
        EXPECT_EQ(buffers, 1u) << c.first;
        EXPECT_EQ(frees, buffers) << "every information buffer is given back";
    }
}

TEST_F(ControllerTest, GenerationIsUnknownWhenTheInformationCallFails) {
    for (const char* fault : {"sysinfo status=1", "sysinfo buffer=null"}) {
        Fresh();
        Fault(fault);
        secureKaver kaver;
        EXPECT_EQ(kaver.GetSystemGeneration(), Failure) << fault;
        // The fault was used up: the next question is answered.
        EXPECT_EQ(kaver.GetSystemGeneration(), SarnGen) << fault;
    }
}

// ---- sessions -----------------------------------------------------------------------

TEST_F(ControllerTest, ExtendedSessionCarriesTheTimeoutAndTheGrantedHandle) {
    Init();
    secureKaver kaver;
    std::size_t before = Requests().size();
    ASSERT_TRUE(kaver.BeginKaverSessionExtended(KAVER_SESSION_TIMEOUT));
    EXPECT_EQ(kaver.getZEMTError(), 0);
    std::vector<LoggedRequest> sent = since(Requests(), before);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].request, (std::vector<unsigned>{kOem, kSession, 0x12, 0x02, 0xB0, 0x04, 0x00, 0x00}));
    ASSERT_GE(sent[0].response.size(), 5u);
    uint16_t granted = static_cast<uint16_t>(sent[0].response[3] | (sent[0].response[4] << 8));
    EXPECT_NE(granted, 0);
    EXPECT_EQ(kaver.thisSession.KAVER_Handle, granted);
    EXPECT_EQ(ControllerState("session.handle"), std::to_string(granted));

    // A second plain begin is refused by the library without asking.
    before = Requests().size();
    EXPECT_FALSE(kaver.BeginKaverSession(60));
    EXPECT_EQ(kaver.getZEMTError(), ZEMT_SESSIONACTIVE);
    EXPECT_EQ(Requests().size(), before);

    ASSERT_TRUE(kaver.EndKaverSession());
    std::vector<LoggedRequest> end = since(Requests(), before);
    ASSERT_EQ(end.size(), 1u);
    EXPECT_EQ(end[0].request, (std::vector<unsigned>{kOem, kSession, 0x01, granted & 0xFFu,
                                                      static_cast<unsigned>(granted >> 8), 0x00, 0x00}));
    EXPECT_EQ(ControllerState("session.handle"), "0");

    before = Requests().size();
    EXPECT_FALSE(kaver.EndKaverSession());
    EXPECT_EQ(kaver.getZEMTError(), ZEMT_NOKAVERSESS);
    EXPECT_EQ(Requests().size(), before);
}

TEST_F(ControllerTest, PreVemoControllerRefusesTheExtendedFormButGrantsThePlainOne) {
    Init([](zemt_emu::InitOptions& o) { o.generation = "pre-vemo"; });
    secureKaver kaver;
    EXPECT_FALSE(kaver.BeginKaverSessionExtended(KAVER_SESSION_TIMEOUT));
    EXPECT_EQ(kaver.getZEMTError(), ZEMT_GETSESSFAIL);
    EXPECT_TRUE(kaver.BeginKaverSession(KAVER_SESSION_TIMEOUT));
    EXPECT_TRUE(kaver.IsSessionActive());
    EXPECT_TRUE(kaver.EndKaverSession());
}

TEST_F(ControllerTest, RefusedBeginOnALaterGenerationGivesCode63) {
    Init();
    Fault("cmd=0xA2/18 completion=0x07");
    secureKaver kaver;
    EXPECT_FALSE(kaver.BeginKaverSessionExtended(60));
    EXPECT_EQ(kaver.getZEMTError(), ZEMT_GETSESSFAIL_Vemo);
    EXPECT_TRUE(kaver.BeginKaverSessionExtended(60)) << "times=1 refuses only once";
}

TEST_F(ControllerTest, SecondClientIsRefusedWhileTheSessionIsHeld) {
    Init();
    secureKaver kaver;
    ASSERT_TRUE(kaver.BeginKaverSessionExtended(KAVER_SESSION_TIMEOUT));

    std::size_t before = Requests().size();
    ProcessResult other = RunZemt({"--emulator", stateDir_, "flag", "get"});
    EXPECT_EQ(other.exitCode, 1) << other.out << other.err;
    EXPECT_NE(other.err.find("refused a session"), std::string::npos) << other.err;
    std::vector<LoggedRequest> sent = since(Requests(), before);
    std::size_t refusals = 0;
    for (const LoggedRequest& r : sent)
        if ((r.Is({kOem, kSession, 0x12}) || r.Is({kOem, kSession, 0x00})) && r.response.size() >= 3 &&
            r.response[2] == 0x07)
            ++refusals;
    EXPECT_EQ(refusals, 2u) << "extended and plain begin both meet the held session";

    ASSERT_TRUE(kaver.EndKaverSession());
    other = RunZemt({"--emulator", stateDir_, "flag", "get"});
    EXPECT_EQ(other.exitCode, 0) << other.err;
}

TEST_F(ControllerTest, SessionWhoseWatchdogRanOutIsGone) {
    Init();
    secureKaver kaver;
    ASSERT_TRUE(kaver.BeginKaverSessionExtended(60));
    uint8_t flag = 0xEE;
    CPlatformLayer::Sleep(59);
    ASSERT_EQ(kaver.getStateFlag(flag), 0) << "59 s is within the watchdog";
    EXPECT_EQ(flag, 0);
    // Each accepted request restarts the watchdog: 118 s after the begin
    // the session still lives, and only 61 s of silence end it.
    CPlatformLayer::Sleep(59);
    ASSERT_EQ(kaver.getStateFlag(flag), 0) << "the watchdog was restarted at 59 s";
    CPlatformLayer::Sleep(61);
    EXPECT_NE(kaver.getStateFlag(flag), 0);
    EXPECT_EQ(kaver.getZEMTError(), ZEMT_GETSTATEERROR);
    EXPECT_FALSE(kaver.EndKaverSession());
    EXPECT_EQ(kaver.getZEMTError(), ZEMT_ENDSESSERR);

    ProcessResult other = RunZemt({"--emulator", stateDir_, "flag", "get"});
    EXPECT_EQ(other.exitCode, 0) << "the expired session no longer blocks others: " << other.err;
    EXPECT_EQ(Clock(), 179u);
}

// ---- polling --------------------------------------------------------------------------

TEST_F(ControllerTest, PendingCommandIsPolledOncePerVirtualSecondUntilItCompletes) {
    Init([](zemt_emu::InitOptions& o) { o.stateFlag = 4; });
    secureKaver kaver;
    ASSERT_TRUE(kaver.BeginKaverSessionExtended(KAVER_SESSION_TIMEOUT));
    Fault("cmd=0xA2/16 pending=5 final=0");
    std::size_t before = Requests().size();
    unsigned long start = Clock();
    uint8_t flag = 0xEE;
    EXPECT_EQ(kaver.getStateFlag(flag), 0);
    EXPECT_EQ(Clock() - start, 6u) << "five pending polls and the final one, a second apart";

    std::vector<LoggedRequest> sent = since(Requests(), before);
    ASSERT_EQ(sent.size(), 7u);
    EXPECT_TRUE(sent[0].Is({kOem, kSession, 0x10}));
    EXPECT_EQ(sent[0].response[2], 0x02u);
    for (std::size_t i = 1; i < sent.size(); ++i) {
        ASSERT_TRUE(sent[i].Is({kOem, kSession, 0x0A})) << i;
        EXPECT_EQ(sent[i].request[5], 0x10u) << "the poll names the awaited sub-command";
        EXPECT_EQ(sent[i].response[5], i < 6 ? 0x02u : 0x00u) << i;
        EXPECT_EQ(sent[i].time, start + i);
    }
    EXPECT_EQ(IPMIReqBuf.Parameters.IRREx.ReqRspBuffer[2], 0) << "the final status replaces the code";
}

TEST_F(ControllerTest, PendingCommandThatFailsLeavesTheControllerUnchanged) {
    Init([](zemt_emu::InitOptions& o) { o.stateFlag = 1; });
    secureKaver kaver;
    ASSERT_TRUE(kaver.BeginKaverSessionExtended(KAVER_SESSION_TIMEOUT));
    Fault("cmd=0xA2/17 pending=2 final=1");
    unsigned long start = Clock();
    EXPECT_EQ(kaver.setStateFlag(5), 1);
    EXPECT_EQ(kaver.getZEMTError(), ZEMT_SETSTATEERROR);
    EXPECT_EQ(Clock() - start, 3u);
    uint8_t flag = 0;
    ASSERT_EQ(kaver.getStateFlag(flag), 0);
    EXPECT_EQ(flag, 1);
}

TEST_F(ControllerTest, InProcessAnswerIsWaitedOutAndThenPolled) {
    Init([](zemt_emu::InitOptions& o) { o.stateFlag = 0x80; });
    secureKaver kaver;
    ASSERT_TRUE(kaver.BeginKaverSessionExtended(KAVER_SESSION_TIMEOUT));
    Fault("cmd=0xA2/17 completion=0xFF");
    unsigned long start = Clock();
    EXPECT_EQ(kaver.setStateFlag(4), 0);
    // 2 s for the in-process answer, 1 s before the poll that finds it done.
    EXPECT_EQ(Clock() - start, 3u);
}

// ---- queries ---------------------------------------------------------------------------

struct QueryCase {
    const char* name;
    std::function<void(zemt_emu::InitOptions&)> configure;
    kaverSupport_t kind;
    bool enabled;
    unsigned accessState;
    int monolithic;
    int depCheck;
    bool sarnAnswers;
};

TEST_F(ControllerTest, QueriesReportTheConfiguredController) {
    const QueryCase cases[] = {
        {"sarn 2.20 modular", [](zemt_emu::InitOptions& o) { o.firmwareMajor = 2; o.firmwareMinor = 20; },
         fullKaverPresent, true, 0, 0, 1, true},
        {"vemo 3.10 modular", [](zemt_emu::InitOptions& o) {
             o.generation = "vemo"; o.firmwareMajor = 3; o.firmwareMinor = 10; },
         fullKaverPresent, true, 0, 0, 0, false},
        {"1.30 monolithic", [](zemt_emu::InitOptions& o) {
             o.firmwareMajor = 1; o.firmwareMinor = 30; o.monolithic = true; },
         fullKaverPresent, true, 0, 1, 1, true},
        {"1.29 monolithic", [](zemt_emu::InitOptions& o) {
             o.firmwareMajor = 1; o.firmwareMinor = 29; o.monolithic = true; },
         fullKaverPresent, true, 0, 1, 0, true},
        {"lite", [](zemt_emu::InitOptions& o) { o.kaver = "lite"; }, KaverLite, true, 0, 0, 1, true},
        {"liter", [](zemt_emu::InitOptions& o) { o.kaver = "liter"; }, Liter, true, 0, 0, 1, true},
        {"no repository", [](zemt_emu::InitOptions& o) { o.kaver = "none"; }, noKaverPresent, true, 0,
         0, 1, true},
        {"access 1", [](zemt_emu::InitOptions& o) { o.access = 1; }, fullKaverPresent, false, 1, 0, 1,
         true},
        {"recovery without the bypass component", [](zemt_emu::InitOptions& o) { o.access = 2; },
         fullKaverPresent, false, 2, 0, 1, true},
    };
    for (const QueryCase& c : cases) {
        SCOPED_TRACE(c.name);
        Fresh(c.configure);
        secureKaver kaver;
        EXPECT_EQ(kaver.KAVERType, c.kind);
        EXPECT_EQ(kaver.GetKaverType(), c.kind);
        EXPECT_EQ(kaver.getZEMTError(), 0) << "an unknown kind is no error";
        EXPECT_EQ(kaver.IsKaverEnabled(), c.enabled);
        EXPECT_EQ(kaver.errorInfo.errSubcode, c.accessState);
        EXPECT_EQ(kaver.isMonolithic(), c.monolithic);
        EXPECT_EQ(kaver.isDepCheckSupported(), c.depCheck);
        EXPECT_EQ(kaver.iSSarniVELD() == 0, c.sarnAnswers);
    }
}

TEST_F(ControllerTest, PowerSuppliesAreCountedAndDescribed) {
    Init([](zemt_emu::InitOptions& o) {
        o.powerSupplies = {{"ABCDEFGH", 0x12345678, true}, {"07.01", 77, false}, {"", 0, true}};
    });
    secureKaver kaver;
    uint8_t count = 0;
    ASSERT_EQ(kaver.getPSCount(count), 0);
    EXPECT_EQ(count, 3);

    unsigned int compId = 0, present = 9;
    std::string version;
    ASSERT_EQ(kaver.getPSUVersion(1, compId, version, present), 0);
    EXPECT_EQ(version, "ABCDEFGH") << "eight characters without a NUL are taken whole";
    EXPECT_EQ(compId, 0x12345678u);
    EXPECT_EQ(present, 1u);
    ASSERT_EQ(kaver.getPSUVersion(2, compId, version, present), 0);
    EXPECT_EQ(version, "07.01");
    EXPECT_EQ(compId, 77u);
    EXPECT_EQ(present, 0u);
    ASSERT_EQ(kaver.getPSUVersion(3, compId, version, present), 0);
    EXPECT_EQ(version, "");
    EXPECT_EQ(present, 1u);
    // An index the controller does not have answers an error and nothing else.
    ASSERT_EQ(kaver.getPSUVersion(4, compId, version, present), 0);
    EXPECT_EQ(present, 0u);
    EXPECT_EQ(compId, 0u);
}

TEST_F(ControllerTest, StateFlagPersistsInTheControllerAcrossProcesses) {
    Init();
    {
        secureKaver kaver;
        ASSERT_TRUE(kaver.BeginKaverSessionExtended(60));
        EXPECT_EQ(kaver.regPowerCycle(), 0);
        EXPECT_TRUE(kaver.EndKaverSession());
    }
    ProcessResult other = RunZemt({"--emulator", stateDir_, "flag", "get", "--json"});
    EXPECT_EQ(other.exitCode, 0) << other.err;
    EXPECT_NE(other.out.find("\"value\":5"), std::string::npos) << other.out;
}

// ---- faults on the transport -----------------------------------------------------------

struct FaultCase {
    const char* fault;
    kaverSupport_t kind;
    unsigned long seconds;   // virtual time the query took
    std::size_t exchanges;   // requests that reached the controller
};

TEST_F(ControllerTest, TransportFaultsAreRetriedOrFailedAsTheStatusSays) {
    const FaultCase cases[] = {
        {"cmd=0xAD status=3 times=10", noKaverPresent, 18, 10},  // timeouts on every attempt
        {"cmd=0xAD status=3 times=9", fullKaverPresent, 18, 10},  // the tenth attempt answers
        {"cmd=0xAD status=8 times=2", fullKaverPresent, 4, 3},    // device busy twice
        {"cmd=0xAD status=16 times=always", noKaverPresent, 0, 10},  // overrun: at once, no pause
        {"cmd=0xAD status=1", noKaverPresent, 0, 1},              // not implemented: no retry
        {"cmd=0xAD status=-1", noKaverPresent, 0, 1},
        {"cmd=0xAD tren_result=0", noKaverPresent, 0, 1},
        {"cmd=0xAD completion=0x01", noKaverPresent, 0, 1},
        {"cmd=0xAD completion=0x05", noKaverPresent, 0, 1},
        {"cmd=0xAD completion=0xFF", noKaverPresent, 2, 1},      // in process: a 2 s pause
        {"cmd=0xAD completion=0x00", fullKaverPresent, 0, 1},
        {"cmd=0xAE completion=0x01", fullKaverPresent, 0, 1},     // another command's fault
        {"cmd=0xAD status=3 after=1", fullKaverPresent, 0, 1},    // spares the first request
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.fault);
        Fresh();
        secureKaver kaver;
        Fault(c.fault);
        std::size_t before = Requests().size();
        unsigned long start = Clock();
        EXPECT_EQ(kaver.GetKaverType(), c.kind);
        EXPECT_EQ(kaver.getZEMTError(), c.kind == noKaverPresent ? ZEMT_NOKAVERPRESENT : 0);
        EXPECT_EQ(Clock() - start, c.seconds);
        EXPECT_EQ(since(Requests(), before).size(), c.exchanges);
    }
}

TEST_F(ControllerTest, PlainQueriesReportTransportFailureAsMinusOne) {
    Init();
    secureKaver kaver;
    Fault("cmd=0xBD tren_result=0 times=always");
    Fault("cmd=0x18:0x59 tren_result=0 times=always");
    unsigned long start = Clock();
    EXPECT_EQ(kaver.isMonolithic(), -1);
    EXPECT_EQ(Clock() - start, 18u) << "ten attempts, 2 s apart";
    uint8_t count = 0;
    EXPECT_EQ(kaver.getPSCount(count), -1);
    EXPECT_EQ(countOf(Requests(), {0xC0, 0xBD}), 10u);
    // A monolithic answer can not be had, so the rule for monolithic systems applies.
    EXPECT_EQ(kaver.isDepCheckSupported(), 1);
}

TEST_F(ControllerTest, ErrorCompletionOfTheVersionQueryMeansNoDependencyCheck) {
    Init();
    Fault("cmd=0xBF/1 completion=0xC1");
    secureKaver kaver;
    EXPECT_EQ(kaver.isDepCheckSupported(), 0);
    EXPECT_EQ(kaver.isDepCheckSupported(), 1);
}

TEST_F(ControllerTest, ControllerChecksWhatItIsSent) {
    Init();
    secureKaver kaver;
    ASSERT_TRUE(kaver.BeginKaverSessionExtended(60));
    uint8_t* buffer = IPMIReqBuf.Parameters.IRREx.ReqRspBuffer;

    // A command the controller does not know.
    std::memset(&IPMIReqBuf, 0, sizeof IPMIReqBuf);
    EXPECT_EQ(kaver.OEMIPMIRequest(GetKaverInfo, 0, &IPMIReqBuf, 3, 10), 1);
    EXPECT_EQ(buffer[2], 0xC1);

    // A sub-command of 0xA2 it does not know.
    std::memset(&IPMIReqBuf, 0, sizeof IPMIReqBuf);
    buffer[3] = kaver.thisSession.KAVER_Handle & 0xFF;
    buffer[4] = kaver.thisSession.KAVER_Handle >> 8;
    EXPECT_EQ(kaver.IPMIRequest(11, &IPMIReqBuf, 7, 7), 1);
    EXPECT_EQ(buffer[2], 0xCC);

    // A request too short for its command.
    std::memset(&IPMIReqBuf, 0, sizeof IPMIReqBuf);
    EXPECT_EQ(kaver.IPMIRequest(16, &IPMIReqBuf, 5, 8), 1);
    EXPECT_EQ(buffer[2], 0xC7);

    // A session command with a handle the controller never gave.
    std::memset(&IPMIReqBuf, 0, sizeof IPMIReqBuf);
    buffer[3] = static_cast<uint8_t>((kaver.thisSession.KAVER_Handle + 1) & 0xFF);
    buffer[4] = static_cast<uint8_t>((kaver.thisSession.KAVER_Handle + 1) >> 8);
    EXPECT_EQ(kaver.IPMIRequest(16, &IPMIReqBuf, 8, 8), 3);

    // A response buffer too small for the answer is a data overrun.
    std::memset(&IPMIReqBuf, 0, sizeof IPMIReqBuf);
    EXPECT_EQ(kaver.OEMIPMIRequest(GetKAVERType, 0, &IPMIReqBuf, 4, 4), 1);
    EXPECT_EQ(Requests().back().status, "16");

    // A block addressed to another slave never reaches the controller.
    EsmIPMICmdIoctlReq block;
    std::memset(&block, 0, sizeof block);
    block.ReqType = IPMI_REQTYPE_IRREX;
    block.Parameters.IRREx.RsSA = 0x22;
    block.Parameters.IRREx.ReqPhaseBufLen = 2;
    block.Parameters.IRREx.RspPhaseBufLen = 30;
    block.Parameters.IRREx.ReqRspBuffer[0] = 0xC0;
    block.Parameters.IRREx.ReqRspBuffer[1] = 0xBD;
    ASSERT_NE(pfnCommandWithoutRetry, nullptr);
    EXPECT_EQ(pfnCommandWithoutRetry(&block, &block), 1);
    EXPECT_EQ(block.Status, 7);

    EXPECT_TRUE(kaver.EndKaverSession()) << "none of it disturbed the session";
}

// ---- restart at destruction ----------------------------------------------------------------

TEST_F(ControllerTest, DestructorResetsTheControllerAndWaitsUntilItIsBack) {
    Init([](zemt_emu::InitOptions& o) { o.resetRecovery = 90; });
    std::size_t before = 0;
    unsigned long start = 0;
    {
        secureKaver kaver;
        ASSERT_TRUE(kaver.BeginKaverSessionExtended(KAVER_SESSION_TIMEOUT));
        kaver.setRestart();
        before = Requests().size();
        start = Clock();
    }
    std::vector<LoggedRequest> sent = since(Requests(), before);
    ASSERT_GE(sent.size(), 2u);
    EXPECT_TRUE(sent[0].Is({kOem, kSession, 0x01})) << "the working session is ended first";
    EXPECT_TRUE(sent[1].Is({0x18, 0x02}));
    EXPECT_EQ(sent[1].time, start);

    std::vector<unsigned long> refused, granted;
    for (const LoggedRequest& r : sent) {
        if (!r.Is({kOem, kSession, 0x12})) continue;
        (r.Answered() ? granted : refused).push_back(r.time);
    }
    // Back 90 s after the reset: tries at 60, 70 and 80 s go unanswered.
    EXPECT_EQ(refused, (std::vector<unsigned long>{start + 60, start + 70, start + 80}));
    EXPECT_EQ(granted, (std::vector<unsigned long>{start + 90}));
    EXPECT_TRUE(sent.back().Is({kOem, kSession, 0x01})) << "the probing session is ended";
    EXPECT_EQ(Clock() - start, 150u);
    EXPECT_EQ(ControllerState("session.handle"), "0");
}

TEST_F(ControllerTest, DestructorGivesUpAfter24AttemptsWhenTheControllerStaysAway) {
    Init([](zemt_emu::InitOptions& o) { o.resetRecovery = 100000; });
    unsigned long start = 0;
    std::size_t before = 0;
    {
        secureKaver kaver;
        kaver.setRestart();
        before = Requests().size();
        start = Clock();
    }
    std::vector<LoggedRequest> sent = since(Requests(), before);
    EXPECT_EQ(countOf(sent, {kOem, kSession, 0x12}), 24u);
    EXPECT_EQ(countOf(sent, {kOem, kSession, 0x00}), 24u);
    EXPECT_EQ(Clock() - start, 60u + 24u * 10u);
}

TEST_F(ControllerTest, LiteRepositoryIsNotResetButTheWaitStays) {
    Init([](zemt_emu::InitOptions& o) { o.kaver = "lite"; });
    unsigned long start = 0;
    std::size_t before = 0;
    {
        secureKaver kaver;
        kaver.setRestart();
        before = Requests().size();
        start = Clock();
    }
    EXPECT_EQ(countOf(since(Requests(), before), {0x18, 0x02}), 0u);
    EXPECT_EQ(Clock() - start, 60u);
}

}  // namespace
