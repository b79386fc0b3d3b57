// SPDX-License-Identifier: Apache-2.0
// The update document: exact text of every entry form and of the
// inventory-log request document.
#include <sstream>

#include "KaverTest.h"
#include "UpdateDocument.h"

namespace {

cfgEntry entry(int order, xmlMode_t mode, const std::string& src, const std::string& dst,
               const std::string& hash = "", int algorithm = 1) {
    cfgEntry e;
    e.order = order;
    e.mode = mode;
    e.srcName = src;
    e.dstName = dst;
    e.hash = hash;
    e.algorithm = algorithm;
    return e;
}

const std::string kHeader = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KAVER_Update>\n";
const std::string kFooter = "</KAVER_Update>\n\n";

TEST(UpdateDocument, EveryEntryFormIsWrittenExactly) {
    struct Row {
        const char* name;
        cfgEntry e;
        bool chunk;
        std::string text;
    };
    const std::string h = "0123456789abcdef0123456789abcdef";
    const Row rows[] = {
        {"filecopy", entry(3, filecopy, "/pkg/a.bin", "KAV022/fw/a.bin", h), false,
         "\t<File order=\"3\"><Hash>" + h +
             "</Hash><Source>fw/a.bin</Source><Destination>KAV022/fw/a.bin</Destination>"
             "<Mode>filecopy</Mode><Algorithm>MD5</Algorithm>\n</File>\n"},
        {"filecopy, destination without a folder", entry(1, filecopy, "/pkg/a.bin", "KAV022", h), false,
         "\t<File order=\"1\"><Hash>" + h +
             "</Hash><Source>KAV022</Source><Destination>KAV022</Destination>"
             "<Mode>filecopy</Mode><Algorithm>MD5</Algorithm>\n</File>\n"},
        {"fileappend", entry(4, fileappend, "/pkg/a.bin", "KAV022/a.bin", "x"), false,
         "\t<File order=\"4\"><Hash>x</Hash><Source>a.bin</Source><Destination>KAV022/a.bin</Destination>"
         "<Mode>fileappend</Mode><Algorithm>MD5</Algorithm>\n</File>\n"},
        {"chunk: the source is the chunk's own name", entry(0, fileappend, "FileChunk1", "KAV022/fw/big.bin", "x"),
         true,
         "\t<File order=\"0\"><Hash>x</Hash><Source>FileChunk1</Source><Destination>KAV022/fw/big.bin"
         "</Destination><Mode>fileappend</Mode><Algorithm>MD5</Algorithm>\n</File>\n"},
        {"dircopy", entry(2, dircopy, "", "KAV022/d"), false,
         "\t<File order=\"2\"><Hash></Hash><SourceKAVER>KAV022/d</SourceKAVER>\n"
         "<Destination>KAV022/d</Destination>\n<Mode>dircopy</Mode>\n<Algorithm>MD5</Algorithm>\n</File>\n"},
        {"filemove", entry(5, filemove, "KAV022/old", "KAV022/new"), false,
         "\t<File order=\"5\"><Hash></Hash><SourceKAVER>KAV022/old</SourceKAVER>\n"
         "<Destination>KAV022/new</Destination>\n<Mode>filemove</Mode>\n<Algorithm>MD5</Algorithm>\n</File>\n"},
        {"dirmove", entry(6, dirmove, "KAV022/a", "KAV023/b"), false,
         "\t<File order=\"6\"><Hash></Hash><SourceKAVER>KAV022/a</SourceKAVER>\n"
         "<Destination>KAV023/b</Destination>\n<Mode>dirmove</Mode>\n<Algorithm>MD5</Algorithm>\n</File>\n"},
        {"filedelete", entry(7, filedelete, "", "KAV022/fw/old.bin"), false,
         "\t<File order=\"7\"><Hash></Hash><Destination>KAV022/fw/old.bin</Destination>\n"
         "<Mode>filedelete</Mode>\n<Algorithm>MD5</Algorithm>\n</File>\n"},
        {"dirdelete names the source", entry(8, dirdelete, "KAV022/fw", ""), false,
         "\t<File order=\"8\"><Hash></Hash><Destination>KAV022/fw</Destination>\n"
         "<Mode>dirdelete</Mode>\n<Algorithm>MD5</Algorithm>\n</File>\n"},
        {"dirmake", entry(1, dirmake, "", "KAV022/payload"), false,
         "\t<File order=\"1\"><Hash></Hash><Destination>KAV022/payload</Destination><Mode>dirmake</Mode>\n"
         "<Algorithm>MD5</Algorithm>\n</File>\n"},
        {"ssib: last component of the source", entry(9, ssib, "/pkg/tasks/ssibinput.xml", "", "x"), false,
         "\t<File order=\"9\"><Hash>x</Hash><Source>ssibinput.xml</Source>\n<Mode>ssib</Mode>\n"
         "<Algorithm>MD5</Algorithm>\n</File>\n"},
        {"ssib: source without a folder", entry(9, ssib, "task.xml", "", "x"), false,
         "\t<File order=\"9\"><Hash>x</Hash><Source>task.xml</Source>\n<Mode>ssib</Mode>\n"
         "<Algorithm>MD5</Algorithm>\n</File>\n"},
        {"signedunzip: no hash, no algorithm", entry(1, signedunzip, "payload/p.zip", "KAV022/p.zip", "x"), false,
         "\t<File order=\"1\"><Source>p.zip</Source><Destination>KAV022/.</Destination>"
         "<Mode>signedunzip</Mode></File>\n"},
        {"signedunzip into a folder-less destination", entry(1, signedunzip, "p.zip", "KAV022"), false,
         "\t<File order=\"1\"><Source>KAV022</Source><Destination>KAV022/.</Destination>"
         "<Mode>signedunzip</Mode></File>\n"},
        {"doNotDisturb with a target, SHA1", entry(0, doNotDisturb, "", "X", "", 0), false,
         "\t<File order=\"0\"><Hash></Hash><Algorithm>SHA1</Algorithm>\n</File>\n"},
        {"doNotDisturb without a target", entry(0, doNotDisturb, "", ""), false,
         "\t<File order=\"0\"><Hash></Hash></File>\n"},
        {"inventory-log mode has no body", entry(2, rql_query_current_records, "", "KAV022/x"), false,
         "\t<File order=\"2\"><Hash></Hash><Algorithm>MD5</Algorithm>\n</File>\n"},
        {"unknown algorithm: no Algorithm element", entry(1, filecopy, "/a", "KAV022/a", "x", 7), false,
         "\t<File order=\"1\"><Hash>x</Hash><Source>a</Source><Destination>KAV022/a</Destination>"
         "<Mode>filecopy</Mode></File>\n"},
        {"negative order", entry(-1, dirmake, "", "KAV022/d"), false,
         "\t<File order=\"-1\"><Hash></Hash><Destination>KAV022/d</Destination><Mode>dirmake</Mode>\n"
         "<Algorithm>MD5</Algorithm>\n</File>\n"},
        {"markup characters in names stay text", entry(1, filecopy, "/p", "KAV022/a&b<c>\"d'.bin", "x"), false,
         "\t<File order=\"1\"><Hash>x</Hash><Source>a&amp;b&lt;c&gt;\"d'.bin</Source>"
         "<Destination>KAV022/a&amp;b&lt;c&gt;\"d'.bin</Destination>"
         "<Mode>filecopy</Mode><Algorithm>MD5</Algorithm>\n</File>\n"},
        {"blanks, tabs and newlines pass unchanged", entry(1, dirmake, "", "KAV022/a b\tc\nd"), false,
         "\t<File order=\"1\"><Hash></Hash><Destination>KAV022/a b\tc\nd</Destination><Mode>dirmake</Mode>\n"
         "<Algorithm>MD5</Algorithm>\n</File>\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::ostringstream out;
        EXPECT_TRUE(AddCfgEntry(&out, row.e, "/tmp/SECUPD/", row.chunk));
        EXPECT_EQ(out.str(), row.text);
    }
}

TEST(UpdateDocument, StagingDocumentIsHeaderEntriesFooter) {
    std::ostringstream out;
    AddCfgHdr(&out);
    ASSERT_TRUE(AddCfgEntry(&out, entry(1, dirmake, "", "KAV022/payload"), "", false));
    ASSERT_TRUE(AddCfgEntry(&out, entry(2, filecopy, "/pkg/package.xml", "KAV022/payload/package.xml", "ab"),
                            "", false));
    AddCfgFtr(&out);
    EXPECT_EQ(out.str(),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<KAVER_Update>\n"
              "\t<File order=\"1\"><Hash></Hash><Destination>KAV022/payload</Destination><Mode>dirmake</Mode>\n"
              "<Algorithm>MD5</Algorithm>\n"
              "</File>\n"
              "\t<File order=\"2\"><Hash>ab</Hash><Source>payload/package.xml</Source>"
              "<Destination>KAV022/payload/package.xml</Destination><Mode>filecopy</Mode>"
              "<Algorithm>MD5</Algorithm>\n"
              "</File>\n"
              "</KAVER_Update>\n"
              "\n");
}

TEST(UpdateDocument, RequestDocumentForEveryMode) {
    struct Row {
        const char* name;
        cfgEntry e;
        std::string lines;  // between the File start and end tags
    };
    const Row rows[] = {
        {"update records", entry(1, rql_update_records, "ignored", ""),
         "\t\t\t\t<Mode>rql_update_records</Mode>\n\t\t\t\t<Source>input.xml</Source>\n"
         "\t\t<Algorithm>MD5</Algorithm>\n"},
        {"update entire inventory", entry(2, rql_update_entire_inventory, "inv.xml", "", "hh"),
         "\t\t<Hash>hh</Hash>\n\t\t<Source>inv.xml</Source>\n\t\t<Mode>rql_update_entire_inventory</Mode>\n"
         "\t\t<Algorithm>MD5</Algorithm>\n"},
        {"current records", entry(3, rql_query_current_records, "", ""),
         "\t\t\t\t<Mode>rql_query_current_records</Mode>\n\t\t<Algorithm>MD5</Algorithm>\n"},
        {"history records, SHA1", entry(4, rql_query_history_records, "", "", "", 0),
         "\t\t\t\t<Mode>rql_query_history_records</Mode>\n\t\t<Algorithm>SHA1</Algorithm>\n"},
        {"event records, no algorithm", entry(5, rql_query_event_records, "", "", "", 2),
         "\t\t\t\t<Mode>rql_query_event_records</Mode>\n"},
        {"any other mode asks for current records", entry(6, filecopy, "/a", "KAV022/a", "x"),
         "\t\t\t\t<Mode>rql_query_current_records</Mode>\n\t\t<Algorithm>MD5</Algorithm>\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::ostringstream out;
        EXPECT_TRUE(CreateRQLConfigFile(&out, {row.e}));
        EXPECT_EQ(out.str(), kHeader + "\t<File order=\"" + std::to_string(row.e.order) + "\">\n" + row.lines +
                                 "\t</File>\n" + kFooter);
    }
}

TEST(UpdateDocument, RequestDocumentKeepsVectorOrderAndEmptyIsHeaderAndFooter) {
    std::ostringstream empty;
    EXPECT_TRUE(CreateRQLConfigFile(&empty, {}));
    EXPECT_EQ(empty.str(), kHeader + kFooter);

    std::ostringstream two;
    EXPECT_TRUE(CreateRQLConfigFile(&two, {entry(9, rql_query_event_records, "", "", "", 2),
                                           entry(1, rql_query_history_records, "", "", "", 2)}));
    EXPECT_EQ(two.str(), kHeader +
                             "\t<File order=\"9\">\n\t\t\t\t<Mode>rql_query_event_records</Mode>\n\t</File>\n"
                             "\t<File order=\"1\">\n\t\t\t\t<Mode>rql_query_history_records</Mode>\n\t</File>\n" +
                             kFooter);
}

TEST(UpdateDocument, DependencyRequestHashesThePackageDescriptorNow) {
    ScopedTempDir cwd(true);
    auto document = [] {
        std::ostringstream out;
        CreateRQLConfigFile(&out, {entry(1, rql_query_dependency, "", "")});
        return out.str();
    };
    const std::string before = "\t<File order=\"1\">\n\t\t<Source>package.xml</Source>\n\t\t<Hash>";
    const std::string after = "</Hash>\n\t\t<Mode>rql_query_dependency</Mode>\n\t\t<Algorithm>MD5</Algorithm>\n"
                              "\t</File>\n";

    EXPECT_EQ(document(), kHeader + before + "-1" + after + kFooter) << "no package.xml yet";
    writeFile(cwd.file("package.xml"), "abc");
    EXPECT_EQ(document(), kHeader + before + "900150983cd24fb0d6963f7d28e17f72" + after + kFooter);
    writeFile(cwd.file("package.xml"), "message digest");
    EXPECT_EQ(document(), kHeader + before + "f96b697d7cb7938d525a2f31aaf161d0" + after + kFooter)
        << "hashed at each call, not cached";
}

class UpdateDocumentLog : public KaverTest {};

TEST_F(UpdateDocumentLog, WritersLogAndAFailedEntryReportsFalse) {
    enableDebugLog();
    build();
    std::ostringstream out;
    AddCfgHdr(&out);
    EXPECT_FALSE(AddCfgEntry(nullptr, entry(1, dirmake, "", "KAV022/d"), "", false));
    AddCfgFtr(&out);
    EXPECT_TRUE(logHasInOrder(newLog(), {"Adding the config file header", "doCopy failed",
                                         "Adding the config file footer"}));
    EXPECT_EQ(out.str(), kHeader + kFooter);
}

}  // namespace
