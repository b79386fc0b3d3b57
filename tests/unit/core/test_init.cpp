// SPDX-License-Identifier: Apache-2.0
// secureKaverInit end to end against the fake controller.
#include <functional>

#include "HostTest.h"

namespace {

const uint8_t kIndexQuery = 3;
const uint8_t kInfoQuery = 4;
const uint8_t kDetach = 6;
const uint8_t kDelete = 8;

class InitTest : public HostTest {
protected:
    void buildUnopened(int os = REDHAT) {
        enableDebugLog();
        build();
        kaver->LinuxOSVer = os;
    }
    // Kind and access state of a present, enabled repository.
    void scriptRepository(uint8_t kind = 0x00, uint8_t access = 0x00) {
        tren.then(TrenReply::Ok({kind}));
        tren.then(TrenReply::Ok({access}));
    }
    // The requests after the repository checks, as their second byte
    // (command) and third (sub-command).
    std::vector<uint8_t> subCommandsFrom(std::size_t first) const {
        std::vector<uint8_t> out;
        for (std::size_t i = first; i < tren.requests.size(); ++i) out.push_back(subCommand(i));
        return out;
    }
};

TEST_F(InitTest, LeftOverDropBoxIsDeleted) {
    buildUnopened();
    tren.generation = 0x16;
    scriptRepository();
    tren.then(TrenReply::Ok({0x1A, 0x00}));       // extended session
    tren.then(indexReply(0x0004, 0x0002));        // catalogue refresh
    tren.then(infoReply("KAV022"));
    tren.then(TrenReply::Ok());                   // detach all
    tren.then(indexReply(0x0004, 0x0002));        // dynamic bitmap
    tren.then(infoReply("secupd"));               // the left-over drop box
    tren.then(TrenReply::Ok());                   // its deletion

    ASSERT_TRUE(kaver->secureKaverInit());
    EXPECT_TRUE(kaver->InitOk);
    EXPECT_EQ(GenerationType, SarnGen);
    EXPECT_EQ(kaver->MAX_DYN_PART_SIZE, 0x12400000u);
    EXPECT_EQ(kaver->thisSession.KAVER_Handle, 0x001A);
    EXPECT_TRUE(kaverPartInfo[22].i_present);
    EXPECT_EQ(subCommandsFrom(3), (std::vector<uint8_t>{kIndexQuery, kInfoQuery, kDetach, kIndexQuery,
                                                        kInfoQuery, kDelete}));
    const std::vector<uint8_t> deleteBytes = tren.requestBytes(tren.requests.size() - 1);
    EXPECT_EQ(deleteBytes[5], 0x00);
    EXPECT_EQ(deleteBytes[6], 0x02) << "the bit of the drop box found";
    EXPECT_TRUE(logHasInOrder(newLog(), {"Kaver Session Handle(1a, 0)", "secureKaverInit some dynamic paritions exists."}));
}

TEST_F(InitTest, NoDropBoxAndThePlainSessionFallback) {
    buildUnopened();
    tren.generation = 0x05;
    scriptRepository();
    tren.then(TrenReply::Code(0xC1));             // extended refused
    tren.then(TrenReply::Ok({0x05, 0x01}));       // plain session
    tren.then(indexReply(0x0000, 0x0000));
    tren.then(TrenReply::Ok());
    tren.then(indexReply(0x0000, 0x0000));

    ASSERT_TRUE(kaver->secureKaverInit());
    EXPECT_EQ(kaver->MAX_DYN_PART_SIZE, 0x01D00000u);
    EXPECT_TRUE(logHasInOrder(newLog(), {"BeginKAVERSessionExt Session failed trying with BeginKaverSession",
                                         "Kaver Session Handle(5, 1)",
                                         "secureKaverInit dynamic parition doesn't exists."}));
    EXPECT_EQ(subCommand(tren.requests.size() - 1), kIndexQuery) << "nothing deleted";
}

// Mounts a killed run or a failed umount left on the library's own mount
// directories are unmounted before everything is detached, each with the
// usual sequence; no other mount is touched, and a mount that stays is not
// removed.
TEST_F(InitTest, LeftOverMountsOfOwnDirectoriesAreUnmountedFirst) {
    buildUnopened();
    platform.files[kMounts] =
        "proc /proc proc rw 0 0\n"
        "/dev/seckavupd-KAV022 /tmp/KAV022 vfat ro 0 0\n"
        "/dev/sdc1 /tmp/KAV0220 vfat rw 0 0\n"
        "/dev/sdd1 /tmp/kav022 vfat rw 0 0\n"
        "/dev/sde1 /mnt/KAV022 vfat rw 0 0\n"
        "/dev/sdf1 /tmp/SECUPD\\040x vfat rw 0 0\n"
        "/dev/seckavupd-SECUPD /tmp/SECUPD vfat rw 0 0\n"
        "/dev/sdh1 /tmp/KAV099 vfat ro 0 0\n";
    std::vector<std::size_t> requestsAtUmount;
    for (const char* dir : {"/tmp/KAV022", "/tmp/SECUPD", "/tmp/KAV099"}) {
        const std::string cmd = "umount " + std::string(dir) + " > /dev/null 2>&1";
        platform.effects[cmd] = [this, dir, &requestsAtUmount] {
            requestsAtUmount.push_back(tren.requests.size());
            // KAV099 is busy: its umount leaves it mounted.
            if (std::string(dir) == "/tmp/KAV099") return;
            std::string& table = platform.files[kMounts];
            const std::string::size_type at = table.find(std::string(" ") + dir + " ");
            table.erase(table.rfind('\n', at) + 1, table.find('\n', at) - table.rfind('\n', at));
        };
    }
    scriptRepository();
    tren.then(TrenReply::Ok({0x1A, 0x00}));
    tren.then(indexReply(0x0004, 0x0000));
    tren.then(infoReply("KAV022"));
    tren.then(TrenReply::Ok());  // detach all
    tren.then(indexReply(0x0004, 0x0000));

    ASSERT_TRUE(kaver->secureKaverInit());
    std::size_t detachAll = 0;
    while (detachAll < tren.requests.size() && subCommand(detachAll) != kDetach) ++detachAll;
    ASSERT_EQ(requestsAtUmount.size(), 3u + 2u) << "three left-over mounts, then detach-all's two unmounts";
    for (std::size_t i = 0; i < 3; ++i) EXPECT_LE(requestsAtUmount[i], detachAll) << "before the detach";
    EXPECT_EQ(commandsStartingWith("umount "),
              (std::vector<std::string>{"umount /tmp/KAV022 > /dev/null 2>&1", "umount /tmp/SECUPD > /dev/null 2>&1",
                                        "umount /tmp/KAV099 > /dev/null 2>&1", "umount /tmp/SECUPD > /dev/null 2>&1",
                                        "umount /tmp/SECUPD > /dev/null 2>&1"}));
    // Removed once confirmed unmounted; the busy one stays.
    EXPECT_TRUE(ran("rm -rf /tmp/KAV022 > /dev/null 2>&1"));
    EXPECT_TRUE(ran("rm -rf /tmp/SECUPD > /dev/null 2>&1"));
    EXPECT_FALSE(ran("rm -rf /tmp/KAV099 > /dev/null 2>&1"));
    for (const std::string& cmd : platform.commands)
        EXPECT_TRUE(cmd.find("KAV0220") == std::string::npos && cmd.find("kav022") == std::string::npos &&
                    cmd.find("/mnt/") == std::string::npos &&
                    cmd.find("SECUPD x") == std::string::npos && cmd.find("SECUPD\\040x") == std::string::npos)
            << cmd;
    EXPECT_TRUE(logHasInOrder(newLog(), {"Unmounting /tmp/KAV022, left mounted by an earlier run",
                                         "Unmounting /tmp/SECUPD, left mounted by an earlier run",
                                         "Unmounting /tmp/KAV099, left mounted by an earlier run"}));
}

TEST_F(InitTest, FailurePaths) {
    struct Row {
        const char* name;
        std::function<void()> setUp;
        uint8_t code;       // 0xFF: not checked
        bool sizeSet;
        const char* message;
    };
    const Row rows[] = {
        {"unsupported OS",
         [this] {
             kaver->LinuxOSVer = -1;
             platform.setUserIdResult = -1;  // detection cannot run
             kaver->MAX_DYN_PART_SIZE = 7;
         },
         ZEMT_UNSUPPORTEDOS, false, "Unsupported OS"},
        {"no repository", [this] { tren.then(TrenReply::Code(0xC1)); }, ZEMT_NOKAVERPRESENT, true, ""},
        {"unknown repository kind", [this] { tren.then(TrenReply::Ok({0x03})); }, ZEMT_NOKAVERPRESENT, true, ""},
        {"disabled", [this] { scriptRepository(0x00, 0x01); }, ZEMT_KAVER_DISABLED, true,
         "Kaver is disabled."},
        {"no session",
         [this] {
             scriptRepository();
             tren.then(TrenReply::Code(0xC1));
             tren.then(TrenReply::Code(0xC1));
         },
         0xFF, true, "Begin Kaver Session Failed."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        tren.script.clear();
        platform.setUserIdResult = 0;
        buildUnopened();
        GenerationType = Failure;
        tren.generation = 0x10;
        row.setUp();
        EXPECT_FALSE(kaver->secureKaverInit());
        EXPECT_FALSE(kaver->InitOk);
        if (row.code != 0xFF) {
            EXPECT_EQ(kaver->getZEMTError(), row.code);
        }
        EXPECT_EQ(kaver->MAX_DYN_PART_SIZE, row.sizeSet ? 0x12400000u : 7u);
        EXPECT_TRUE(logHasInOrder(newLog(), {row.message}));
        for (std::size_t i = 0; i < tren.requests.size(); ++i)
            if (tren.requestBytes(i)[1] == 0xA2) {
                EXPECT_NE(subCommand(i), kDetach) << "no clean-up without a session";
            }
    }
}

}  // namespace
