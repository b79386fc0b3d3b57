// SPDX-License-Identifier: Apache-2.0
// Asking the controller which partitions exist and recording their bits in
// the catalogue.
#include <cstring>
#include <functional>

#include "PartitionTest.h"

namespace {

class PartitionInfoTest : public PartitionTest {};

TEST_F(PartitionInfoTest, RequestBytes) {
    struct Row {
        const char* name;
        std::function<void(secureKaver&)> call;
        TrenReply reply;
        std::vector<uint8_t> request;
        uint32_t responseLength;
    };
    const Row rows[] = {
        {"static index", [](secureKaver& k) { k.getPartIndexInfo(); }, indexReply(0, 0),
         {0xC0, 0xA2, 0x03, 0x34, 0x12, 0x00, 0x00}, 13},
        {"dynamic index", [](secureKaver& k) { k.getDynPartIndexInfo(); }, indexReply(0, 0),
         {0xC0, 0xA2, 0x03, 0x34, 0x12, 0x00, 0x00}, 13},
        {"static bit 5", [](secureKaver& k) { k.getPartInfo(0x0020); }, infoReply("KAV005"),
         {0xC0, 0xA2, 0x04, 0x34, 0x12, 0x00, 0x05, 0x00, 0x00}, 14},
        {"dynamic bit 7", [](secureKaver& k) { k.getDynPartInfo(0x0080); }, infoReply("SECUPD"),
         {0xC0, 0xA2, 0x04, 0x34, 0x12, 0x80, 0x07, 0x00, 0x00}, 14},
    };
    buildWithSession();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        tren.requests.clear();
        tren.then(row.reply);
        // Left-overs of an earlier command must not leak into the request.
        std::memset(&IPMIReqBuf, 0xEE, sizeof IPMIReqBuf);
        row.call(*kaver);
        ASSERT_EQ(tren.requests.size(), 1u);
        EXPECT_EQ(tren.requestBytes(0), row.request);
        EXPECT_EQ(responseLength(0), row.responseLength);
    }
}

TEST_F(PartitionInfoTest, IndexQueryDecodesBothBitmapsAndKeepsThemOnFailure) {
    buildWithSession();
    // Nothing learned yet: a failed query gives 0.
    tren.then(TrenReply::Code(1));
    EXPECT_EQ(kaver->getPartIndexInfo(), 0);

    tren.then(indexReply(0x0102, 0x8001));
    EXPECT_EQ(kaver->getPartIndexInfo(), 0x0102);
    EXPECT_EQ(kaver->thisSession.statBitMap, 0x0102);
    EXPECT_EQ(kaver->thisSession.dynBitMap, 0x8001);

    for (const TrenReply& failure : {TrenReply::Code(1), TrenReply::NoExchange(), TrenReply::Transport(2)}) {
        tren.then(failure);
        EXPECT_EQ(kaver->getPartIndexInfo(), 0x0102);
        tren.then(failure);
        EXPECT_EQ(kaver->getDynPartIndexInfo(), 0x8001);
    }

    tren.then(indexReply(0x0003, 0x0040));
    EXPECT_EQ(kaver->getDynPartIndexInfo(), 0x0040);
    EXPECT_EQ(kaver->thisSession.statBitMap, 0x0003) << "one query refreshes both bitmaps";
    EXPECT_EQ(kaver->getZEMTError(), 0) << "a refused query is not an error of the method";
}

TEST_F(PartitionInfoTest, StaticLabelsRecordTheirRowsAndNothingElse) {
    buildWithSession();
    tren.then(infoReply("KAV001"));
    tren.then(infoReply("KAV022"));
    tren.then(infoReply("KAV023"));

    EXPECT_TRUE(kaver->getPartInfo(0x0007));

    ASSERT_EQ(tren.requests.size(), 3u);
    for (std::size_t n = 0; n < 3; ++n) {
        EXPECT_EQ(tren.requestBytes(n)[5], 0x00) << "static kind";
        EXPECT_EQ(tren.requestBytes(n)[6], n);
    }
    const struct {
        int id;
        uint16_t bit;
    } expected[] = {{1, 0x0001}, {22, 0x0002}, {23, 0x0004}};
    for (const auto& e : expected) {
        EXPECT_EQ(kaverPartInfo[e.id].i_bitmap, e.bit) << "row " << e.id;
        EXPECT_TRUE(kaverPartInfo[e.id].i_present) << "row " << e.id;
    }
    for (int id = 0; id < MaxPartInfoEntry; ++id) {
        if (id == 1 || id == 22 || id == 23) continue;
        EXPECT_EQ(kaverPartInfo[id].i_bitmap, savedRow(id).i_bitmap) << "row " << id;
        EXPECT_EQ(kaverPartInfo[id].i_present, savedRow(id).i_present) << "row " << id;
    }
}

