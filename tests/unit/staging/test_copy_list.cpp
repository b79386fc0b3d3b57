// SPDX-License-Identifier: Apache-2.0
// The copy list: opening and closing, entries of every action, order
// numbering, the duplicate rule and rejected entries.
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include "KaverTest.h"
#include "md5wrapper.h"

namespace {

class CopyListTest : public KaverTest {
protected:
    void SetUp() override {
        KaverTest::SetUp();
        enableDebugLog();  // also a fresh working directory for package.xml
        build();
        writeFile(host("a.bin"), "abc");
        chmod(host("a.bin").c_str(), 0640);
        writeFile(host("b.bin"), "message digest");
        writeFile(host("pkg.zip"), "zip-bytes");        // 9 bytes
        writeFile(host("pkg.zip.sig"), "sig-b");        // 5 bytes
        writeFile(cwd->file("package.xml"), "<x/>\n");  // 5 bytes
    }

    std::string host(const std::string& name) const { return files.file(name); }

    std::vector<int> orders() const {
        std::vector<int> out;
        for (const cfgEntry& e : kaver->FileList) out.push_back(e.order);
        return out;
    }

    ScopedTempDir files;
};

const char* kAbc = "900150983cd24fb0d6963f7d28e17f72";

TEST_F(CopyListTest, OpeningTwiceIsRefusedAndLeavesTheOpenListAlone) {
    ASSERT_TRUE(kaver->StartCopyFile());
    ASSERT_TRUE(kaver->AddFile(host("a.bin"), "KAV022/a.bin", filecopy));

    EXPECT_FALSE(kaver->StartCopyFile());
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_EWRONGORDER);
    EXPECT_EQ(kaver->l_state, 1);
    EXPECT_EQ(kaver->FileList.size(), 1u);
    EXPECT_TRUE(logHasInOrder(newLog(), {"l_state != 0"}));
}

TEST_F(CopyListTest, EndClosesButKeepsEntriesUntilTheNextStart) {
    EXPECT_TRUE(kaver->EndCopyFile()) << "closing without a list is fine";
    ASSERT_TRUE(kaver->StartCopyFile());
    kaver->n_payload_added = 3;
    ASSERT_TRUE(kaver->AddFile(host("a.bin"), "KAV022/a.bin", filecopy));
    EXPECT_TRUE(kaver->EndCopyFile());
    EXPECT_EQ(kaver->l_state, 0);
    EXPECT_EQ(kaver->FileList.size(), 1u);

    ASSERT_TRUE(kaver->StartCopyFile());
    EXPECT_TRUE(kaver->FileList.empty());
    EXPECT_EQ(kaver->l_entryNumber, 1);
    EXPECT_EQ(kaver->n_payload_added, 0);
}

TEST_F(CopyListTest, TheTwoOverloadsNumberDifferently) {
    ASSERT_TRUE(kaver->StartCopyFile());
    ASSERT_TRUE(kaver->AddFile(host("a.bin"), "KAV022/1", filecopy));
    ASSERT_TRUE(kaver->AddFile(host("a.bin"), "KAV022/2", filecopy));
    ASSERT_TRUE(kaver->AddFile(host("a.bin"), "KAV022/3", filecopy));
    EXPECT_EQ(orders(), (std::vector<int>{1, 2, 3}));
    kaver->EndCopyFile();

    ASSERT_TRUE(kaver->StartCopyFile());
    ASSERT_TRUE(kaver->AddFile(host("a.bin"), "22/1", true));
    ASSERT_TRUE(kaver->AddFile(host("a.bin"), "22/2", false));
    ASSERT_TRUE(kaver->AddFile(host("a.bin"), "22/3", true));
    EXPECT_EQ(orders(), (std::vector<int>{2, 3, 4}));
    kaver->EndCopyFile();

    // Mixed: the bool overload skips the number the mode overload would use.
    ASSERT_TRUE(kaver->StartCopyFile());
    ASSERT_TRUE(kaver->AddFile(host("a.bin"), "KAV022/1", filecopy));  // 1, counter 2
    ASSERT_TRUE(kaver->AddFile(host("a.bin"), "22/2", true));          // 3
    ASSERT_TRUE(kaver->AddFile("", "KAV022/d", dirmake));              // 3 again
    EXPECT_EQ(orders(), (std::vector<int>{1, 3, 3}));
}

