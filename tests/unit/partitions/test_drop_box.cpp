// SPDX-License-Identifier: Apache-2.0
// Creating and deleting drop boxes.
#include <cstring>
#include <functional>

#include "PartitionTest.h"

namespace {

const uint8_t kIndexQuery = 3;
const uint8_t kInfoQuery = 4;
const uint8_t kCreate = 7;
const uint8_t kDelete = 8;

class DropBoxTest : public PartitionTest {
protected:
    // The controller's side of a create that adds bit 1 to a dynamic
    // bitmap holding bit 0.
    void scriptGoodCreate() {
        tren.then(indexReply(0x0001, 0x0001));
        tren.then(TrenReply::Ok());
        tren.then(indexReply(0x0001, 0x0003));
        tren.then(infoReply("SECUPD"));
    }

    std::vector<uint8_t> subCommands() const {
        std::vector<uint8_t> out;
        for (std::size_t i = 0; i < tren.requests.size(); ++i) out.push_back(subCommand(i));
        return out;
    }
};

TEST_F(DropBoxTest, SizeIsRoundedUpToWholeUnits) {
    struct Row {
        uint32_t size;
        uint16_t units;
        uint32_t granted;
    };
    const Row rows[] = {
        {1, 1, 32768},
        {32768, 1, 32768},
        {65536, 2, 65536},
        {100000, 4, 131072},
        {1048576, 32, 1048576},
        {2147450880u, 0xFFFF, 2147450880u},  // the largest count the field carries
    };
    buildWithSession();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.size);
        tren.requests.clear();
        kaverPartInfo[dynPartSlot].i_bitmap = 0;
        scriptGoodCreate();
        uint32_t granted = 7;

        EXPECT_TRUE(kaver->CreateDropBox("ignored", row.size, &granted));

        EXPECT_EQ(granted, row.granted);
        ASSERT_EQ(subCommands(), (std::vector<uint8_t>{kIndexQuery, kCreate, kIndexQuery, kInfoQuery}));
        const std::vector<uint8_t> create = tren.requestBytes(1);
        EXPECT_EQ(create[5], lo(row.units)) << "least significant byte first";
        EXPECT_EQ(create[6], hi(row.units));
    }
}

TEST_F(DropBoxTest, CreateRequestBytesAndTheNewBitInRowZero) {
    buildWithSession(true);
    kaverPartInfo[dynPartSlot].i_bitmap = 0x0001;  // the previous drop box
    kaverPartInfo[dynPartSlot].i_present = false;
    scriptGoodCreate();
    std::memset(&IPMIReqBuf, 0xEE, sizeof IPMIReqBuf);
    uint32_t granted = 0;

    ASSERT_TRUE(kaver->CreateDropBox("whatever", 100000, &granted));

    EXPECT_EQ(tren.requestBytes(1), (std::vector<uint8_t>{0xC0, 0xA2, 0x07, 0x34, 0x12, 0x04, 0x00, 'S', 'E',
                                                          'C', 'U', 'P', 'D', 0x40}));
    EXPECT_EQ(responseLength(1), 9u);
    // The lookup asks about the bit that appeared, as a dynamic partition.
    EXPECT_EQ(tren.requestBytes(3), (std::vector<uint8_t>{0xC0, 0xA2, 0x04, 0x34, 0x12, 0x80, 0x01, 0x00, 0x00}));
    EXPECT_EQ(kaverPartInfo[dynPartSlot].i_bitmap, 0x0002);
    EXPECT_TRUE(kaverPartInfo[dynPartSlot].i_present);
    EXPECT_EQ(kaver->thisSession.dynBitMap, 0x0003);
    EXPECT_TRUE(logHasInOrder(newLog(), {"CreateDynamicPartition succeeded",
                                         "getDynPartIndexInfo BitMap != 0. Partition is Valid",
                                         "CreateDropBox succeeded"}));
}