// The six label bytes come from the controller unchecked.
TEST_F(PartitionInfoTest, LabelsWithoutARowAreLoggedNotRecorded) {
    struct Row {
        std::string label;
        std::string logged;
    };
    const Row rows[] = {
        {"SECUPD", "[SECUPD]"},
        {"KAV257", "[KAV257]"},
        {"KAV999", "[KAV999]"},
        {"KAV000", "[KAV000]"},
        {"KAV", "[KAV]"},
        {std::string("KA\0" "022", 6), "[KA]"},       // a NUL ends the label
        {std::string("KAV02\n", 6), "[KAV02\\x0a]"},  // kept on one log line
        {std::string("\xff\x01" "VABC", 6), "[\\xff\\x01VABC]"},
    };
    buildWithSession(true);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.logged);
        tren.requests.clear();
        tren.then(infoReply(row.label));
        markLog();

        EXPECT_TRUE(kaver->getPartInfo(0x0001));

        EXPECT_EQ(tren.requests.size(), 1u);
        const std::string log = newLog();
        EXPECT_NE(log.find("The partition name " + row.logged + "is inconsistent with the standard.\n"),
                  std::string::npos)
            << log;
        for (int id = 0; id < MaxPartInfoEntry; ++id)
            ASSERT_EQ(kaverPartInfo[id].i_present, savedRow(id).i_present) << "row " << id;
    }
}

// The digits at positions 3..5 decide, whatever precedes them.
TEST_F(PartitionInfoTest, LabelDigitsDecideTheRow) {
    buildWithSession();
    tren.then(infoReply("KAV256"));
    tren.then(infoReply(std::string("\xff\x01" "V123", 6)));
    tren.then(infoReply("kav023"));
    EXPECT_TRUE(kaver->getPartInfo(0x0083));
    const struct {
        int id;
        uint16_t bit;
    } expected[] = {{256, 0x0001}, {123, 0x0002}, {23, 0x0080}};
    for (const auto& e : expected) {
        EXPECT_EQ(kaverPartInfo[e.id].i_bitmap, e.bit) << "row " << e.id;
        EXPECT_TRUE(kaverPartInfo[e.id].i_present) << "row " << e.id;
    }
}

TEST_F(PartitionInfoTest, RefusedBitIsSkippedAndTheRestStillLearned) {
    buildWithSession();
    tren.then(TrenReply::Code(3));
    tren.then(infoReply("KAV022"));
    EXPECT_TRUE(kaver->getPartInfo(0x0003));
    EXPECT_EQ(tren.requests.size(), 2u);
    EXPECT_EQ(kaverPartInfo[22].i_bitmap, 0x0002);
    for (int id = 0; id < MaxPartInfoEntry; ++id) {
        if (id == 22) continue;
        ASSERT_EQ(kaverPartInfo[id].i_present, savedRow(id).i_present) << "row " << id;
    }
}

TEST_F(PartitionInfoTest, OnlyTheLowByteIsLookedUp) {
    buildWithSession();
    tren.fallback = infoReply("KAV001");
    EXPECT_TRUE(kaver->getPartInfo(0x0100));
    EXPECT_TRUE(kaver->getPartInfo(0xFF00));
    EXPECT_TRUE(kaver->getDynPartInfo(0xFF00));
    EXPECT_TRUE(kaver->getDynPartInfo(0));
    EXPECT_TRUE(tren.requests.empty());
}

TEST_F(PartitionInfoTest, DynamicLookupAsksTheLowestBitOnlyIntoRowZero) {
    buildWithSession();
    kaverPartInfo[dynPartSlot].i_bitmap = 0;
    kaverPartInfo[dynPartSlot].i_present = false;
    tren.fallback = infoReply("NOTSEC");  // the label is not examined

    EXPECT_TRUE(kaver->getDynPartInfo(0x0006));

    ASSERT_EQ(tren.requests.size(), 1u);
    EXPECT_EQ(tren.requestBytes(0)[5], 0x80);
    EXPECT_EQ(tren.requestBytes(0)[6], 1);
    EXPECT_EQ(kaverPartInfo[dynPartSlot].i_bitmap, 0x0002);
    EXPECT_TRUE(kaverPartInfo[dynPartSlot].i_present);
    for (int id = 1; id < MaxPartInfoEntry; ++id)
        ASSERT_EQ(kaverPartInfo[id].i_present, savedRow(id).i_present) << "row " << id;
}

TEST_F(PartitionInfoTest, RefusedDynamicLookupStillSucceedsAndRecordsNothing) {
    buildWithSession();
    kaverPartInfo[dynPartSlot].i_bitmap = 0x0010;
    tren.then(TrenReply::Code(1));
    EXPECT_TRUE(kaver->getDynPartInfo(0x0004));
    EXPECT_EQ(tren.requests.size(), 1u);
    EXPECT_EQ(kaverPartInfo[dynPartSlot].i_bitmap, 0x0010);
}

TEST_F(PartitionInfoTest, WithoutSessionNothingIsSent) {
    const std::function<int(secureKaver&)> calls[] = {
        [](secureKaver& k) { return k.getPartIndexInfo(); },
        [](secureKaver& k) { return k.getDynPartIndexInfo(); },
        [](secureKaver& k) { return k.getPartInfo(0x0001) ? 1 : 0; },
        [](secureKaver& k) { return k.getDynPartInfo(0x0001) ? 1 : 0; },
    };
    enableDebugLog();
    build();
    // Bitmaps from an earlier session are not handed out without one.
    kaver->thisSession.statBitMap = 0x0007;
    kaver->thisSession.dynBitMap = 0x0001;
    tren.fallback = indexReply(0x0007, 0x0001);
    for (const auto& call : calls) {
        kaver->errorInfo.lastErr = 0;
        markLog();
        EXPECT_EQ(call(*kaver), 0);
        EXPECT_EQ(kaver->getZEMTError(), ZEMT_NOKAVERSESS);
        EXPECT_NE(newLog().find("KAVER session not started"), std::string::npos);
    }
    EXPECT_TRUE(tren.requests.empty());
}

}  // namespace
