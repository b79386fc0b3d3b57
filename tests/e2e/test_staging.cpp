// Staging end to end: the emulated controller carries out update documents
// against its FAT partition images, and the library's completers stage,
// split, join, verify and delete files through it.
#include <algorithm>
#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>

#include "EmulatorFixture.h"
#include "secureKaver.h"
#include "zemt_emulator/Disks.h"

namespace fs = std::filesystem;

namespace {

std::string Md5(const std::string& bytes) {
    std::string path = "/tmp/zemt-e2e-md5-" + std::to_string(getpid());
    std::ofstream(path, std::ios::binary) << bytes;
    std::string out;
    zemt_emu::RunTool({"md5sum", path}, &out);
    fs::remove(path);
    return out.substr(0, 32);
}

class StagingTest : public EmulatorTest {
protected:
    void PutFile(const std::string& image, const std::string& name, const std::string& bytes) const {
        std::string local = workDir_ + "/put.tmp";
        std::ofstream(local, std::ios::binary) << bytes;
        std::string::size_type slash = 0;
        while ((slash = name.find('/', slash + 1)) != std::string::npos)
            zemt_emu::RunTool({"mmd", "-D", "s", "-i", image, "::" + name.substr(0, slash)});
        ASSERT_EQ(zemt_emu::RunTool({"mcopy", "-o", "-i", image, local, "::" + name}), 0) << name;
        fs::remove(local);
    }

    // Makes a drop box, puts FILES and the document into it, and hands it
    // to the controller with HASH (the document's own MD5 by default).
    bool Hand(secureKaver& kaver, const std::string& document,
              const std::vector<std::pair<std::string, std::string>>& files, std::string hash = "") {
        uint32_t granted = 0;
        EXPECT_TRUE(kaver.CreateDropBox("SECUPD", 1048576, &granted));
        std::string box = Image("dynamic-0.img");
        for (const auto& f : files) PutFile(box, f.first, f.second);
        PutFile(box, "update.xml", document);
        bool accepted = kaver.SecureKaverCopy(kaver.thisSession, hash.empty() ? Md5(document) : hash, 0);
        EXPECT_TRUE(kaver.DeleteDropBox(0));
        return accepted;
    }