// A count the 16-bit field cannot carry would go out as a wrong size.
TEST_F(DropBoxTest, SizesBeyondTheUnitFieldAreRefusedBeforeAnyCreate) {
    const uint32_t sizes[] = {2147450881u, 2147483648u, 2147483649u, 4294967295u};
    buildWithSession(true);
    for (uint32_t size : sizes) {
        SCOPED_TRACE(size);
        tren.requests.clear();
        tren.fallback = indexReply(0, 0x0001);
        markLog();
        uint32_t granted = 12345;

        EXPECT_FALSE(kaver->CreateDropBox("SECUPD", size, &granted));

        EXPECT_EQ(granted, 0u);
        EXPECT_EQ(kaver->getZEMTError(), ZEMT_SIZEGT2GB);
        EXPECT_EQ(subCommands(), std::vector<uint8_t>{kIndexQuery});
        EXPECT_TRUE(logHasInOrder(newLog(), {"ZEMT size greater than 2GB", "CreateDropBox failed"}));
    }
}

TEST_F(DropBoxTest, RefusedCreateHasNothingToUndo) {
    buildWithSession(true);
    tren.then(indexReply(0, 0x0001));
    tren.then(TrenReply::Code(1));
    uint32_t granted = 5;

    EXPECT_FALSE(kaver->CreateDropBox("SECUPD", 1048576, &granted));

    EXPECT_EQ(kaver->getZEMTError(), ZEMT_DYNPARTERR);
    EXPECT_EQ(granted, 0u);
    EXPECT_EQ(subCommands(), (std::vector<uint8_t>{kIndexQuery, kCreate}));
    EXPECT_EQ(newLog().find("Deleting created partition"), std::string::npos);
}

// The create was taken but no new bit showed up (or the second index query
// failed, which leaves the bitmap as it was): nothing can be named.
TEST_F(DropBoxTest, UnchangedBitmapFailsWithoutAnUndoRequest) {
    const TrenReply secondQuery[] = {indexReply(0, 0x0001), TrenReply::Code(1)};
    buildWithSession(true);
    for (const TrenReply& second : secondQuery) {
        tren.requests.clear();
        kaverPartInfo[dynPartSlot].i_bitmap = 0x0004;
        tren.then(indexReply(0, 0x0001));
        tren.then(TrenReply::Ok());
        tren.then(second);
        markLog();
        uint32_t granted = 5;

        EXPECT_FALSE(kaver->CreateDropBox("SECUPD", 1048576, &granted));

        EXPECT_EQ(kaver->getZEMTError(), ZEMT_DYNPARTEXISTS);
        EXPECT_EQ(granted, 0u);
        EXPECT_EQ(kaverPartInfo[dynPartSlot].i_bitmap, 0) << "no stale bit stays in row 0";
        EXPECT_EQ(subCommands(), (std::vector<uint8_t>{kIndexQuery, kCreate, kIndexQuery}));
        EXPECT_TRUE(logHasInOrder(newLog(), {"getDynPartIndexInfo BitMap = 0. Partition Invalid",
                                             "CreateDropBox failed", "Deleting created partition",
                                             "No new partition bit found, nothing to delete"}));
    }
}

