// SPDX-License-Identifier: Apache-2.0
// Short controller queries, and the controller restart on destruction.
#include "KaverTest.h"

namespace {

class StateQueryTest : public KaverTest {
protected:
    void SetUp() override {
        KaverTest::SetUp();
        build();
    }
};

TEST_F(StateQueryTest, RepositoryKindMapping) {
    struct Row {
        TrenReply reply;
        kaverSupport_t kind;
        uint8_t lastErr;
    };
    const Row rows[] = {
        {TrenReply::Ok({0}), fullKaverPresent, 0}, {TrenReply::Ok({1}), KaverLite, 0},
        {TrenReply::Ok({2}), Liter, 0},            {TrenReply::Ok({3}), noKaverPresent, 0},
        {TrenReply::Ok({0xFF}), noKaverPresent, 0}, {TrenReply::Code(1, {0}), noKaverPresent, 20},
        {TrenReply::NoExchange(), noKaverPresent, 20},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "expected kind " << row.kind);
        kaver->errorInfo.lastErr = 99;
        tren.then(row.reply);
        EXPECT_EQ(kaver->GetKaverType(), row.kind);
        EXPECT_EQ(kaver->getZEMTError(), row.lastErr);
    }
}

TEST_F(StateQueryTest, AccessStateAndTheRecoveryBypass) {
    struct Row {
        uint8_t state;
        const char* componentId;  // in package.xml of the working dir; null: no file
        bool enabled;
        uint8_t subcode;
    };
    const Row rows[] = {
        {0, nullptr, true, 0},    {1, nullptr, false, 1},  {2, nullptr, false, 2},
        {2, "28897", true, 0},    {1, "28897", false, 1},  {2, "12345", false, 2},
        {0, "28897", true, 0},    {2, "288970", false, 2},
    };
    ScopedTempDir dir(true);
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "state " << int(row.state) << " component "
                                        << (row.componentId ? row.componentId : "none"));
        std::remove("package.xml");
        if (row.componentId) {
            writeFile("package.xml", std::string("<SoftwareComponent><SupportedDevices><Device componentID=\"") +
                                         row.componentId + "\"/></SupportedDevices></SoftwareComponent>");
        }
        tren.then(TrenReply::Ok({row.state}));
        EXPECT_EQ(kaver->IsKaverEnabled(), row.enabled);
        EXPECT_EQ(kaver->errorInfo.errSubcode, row.subcode);
        EXPECT_EQ(kaver->getZEMTError(), 0);
    }

    tren.then(TrenReply::Code(1));
    EXPECT_FALSE(kaver->IsKaverEnabled());
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_GKAVFAILED);
}

