/* SPDX-License-Identifier: Apache-2.0 */
#ifndef ZEMT_TEST_PARTITION_TEST_H
#define ZEMT_TEST_PARTITION_TEST_H

#include <stdint.h>

#include <string>
#include <vector>

#include "KaverTest.h"
#include "kaverPartInfo.h"

// A library object with an open session (handle 0x1234) whose tests may
// write the process-wide partition catalogue: every row is put back as it
// was once the test ends.
class PartitionTest : public KaverTest {
protected:
    static constexpr uint16_t kHandle = 0x1234;

    void SetUp() override {
        KaverTest::SetUp();
        for (int id = 0; id < MaxPartInfoEntry; ++id) saved_[id] = kaverPartInfo[id];
    }
    void TearDown() override {
        for (int id = 0; id < MaxPartInfoEntry; ++id) kaverPartInfo[id] = saved_[id];
        KaverTest::TearDown();
    }

    secureKaver& buildWithSession(bool debugLog = false) {
        if (debugLog) enableDebugLog();
        build();
        openSession(kHandle);
        return *kaver;
    }

    // The row as it was before the test.
    const spartInfo& savedRow(int id) const { return saved_[id]; }

    // Getpartitionindexinfo answer: both bitmaps most significant byte first.
    static TrenReply indexReply(uint16_t statBits, uint16_t dynBits) {
        return TrenReply::Ok({0x00, 0x00, hi(statBits), lo(statBits), 0x00, 0x00, hi(dynBits), lo(dynBits),
                              0x00, 0x00});
    }
    // GetPartitionInfo answer carrying six label bytes as given.
    static TrenReply infoReply(const std::string& label) {
        std::vector<uint8_t> data = {0x00, 0x00, 0x00, 0x10};
        for (std::size_t i = 0; i < 6; ++i) data.push_back(i < label.size() ? static_cast<uint8_t>(label[i]) : 0);
        data.push_back(0x00);
        return TrenReply::Ok(data);
    }

    uint32_t responseLength(std::size_t i) const { return tren.requests.at(i).Parameters.IRREx.RspPhaseBufLen; }
    uint8_t subCommand(std::size_t i) const { return tren.requestBytes(i).at(2); }

    static uint8_t hi(uint16_t v) { return static_cast<uint8_t>(v >> 8); }
    static uint8_t lo(uint16_t v) { return static_cast<uint8_t>(v & 0xFF); }

private:
    spartInfo saved_[MaxPartInfoEntry];
};

#endif
