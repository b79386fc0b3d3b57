// SPDX-License-Identifier: Apache-2.0
// A mount of one of the library's own mount directories left behind by a run
// that ended without unmounting (as a killed process does) or whose umount
// failed is cleaned up by the next initialisation, so that the next attach
// mounts at the first attempt instead of after a full pass of failed mount
// retries.
#include <memory>
#include <string>

#include "EmulatorFixture.h"
#include "secureKaver.h"
#include "zemt_emulator/Disks.h"

namespace {

class StaleMountTest : public EmulatorTest {
protected:
    std::string MountTable() const {
        std::string table;
        zemt_emu::ReadWholeFile(InRoot("/proc/mounts"), table);
        return table;
    }
    bool Mounted(const std::string& dir) const { return MountTable().find(" " + dir + " ") != std::string::npos; }

    // Attaches the drop box (a new one) or KAV022 to a library object.
    static bool Attach(secureKaver& kaver, bool dropBox) {
        if (!dropBox) return kaver.AttachKaverPartition("KAV022");
        uint32_t granted = 0;
        return kaver.CreateDropBox("SECUPD", 1048576, &granted) &&
               kaver.AttachPartition(0, kaverPartInfo[dynPartSlot].i_bitmap, 0);
    }
};

TEST_F(StaleMountTest, NextInitialisationUnmountsWhatAnEarlierRunLeft) {
    struct Case {
        const char* name;
        bool dropBox;           // the drop box's directory, else KAV022's
        const char* umountFault;  // the earlier run's umount fails, or ""
    } cases[] = {
        {"KAV022 left by a run that ended without detaching", false, ""},
        {"KAV022 left by a failed umount", false, "host=umount match=KAV022 exit=32"},
        {"drop box left by a run that ended without detaching", true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fresh();
        const std::string dir = c.dropBox ? "/tmp/SECUPD" : "/tmp/KAV022";
        {
            std::unique_ptr<secureKaver> earlier = Start();
            ASSERT_TRUE(Attach(*earlier, c.dropBox));
            if (*c.umountFault) {
                Fault(c.umountFault);
                earlier->DetachKaverPartition("KAV022");
            }
        }  // ends the session, unmounts nothing
        ASSERT_TRUE(Mounted(dir)) << MountTable();

        std::unique_ptr<secureKaver> next = Start();
        EXPECT_FALSE(Mounted(dir)) << MountTable();
        EXPECT_FALSE(RootHas(dir)) << "the mount directory is removed once unmounted";

        const std::size_t from = Commands().size();
        const unsigned long before = Clock();
        ASSERT_TRUE(Attach(*next, c.dropBox));
        long mounts = 0, failedMounts = 0;
        const std::vector<LoggedCommand> commands = Commands();
        for (std::size_t i = from; i < commands.size(); ++i) {
            if (commands[i].text.rfind("mount -t vfat", 0) != 0) continue;
            ++mounts;
            if (commands[i].status != 0) ++failedMounts;
        }
        EXPECT_EQ(mounts, 1);
        EXPECT_EQ(failedMounts, 0);
        EXPECT_LT(Clock() - before, 60u) << "virtual seconds the attach took";
    }
}

}  // namespace
