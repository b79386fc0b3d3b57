// A hand-over whose hash header or one of its first hash parts the
// controller refuses never reaches the controller's processing: zemt rm and
// zemt stage must report it as the failure it is, leave the stored file as
// it was, and the next command must work.
#include <string>
#include <vector>

#include "EmulatorFixture.h"

namespace {

class HashRefusalTest : public EmulatorTest {};

TEST_F(HashRefusalTest, RefusedHeaderOrEarlyPartFailsRmAndStage) {
    struct Case {
        const char* command;  // "rm" or "stage"
        int refused;          // 0 = the hash header, 1-3 = a hash part
    };
    std::vector<Case> cases;
    for (const char* command : {"rm", "stage"})
        for (int refused = 0; refused <= 3; ++refused) cases.push_back({command, refused});

    const std::string stored = "stored version\n", replacement = "new version\n";
    for (const Case& c : cases) {
        const std::string what = std::string(c.command) + (c.refused == 0 ? ", header" : ", part " +
                                                                                     std::to_string(c.refused));
        SCOPED_TRACE(what);
        Fresh();
        WriteWorkFile("a.txt", stored);
        ASSERT_EQ(RunZemt({"--emulator", stateDir_, "stage", "a.txt", "--to", "KAV022/x"}).exitCode, 0);
        WriteWorkFile("a.txt", replacement);

        // Sub-command 9 requests of one hand-over: the header, then parts 1-4.
        Fault("cmd=0xA2/9 completion=1 after=" + std::to_string(c.refused));
        const std::size_t from = Requests().size();
        const std::vector<std::string> words =
            std::string(c.command) == "rm"
                ? std::vector<std::string>{"--emulator", stateDir_, "rm", "KAV022/x/a.txt"}
                : std::vector<std::string>{"--emulator", stateDir_, "stage", "a.txt", "--to", "KAV022/x"};
        const ProcessResult failed = RunZemt(words);

        EXPECT_EQ(failed.exitCode, 1) << failed.out << failed.err;
        EXPECT_EQ(failed.out, "");
        const std::string message = std::string("zemt: ") + c.command + ": " +
                                    (std::string(c.command) == "rm" ? "deleting KAV022/x/a.txt failed"
                                                                    : "staging into KAV022/x failed") +
                                    "\n  error 24 (ZEMT_SMCFAILED): ";
        EXPECT_NE(failed.err.find(message), std::string::npos) << failed.err;
        // Why: the refused request as the library saw it, then the
        // emulator's record of the fault that fired.
        EXPECT_NE(failed.err.find("  reason: pass #1: handing the update document to the controller: "
                                  "SecureKAVERUpdate refused: completion code 0x01; emulator: the fault script's line"),
                  std::string::npos)
            << failed.err;
        EXPECT_EQ(ImageFile(Image("KAV022.img"), "/x/a.txt"), stored);
        EXPECT_EQ(CountRequests({0xc0, 0xa2, 0x09}, from), c.refused + 1) << "nothing is sent after the refusal";
        EXPECT_EQ(ControllerState("dynamic.0.units"), "") << "the drop box is deleted";

        // The fault fired once: the same command now does what it says.
        const ProcessResult again = RunZemt(words);
        EXPECT_EQ(again.exitCode, 0) << again.err;
        EXPECT_EQ(ImageFile(Image("KAV022.img"), "/x/a.txt"),
                  std::string(c.command) == "rm" ? "<missing>" : replacement);
    }
}

}  // namespace
