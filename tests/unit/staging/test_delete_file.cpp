// SPDX-License-Identifier: Apache-2.0
// Deleting stored files and reading numeric partition folders.
#include <sstream>

#include "KaverTest.h"
#include "UpdateDocument.h"

namespace {

class DeleteFileTest : public KaverTest {};

TEST_F(DeleteFileTest, AddsAFiledeleteEntryForTheNamedPartition) {
    build();
    ASSERT_TRUE(kaver->StartCopyFile());
    ASSERT_TRUE(kaver->AddFile("", "KAV022/fw", dirmake));  // order 1, counter 2

    EXPECT_TRUE(kaver->DeleteKaverFile("KAV022/fw/old.bin"));

    ASSERT_EQ(kaver->FileList.size(), 2u);
    const cfgEntry& e = kaver->FileList[1];
    EXPECT_EQ(e.order, 3) << "numbered like the bool AddFile: counter first";
    EXPECT_EQ(e.mode, filedelete);
    EXPECT_EQ(e.algorithm, 1);
    EXPECT_EQ(e.partNum, 22);
    EXPECT_EQ(e.dstName, "KAV022/fw/old.bin");
    EXPECT_EQ(e.srcName, "");
    EXPECT_EQ(e.hash, "");
    EXPECT_EQ(e.filePerms + e.fileSize + e.loc + e.processed + e.copyRc + e.n_or_n1, 0);

    std::ostringstream doc;
    ASSERT_TRUE(AddCfgEntry(&doc, e, "", false));
    EXPECT_EQ(doc.str(),
              "\t<File order=\"3\"><Hash></Hash><Destination>KAV022/fw/old.bin</Destination>\n"
              "<Mode>filedelete</Mode>\n<Algorithm>MD5</Algorithm>\n</File>\n");
}

TEST_F(DeleteFileTest, NeedsNoOpenListAndDoesNotDeduplicate) {
    build();
    kaver->l_entryNumber = 0;
    EXPECT_TRUE(kaver->DeleteKaverFile("KAV001/x"));
    EXPECT_TRUE(kaver->DeleteKaverFile("KAV001/x"));
    EXPECT_TRUE(kaver->DeleteKaverFile("KAV256"));
    EXPECT_TRUE(kaver->DeleteKaverFile("notalabel/x"));
    EXPECT_TRUE(kaver->DeleteKaverFile(""));
    ASSERT_EQ(kaver->FileList.size(), 5u);
    EXPECT_EQ(kaver->FileList[0].order, 1);
    EXPECT_EQ(kaver->FileList[1].order, 2);
    EXPECT_EQ(kaver->FileList[0].partNum, 1);
    EXPECT_EQ(kaver->FileList[2].partNum, 256) << "a name without a folder is all label";
    EXPECT_EQ(kaver->FileList[3].partNum, 0);
    EXPECT_EQ(kaver->FileList[4].partNum, 0);
    EXPECT_EQ(kaver->l_state, 0);
}

TEST(GetPartNum, ReadsTheFirstFolderAsAtoiWould) {
    struct Row {
        std::string name;
        uint16_t part;
    };
    const Row rows[] = {
        {"22/fw/x.bin", 22}, {"KAV022/fw/x.bin", 0}, {"7", 7},     {"", 0},          {"/22/x", 0},
        {"022x/y", 22},      {" 5/y", 5},            {"+9/y", 9},  {"-1/y", 65535},  {"65536/y", 0},
        {"70000", 4464},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(GetPartNum(row.name), row.part);
    }
    // Far beyond int: kept modulo 2^16 instead of overflowing (the
    // sanitizer build would report an overflow).  10^k - 1 for k >= 16 is
    // -1 modulo 2^16.
    EXPECT_EQ(GetPartNum(std::string(10000, '9') + "/x"), 65535);
}

}  // namespace
