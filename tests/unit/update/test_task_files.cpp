// SPDX-License-Identifier: Apache-2.0
// The task description files: exact texts per subsystem, names that
// would break the XML, and the failures of writing and listing them.
#include <libxml/parser.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "UpdateTest.h"

namespace {

class TaskFilesTest : public UpdateTest {
protected:
    void SetUp() override {
        UpdateTest::SetUp();
        buildWrapper();
        writePackage(device("159"), "1.0");
        ASSERT_TRUE(kaver->StartCopyFile());
    }
};

const std::string kUpdate = R"(<Inventory supported="true" source=")";
const std::string kTail = R"(" /><Update supported="true" rollback="true" validationNeeded="true" /></Wrapper>)";
const std::string kRecord =
    R"(<?xml version="1.0" encoding="UTF-8" ?><SSIB><Record type="0" blockid="6" reboot_required=")";

TEST_F(TaskFilesTest, ExactTextsPerSubsystem) {
    struct Row {
        const char* subsystem;
        std::string component;
        std::string task;
    };
    const Row rows[] = {
        {"BIOS",
         R"(<Wrapper name="BIOS" filePathName="fwup.exe" digitalSignature="false" timeout="300" >)"
         R"(<SupportedDevices><Device componentID="159" impactsTPMmeasurements="true" fieldservice="forced" >)"
         R"(<FmpInfo vendorcode="" vendorcodetype="UINT32" FileExtension=".hdr" )"
         R"(fmpGUID="B1FF281A-918F-4603-B8D2-125E02299D50" /></Device></SupportedDevices>)" +
             kUpdate + "Device" + kTail + "\n",
         kRecord + R"(1" reboot_type="1" timeout="300" returncode="0" retrycount="0" )"
                   R"(cmd="fwup.exe /u frmw:\159\159.xml ramfs:\output.xml" /></SSIB>)" "\n"},
        {"CPLD",
         R"(<Wrapper name="CPLD" filePathName="fwup.exe" digitalSignature="false" timeout="300" >)"
         R"(<SupportedDevices><Device componentID="159" impactsTPMmeasurements="true" fieldservice="forced" >)"
         R"(<FmpInfo vendorcode="" vendorcodetype="UINT32" FileExtension=".jbc" )"
         R"(fmpGUID="B77ACD42-04B9-4404-8B77-A02DAA872880" /></Device></SupportedDevices>)" +
             kUpdate + "Device" + kTail + "\n",
         kRecord + R"(2" reboot_type="0" timeout="300" returncode="0" retrycount="0" )"
                   R"(cmd="fwup.exe /u frmw:\159\159.xml ramfs:\output.xml"  category="CPLD" taskName="CPLD"   />)"
                   R"(</SSIB>)" "\n"},
        {"PSU",
         R"(<Wrapper name="PSU" filePathName="fwup.exe" digitalSignature="false" timeout="300" >)"
         R"(<SupportedDevices><Device componentID="159" ></Device></SupportedDevices>)" +
             kUpdate + "RQL" + kTail + "\n",
         kRecord + R"(" reboot_type="" timeout="300" returncode="0" retrycount="0" )"
                   R"(cmd="fwup.exe /u frmw:\159\159.xml ramfs:\output.xml" /></SSIB>)" "\n"},
        {"bios",
         R"(<Wrapper name="bios" filePathName="fwup.exe" digitalSignature="false" timeout="300" >)"
         R"(<SupportedDevices><Device componentID="159" ></Device></SupportedDevices>)" +
             kUpdate + kTail + "\n",
         kRecord + R"(" reboot_type="" timeout="300" returncode="0" retrycount="0" )"
                   R"(cmd="fwup.exe /u frmw:\159\159.xml ramfs:\output.xml" /></SSIB>)" "\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.subsystem);
        kaver->EndCopyFile();
        ASSERT_TRUE(kaver->StartCopyFile());
        ASSERT_EQ(wrapper().createComponentIdFile(row.subsystem, "fwup.exe", ""), 0) << newLog();
        ASSERT_EQ(wrapper().createSSIBUpdateFile("fwup.exe", "", row.subsystem), 0) << newLog();
        EXPECT_EQ(readFile(cwd->file("159.xml")), row.component);
        EXPECT_EQ(readFile(cwd->file("ssibinput.xml")), row.task);
        EXPECT_EQ(entries(), (std::vector<Entry>{{filecopy, cwd->file("159.xml"), "kav022/159/159.xml"},
                                                 {ssib, cwd->file("ssibinput.xml"), ""}}));
    }
}