TEST_F(StateQueryTest, DependencyCheckSupportByFirmwareVersion) {
    struct Row {
        const char* name;
        TrenReply version;  // answer to the version query
        TrenReply kind;     // answer to the system-kind query (byte 2: 0 modular)
        int result;
    };
    const TrenReply modular = TrenReply::Code(0), monolithic = TrenReply::Code(1);
    const Row rows[] = {
        {"2.20 modular", TrenReply::Ok({2, 20}), modular, 1},
        {"3.10 modular", TrenReply::Ok({3, 10}), modular, 0},
        {"1.20 modular", TrenReply::Ok({1, 20}), modular, 0},
        {"2.19 modular", TrenReply::Ok({2, 19}), modular, 0},
        {"1.30 monolithic", TrenReply::Ok({1, 30}), monolithic, 1},
        {"1.29 monolithic", TrenReply::Ok({1, 29}), monolithic, 0},
        {"0.30 monolithic", TrenReply::Ok({0, 30}), monolithic, 0},
        // System kind unknown counts as monolithic.
        {"1.30 kind unknown", TrenReply::Ok({1, 30}), TrenReply::NoExchange(), 1},
        {"2.20 kind unknown", TrenReply::Ok({2, 20}), TrenReply::NoExchange(), 0},
        {"version refused", TrenReply::Code(1, {2, 20}), modular, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        tren.script.clear();
        tren.then(row.version);
        tren.thenRepeat(row.kind, 10);  // a failing kind query is tried ten times
        EXPECT_EQ(kaver->isDepCheckSupported(), row.result);
    }
    tren.script.clear();
    tren.thenRepeat(TrenReply::NoExchange(), 10);
    EXPECT_EQ(kaver->isDepCheckSupported(), -1);
}

TEST_F(StateQueryTest, SystemKind) {
    tren.then(TrenReply::Code(0));
    EXPECT_EQ(kaver->isMonolithic(), 0);
    tren.then(TrenReply::Code(3));
    EXPECT_EQ(kaver->isMonolithic(), 1);
    tren.thenRepeat(TrenReply::NoExchange(), 10);
    EXPECT_EQ(kaver->isMonolithic(), -1);
}

TEST_F(StateQueryTest, StateFlagIsReadAndNamed) {
    const std::pair<uint8_t, const char*> rows[] = {
        {0, "State flag set to STATE_FLAG_NORMAL_BOOT."},
        {1, "State flag set to STATE_FLAG_GUI."},
        {4, "State flag set to STATE_FLAG_FIELD_SERVICE."},
        {5, "State flag set to STATE_FLAG_SSM."},
        {0x80, "State flag set to STATE_FLAG_OVERRIDE."},
        {2, "State flag set to unknown value: 2"},
        {255, "State flag set to unknown value: 255"},
    };
    enableDebugLog();
    build();
    for (const auto& row : rows) {
        SCOPED_TRACE(int(row.first));
        markLog();
        kaver->errorInfo.lastErr = 99;
        tren.then(TrenReply::Ok({0x00, 0x00, row.first}));
        uint8_t value = 0xEE;
        EXPECT_EQ(kaver->getStateFlag(value), 0);
        EXPECT_EQ(value, row.first);
        EXPECT_EQ(kaver->getZEMTError(), 0);
        EXPECT_NE(newLog().find(row.second), std::string::npos);
    }

    tren.then(TrenReply::Code(3, {0, 0, 4}));
    uint8_t value = 0xEE;
    EXPECT_EQ(kaver->getStateFlag(value), 3) << "the failing result is handed on";
    EXPECT_EQ(value, 0xEE);
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_GETSTATEERROR);
}

TEST_F(StateQueryTest, SettingTheStateFlag) {
    EXPECT_EQ(kaver->setStateFlag(4), 0);
    EXPECT_EQ(kaver->getZEMTError(), 0);
    tren.then(TrenReply::Code(3));
    EXPECT_EQ(kaver->setStateFlag(4), 1);
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_SETSTATEERROR);

    EXPECT_EQ(kaver->regPowerCycle(), 0);
    tren.then(TrenReply::Code(1));
    EXPECT_EQ(kaver->regPowerCycle(), -1);
    EXPECT_EQ(tren.requestBytes(3)[6], 5) << "power cycle sets the SSM flag";
}

