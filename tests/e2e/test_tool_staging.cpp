// SPDX-License-Identifier: Apache-2.0
// zemt stage and rm against the emulator: what they copy, verify and
// delete, what they check before anything is sent, and how a failure reads.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "EmulatorFixture.h"
#include "md5wrapper.h"
#include "secureKaver.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

typedef EmulatorTest ToolStagingTest;

std::string Md5(const std::string& text) {
    md5wrapper md5;
    return md5.getHashFromString(text);
}

TEST_F(ToolStagingTest, StageVerifiesAndRmDeletesAndListsTheFolder) {
    Init();
    fs::create_directories(workDir_ + "/tree/sub");
    WriteWorkFile("one.txt", "one\n");
    WriteWorkFile("tree/a.txt", "a\n");
    WriteWorkFile("tree/sub/b.bin", VaryingBytes(100000, 11));
    ProcessResult staged = Zemt({"stage", "one.txt", "tree", "--to", "KAV022/pkg"});
    ASSERT_EQ(staged.exitCode, 0) << staged.err;
    EXPECT_NE(staged.out.find(Md5("one\n") + "  kav022/pkg/one.txt\n"), std::string::npos) << staged.out;
    EXPECT_NE(staged.out.find("verified 3 file(s), 100006 bytes"), std::string::npos) << staged.out;
    EXPECT_NE(staged.err.find("pass 1: 100006 of 100006 bytes staged, 3 of 3 file(s) complete\n"), std::string::npos)
        << staged.err;
    EXPECT_EQ(ImageFile(Image("KAV022.img"), "/pkg/one.txt"), "one\n");
    EXPECT_EQ(ImageFile(Image("KAV022.img"), "/pkg/tree/a.txt"), "a\n");
    EXPECT_EQ(ImageFile(Image("KAV022.img"), "/pkg/tree/sub/b.bin"), VaryingBytes(100000, 11));

    // rm reports the file gone and what the folder holds now.
    ProcessResult removed = Zemt({"rm", "KAV022/pkg/tree/a.txt", "--json"});
    EXPECT_EQ(removed.exitCode, 0) << removed.err;
    json doc = ParseJson(removed.out);
    EXPECT_EQ(doc["ok"], true);
    EXPECT_EQ(doc["deleted"], true);
    EXPECT_EQ(doc["folder"], "KAV022/pkg/tree");
    ASSERT_EQ(doc["entries"].size(), 1u) << removed.out;
    EXPECT_EQ(doc["entries"][0]["name"], "sub");
    EXPECT_EQ(ImageFile(Image("KAV022.img"), "/pkg/tree/a.txt"), "<missing>");
    EXPECT_EQ(ImageFile(Image("KAV022.img"), "/pkg/one.txt"), "one\n");
    removed = Zemt({"rm", "KAV022/pkg/one.txt"});
    EXPECT_EQ(removed.exitCode, 0) << removed.err;
    EXPECT_EQ(removed.out, "deleted KAV022/pkg/one.txt; KAV022/pkg now holds 1 entry:\ndirectory            -  tree\n");

    ProcessResult listed = Zemt({"ls", "KAV022/pkg/tree/sub"});
    EXPECT_EQ(listed.out, "file            100000  b.bin\n");
    ExpectNothingMounted("KAV022");
}

// A copy that differs when read back is named; without one the failure
// says what code 47 means.
TEST_F(ToolStagingTest, AFailedVerificationNamesTheCopyThatDiffers) {
    Init();
    WriteWorkFile("one.txt", "one\n");
    Fault("process effect=corrupt");
    ProcessResult bad = Zemt({"stage", "one.txt", "--to", "KAV022/again", "--json"});
    EXPECT_EQ(bad.exitCode, 1);
    json doc = ParseJson(bad.out);
    EXPECT_EQ(doc["verified"], false);
    EXPECT_EQ(doc["error"]["code"], ZEMT_COPYVERIFYFAIL);
    EXPECT_EQ(doc["error"]["message"].get<std::string>().rfind(
                  "verification failed: KAV022/again/one.txt differs from its source (MD5 ", 0),
              0u)
        << bad.out;
    EXPECT_NE(doc["error"]["reason"].get<std::string>().find("a copied file was corrupted"), std::string::npos)
        << bad.out;
    EXPECT_NE(bad.err.find("error 47 (ZEMT_COPYVERIFYFAIL): verification failed: the copies could not be read back, or differed"),
              std::string::npos)
        << bad.err;
    ExpectNothingMounted("KAV022");
}

