/* SPDX-License-Identifier: Apache-2.0 */
// A library object with a session on a fake host whose partition KAV022
// can be attached, with the package's descriptor in the working directory
// and the partition's folders scripted.
#ifndef ZEMT_TEST_UPDATE_TEST_H
#define ZEMT_TEST_UPDATE_TEST_H

#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "HostTest.h"
#include "UpdRollbackWrapper.h"

// One copy-list entry as the controller will see it.
struct Entry {
    xmlMode_t mode;
    std::string src;
    std::string dst;
    bool operator==(const Entry& other) const { return mode == other.mode && src == other.src && dst == other.dst; }
};
inline std::ostream& operator<<(std::ostream& out, const Entry& e) {
    return out << "{" << e.mode << ", \"" << e.src << "\", \"" << e.dst << "\"}";
}

class UpdateTest : public HostTest {
protected:
    static constexpr uint8_t kAttach = 5;
    static constexpr uint8_t kDetach = 6;

    void SetUp() override {
        HostTest::SetUp();
        buildHost(REDHAT, true);
        useRealMountRoot();
        std::filesystem::create_directories(root + "SECUPD");
        addUsbDisk("sdc", "sg2", 4, "SECUPD", true);
    }

    // Where KAV022 is mounted.
    std::string mount() const { return root + "KAV022/"; }

    // Replaces the object by an update wrapper, built and initialised
    // against the fake controller (session handle kHandle, KAV022 listed,
    // no drop box left over); forgets what that sent and ran.
    UpdRollbackWrapper& buildWrapper() {
        kaver.reset();
        platform.addFile("/etc/redhat-release", "Red Hat Enterprise Linux Server release 5.5\n");
        tren.script.clear();
        tren.onSubCommand.clear();
        tren.then(TrenReply::Ok({0x00}));                  // repository kind, at construction
        tren.then(TrenReply::Ok({0x00}));                  // repository kind
        tren.then(TrenReply::Ok({0x00}));                  // access state
        tren.then(TrenReply::Ok({lo(kHandle), hi(kHandle)}));  // session
        tren.then(indexReply(0x0004, 0x0000));
        tren.then(infoReply("KAV022"));
        tren.then(TrenReply::Ok());                        // detach all
        tren.then(indexReply(0x0004, 0x0000));             // no drop box
        UpdRollbackWrapper* wrapper = new UpdRollbackWrapper();
        kaver.reset(wrapper);
        tren.requests.clear();
        tren.subCommandCount.clear();
        platform.commands.clear();
        markLog();
        return *wrapper;
    }
    UpdRollbackWrapper& wrapper() { return static_cast<UpdRollbackWrapper&>(*kaver); }

    // The package's descriptor in the working directory, read there
    // directly and through the platform.
    void writePackage(const std::string& devices, const std::string& version) {
        const std::string text = "<SoftwareComponent vendorVersion=\"" + version + "\"><SupportedDevices>" + devices +
                                 "</SupportedDevices></SoftwareComponent>\n";
        writeFile(cwd->file("package.xml"), text);
        platform.addFile("package.xml", text);
    }
    static std::string device(const std::string& id) { return "<Device componentID=\"" + id + "\"/>"; }

    // A folder of the mounted partition ("" is its root) holding `names`.
    void folder(const std::string& path, std::vector<std::string> names) {
        const std::string dir = mount() + path + "/";
        platform.addDirectory(dir);
        for (std::string& name : names) name = dir + name;
        platform.listings[dir] = names;
    }
    // Forgets every scripted folder and file of the partition.
    void clearPartition() {
        const std::string dir = mount();
        auto inside = [&dir](const std::string& path) { return path.compare(0, dir.size(), dir) == 0; };
        for (auto it = platform.listings.begin(); it != platform.listings.end();)
            it = inside(it->first) ? platform.listings.erase(it) : std::next(it);
        for (auto it = platform.pathKinds.begin(); it != platform.pathKinds.end();)
            it = inside(it->first) ? platform.pathKinds.erase(it) : std::next(it);
        for (auto it = platform.files.begin(); it != platform.files.end();)
            it = inside(it->first) ? platform.files.erase(it) : std::next(it);
    }
    // The descriptor kept in <id>/current.
    void installed(const std::string& id, const std::string& version) {
        platform.addFile(mount() + id + "/current/package.xml",
                         "<SoftwareComponent vendorVersion=\"" + version + "\"/>");
    }

    std::vector<Entry> entries() const {
        std::vector<Entry> out;
        for (const cfgEntry& e : kaver->FileList) out.push_back(Entry{e.mode, e.srcName, e.dstName});
        return out;
    }
    std::size_t count(uint8_t sub) const {
        std::size_t n = 0;
        for (uint8_t s : subCommands()) n += s == sub;
        return n;
    }
};

#endif