TEST_F(StateQueryTest, PowerSupplies) {
    // Response bytes from byte 3 on: index 0 here is response byte 3.
    std::vector<uint8_t> count(9, 0);
    count[8] = 4;  // byte 11
    tren.then(TrenReply::Ok(count));
    uint8_t n = 0;
    EXPECT_EQ(kaver->getPSCount(n), 0);
    EXPECT_EQ(n, 4);
    tren.thenRepeat(TrenReply::NoExchange(), 10);
    EXPECT_EQ(kaver->getPSCount(n), -1);

    struct Row {
        const char* name;
        uint8_t byte4, byte5;
        const char* text;  // bytes 13-20 and on
        uint8_t byte24;
        std::string version;
        unsigned present;
    };
    const Row rows[] = {
        {"eight characters, no NUL", 1, 0, "ABCDEFGHXY", 0x01, "ABCDEFGH", 1},
        {"short text", 0, 2, "1.2", 0x03, "1.2", 1},
        {"not present: bit 0 clear", 1, 1, "07.00.01", 0x02, "07.00.01", 0},
        {"not present: bytes 4 and 5 zero", 0, 0, "07.00.01", 0x01, "07.00.01", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<uint8_t> data(22, 0);  // response bytes 3..24
        data[4 - 3] = row.byte4;
        data[5 - 3] = row.byte5;
        data[9 - 3] = 0x78;
        data[10 - 3] = 0x56;
        data[11 - 3] = 0x34;
        data[12 - 3] = 0x12;
        for (std::size_t i = 0; row.text[i] && 13 + i < 24; ++i) data[13 - 3 + i] = row.text[i];
        data[24 - 3] = row.byte24;
        tren.then(TrenReply::Ok(data));
        unsigned int compId = 0, present = 99;
        std::string version = "old";
        EXPECT_EQ(kaver->getPSUVersion(1, compId, version, present), 0);
        EXPECT_EQ(version, row.version);
        EXPECT_EQ(compId, 0x12345678u);
        EXPECT_EQ(present, row.present);
    }
    tren.thenRepeat(TrenReply::NoExchange(), 10);
    unsigned int compId = 0, present = 0;
    std::string version;
    EXPECT_EQ(kaver->getPSUVersion(1, compId, version, present), -1);
}

// Destruction with a restart requested: reset, 60 s, then short sessions
// until the controller answers again.
class RestartTest : public KaverTest {
protected:
    void SetUp() override {
        KaverTest::SetUp();
        GenerationType = VemoGen;  // failing begins must not ask the generation
        build();
        kaver->setRestart();
    }
    std::vector<uint8_t> subCommands() const {
        std::vector<uint8_t> subs;
        for (std::size_t i = 0; i < tren.requests.size(); ++i) {
            std::vector<uint8_t> bytes = tren.requestBytes(i);
            subs.push_back(bytes[1] == 0xA2 ? bytes[2] : 0xFF);  // 0xFF: not a session request
        }
        return subs;
    }
};

TEST_F(RestartTest, ControllerBackAfterTwoFailedAttempts) {
    tren.then(TrenReply::Ok());  // cold reset
    tren.thenRepeat(TrenReply::Code(1), 4);  // two attempts, extended and plain each
    tren.then(TrenReply::Ok({0x09, 0x00}));  // third attempt: extended succeeds
    kaver.reset();

    EXPECT_EQ(tren.requestBytes(0), (std::vector<uint8_t>{0x18, 0x02}));
    EXPECT_EQ(subCommands(), (std::vector<uint8_t>{0xFF, 0x12, 0x00, 0x12, 0x00, 0x12, 0x01}));
    EXPECT_EQ(tren.requestBytes(1)[4], 60) << "short sessions";
    EXPECT_EQ(tren.requestBytes(6)[3], 0x09) << "the probe session is closed";
    EXPECT_EQ(platform.now(), 60u + 2 * 10 + 60);
}

TEST_F(RestartTest, GivesUpAfterTwentyFourAttempts) {
    kaver->restart = 0;
    enableDebugLog();
    build();
    kaver->setRestart();
    tren.fallback = TrenReply::Code(1);
    tren.then(TrenReply::Ok());  // cold reset
    kaver.reset();

    EXPECT_EQ(tren.requests.size(), 1u + 24 * 2);
    EXPECT_EQ(platform.now(), 60u + 24 * 10);
    EXPECT_TRUE(logHasInOrder(log(), {"Reboot wait timeout reached", "Udev  successfully Uninstalled"}));
}

TEST_F(RestartTest, LiteRepositoriesOnlyWait) {
    kaver->restart = 0;
    for (kaverSupport_t kind : {KaverLite, Liter}) {
        SCOPED_TRACE(kind);
        build();
        kaver->setRestart();
        kaver->KAVERType = kind;
        const unsigned long before = platform.now();
        kaver.reset();
        EXPECT_TRUE(tren.requests.empty());
        EXPECT_EQ(platform.now() - before, 60u);
    }
}

}  // namespace
