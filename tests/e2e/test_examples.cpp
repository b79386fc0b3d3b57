// The example program of examples/, run unmodified against the emulator,
// and the advice it gives about the AddFile overloads.
#include <memory>

#include "EmulatorFixture.h"
#include "secureKaver.h"

namespace {

class ExampleTest : public EmulatorTest {};

TEST_F(ExampleTest, StageFilesCopiesAndVerifiesThroughThePublicApi) {
    Init();
    WriteWorkFile("firmware.bin", VaryingBytes(300000, 5));
    WriteWorkFile("notes.txt", "notes\n");
    ProcessResult r = RunZemt({"emulator", "exec", stateDir_, "--", ZEMT_E2E_STAGE_FILES, "KAV022/fw", "firmware.bin",
                               workDir_ + "/notes.txt"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("  kav022/fw/firmware.bin\n"), std::string::npos) << r.out;
    EXPECT_EQ(ImageFile(Image("KAV022.img"), "/fw/firmware.bin"), VaryingBytes(300000, 5));
    EXPECT_EQ(ImageFile(Image("KAV022.img"), "/fw/notes.txt"), "notes\n");
    EXPECT_EQ(ControllerState("session.handle"), "0");

    r = RunZemt({"emulator", "exec", stateDir_, "--", ZEMT_E2E_STAGE_FILES, "KAV022/fw", "missing.bin"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("missing.bin failed, error 8"), std::string::npos) << r.err;
}

// The bool overload takes the partition to verify from a leading number:
// with the label form the copy lands, and verification cannot find it.
TEST_F(ExampleTest, TheBoolOverloadWithALabelDestinationFailsVerification) {
    Init();
    WriteWorkFile("fw.bin", "firmware\n");
    std::unique_ptr<secureKaver> kaver = Start();
    ASSERT_TRUE(kaver->StartCopyFile());
    ASSERT_TRUE(kaver->AddFile(workDir_ + "/fw.bin", "kav022/fw/fw.bin", false));
    EXPECT_FALSE(kaver->CompleteCopyFile());
    EXPECT_EQ(kaver->getZEMTError(), ZEMT_COPYVERIFYFAIL);
    kaver->EndCopyFile();
    EXPECT_EQ(ImageFile(Image("KAV022.img"), "/fw/fw.bin"), "firmware\n");
}

}  // namespace