    static std::string Entry(int order, const std::string& body) {
        return "\t<File order=\"" + std::to_string(order) + "\">" + body + "</File>\n";
    }
    static std::string Doc(const std::string& entries) {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KAVER_Update>\n" + entries + "</KAVER_Update>\n\n";
    }
    static std::string Copy(int order, const std::string& bytes, const std::string& src, const std::string& dst,
                            const char* mode = "filecopy") {
        return Entry(order, "<Hash>" + Md5(bytes) + "</Hash><Source>" + src + "</Source><Destination>" + dst +
                                "</Destination><Mode>" + mode + "</Mode><Algorithm>MD5</Algorithm>\n");
    }
    static std::string Named(int order, const std::string& tag, const std::string& path, const char* mode,
                             const std::string& from = "") {
        std::string body = "<Hash></Hash>";
        if (!from.empty()) body += "<SourceKAVER>" + from + "</SourceKAVER>\n";
        return Entry(order, body + "<" + tag + ">" + path + "</" + tag + ">\n<Mode>" + mode + "</Mode>\n");
    }
};

TEST_F(StagingTest, ControllerCarriesOutEveryActionInOrder) {
    Init();
    std::string kav022 = Image("KAV022.img");
    PutFile(kav022, "old/a.bin", "to be moved");
    PutFile(kav022, "olddir/inner/b.txt", "moved with its folder");
    PutFile(kav022, "gone.txt", "deleted");
    PutFile(kav022, "tree/x/y.txt", "deleted with its folder");

    std::string first = VaryingBytes(70000, 1), second = VaryingBytes(33333, 2), whole = VaryingBytes(5000, 3);
    std::string task = "task text\n";
    // A signed package: the archive is unpacked into the partition's root.
    fs::create_directories(workDir_ + "/pkg/sub");
    std::ofstream(workDir_ + "/pkg/sub/inside.txt") << "from the archive\n";
    ASSERT_EQ(Run({"/bin/sh", "-c", "cd pkg && zip -q -r ../p.zip sub"}).exitCode, 0);
    std::string zip;
    zemt_emu::ReadWholeFile(workDir_ + "/p.zip", zip);

    std::string doc = Doc(Copy(0, whole, "dir/deep/w.bin", "kav022/dir/deep/w.bin") +
                          Copy(1, first, "FileChunk0", "kav022/big/j.bin") +
                          Copy(1, second, "FileChunk1", "kav022/big/j.bin", "fileappend") +
                          Entry(2, "<Hash></Hash><Destination>kav022/made/here</Destination><Mode>dirmake</Mode>\n") +
                          Named(3, "Destination", "kav022/new/a.bin", "filemove", "kav022/old/a.bin") +
                          Named(4, "Destination", "kav022/newdir", "dirmove", "kav022/olddir") +
                          Named(5, "Destination", "kav022/gone.txt", "filedelete") +
                          Named(6, "Destination", "kav022/tree", "dirdelete") +
                          Entry(7, "<Hash>" + Md5(task) + "</Hash><Source>task.ssib</Source>\n<Mode>ssib</Mode>\n"
                                   "<Algorithm>MD5</Algorithm>\n") +
                          Entry(8, "<Source>p.zip</Source><Destination>kav022/.</Destination>"
                                   "<Mode>signedunzip</Mode>"));
    std::unique_ptr<secureKaver> kaver = Start();
    ASSERT_TRUE(Hand(*kaver, doc, {{"dir/deep/w.bin", whole}, {"FileChunk0", first}, {"FileChunk1", second},
                                   {"task.ssib", task}, {"p.zip", zip}}));

    EXPECT_EQ(ImageFile(kav022, "/dir/deep/w.bin"), whole);
    EXPECT_EQ(ImageFile(kav022, "/big/j.bin"), first + second);
    EXPECT_TRUE(ImageHasDir(kav022, "/made/here"));
    EXPECT_EQ(ImageFile(kav022, "/new/a.bin"), "to be moved");
    EXPECT_EQ(ImageFile(kav022, "/old/a.bin"), "<missing>");
    EXPECT_EQ(ImageFile(kav022, "/newdir/inner/b.txt"), "moved with its folder");
    EXPECT_FALSE(ImageHasDir(kav022, "/olddir"));
    EXPECT_EQ(ImageFile(kav022, "/gone.txt"), "<missing>");
    EXPECT_FALSE(ImageHasDir(kav022, "/tree"));
    EXPECT_EQ(ImageFile(kav022, "/sub/inside.txt"), "from the archive\n");
    EXPECT_EQ(ImageFile(kav022, "/CANARY.TXT"), "canary of KAV022\n");
    std::string tasks;
    zemt_emu::ReadWholeFile(stateDir_ + "/tasks.log", tasks);
    EXPECT_NE(tasks.find(" task.ssib " + Md5(task)), std::string::npos) << tasks;
    EXPECT_EQ(ControllerState("status.9"), "0");
}

TEST_F(StagingTest, RefusedDocumentsLeaveThePartitionAsItWas) {
    struct Case {
        const char* name;
        const char* fault;     // process fault, or ""
        bool brokenXml;
        bool wrongHash;
        bool wrongFileHash;
        bool tooBig;           // more than the partition holds
        const char* note;      // why the controller refused, in requests.log
    } cases[] = {
        {"hash refused by fault", "process effect=refuse", false, false, false, false, " hash-refused"},
        {"unparsable by fault", "process effect=unparsable", false, false, false, false, " unparsable"},
        {"partition full by fault", "process effect=full", false, false, false, false, " partition-full"},
        {"document is not XML", "", true, false, false, false, " unparsable"},
        {"hash sent does not match", "", false, true, false, false, " hash-refused"},
        {"file hash does not match", "", false, false, true, false, " source-hash"},
        {"really full partition", "", false, false, false, true, " partition-full"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fresh([](zemt_emu::InitOptions& o) { o.partitions = {"KAV001", "KAV022:1"}; });
        if (*c.fault) Fault(c.fault);
        std::string bytes = c.tooBig ? VaryingBytes(1500000, 4) : "payload";
        std::string doc = Doc(Copy(0, c.wrongFileHash ? std::string("other") : bytes, "f.bin", "kav022/f.bin") +
                              Named(1, "Destination", "kav022/CANARY.TXT", "filedelete"));
        if (c.brokenXml) doc = "<KAVER_Update><File order=\"0\">";
        std::unique_ptr<secureKaver> kaver = Start();
        kaver->MAX_DYN_PART_SIZE = 4 * 1048576;
        uint32_t granted = 0;
        ASSERT_TRUE(kaver->CreateDropBox("SECUPD", c.tooBig ? 2 * 1048576 : 65536, &granted));
        PutFile(Image("dynamic-0.img"), "f.bin", bytes);
        PutFile(Image("dynamic-0.img"), "update.xml", doc);
        EXPECT_FALSE(kaver->SecureKaverCopy(kaver->thisSession,
                                            c.wrongHash ? std::string(32, 'a') : Md5(doc), 0));
        EXPECT_EQ(ImageFile(Image("KAV022.img"), "/f.bin"), "<missing>");
        EXPECT_EQ(ImageFile(Image("KAV022.img"), "/CANARY.TXT"), "canary of KAV022\n");
        EXPECT_NE(ControllerState("status.9"), "0");
        std::vector<LoggedRequest> requests = Requests();
        auto last = std::find_if(requests.rbegin(), requests.rend(),
                                 [](const LoggedRequest& r) { return r.Is({0xc0, 0xa2, 0x09}); });
        ASSERT_NE(last, requests.rend());
        EXPECT_NE(last->rest.find(c.note), std::string::npos) << last->rest;
    }
}

TEST_F(StagingTest, ProcessingAnswersPendingOverVirtualTime) {
    Init();
    Fault("process effect=polls polls=4");
    std::unique_ptr<secureKaver> kaver = Start();
    unsigned long before = Clock();
    std::size_t from = Requests().size();
    ASSERT_TRUE(Hand(*kaver, Doc(Copy(0, "x", "x", "kav022/x")), {{"x", "x"}}));
    std::vector<LoggedRequest> requests = Requests();
    long polls = std::count_if(requests.begin() + static_cast<long>(from), requests.end(),
                               [](const LoggedRequest& r) { return r.Is({0xc0, 0xa2, 0x0a}); });
    EXPECT_EQ(polls, 5);  // four pending, then the final status
    EXPECT_GE(Clock() - before, 4u);
    EXPECT_EQ(ImageFile(Image("KAV022.img"), "/x"), "x");
}

TEST_F(StagingTest, CorruptFaultFlipsAByteOfTheLastFileWritten) {
    Init();
    Fault("process effect=corrupt after=1");  // the second processing only
    std::unique_ptr<secureKaver> kaver = Start();
    std::string a = VaryingBytes(1000, 5), b = VaryingBytes(2000, 6);
    ASSERT_TRUE(Hand(*kaver, Doc(Copy(0, a, "a", "kav022/a")), {{"a", a}}));
    ASSERT_TRUE(Hand(*kaver, Doc(Copy(0, a, "a", "kav022/a2") + Copy(1, b, "b", "kav022/b")), {{"a", a}, {"b", b}}));
    EXPECT_EQ(ImageFile(Image("KAV022.img"), "/a"), a);
    EXPECT_EQ(ImageFile(Image("KAV022.img"), "/a2"), a);
    std::string flipped = b;
    flipped[0] = static_cast<char>(flipped[0] ^ 0xFF);
    EXPECT_EQ(ImageFile(Image("KAV022.img"), "/b"), flipped);
}

TEST_F(StagingTest, SecureUpdateUnpacksTheSignedPackage) {
    Init();
    Fault("cmd=0xA2/0x20 pending=2");
    Fault("process effect=polls polls=1");
    fs::create_directories(workDir_ + "/pkg");
    std::ofstream(workDir_ + "/pkg/fw.bin") << "firmware\n";
    ASSERT_EQ(Run({"/bin/sh", "-c", "cd pkg && zip -q ../s.zip fw.bin"}).exitCode, 0);
    std::string zip;
    zemt_emu::ReadWholeFile(workDir_ + "/s.zip", zip);
    std::string doc = Doc(Entry(1, "<Source>s.zip</Source><Destination>kav022/.</Destination>"
                                   "<Mode>signedunzip</Mode>"));

    std::unique_ptr<secureKaver> kaver = Start();
    ASSERT_TRUE(kaver->beginSecureUpdate(3 * 32768));
    EXPECT_EQ(ControllerState("dynamic.0.units"), "3");
    EXPECT_EQ(ControllerState("attached.dynamic"), "1");
    PutFile(Image("dynamic-0.img"), "s.zip", zip);
    PutFile(Image("dynamic-0.img"), "update.xml", doc);
    EXPECT_FALSE(kaver->processSecureUpdate(std::string(32, '0')));  // wrong digest
    EXPECT_EQ(ImageFile(Image("KAV022.img"), "/fw.bin"), "<missing>");
    ASSERT_TRUE(kaver->processSecureUpdate(Md5(doc)));
    EXPECT_EQ(ImageFile(Image("KAV022.img"), "/fw.bin"), "firmware\n");
    ASSERT_TRUE(kaver->endSecureUpdate());
    EXPECT_EQ(ControllerState("dynamic.0.units"), "");
    EXPECT_FALSE(fs::exists(Image("dynamic-0.img")));
}

TEST_F(StagingTest, VerificationCatchesACorruptedCopy) {
    Init();
    Fault("process effect=corrupt");
    WriteWorkFile("a.bin", VaryingBytes(40000, 9));
    std::unique_ptr<secureKaver> kaver = Start();
    ASSERT_TRUE(kaver->StartCopyFile());
    ASSERT_TRUE(kaver->AddFile(workDir_ + "/a.bin", "kav022/a.bin", filecopy));
    EXPECT_FALSE(kaver->CompleteCopyFile());
    EXPECT_EQ(kaver->getZEMTError(), 47);
    EXPECT_EQ(ControllerState("attached.static"), "0");
}

TEST_F(StagingTest, DeletionAndHostileNames) {
    Init();
    const std::vector<std::string> names = {"with blank.txt", "quote'q.txt", "semi;colon.txt",
                                            "$(touch pwned).txt", "`touch pwned`.txt", "-leading.txt"};
    std::unique_ptr<secureKaver> kaver = Start();
    ASSERT_TRUE(kaver->StartCopyFile());
    for (std::size_t i = 0; i < names.size(); ++i) {
        WriteWorkFile(names[i], "content " + names[i]);
        ASSERT_TRUE(kaver->AddFile(workDir_ + "/" + names[i], "kav022/odd/" + names[i], filecopy)) << names[i];
    }
    ASSERT_TRUE(kaver->CompleteCopyFile()) << int(kaver->getZEMTError());
    kaver->EndCopyFile();
    for (const std::string& name : names)
        EXPECT_EQ(ImageFile(Image("KAV022.img"), "/odd/" + name), "content " + name) << name;
    EXPECT_FALSE(fs::exists(workDir_ + "/pwned"));
    EXPECT_FALSE(RootHas("/pwned"));

    ASSERT_TRUE(kaver->StartCopyFile());
    ASSERT_TRUE(kaver->DeleteKaverFile("kav022/odd/" + names[2]));
    ASSERT_TRUE(kaver->CompleteCopyFile()) << int(kaver->getZEMTError());
    kaver->EndCopyFile();
    EXPECT_EQ(ImageFile(Image("KAV022.img"), "/odd/" + names[2]), "<missing>");
    EXPECT_EQ(ImageFile(Image("KAV022.img"), "/odd/" + names[0]), "content " + names[0]);
}

TEST_F(StagingTest, MultiPassCopyJoinsChunksAndVerifies) {
    Init();
    std::string big = VaryingBytes(5 * 1048576 + 12345, 7), small = VaryingBytes(300000, 8), tiny = "tiny\n";
    WriteWorkFile("big.bin", big);
    WriteWorkFile("small.bin", small);
    WriteWorkFile("tiny.txt", tiny);
    std::unique_ptr<secureKaver> kaver = Start();
    kaver->MAX_DYN_PART_SIZE = 3 * 1048576;  // smaller than big.bin
    ASSERT_TRUE(kaver->StartCopyFile());
    ASSERT_TRUE(kaver->AddFile(workDir_ + "/small.bin", "kav022/pkg/small.bin", filecopy));
    ASSERT_TRUE(kaver->AddFile(workDir_ + "/big.bin", "kav022/pkg/deep/big.bin", filecopy));
    ASSERT_TRUE(kaver->AddFile(workDir_ + "/tiny.txt", "kav022/tiny.txt", filecopy));
    std::size_t from = Requests().size();
    ASSERT_TRUE(kaver->CompleteCopyFile()) << int(kaver->getZEMTError());
    kaver->EndCopyFile();

    EXPECT_EQ(ImageFile(Image("KAV022.img"), "/pkg/deep/big.bin"), big);
    EXPECT_EQ(ImageFile(Image("KAV022.img"), "/pkg/small.bin"), small);
    EXPECT_EQ(ImageFile(Image("KAV022.img"), "/tiny.txt"), tiny);
    std::vector<LoggedRequest> requests = Requests();
    long passes = std::count_if(requests.begin() + static_cast<long>(from), requests.end(),
                                [](const LoggedRequest& r) { return r.Is({0xc0, 0xa2, 0x09}) && r.request[5] == 0; });
    EXPECT_GE(passes, 3);  // 5 MiB in chunks of at most 2 MiB
    EXPECT_EQ(ControllerState("dynamic.0.units"), "");  // the drop box is gone
}


}  // namespace
