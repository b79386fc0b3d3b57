// Overwriting a stored file with one that needs several drop-box passes:
// whatever makes a later pass fail (a refused hash, a mount that never
// works, a full partition, a killed zemt), the stored version stays as it
// was, byte for byte, zemt says what failed, and at most the temporary file
// the chunks are joined in is left beside it.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "EmulatorFixture.h"
#include "zemt_emulator/Disks.h"

namespace {

const std::size_t MiB = 1048576;
const char* const kTarget = "/x/fw.bin";
const char* const kPartial = "/x/fw.bin.zemt-partial";

class OverwriteSafetyTest : public EmulatorTest {
protected:
    // A controller whose KAV022 (PARTITIONMIB) holds fw.bin of OLDSIZE
    // bytes, staged by zemt, and a new fw.bin of NEWSIZE bytes in the
    // working directory.  Each pass carries a chunk of CHUNK bytes.
    void Prepare(std::size_t oldSize, std::size_t newSize, std::size_t chunk, int partitionMib = 8,
                 const char* generation = "sarn") {
        Fresh([&](zemt_emu::InitOptions& o) {
            o.generation = generation;
            o.partitions = {"KAV001", "KAV022:" + std::to_string(partitionMib)};
        });
        chunk_ = chunk;
        old_ = VaryingBytes(oldSize, 1);
        WriteWorkFile("fw.bin", old_);
        ASSERT_EQ(RunZemt({"--emulator", stateDir_, "stage", "fw.bin", "--to", "KAV022/x"}).exitCode, 0);
        ASSERT_TRUE(ImageFile(Image("KAV022.img"), kTarget) == old_);
        new_ = VaryingBytes(newSize, 2);
        WriteWorkFile("fw.bin", new_);
    }

    // zemt stage with drop boxes of 2 MiB: after the 1 MiB margin each pass
    // carries a chunk of 1 MiB.
    ProcessResult StageInSmallPasses() const {
        return RunZemt({"--emulator", stateDir_, "stage", "fw.bin", "--to", "KAV022/x", "--max-drop-box", "2"});
    }

    void ClearFaults() const { std::ofstream(stateDir_ + "/" + zemt_emu::files::kFaults, std::ios::trunc); }

    // The stored version is intact and the folder holds nothing but it and
    // possibly the temporary file, which is then the start of the new file:
    // as many chunks as one of ACCEPTEDPASSES passes carried.
    void ExpectOldVersionKept(const std::vector<std::size_t>& acceptedPasses) const {
        const std::string image = Image("KAV022.img");
        const std::string stored = ImageFile(image, kTarget);
        EXPECT_TRUE(stored == old_) << "the stored file has " << stored.size() << " bytes, not the old "
                                    << old_.size();
        std::string listing;
        zemt_emu::RunTool({"mdir", "-b", "-i", image, "::/x"}, &listing);
        EXPECT_TRUE(listing == "::/x/fw.bin\n" || listing == "::/x/fw.bin\n::/x/fw.bin.zemt-partial\n") << listing;
        const std::string partial = ImageFile(image, kPartial);
        if (partial == "<missing>") return;
        bool expectedSize = false;
        for (std::size_t passes : acceptedPasses) expectedSize = expectedSize || partial.size() == passes * chunk_;
        EXPECT_TRUE(expectedSize) << "a temporary file of " << partial.size() << " bytes";
        EXPECT_TRUE(new_.compare(0, partial.size(), partial) == 0) << "the temporary file is not the new file's start";
    }

    // Starts zemt stage (drop boxes as large as the controller allows) and
    // kills it (SIGKILL) as soon as it reports that pass AFTER was accepted;
    // true when it was killed rather than finished.
    bool StageKilledAfterPass(int after) const {
        const std::string errPath = tempDir_ + "/killed.err";
        const pid_t pid = fork();
        if (pid == 0) {
            const int out = open("/dev/null", O_WRONLY);
            const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(workDir_.c_str()) != 0)
                _exit(126);
            execl(ZEMT_E2E_TOOL, ZEMT_E2E_TOOL, "--emulator", stateDir_.c_str(), "stage", "fw.bin", "--to",
                  "KAV022/x", static_cast<char*>(nullptr));
            _exit(127);
        }
        if (pid < 0) return false;
        const std::string mark = "pass " + std::to_string(after) + ": ";
        int status = 0;
        for (int wait = 0; wait < 12000; ++wait) {  // at most a minute
            std::string err;
            zemt_emu::ReadWholeFile(errPath, err);
            if (err.find(mark) != std::string::npos) break;
            if (waitpid(pid, &status, WNOHANG) == pid) return false;
            usleep(5000);
        }
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        WaitForOrphanedTools();
        return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    }