TEST_F(CopyListTest, EveryActionBuildsItsEntry) {
    struct Row {
        const char* name;
        std::string src, dest;
        xmlMode_t action;
        std::string srcName, dstName;
        uint16_t partNum;
        int32_t fileSize;
        bool perms;  // filePerms is the source's st_mode (else 0)
        std::string hash;
    };
    const std::string a = host("a.bin"), zip = host("pkg.zip");
    const Row rows[] = {
        {"filecopy", a, "KAV022/fw/a.bin", filecopy, a, "KAV022/fw/a.bin", 22, 3, true, kAbc},
        {"fileappend", a, "KAV023/a.bin", fileappend, a, "KAV023/a.bin", 23, 3, true, kAbc},
        {"filecopy to an unknown folder", a, "payload/a.bin", filecopy, a, "payload/a.bin", 0, 3, true, kAbc},
        {"ssib drops the destination", a, "KAV022/x", ssib, a, "", 0, 3, true, kAbc},
        {"signedunzip sizes all three files", zip, "KAV022/pkg.zip", signedunzip, zip, "KAV022/pkg.zip", 22,
         9 + 5 + 5, true, ""},
        {"filemove: partition of the source", "KAV022/old", "KAV030/new", filemove, "KAV022/old", "KAV030/new",
         22, 0, false, ""},
        {"dirmove", "KAV024/d", "KAV022/e", dirmove, "KAV024/d", "KAV022/e", 24, 0, false, ""},
        {"filedelete keeps only the destination", "ignored", "KAV022/f", filedelete, "", "KAV022/f", 22, 0,
         false, ""},
        {"dirdelete keeps only the source", "KAV025/d", "ignored", dirdelete, "KAV025/d", "", 25, 0, false, ""},
        {"dirmake", "", "KAV022/payload", dirmake, "", "KAV022/payload", 22, 0, false, ""},
        {"dircopy keeps no names", "KAV022/a", "KAV022/b", dircopy, "", "", 0, 0, false, ""},
        {"doNotDisturb", "x", "y", doNotDisturb, "", "", 0, 0, false, ""},
        {"inventory-log mode", "x", "KAV022/y", rql_query_event_records, "", "", 0, 0, false, ""},
    };
    struct stat aStat, zipStat;
    ASSERT_EQ(stat(a.c_str(), &aStat), 0);
    ASSERT_EQ(stat(zip.c_str(), &zipStat), 0);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        kaver->EndCopyFile();
        ASSERT_TRUE(kaver->StartCopyFile());
        ASSERT_TRUE(kaver->AddFile(row.src, row.dest, row.action));
        ASSERT_EQ(kaver->FileList.size(), 1u);
        const cfgEntry& e = kaver->FileList[0];
        EXPECT_EQ(e.order, 1);
        EXPECT_EQ(e.mode, row.action);
        EXPECT_EQ(e.algorithm, 1);
        EXPECT_EQ(e.srcName, row.srcName);
        EXPECT_EQ(e.dstName, row.dstName);
        EXPECT_EQ(e.partNum, row.partNum);
        EXPECT_EQ(e.fileSize, row.fileSize);
        EXPECT_EQ(e.filePerms, row.perms ? static_cast<int>((row.src == a ? aStat : zipStat).st_mode) : 0);
        EXPECT_EQ(e.hash, row.hash);
        EXPECT_EQ(e.copyRc + e.n_or_n1 + e.loc + e.processed, 0);
        EXPECT_EQ(kaver->l_entryNumber, 2);
    }
}