// A quote, '<' or '&' in a name is written as an entity reference, so the
// files stay well-formed and say what was given.
TEST_F(TaskFilesTest, UnusualNamesKeepTheFilesWellFormed) {
    ScopedTempDir out;
    const std::string name = "up\"d<a>t&e.exe";
    ASSERT_EQ(wrapper().createComponentIdFile("BI\"OS", name, out.path()), 0);
    ASSERT_EQ(wrapper().createSSIBUpdateFile(name, out.path(), "CPLD"), 0);
    const std::string component = readFile(out.file("159.xml"));
    EXPECT_NE(component.find(R"(<Wrapper name="BI&quot;OS" filePathName="up&quot;d&lt;a>t&amp;e.exe" )"),
              std::string::npos)
        << component;
    EXPECT_NE(component.find(R"(<Device componentID="159" ></Device>)"), std::string::npos)
        << "an unknown subsystem's device element";

    xmlDocPtr doc = xmlReadFile(out.file("159.xml").c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR);
    ASSERT_NE(doc, nullptr) << component;
    xmlChar* read = xmlGetProp(xmlDocGetRootElement(doc), BAD_CAST "filePathName");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(read)), name);
    xmlFree(read);
    xmlFreeDoc(doc);

    doc = xmlReadFile(out.file("ssibinput.xml").c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR);
    ASSERT_NE(doc, nullptr) << readFile(out.file("ssibinput.xml"));
    read = xmlGetProp(xmlDocGetRootElement(doc)->children, BAD_CAST "cmd");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(read)), name + " /u frmw:\\159\\159.xml ramfs:\\output.xml");
    xmlFree(read);
    xmlFreeDoc(doc);
}

TEST_F(TaskFilesTest, Failures) {
    struct Row {
        const char* name;
        std::function<void()> setUp;
        std::string destDir;
        int component;
        int task;
        std::vector<std::string> log;
    };
    const Row rows[] = {
        {"no descriptor", [this] { std::remove(cwd->file("package.xml").c_str()); }, "", ZEMT_PACKAGEXMLERROR,
         ZEMT_PACKAGEXMLERROR, {"Could not get Component ID", "Could not get Component ID"}},
        {"folder cannot be written", [] {}, "/nonexistent-zemt-dir", UPD_COMPIDOPENERROR, UPD_SSIBOPENERROR,
         {"Could not open file /nonexistent-zemt-dir/159.xml for writing",
          "Could not open file /nonexistent-zemt-dir/ssibinput.xml for writing"}},
        {"no copy list open", [this] { kaver->EndCopyFile(); }, "", UPD_ADDFILEERROR, UPD_ADDFILEERROR,
         {"Could not add component ID file to FileList", "Could not add SSIB file to FileList"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        writePackage(device("159"), "1.0");
        kaver->EndCopyFile();
        ASSERT_TRUE(kaver->StartCopyFile());
        markLog();
        row.setUp();
        EXPECT_EQ(wrapper().createComponentIdFile("BIOS", "fwup.exe", row.destDir), row.component);
        EXPECT_EQ(wrapper().createSSIBUpdateFile("fwup.exe", row.destDir, "BIOS"), row.task);
        EXPECT_TRUE(logHasInOrder(newLog(), {row.log[0], row.log[1]}));
    }

    // Without a working directory there is nowhere to write.
    const std::string gone = cwd->file("gone");
    ASSERT_EQ(mkdir(gone.c_str(), 0700), 0);
    ASSERT_EQ(chdir(gone.c_str()), 0);
    ASSERT_EQ(rmdir(gone.c_str()), 0);
    const int component = wrapper().createComponentIdFile("BIOS", "fwup.exe", "");
    const int task = wrapper().createSSIBUpdateFile("fwup.exe", "", "BIOS");
    ASSERT_EQ(chdir(cwd->path().c_str()), 0);
    EXPECT_EQ(component, UPD_NOCURRENTDIRECTORY);
    EXPECT_EQ(task, UPD_NOCURRENTDIRECTORY);
    EXPECT_TRUE(logHasInOrder(newLog(), {"Could not get current working directory"}));
}

}  // namespace