// A staging that fails says why, after its code: the library's account (the
// command and its exit status, or the file, behind the step it failed in).
TEST_F(ToolStagingTest, AFailedStagingSaysWhy) {
    struct Case {
        const char* fault;
        const char* code;
        std::function<std::string(const std::string& source)> reason;
    };
    const Case cases[] = {
        {"host=cp exit=1 times=always", "27 (ZEMT_FINDMOUNTERR)",
         [](const std::string& source) {
             return "pass #1: copying " + source + " to kav022/fw/fw.bin: /bin/cp exited 1";
         }},
        {"host=mount match=SECUPD exit=32 times=always", "27 (ZEMT_FINDMOUNTERR)",
         [](const std::string&) {
             return std::string("pass #1: attaching the drop box: mount -t vfat -oshortname=mixed,rw ") +
                    "/dev/seckavupd-SECUPD /tmp/SECUPD exited 32 (60 attempts)";
         }},
        {"process effect=corrupt", "47 (ZEMT_COPYVERIFYFAIL)",
         [](const std::string& source) {
             return "verifying the copies: kav022/fw/fw.bin does not match its source " + source;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        Fresh();
        WriteWorkFile("fw.bin", "firmware\n");
        Fault(c.fault);
        const ProcessResult failed = Zemt({"stage", "fw.bin", "--to", "KAV022/fw"});
        EXPECT_EQ(failed.exitCode, 1);
        EXPECT_NE(failed.err.find(std::string("error ") + c.code), std::string::npos) << failed.err;
        EXPECT_NE(failed.err.find("  reason: " + c.reason(workDir_ + "/fw.bin")), std::string::npos) << failed.err;
    }
}

struct PreflightCase {
    const char* what;
    std::function<void()> prepare;
    std::vector<std::string> words;
    const char* says;
    bool asksController;  // the check needs the partition (attached, nothing staged)
};

TEST_F(ToolStagingTest, StageAndRmCheckWhatTheyCanBeforeAnythingIsSent) {
    const std::string longName(256, 'n');
    const PreflightCase cases[] = {
        {"missing source", nullptr, {"stage", "missing.txt", "--to", "KAV022/x"}, "missing.txt: no such file or directory",
         false},
        {"unreadable source", nullptr, {"stage", "/proc/self/mem", "--to", "KAV022/x"},
         "/proc/self/mem: cannot be read (", false},
        {"not a file", [this]() { mkfifo((workDir_ + "/pipe").c_str(), 0600); },
         {"stage", "pipe", "--to", "KAV022/x"}, "pipe: not a file or folder", false},
        {"empty folder", [this]() { fs::create_directories(workDir_ + "/empty"); },
         {"stage", "empty", "--to", "KAV022/x"}, "nothing to copy", false},
        {"name FAT cannot hold", [this]() { WriteWorkFile("a:b.bin", "x"); },
         {"stage", "a:b.bin", "--to", "KAV022/x"}, "'a:b.bin' is not a name FAT can hold", false},
        {"folder name too long", [this]() { WriteWorkFile("a.bin", "x"); },
         {"stage", "a.bin", "--to", "KAV022/" + longName}, "is longer than the 255 characters FAT allows", false},
        {"folder name FAT cannot hold", [this]() { WriteWorkFile("a.bin", "x"); },
         {"stage", "a.bin", "--to", "KAV022/what?"}, "'what?' is not a name FAT can hold", false},
        {"two names that differ in case",
         [this]() {
             fs::create_directories(workDir_ + "/pkg");
             WriteWorkFile("pkg/FW.BIN", "upper");
             WriteWorkFile("pkg/fw.bin", "lower");
         },
         {"stage", "pkg", "--to", "KAV022"}, "would both be", false},
        {"one file twice", [this]() { WriteWorkFile("a.bin", "x"); },
         {"stage", "a.bin", "a.bin", "--to", "KAV022"}, "would both be kav022/a.bin", false},
        {"too large for the partition", [this]() { WriteWorkFile("big.bin", VaryingBytes(3000000, 1)); },
         {"stage", "big.bin", "--to", "KAV023"}, "not enough room on KAV023: the files need 3000000 bytes", true},
        {"rm of a file that is not there", nullptr, {"rm", "KAV022/none.bin"}, "KAV022/none.bin: no such file", true},
        {"rm of a folder",
         [this]() {
             WriteWorkFile("fw.bin", "x");
             ASSERT_EQ(Zemt({"stage", "fw.bin", "--to", "KAV022/fw"}).exitCode, 0);
         },
         {"rm", "KAV022/fw"}, "KAV022/fw is a folder", true},
    };
    for (const PreflightCase& c : cases) {
        SCOPED_TRACE(c.what);
        Fresh();
        if (c.prepare) c.prepare();
        std::size_t before = Requests().size();
        std::vector<std::string> words = c.words;
        words.push_back("--json");
        ProcessResult r = Zemt(words);
        EXPECT_EQ(r.exitCode, 1) << r.err;
        json doc = ParseJson(r.out);
        EXPECT_EQ(doc["ok"], false);
        std::string message = doc["error"]["message"].is_string() ? doc["error"]["message"].get<std::string>() : "";
        EXPECT_NE(message.find(c.says), std::string::npos) << r.out;
        EXPECT_NE(r.err.find("zemt: " + c.words[0] + ": " + message + "\n"), std::string::npos) << r.err;
        EXPECT_EQ(Requests().size() > before, c.asksController) << r.err;
        EXPECT_EQ(CountRequests({0xC0, 0xA2, 0x07}, before), 0) << "no drop box was made";
        ExpectNothingMounted("KAV022");
    }
}

// Only what a copy adds counts: a file as large as the free space fits
// over an older version of itself.
TEST_F(ToolStagingTest, ACopyOverAnExistingFileNeedsOnlyTheRoomItAdds) {
    Init();
    WriteWorkFile("log.bin", VaryingBytes(1500000, 2));
    ASSERT_EQ(Zemt({"stage", "log.bin", "--to", "KAV023"}).exitCode, 0);
    WriteWorkFile("log.bin", VaryingBytes(1500000, 3));
    ProcessResult r = Zemt({"stage", "log.bin", "--to", "KAV023"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ImageFile(Image("KAV023.img"), "/log.bin"), VaryingBytes(1500000, 3));
    WriteWorkFile("other.bin", VaryingBytes(1500000, 4));
    r = Zemt({"stage", "other.bin", "--to", "KAV023"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("not enough room on KAV023"), std::string::npos) << r.err;
}

}  // namespace