TEST_F(CopyListTest, BoolOverloadReadsTheNumericPartitionFolder) {
    ASSERT_TRUE(kaver->StartCopyFile());
    ASSERT_TRUE(kaver->AddFile(host("b.bin"), "22/fw/b.bin", true));
    ASSERT_TRUE(kaver->AddFile(host("b.bin"), "KAV022/fw/b.bin", true));
    ASSERT_EQ(kaver->FileList.size(), 2u);
    EXPECT_EQ(kaver->FileList[0].partNum, 22);
    EXPECT_EQ(kaver->FileList[1].partNum, 0) << "a label is not a number";
    EXPECT_EQ(kaver->FileList[1].mode, filecopy);
    EXPECT_EQ(kaver->FileList[1].hash, "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(kaver->FileList[1].fileSize, 14);
}

TEST_F(CopyListTest, SameSourceAndDestinationAreAddedOnce) {
    ASSERT_TRUE(kaver->StartCopyFile());
    EXPECT_TRUE(kaver->AddFile(host("a.bin"), "KAV022/a.bin", filecopy));
    EXPECT_TRUE(kaver->AddFile(host("a.bin"), "KAV022/a.bin", fileappend)) << "the action does not matter";
    EXPECT_TRUE(kaver->AddFile(host("a.bin"), "KAV022/a.bin", true));
    EXPECT_EQ(kaver->FileList.size(), 1u);
    EXPECT_EQ(kaver->l_entryNumber, 2) << "duplicates consume no order number";

    EXPECT_TRUE(kaver->AddFile(host("a.bin"), "KAV022/A.bin", filecopy)) << "names compare case-sensitively";
    EXPECT_TRUE(kaver->AddFile(host("b.bin"), "KAV022/a.bin", filecopy));
    EXPECT_EQ(orders(), (std::vector<int>{1, 2, 3}));
}

TEST_F(CopyListTest, RejectedEntriesLeaveTheListAsItWas) {
    struct Row {
        const char* name;
        std::function<bool(secureKaver&)> call;
        bool open;
        uint8_t lastErr;
        sessionEc_t sessionEc;  // eLastEc: unchanged
        int errSubcode;         // -1: not looked at
    };
    const std::string a = host("a.bin"), missing = host("missing.bin");
    const Row rows[] = {
        {"filecopy without a source, list closed",
         [&](secureKaver& k) { return k.AddFile("", "KAV022/a", filecopy); }, false, 6, noSourceFile, -1},
        {"signedunzip without a source", [&](secureKaver& k) { return k.AddFile("", "KAV022/a", signedunzip); },
         true, 6, noSourceFile, -1},
        {"filemove without a destination", [&](secureKaver& k) { return k.AddFile("KAV022/a", "", filemove); },
         false, 7, noDestinationFile, -1},
        {"dirmake on a closed list", [&](secureKaver& k) { return k.AddFile("", "KAV022/d", dirmake); }, false,
         9, addOrderError, -1},
        {"filedelete on a closed list", [&](secureKaver& k) { return k.AddFile("", "KAV022/d", filedelete); },
         false, 9, addOrderError, -1},
        {"missing source", [&](secureKaver& k) { return k.AddFile(missing, "KAV022/a", filecopy); }, true, 8,
         eLastEc, ENOENT},
        {"missing task file", [&](secureKaver& k) { return k.AddFile(missing, "", ssib); }, true, 8, eLastEc,
         ENOENT},
        {"source below a plain file", [&](secureKaver& k) { return k.AddFile(a + "/x", "KAV022/a", filecopy); },
         true, 8, eLastEc, ENOTDIR},
        {"source name too long",
         [&](secureKaver& k) { return k.AddFile(std::string(5000, 'n'), "KAV022/a", fileappend); }, true, 8,
         eLastEc, ENAMETOOLONG},
        {"NUL inside the source name",
         [&](secureKaver& k) { return k.AddFile(a + std::string("\0x", 2), "KAV022/a", filecopy); }, true, 8,
         eLastEc, EINVAL},
        {"source is a directory", [&](secureKaver& k) { return k.AddFile(files.path(), "KAV022/a", filecopy); },
         true, 8, eLastEc, EISDIR},
        {"bool overload: source is a directory", [&](secureKaver& k) { return k.AddFile(files.path(), "22/a", true); },
         true, 8, eLastEc, EISDIR},
        {"signed package missing", [&](secureKaver& k) { return k.AddFile(missing, "KAV022/p", signedunzip); },
         true, 8, eLastEc, ENOENT},
        {"signature missing", [&](secureKaver& k) { return k.AddFile(a, "KAV022/p", signedunzip); }, true, 57,
         eLastEc, ENOENT},
        {"bool overload: no source", [&](secureKaver& k) { return k.AddFile("", "22/a", true); }, false, 6,
         noSourceFile, -1},
        {"bool overload: no destination", [&](secureKaver& k) { return k.AddFile(a, "", true); }, false, 7,
         noDestinationFile, -1},
        {"bool overload: closed list", [&](secureKaver& k) { return k.AddFile(a, "22/a", true); }, false, 9,
         addOrderError, -1},
        {"bool overload: missing source", [&](secureKaver& k) { return k.AddFile(missing, "22/a", false); }, true,
         8, eLastEc, ENOENT},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        kaver->EndCopyFile();
        ASSERT_TRUE(kaver->StartCopyFile());
        ASSERT_TRUE(kaver->AddFile(host("b.bin"), "KAV022/b.bin", filecopy));
        if (!row.open) kaver->EndCopyFile();
        kaver->sessionEc = eLastEc;
        kaver->errorInfo.errSubcode = 0xEE;

        EXPECT_FALSE(row.call(*kaver));

        EXPECT_EQ(kaver->getZEMTError(), row.lastErr);
        EXPECT_EQ(kaver->sessionEc, row.sessionEc);
        if (row.errSubcode >= 0) {
            EXPECT_EQ(kaver->errorInfo.errSubcode, row.errSubcode);
            EXPECT_THAT(zemtLastFailureReason(), testing::StartsWith("cannot read "));
            EXPECT_THAT(zemtLastFailureReason(), testing::EndsWith(std::string(": ") + std::strerror(row.errSubcode)));
        }
        ASSERT_EQ(kaver->FileList.size(), 1u) << "nothing added";
        EXPECT_EQ(kaver->FileList[0].dstName, "KAV022/b.bin");
        EXPECT_EQ(kaver->l_state, row.open ? 1 : 0) << "the list stays open";
        EXPECT_EQ(kaver->l_entryNumber, 2) << "no order number consumed";
    }
}

TEST_F(CopyListTest, MissingDescriptorFailsASignedPackage) {
    ASSERT_EQ(unlink(cwd->file("package.xml").c_str()), 0);
    ASSERT_TRUE(kaver->StartCopyFile());
    EXPECT_FALSE(kaver->AddFile(host("pkg.zip"), "KAV022/pkg.zip", signedunzip));
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_PACKAGEXMLMISSING);
    EXPECT_EQ(kaver->errorInfo.errSubcode, ENOENT);
    EXPECT_TRUE(kaver->FileList.empty());
}