// A new bit appeared but its lookup failed: the partition is removed again
// by naming that bit; the previous drop box's bit in row 0 must not pass
// for the new one.
TEST_F(DropBoxTest, UnidentifiedCreationIsUndone) {
    struct Row {
        const char* name;
        TrenReply undoReply;
        bool undoFailedLogged;
    };
    const Row rows[] = {{"undo accepted", TrenReply::Ok(), false}, {"undo refused", TrenReply::Code(1), true}};
    buildWithSession(true);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        tren.requests.clear();
        kaverPartInfo[dynPartSlot].i_bitmap = 0x0001;
        tren.then(indexReply(0, 0x0001));
        tren.then(TrenReply::Ok());
        tren.then(indexReply(0, 0x0105));
        tren.then(TrenReply::Code(1));  // GetPartitionInfo for bit 2
        tren.then(row.undoReply);
        markLog();
        uint32_t granted = 5;

        EXPECT_FALSE(kaver->CreateDropBox("SECUPD", 65536, &granted));

        EXPECT_EQ(kaver->getZEMTError(), ZEMT_DYNPARTEXISTS);
        EXPECT_EQ(granted, 0u);
        EXPECT_EQ(kaverPartInfo[dynPartSlot].i_bitmap, 0);
        ASSERT_EQ(subCommands(), (std::vector<uint8_t>{kIndexQuery, kCreate, kIndexQuery, kInfoQuery, kDelete}));
        EXPECT_EQ(tren.requestBytes(3)[6], 2) << "lowest new bit looked up";
        EXPECT_EQ(tren.requestBytes(4), (std::vector<uint8_t>{0xC0, 0xA2, 0x08, 0x34, 0x12, 0x01, 0x04, 0x00, 0x00,
                                                              0x00, 0x00, 0x00, 0x00, 0x00}));
        EXPECT_EQ(responseLength(4), 9u);
        const std::string log = newLog();
        EXPECT_TRUE(logHasInOrder(log, {"DynPartInfo bitmap = 0", "CreateDropBox failed",
                                        "Deleting created partition"}));
        EXPECT_EQ(log.find("DeleteDynamicPartition failed") != std::string::npos, row.undoFailedLogged) << log;
    }
}

TEST_F(DropBoxTest, NoSession) {
    enableDebugLog();
    build();
    tren.fallback = indexReply(0, 0x0001);
    uint32_t granted = 9;

    EXPECT_FALSE(kaver->CreateDropBox("SECUPD", 1048576, &granted));
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_NOKAVERSESS);
    EXPECT_EQ(granted, 0u);
    EXPECT_TRUE(logHasInOrder(newLog(), {"CreateDropBox called with NO active session", "CreateDropBox failed"}));

    kaver->errorInfo.lastErr = 0;
    EXPECT_FALSE(kaver->DeleteDropBox(0x0001));
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_NOKAVERSESS);
    EXPECT_NE(newLog().find("DeleteDropBox called with NO active session"), std::string::npos);

    kaver->errorInfo.lastErr = 0;
    EXPECT_FALSE(kaver->deleteDynPartWithName(0x0001, "SECUPD"));
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_NOKAVERSESS);
    EXPECT_NE(newLog().find("KAVER session not started"), std::string::npos);

    EXPECT_TRUE(tren.requests.empty());
}

TEST_F(DropBoxTest, DeleteNamesTheBitMostSignificantByteFirst) {
    struct Row {
        uint16_t argument;
        uint16_t rowZero;
        uint16_t sent;
        const char* logged;
    };
    const Row rows[] = {
        {0, 0x0004, 0x0004, "DeleteDropBox 0 == iBitMap "},
        {0x0100, 0x0004, 0x0100, "DeleteDropBox 0 != iBitMap "},
    };
    buildWithSession(true);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.argument);
        tren.requests.clear();
        kaverPartInfo[dynPartSlot].i_bitmap = row.rowZero;
        tren.then(TrenReply::Ok());
        std::memset(&IPMIReqBuf, 0xEE, sizeof IPMIReqBuf);
        markLog();

        EXPECT_TRUE(kaver->DeleteDropBox(row.argument));

        ASSERT_EQ(tren.requests.size(), 1u);
        EXPECT_EQ(tren.requestBytes(0), (std::vector<uint8_t>{0xC0, 0xA2, 0x08, 0x34, 0x12, hi(row.sent),
                                                              lo(row.sent), 0x00, 0x00, 0x00, 0x00}));
        EXPECT_EQ(responseLength(0), 11u);
        EXPECT_EQ(kaverPartInfo[dynPartSlot].i_bitmap, row.rowZero) << "row 0 is left for the next create";
        EXPECT_TRUE(logHasInOrder(newLog(), {row.logged, "DeleteDynamicPartition succeeded",
                                             "DeleteDropBox succeeded"}));
    }
}

