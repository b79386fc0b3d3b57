// SPDX-License-Identifier: Apache-2.0
// Names of the candidate sg and sd devices.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "CLinuxEnumerateDevices.h"

namespace {

std::string name(const char* prefix, int k, bool numeric = false) {
    char buffer[MAX_DEVICE_NAME];
    std::memset(buffer, '#', sizeof buffer);
    char* result = CLinuxEnumerateDevices::MakeDeviceName(buffer, prefix, k, numeric);
    EXPECT_EQ(result, buffer);
    return buffer;
}

TEST(MakeDeviceName, LetterScheme) {
    const struct {
        int k;
        const char* suffix;
    } cases[] = {
        {0, "a"},       {1, "b"},       {25, "z"},      {26, "aa"},    {27, "ab"},
        {51, "az"},     {52, "ba"},     {701, "zz"},    {702, "aaa"},  {703, "aab"},
        {728, "aba"},   {1377, "azz"},  {1378, "baa"},  {18277, "zzz"}, {18278, "xxxx"},
        {100000, "xxxx"}, {-1, "xxxx"},
    };
    for (const auto& c : cases) EXPECT_EQ(name("/dev/sd", c.k), std::string("/dev/sd") + c.suffix) << c.k;
}

TEST(MakeDeviceName, EveryLetterNameIsDistinctAndOrdered) {
    // sd names are tried in this order; a gap or repeat would skip a disk.
    std::string previous;
    for (int k = 0; k <= 18277; ++k) {
        std::string suffix = name("", k);
        ASSERT_TRUE(suffix.size() > previous.size() || (suffix.size() == previous.size() && suffix > previous))
            << k << ": " << previous << " then " << suffix;
        previous = suffix;
    }
}

TEST(MakeDeviceName, NumericFormAndDefaultPrefix) {
    EXPECT_EQ(name("/dev/sg", 0, true), "/dev/sg0");
    EXPECT_EQ(name("/dev/sd", 18278, true), "/dev/sd18278");
    EXPECT_EQ(name(nullptr, 2), "/dev/sgc");
    EXPECT_EQ(name(nullptr, 7, true), "/dev/sg7");
}

TEST(MakeDeviceName, StaysWithinTheStatedBuffer) {
    char buffer[12];
    std::memset(buffer, '#', sizeof buffer);
    CLinuxEnumerateDevices::MakeDeviceName(buffer, "/dev/a-long-prefix/", 702, false, 8);
    EXPECT_STREQ(buffer, "/dev/a-");
    EXPECT_EQ(buffer[8], '#');
}

}  // namespace
