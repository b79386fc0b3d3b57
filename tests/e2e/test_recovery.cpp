// Nothing wedges the emulator for good: a run killed at any point, two runs
// at once, and a session whose process is gone all leave a state the next
// ordinary command works from; `zemt emulator clock`, `reset` and `exec`
// are the documented ways in and out.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "EmulatorFixture.h"
#include "PlatformLayer.h"
#include "kaverPartInfo.h"
#include "secureKaver.h"
#include "zemt_emulator/Disks.h"

namespace fs = std::filesystem;

namespace {

class RecoveryTest : public EmulatorTest {
protected:
    std::string RequestLog() const {
        std::string text;
        zemt_emu::ReadWholeFile(stateDir_ + "/" + zemt_emu::files::kRequestLog, text);
        return text;
    }
    bool Mounted() const {
        std::string text;
        zemt_emu::ReadWholeFile(stateDir_ + "/" + zemt_emu::files::kMounts, text);
        return !text.empty();
    }
    // The first request of a drop box's hand-over is its hash header.
    bool HandedOver() const { return CountRequests({0xc0, 0xa2, 0x09}) > 0; }

    // Starts `zemt stage`, waits until `reached` says the run got there and
    // kills it; false when the run ended first.
    bool KillStageWhen(const std::string& source, const std::function<bool()>& reached) {
        pid_t pid = Launch(workDir_, {ZEMT_E2E_TOOL, "--emulator", stateDir_, "stage", source, "--to", "KAV022/big"},
                           {}, "killed");
        for (int i = 0; i < 20000; ++i) {
            if (reached()) {
                kill(pid, SIGKILL);
                return Finish(pid, "killed").exitCode == 128 + SIGKILL;
            }
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        kill(pid, SIGKILL);
        Finish(pid, "killed");
        return false;
    }

    // The next ordinary command works, and what it leaves is clean.
    void ExpectTheNextStageWorks(const std::string& folder) {
        ProcessResult r = RunZemt({"--emulator", stateDir_, "stage", "small.bin", "--to", "KAV022/" + folder});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(ImageFile(Image("KAV022.img"), "/" + folder + "/small.bin"), "small\n");
        EXPECT_EQ(ImageFile(Image("KAV022.img"), "/CANARY.TXT"), "canary of KAV022\n");
        ExpectNothingMounted("SECUPD");
        EXPECT_EQ(ControllerState("session.handle"), "0");
        EXPECT_EQ(ControllerState("attached.dynamic"), "0");
        std::error_code ec;
        EXPECT_TRUE(!fs::exists(stateDir_ + "/scratch") || fs::is_empty(stateDir_ + "/scratch", ec))
            << "scratch files of the killed run are left";
    }
};

TEST_F(RecoveryTest, StageKilledAtAnyPointLeavesNothingTheNextCommandCannotUndo) {
    struct KillPoint {
        const char* what;
        std::function<bool()> reached;
    };
    const KillPoint points[] = {
        {"with the session just opened", [this] { return RequestLog().find("c0 a2 12") != std::string::npos; }},
        {"while the drop box is mounted", [this] { return Mounted(); }},
        {"after the hash header", [this] { return HandedOver(); }},
        {"in the second pass", [this] { return HandedOver() && Mounted(); }},
    };
    int n = 0;
    for (const KillPoint& point : points) {
        SCOPED_TRACE(point.what);
        // Drop boxes of at most 29 MiB on a pre-Vemo controller: two passes.
        Fresh([](zemt_emu::InitOptions& o) { o.generation = "pre-vemo"; });
        WriteWorkFile("small.bin", "small\n");
        std::ofstream(workDir_ + "/big.bin", std::ios::binary) << VaryingBytes(40 << 20, 5);
        ASSERT_TRUE(KillStageWhen("big.bin", point.reached)) << "the run ended first";
        ExpectTheNextStageWorks("next" + std::to_string(++n));
    }
}

TEST_F(RecoveryTest, TwoStagesAtOnceOneWinsTheOtherFailsCleanly) {
    Init();
    WriteWorkFile("mine.bin", "mine\n");
    WriteWorkFile("theirs.bin", "theirs\n");
    {
        // This process is in the middle of a stage when another one starts.
        std::unique_ptr<secureKaver> kaver = Start();
        ASSERT_TRUE(kaver->StartCopyFile());
        ASSERT_TRUE(kaver->AddFile(workDir_ + "/mine.bin", "kav022/fw/mine.bin", filecopy));
        ProcessResult other = RunZemt({"--emulator", stateDir_, "stage", "theirs.bin", "--to", "KAV022/fw"});
        EXPECT_EQ(other.exitCode, 1);
        EXPECT_NE(other.err.find("initialisation failed\n  error 63 (ZEMT_GETSESSFAIL_Vemo): the controller refused "
                                 "a session: it holds one for another program"),
                  std::string::npos)
            << other.err;
        EXPECT_NE(other.err.find("holds a session of process " + std::to_string(getpid()) + ", which is still running"),
                  std::string::npos)
            << other.err;
        EXPECT_TRUE(kaver->CompleteCopyFile()) << int(kaver->getZEMTError());
        kaver->EndCopyFile();
    }
    EXPECT_EQ(ImageFile(Image("KAV022.img"), "/fw/mine.bin"), "mine\n");
    EXPECT_EQ(ImageFile(Image("KAV022.img"), "/fw/theirs.bin"), "<missing>");

    // Two processes started together: whichever loses the session fails
    // with its code, and whatever either staged is whole.
    pid_t first = Launch(workDir_, {ZEMT_E2E_TOOL, "--emulator", stateDir_, "stage", "mine.bin", "--to", "KAV022/a"},
                         {}, "first");
    pid_t second = Launch(workDir_, {ZEMT_E2E_TOOL, "--emulator", stateDir_, "stage", "theirs.bin", "--to", "KAV022/b"},
                          {}, "second");
    const std::pair<ProcessResult, std::string> runs[] = {{Finish(first, "first"), "/a/mine.bin"},
                                                          {Finish(second, "second"), "/b/theirs.bin"}};
    int won = 0;
    for (const auto& run : runs) {
        if (run.first.exitCode == 0) {
            ++won;
            EXPECT_NE(ImageFile(Image("KAV022.img"), run.second), "<missing>") << run.second;
        } else {
            EXPECT_EQ(run.first.exitCode, 1);
            EXPECT_NE(run.first.err.find("error 63"), std::string::npos) << run.first.err;
            EXPECT_EQ(ImageFile(Image("KAV022.img"), run.second), "<missing>") << run.second;
        }
    }
    EXPECT_GE(won, 1);
    EXPECT_EQ(ImageFile(Image("KAV022.img"), "/CANARY.TXT"), "canary of KAV022\n");
    ProcessResult next = RunZemt({"--emulator", stateDir_, "stage", "theirs.bin", "--to", "KAV022/c"});
    EXPECT_EQ(next.exitCode, 0) << next.err;
    ExpectNothingMounted("SECUPD");
}

TEST_F(RecoveryTest, SessionOfAProcessThatIsGoneIsReleasedAtOnce) {
    Init();
    // A process that is still there, and one that has ended.
    pid_t alive = fork();
    if (alive == 0) {
        pause();
        _exit(0);
    }
    pid_t gone = fork();
    if (gone == 0) _exit(0);
    waitpid(gone, nullptr, 0);
    zemt_emu::ProcessIdentity self = zemt_emu::CurrentProcess();
    zemt_emu::ProcessIdentity reused = self;
    reused.start += 1;  // this process's id, given to an earlier process
    const struct {
        const char* what;
        std::string owner;
        bool released;
    } cases[] = {
        {"owner still running", zemt_emu::IdentityOf(alive).Text(), false},
        {"owner ended", std::to_string(gone) + ":1", true},
        {"owner's id now another process's", reused.Text(), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        zemt_emu::KeyValueFile state;
        std::string path = stateDir_ + "/" + zemt_emu::files::kControllerState;
        state.Load(path);
        state.SetInt("session.handle", 0x77);
        state.SetInt("session.timeout", 1200);
        unsigned long expires = Clock() + 1200;
        state.SetInt("session.expires", static_cast<long>(expires));
        state.Set("session.owner", c.owner);
        ASSERT_TRUE(state.Save(path));
        ProcessResult r = RunZemt({"--emulator", stateDir_, "flag", "get"});
        EXPECT_EQ(r.exitCode, c.released ? 0 : 1) << r.err;
        EXPECT_EQ(RequestLog().find("owner-gone") != std::string::npos, c.released);
        EXPECT_LT(Clock(), expires) << "the watchdog's time had to pass";
        zemt_emu::WriteWholeFile(stateDir_ + "/" + zemt_emu::files::kRequestLog, "");
    }
    kill(alive, SIGKILL);
    waitpid(alive, nullptr, 0);
}

TEST_F(RecoveryTest, ClockShowsAndMovesTheVirtualTime) {
    Init();
    ProcessResult r = RunZemt({"emulator", "clock", stateDir_});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "0\n");
    // A session of a running process outlives nothing but its watchdog.
    std::unique_ptr<secureKaver> kaver = Start();
    EXPECT_EQ(RunZemt({"--emulator", stateDir_, "flag", "get"}).exitCode, 1);
    unsigned long now = Clock();
    r = RunZemt({"emulator", "clock", stateDir_, "--advance", "1200"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, std::to_string(now + 1200) + "\n");
    EXPECT_EQ(Clock(), now + 1200);
    r = RunZemt({"--emulator", stateDir_, "flag", "get"});
    EXPECT_EQ(r.exitCode, 0) << r.err;

    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"emulator", "clock"}, {"emulator", "clock", stateDir_, "--advance"},
             {"emulator", "clock", stateDir_, "--advance", "-5"}, {"emulator", "clock", stateDir_, "soon"}})
        EXPECT_EQ(RunZemt(bad).exitCode, 2) << bad.back();
    r = RunZemt({"emulator", "clock", tempDir_ + "/nothing"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("is not an emulator state directory"), std::string::npos) << r.err;
}

TEST_F(RecoveryTest, ResetReleasesWhatARunHoldsAndKeepsThePartitions) {
    Init();
    WriteWorkFile("fw.bin", "firmware\n");
    ASSERT_EQ(RunZemt({"--emulator", stateDir_, "stage", "fw.bin", "--to", "KAV022/fw"}).exitCode, 0);
    // A run that holds everything at once: a session, a drop box attached
    // and mounted, a static partition attached and mounted, a scratch
    // directory of a process that is gone and one of this process.
    std::unique_ptr<secureKaver> kaver = Start();
    uint32_t granted = 0;
    ASSERT_TRUE(kaver->CreateDropBox("SECUPD", 262144, &granted));
    ASSERT_TRUE(kaver->AttachPartition(0, kaverPartInfo[0].i_bitmap, 0));
    ASSERT_TRUE(kaver->AttachPartition(kaverPartInfo[22].i_bitmap, 0, 22));
    ASSERT_TRUE(RootHas("/tmp/KAV022/fw/fw.bin"));
    ASSERT_TRUE(CPlatformLayer::Run("cp fw.bin /tmp/SECUPD/written.bin") == 0);
    fs::create_directories(stateDir_ + "/scratch/process-1:1-abcdef");
    std::string mine = zemt_emu::MakeScratchDir(stateDir_, "process");

    ProcessResult r = RunZemt({"emulator", "reset", stateDir_});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    for (const char* key : {"session.handle", "session.owner", "attached.static", "attached.dynamic",
                            "dynamic.0.units", "dynamic.0.label", "pending.sub", "copy.bitmap"})
        EXPECT_EQ(ControllerState(key), "") << key;
    ExpectNothingMounted("SECUPD");
    EXPECT_FALSE(RootHas("/tmp/KAV022"));
    EXPECT_FALSE(RootHas("/dev/sdb"));
    EXPECT_FALSE(fs::exists(Image("dynamic-0.img")));
    EXPECT_FALSE(fs::exists(stateDir_ + "/scratch/process-1:1-abcdef"));
    EXPECT_TRUE(fs::exists(mine));
    EXPECT_EQ(ImageFile(Image("KAV022.img"), "/fw/fw.bin"), "firmware\n");
    EXPECT_EQ(ImageFile(Image("KAV022.img"), "/CANARY.TXT"), "canary of KAV022\n");

    // The library object that held all this ends without harm, and the
    // next command works.
    kaver.reset();
    WriteWorkFile("next.bin", "next\n");
    r = RunZemt({"--emulator", stateDir_, "stage", "next.bin", "--to", "KAV022/fw"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(RunZemt({"emulator", "reset", tempDir_ + "/nothing"}).exitCode, 1);
}

TEST_F(RecoveryTest, ExecRunsAnUnmodifiedProgramAgainstTheEmulatorOrNotAtAll) {
    Init([](zemt_emu::InitOptions& o) { o.generation = "vemo"; });
    ProcessResult r = RunZemt({"emulator", "exec", stateDir_, "--", ZEMT_E2E_PLAIN_CLIENT});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "error=0 generation=1 kind=1\n");
    EXPECT_FALSE(Requests().empty());

    const struct {
        const char* what;
        std::vector<std::string> args;
        const char* says;
    } refused[] = {
        {"no preload library", {"emulator", "exec", stateDir_, "--preload", tempDir_ + "/none.so", "--",
                                ZEMT_E2E_PLAIN_CLIENT},
         "the preload library"},
        {"no state directory", {"emulator", "exec", tempDir_ + "/none", "--", ZEMT_E2E_PLAIN_CLIENT},
         "is not an emulator state directory"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.what);
        std::size_t before = Requests().size();
        r = RunZemt(c.args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, "") << "the program ran";
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(Requests().size(), before);
    }
    EXPECT_EQ(RunZemt({"emulator", "exec", stateDir_}).exitCode, 2);
}

TEST_F(RecoveryTest, NamingTheEmulatorWithoutInstallingItNeverReachesTheRealHost) {
    Init();
    // A copy of the program with an install script beside it that would
    // leave a mark if the real host ran it.
    std::string bin = tempDir_ + "/bin";
    fs::create_directories(bin);
    fs::copy_file(ZEMT_E2E_PLAIN_CLIENT, bin + "/client");
    std::string mark = tempDir_ + "/ran-on-the-real-host";
    std::ofstream(bin + "/tarnvelmoinstall.sh") << "#!/bin/sh\ntouch " << mark << "\n";
    fs::permissions(bin + "/tarnvelmoinstall.sh", fs::perms::owner_all);
    ProcessResult r = Run({bin + "/client"}, {{zemt_emu::kStateDirEnv, stateDir_}});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "error=46 generation=-1 kind=-1\n");
    EXPECT_FALSE(fs::exists(mark));
    std::string::size_type first = r.err.find("every host action is refused");
    EXPECT_NE(first, std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("every host action is refused", first + 1), std::string::npos) << "said once";
    EXPECT_TRUE(Requests().empty());
    EXPECT_TRUE(Commands().empty());
}

}  // namespace