TEST_F(DropBoxTest, RefusedDeleteKeepsItsCode) {
    buildWithSession(true);
    tren.then(TrenReply::Code(1));
    EXPECT_FALSE(kaver->DeleteDropBox(0x0002));
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_DELDYNPARTERR);
    const std::string log = newLog();
    EXPECT_NE(log.find("DeleteDynamicPartition failed"), std::string::npos);
    EXPECT_EQ(log.find("DeleteDropBox succeeded"), std::string::npos);
}

TEST_F(DropBoxTest, DeleteByNameRemovesTheFirstMatchOnly) {
    struct Row {
        const char* name;
        uint16_t bitmap;
        std::string wanted;
        std::vector<TrenReply> replies;
        // (sub-command, byte 5, byte 6) of every request sent, in order
        std::vector<std::vector<uint8_t>> sent;
        uint8_t lastErr;
        std::vector<std::string> log;
    };
    const Row rows[] = {
        {"match at bit 0, bit 2 never asked", 0x0005, "secupd", {infoReply("SECUPD"), TrenReply::Ok()},
         {{kInfoQuery, 0x80, 0}, {kDelete, 0x00, 0x01}}, 0,
         {"deleteDynPartWithName partition name = SECUPD", "DeleteDynamicPartition succeeded",
          "deleteDynPartWithName DeleteDropBox successful"}},
        {"other label first", 0x0005, "SECUPD", {infoReply("KAV001"), infoReply("secupd"), TrenReply::Ok()},
         {{kInfoQuery, 0x80, 0}, {kInfoQuery, 0x80, 2}, {kDelete, 0x00, 0x04}}, 0,
         {"deleteDynPartWithName partition name = KAV001", "deleteDynPartWithName partition name = secupd",
          "deleteDynPartWithName DeleteDropBox successful"}},
        {"failed lookup is skipped", 0x0081, "SECUPD", {TrenReply::Code(1), infoReply("SECUPD"), TrenReply::Ok()},
         {{kInfoQuery, 0x80, 0}, {kInfoQuery, 0x80, 7}, {kDelete, 0x00, 0x80}}, 0,
         {"secureKaver::deleteDynPartWithName GetPartitionInfo failed",
          "deleteDynPartWithName DeleteDropBox successful"}},
        {"no match", 0x0003, "SECUPD", {infoReply("SECUPX"), infoReply(std::string("SECUP\0", 6))},
         {{kInfoQuery, 0x80, 0}, {kInfoQuery, 0x80, 1}}, 0,
         {"deleteDynPartWithName partition name = SECUPX", "deleteDynPartWithName partition name = SECUP\n"}},
        {"delete refused", 0x0001, "SECUPD", {infoReply("SECUPD"), TrenReply::Code(1)},
         {{kInfoQuery, 0x80, 0}, {kDelete, 0x00, 0x01}}, ZEMT_DELDYNPARTERR,
         {"DeleteDynamicPartition failed", "deleteDynPartWithName DeleteDropBox failed"}},
        {"high byte ignored", 0x0100, "SECUPD", {}, {}, 0, {}},
    };
    buildWithSession(true);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        tren.requests.clear();
        for (const TrenReply& reply : row.replies) tren.then(reply);
        kaver->errorInfo.lastErr = 0;
        markLog();

        EXPECT_TRUE(kaver->deleteDynPartWithName(row.bitmap, row.wanted));

        EXPECT_TRUE(tren.script.empty()) << "every scripted answer used";
        ASSERT_EQ(tren.requests.size(), row.sent.size());
        for (std::size_t i = 0; i < row.sent.size(); ++i) {
            const std::vector<uint8_t> bytes = tren.requestBytes(i);
            EXPECT_EQ((std::vector<uint8_t>{bytes[2], bytes[5], bytes[6]}), row.sent[i]) << "request " << i;
        }
        EXPECT_EQ(kaver->getZEMTError(), row.lastErr);
        const std::string log = newLog();
        std::string::size_type pos = 0;
        for (const std::string& line : row.log) {
            pos = log.find(line, pos);
            ASSERT_NE(pos, std::string::npos) << "missing \"" << line << "\" in:\n" << log;
        }
    }
}

}  // namespace
