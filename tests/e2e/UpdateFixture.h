/* SPDX-License-Identifier: Apache-2.0 */
// Firmware updates against the emulator, as an update package runs them:
// from the package's folder (the working directory), where the package's
// own program lives beside package.xml.
#ifndef ZEMT_E2E_UPDATEFIXTURE_H
#define ZEMT_E2E_UPDATEFIXTURE_H

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "EmulatorFixture.h"
#include "UpdRollbackWrapper.h"
#include "zemt_emulator/Disks.h"
#include "zemt_update.h"

// The program of an update package is in the package's folder; the library
// takes the descriptor of a Sarn update (and of a single payload file) from
// the folder of the running program.  The test program lives elsewhere, so
// the emulated host answers with the package's folder.
class PackageFolderHost : public CEmulatedHost {
public:
    PackageFolderHost(const std::string& stateDir, const std::string& packageDir)
        : CEmulatedHost(stateDir), packageDir_(packageDir + "/") {}
    std::string getCurrentProcessDirectory() override { return packageDir_; }

private:
    std::string packageDir_;
};

class UpdateTest : public EmulatorTest {
protected:
    void TearDown() override {
        CleanUp_UpdRollbackWrapper();
        EmulatorTest::TearDown();
    }

    // A controller of GENERATION whose hardware-access library is already
    // installed (the install script would be looked for beside the test
    // program), with the emulated host seeing the working directory as the
    // program's folder.
    void InitUpdate(const std::string& generation,
                    const std::function<void(zemt_emu::InitOptions&)>& configure = nullptr) {
        Init([&](zemt_emu::InitOptions& o) {
            o.generation = generation;
            o.tren = "preinstalled";
            if (configure) configure(o);
        });
        CPlatformLayer::SetPlatform(nullptr);
        host_.reset(new PackageFolderHost(stateDir_, workDir_));
        CPlatformLayer::SetPlatform(host_.get());
    }
    void FreshUpdate(const std::string& generation,
                     const std::function<void(zemt_emu::InitOptions&)>& configure = nullptr) {
        CleanUp_UpdRollbackWrapper();
        EmulatorTest::TearDown();
        EmulatorTest::SetUp();
        InitUpdate(generation, configure);
    }

    // Makes an example package the content of the working directory.
    void UsePackage(const std::string& name) const {
        namespace fs = std::filesystem;
        const fs::path from = fs::path(ZEMT_E2E_EXAMPLES_DIR) / name;
        ASSERT_TRUE(fs::exists(from / "package.xml")) << from;
        for (const fs::directory_entry& entry : fs::directory_iterator(workDir_)) fs::remove_all(entry.path());
        fs::copy(from, workDir_, fs::copy_options::recursive);
    }

    // The update object CheckVemo makes, or null.
    UpdRollbackWrapper* MakeWrapper() {
        char text[ZEMT_ERRSTRING_SIZE] = "";
        int code = 0;
        CheckVemo(text, &code);
        EXPECT_EQ(code, 0) << text;
        return pUpdRollbackWrapper;
    }

    // CheckVemo and UpdateBiosUsingRQ, as a package calls them; the text
    // buffer starts full so that a missing terminator shows.
    struct Outcome {
        int generation = -1;
        int result = -99;
        std::string text;
    };
    // BETWEEN runs after CheckVemo, so that faults count from there.
    Outcome Update(const std::string& payload, const char* subsystem = nullptr, const char* wrapper = nullptr,
                   const std::function<void()>& between = nullptr) {
        Outcome outcome;
        char text[ZEMT_ERRSTRING_SIZE];
        int code = 0;
        outcome.generation = CheckVemo(text, &code);
        EXPECT_EQ(code, 0);
        if (between) between();
        std::fill(text, text + sizeof text, 'x');
        std::string path = payload;
        const bool single = !std::filesystem::is_directory(payload);
        outcome.result = UpdateBiosUsingRQ(&path[0], const_cast<char*>(subsystem), const_cast<char*>(wrapper),
                                           single, text);
        EXPECT_NE(std::find(text, text + sizeof text, '\0'), text + sizeof text) << "no terminating zero";
        outcome.text = std::string(text, strnlen(text, sizeof text));
        EXPECT_EQ(pUpdRollbackWrapper, nullptr) << "the update object outlives the update";
        return outcome;
    }

    // Names in a folder of a partition image, sorted ("<missing>" when the
    // folder is not there).
    std::vector<std::string> Folder(const std::string& image, const std::string& path) const {
        std::string listing;
        if (zemt_emu::RunTool({"mdir", "-b", "-i", Image(image), "::" + path + "/"}, &listing) != 0)
            return {"<missing>"};
        std::vector<std::string> names;
        std::istringstream lines(listing);
        for (std::string line; std::getline(lines, line);) {
            while (!line.empty() && line.back() == '/') line.pop_back();
            if (!line.empty()) names.push_back(line.substr(line.rfind('/') + 1));
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    // The vendorVersion of the descriptor a KAV022 folder holds.
    std::string StoredVersion(const std::string& folder) const {
        const std::string text = ImageFile(Image("KAV022.img"), folder + "/package.xml");
        const std::string::size_type at = text.find("vendorVersion=\"");
        return at == std::string::npos ? text : text.substr(at + 15, text.find('"', at + 15) - at - 15);
    }

    std::string InventoryFile(const std::string& name) const {
        std::string text;
        zemt_emu::ReadWholeFile(stateDir_ + "/inventory/" + name, text);
        return text;
    }
    // The firmware version the current records give a component (its first
    // device's first Application).
    std::string FirmwareVersion(const std::string& componentId) const {
        const std::string records = InventoryFile("current.xml");
        const std::string::size_type device = records.find("<Device componentID=\"" + componentId + "\"");
        const std::string::size_type version = records.find(" version=\"", device);
        if (device == std::string::npos || version == std::string::npos) return "<absent>";
        return records.substr(version + 10, records.find('"', version + 10) - version - 10);
    }
    // The text of the last event of ACTION ("" when there is none).
    std::string LastEvent(const std::string& action) const {
        const std::string events = InventoryFile("events.xml");
        const std::string::size_type at = events.rfind("action=\"" + action + "\">");
        if (at == std::string::npos) return "";
        const std::string::size_type text = events.find('>', at) + 1;
        return events.substr(text, events.find("</Event>", text) - text);
    }
};

#endif