TEST_F(CopyListTest, SourceBeyondTheEntrySizeFieldIsRefused) {
    // 2 GiB does not fit the entry's 32-bit size; a sparse file costs nothing.
    const std::string big = host("big.bin");
    writeFile(big, "");
    ASSERT_EQ(truncate(big.c_str(), 0x80000000LL), 0);
    ASSERT_TRUE(kaver->StartCopyFile());
    EXPECT_FALSE(kaver->AddFile(big, "KAV022/big.bin", filecopy));
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_SIZEGT2GB);
    EXPECT_FALSE(kaver->AddFile(big, "22/big.bin", true));
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_SIZEGT2GB);
    EXPECT_TRUE(kaver->FileList.empty());
    EXPECT_EQ(kaver->l_state, 1);

    ASSERT_EQ(truncate(big.c_str(), 0x7FFFFFFFLL), 0);
    const std::string zipBig = host("large.zip");
    ASSERT_EQ(link(big.c_str(), zipBig.c_str()), 0);
    writeFile(zipBig + ".sig", "s");
    EXPECT_FALSE(kaver->AddFile(zipBig, "KAV022/large.zip", signedunzip)) << "the three sizes add up past it";
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_SIZEGT2GB);
}

TEST_F(CopyListTest, UnusualNamesAreDataNotCommands) {
    const char* names[] = {"with blank", "quote\"s'", "semi;colon", "$(touch pwned)", "`touch pwned`",
                           "star*", "new\nline", "-leading-dash", "&amp<lt>"};
    ASSERT_TRUE(kaver->StartCopyFile());
    md5wrapper md5;
    int n = 0;
    for (const char* name : names) {
        SCOPED_TRACE(name);
        const std::string src = host(name);
        writeFile(src, std::string("content ") + name);
        const std::string dest = std::string("KAV022/dir ") + name + "/" + name;
        ASSERT_TRUE(kaver->AddFile(src, dest, filecopy));
        const cfgEntry& e = kaver->FileList.back();
        EXPECT_EQ(e.srcName, src);
        EXPECT_EQ(e.dstName, dest);
        EXPECT_EQ(e.hash, md5.getHashFromString(std::string("content ") + name));
        ++n;
    }
    EXPECT_EQ(kaver->FileList.size(), static_cast<std::size_t>(n));
    EXPECT_TRUE(platform.commands.empty()) << "adding entries runs nothing";
    EXPECT_FALSE(fileExists(cwd->file("pwned")));
    EXPECT_FALSE(fileExists(files.file("pwned")));
}

}  // namespace
