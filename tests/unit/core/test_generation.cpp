// SPDX-License-Identifier: Apache-2.0
// Server generation from the system-information parameter of TREN.
#include "KaverTest.h"

namespace {

class GenerationTest : public KaverTest {
protected:
    void SetUp() override {
        KaverTest::SetUp();
        build();
    }
};

TEST_F(GenerationTest, GenerationByteBoundaries) {
    const std::pair<uint8_t, int> rows[] = {
        {0x00, PreVemo}, {0x0F, PreVemo}, {0x10, VemoGen}, {0x15, VemoGen},
        {0x16, SarnGen}, {0x80, SarnGen}, {0xFF, SarnGen},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "byte 0x" << std::hex << int(row.first));
        tren.generation = row.first;
        const int freesBefore = tren.freeCalls;
        EXPECT_EQ(kaver->GetSystemGeneration(), row.second);
        EXPECT_EQ(tren.freeCalls, freesBefore + 1) << "the buffer goes back to TREN";
    }
    EXPECT_EQ(tren.sysInfoArgs, (std::vector<uint8_t>{0x00, 0x00, 0xDD, 0x02, 0x00, 0x12}));
    EXPECT_EQ(tren.sysInfoPresetStatus, 1);
    EXPECT_EQ(tren.sysInfoTimeout, 750);
    EXPECT_EQ(GenerationType, Failure) << "the query itself does not cache";
}

TEST_F(GenerationTest, AsksOnlyWhileTheGenerationIsUnknown) {
    tren.generation = 0x16;
    EXPECT_EQ(kaver->GetSystemGeneration(), SarnGen);
    EXPECT_EQ(kaver->GetSystemGeneration(), SarnGen);
    EXPECT_EQ(tren.sysInfoCalls, 2);

    GenerationType = PreVemo;
    EXPECT_EQ(kaver->GetSystemGeneration(), PreVemo);
    EXPECT_EQ(tren.sysInfoCalls, 2);
}

TEST_F(GenerationTest, FailuresGiveMinusOne) {
    enableDebugLog();
    build();
    struct Row {
        const char* name;
        const char* missing;
        int status;
        bool nullBuffer;
        const char* log;
    };
    const Row rows[] = {
        {"function missing", "ZOLIPMGetSystemInfoParameter", 0, false,
         "GetSystemGeneration : pfnGetSystemInfo is NULL "},
        {"failed status", nullptr, 7, false, "GetSystemGeneration : pfnGetSystemInfo failed : Return Code - 7"},
        {"null buffer", nullptr, 0, true, "GetSystemGeneration : pfnGetSystemInfo failed : Return Code - 0"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        tren.missing.clear();
        if (row.missing) tren.missing.insert(row.missing);
        tren.sysInfoStatus = row.status;
        tren.sysInfoNullBuffer = row.nullBuffer;
        markLog();
        EXPECT_EQ(kaver->GetSystemGeneration(), Failure);
        EXPECT_NE(newLog().find(row.log), std::string::npos) << newLog();
    }
}

TEST_F(GenerationTest, MissingFreeFunctionStillAnswers) {
    enableDebugLog();
    build();
    tren.missing.insert("ZOLIPMIFreeGeneric");
    tren.generation = 0x12;
    EXPECT_EQ(kaver->GetSystemGeneration(), VemoGen);
    EXPECT_TRUE(logHasInOrder(newLog(), {"Vemo or Vemo Plus System ", "Unable to Free Memory"}));
}

}  // namespace