    // The emulator's mtools children outlive a killed zemt; the images are
    // read only once none of them is still at work on this state.
    void WaitForOrphanedTools() const {
        for (int wait = 0; wait < 2000; ++wait) {
            bool busy = false;
            if (DIR* proc = opendir("/proc")) {
                while (dirent* entry = readdir(proc)) {
                    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
                    std::string cmdline;
                    zemt_emu::ReadWholeFile(std::string("/proc/") + entry->d_name + "/cmdline", cmdline);
                    if (cmdline.find(stateDir_) != std::string::npos) busy = true;
                }
                closedir(proc);
            }
            if (!busy) return;
            usleep(5000);
        }
    }

    std::size_t chunk_ = 0;
    std::string old_, new_;
};

// Sub-command 9 requests: five per pass (the header, then four parts), so
// the header of pass P is match 5(P-1)+1.  Drop-box mounts: one per pass
// while they work.  Processing: one per pass.
TEST_F(OverwriteSafetyTest, FailedLaterPassKeepsTheStoredVersion) {
    struct Case {
        const char* name;
        int pass;  // the pass that fails, of three
        std::string fault;
        std::size_t oldSize;
        const char* error;  // in zemt's message
        bool nextStageWorks;
    };
    auto refuse = [](int pass, int request) {
        return "cmd=0xA2/9 completion=1 after=" + std::to_string(5 * (pass - 1) + request);
    };
    auto mountFails = [](int pass) {
        return "host=mount match=SECUPD exit=32 after=" + std::to_string(pass - 1) + " times=always";
    };
    const char* const refused = "error 24 (ZEMT_SMCFAILED)";
    const Case cases[] = {
        {"hash header refused, pass 2", 2, refuse(2, 0), 500000, refused, true},
        {"hash part 1 refused, pass 2", 2, refuse(2, 1), 500000, refused, true},
        {"hash part 3 refused, pass 2", 2, refuse(2, 3), 500000, refused, true},
        {"hash part 4 refused, pass 2", 2, refuse(2, 4), 500000, refused, true},
        {"hash header refused, last pass", 3, refuse(3, 0), 500000, refused, true},
        {"hash part 2 refused, last pass", 3, refuse(3, 2), 500000, refused, true},
        {"processing refused, last pass", 3, "process effect=refuse after=2", 500000, refused, true},
        {"mount fails, pass 2", 2, mountFails(2), 500000, "error 27 (ZEMT_FINDMOUNTERR)", true},
        {"mount fails, last pass", 3, mountFails(3), 500000, "error 27 (ZEMT_FINDMOUNTERR)", true},
        // The old version and the first chunk fill the 8 MiB partition: the
        // second chunk does not fit, and never will beside the old version.
        {"partition really full, pass 2", 2, "", 6800000, refused, false},
        {"partition reported full, last pass", 3, "process effect=full after=2", 500000, refused, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(Prepare(c.oldSize, 2 * MiB + 300000, MiB));
        if (!c.fault.empty()) Fault(c.fault);

        const ProcessResult failed = StageInSmallPasses();
        EXPECT_EQ(failed.exitCode, 1);
        EXPECT_EQ(failed.out, "");
        EXPECT_NE(failed.err.find("zemt: stage: staging into KAV022/x failed\n  " + std::string(c.error) + ": "),
                  std::string::npos)
            << failed.err;
        EXPECT_NE(failed.err.find("pass " + std::to_string(c.pass - 1) + ": "), std::string::npos) << failed.err;
        EXPECT_EQ(failed.err.find("pass " + std::to_string(c.pass) + ": "), std::string::npos) << failed.err;
        ExpectOldVersionKept({static_cast<std::size_t>(c.pass - 1)});
        EXPECT_EQ(ControllerState("dynamic.0.units"), "") << "the drop box is deleted";
        ExpectNothingMounted("SECUPD");

        if (!c.nextStageWorks) continue;
        // The next stage replaces the temporary file with its first chunk and
        // puts the new version in place.
        ClearFaults();
        const ProcessResult next = StageInSmallPasses();
        EXPECT_EQ(next.exitCode, 0) << next.err;
        EXPECT_TRUE(ImageFile(Image("KAV022.img"), kTarget) == new_) << "the new version is not in place";
        EXPECT_TRUE(ImageFile(Image("KAV022.img"), kPartial) == "<missing>") << "the temporary file is left";
    }
}

// zemt stage killed at the start of its second pass, with drop boxes as
// large as a pre-generation-two controller allows (29 MiB: chunks of 28 MiB,
// so that the second pass takes long enough to be interrupted): the
// controller has the first chunk, or the first two, under the temporary name
// and the stored file as it was.
TEST_F(OverwriteSafetyTest, KilledStageKeepsTheStoredVersion) {
    const std::size_t chunk = 29 * MiB - MiB;
    ASSERT_NO_FATAL_FAILURE(Prepare(3000000, 2 * chunk + 1000000, chunk, 64, "pre-vemo"));
    ASSERT_TRUE(StageKilledAfterPass(1));
    ExpectOldVersionKept({1, 2});
}

}  // namespace
