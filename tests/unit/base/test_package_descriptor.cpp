// SPDX-License-Identifier: Apache-2.0
// The package descriptor reader: component queries, supported devices,
// dependencies, marketing names, inventory extraction, and descriptors
// that are missing, malformed or hostile.
#include <libxml/parser.h>

#include <memory>

#include "FakePlatform.h"
#include "SoftwareComponentInfo.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

namespace {

const char* const kDescriptor = R"(<?xml version="1.0" encoding="UTF-8"?>
<SoftwareComponent vendorVersion="2.4.1A" releaseID="R1">
  <ComponentType value="BIOS"/>
  <SupportedDevices>
    <Device componentID="159">
      <display>Server BIOS</display>
      <RollbackInformation rollbackIdentifier="x"/>
    </Device>
    <Device componentID="25227">
      <PCIInfo deviceID="abc" subDeviceID="1F" vendorID="14e4" subVendorID="12345"/>
      <PCIInfo deviceID="0ABD" subDeviceID="0001" vendorID="14E4" subVendorID="1028"/>
      <Display>Dual Port NIC</Display>
      <Dependency componentID="300" componentType="FRMW" version="1.2" path="FOLDER1\sub\fw.exe" releaseID="A1">
        <Display>Controller firmware</Display>
        <Detail>needed first</Detail>
        <PCIInfo deviceID="1" subDeviceID="2" vendorID="3" subVendorID="4"/>
        <PCIInfo deviceID="5" subDeviceID="6" vendorID="7" subVendorID="8"/>
      </Dependency>
      <SoftDependency componentID="301" componentType="APAC" version="3" path="p" releaseID="B"/>
      <SoftDependency componentID="301" componentType="APAC" version="3" path="p" releaseID="OTHER"/>
      <Dependency componentID="302" componentType="FRMW" version="9" releaseID="C"/>
    </Device>
  </SupportedDevices>
</SoftwareComponent>
)";

class DescriptorTest : public ::testing::Test {
protected:
    void descriptor(const std::string& text) { platform.addFile(platform.currentDirectory + "package.xml", text); }

    std::vector<CDeviceInfo*> dependencies(CSoftwareComponentInfo& reader) {
        std::vector<CDeviceInfo*> list = reader.getDependencyInfo();
        for (CDeviceInfo* d : list) owned_.emplace_back(d);
        return list;
    }

    FakePlatform platform;

private:
    std::vector<std::unique_ptr<CDeviceInfo>> owned_;
};

TEST_F(DescriptorTest, ComponentQueries) {
    descriptor(kDescriptor);
    CSoftwareComponentInfo reader;
    EXPECT_EQ(reader.GetComponentVersion(), "2.4.1A");
    EXPECT_EQ(reader.GetComponentType(), "BIOS");
    EXPECT_EQ(reader.GetComponentID(), "159") << "the first Device";
    EXPECT_EQ(reader.GetComponentDisplayString(), "Server BIOS") << "Display matched in any case";
    EXPECT_TRUE(reader.getPresenceOfRollbackInfo());
}

TEST_F(DescriptorTest, SupportedDevicesArePaddedAndNamed) {
    descriptor(kDescriptor);
    CSoftwareComponentInfo reader;
    const std::vector<SPCIInfo> devices = reader.GetSupportedDevices();
    ASSERT_EQ(devices.size(), 2u) << "the BIOS device has no PCI identity";
    const SPCIInfo& first = devices[0];
    EXPECT_EQ(first.m_strCompID, "25227");
    EXPECT_EQ(first.m_strDeviceID, "0abc") << "case kept, padded to four";
    EXPECT_EQ(first.m_strSubDeviceID, "001F");
    EXPECT_EQ(first.m_strVendorID, "14e4");
    EXPECT_EQ(first.m_strSubVendorID, "12345") << "longer ids are not cut";
    EXPECT_EQ(first.m_strMarketingName, "Dual Port NIC") << "a Display after the PCIInfo still names it";
    EXPECT_EQ(devices[1].m_strDeviceID, "0ABD");
    EXPECT_EQ(devices[1].m_strMarketingName, "Dual Port NIC");

    SPCIInfo asked;
    asked.m_strDeviceID = "0abd";
    asked.m_strSubDeviceID = "0001";
    asked.m_strVendorID = "14e4";
    asked.m_strSubVendorID = "1028";
    reader.getMarketingNameForPCIDevice(asked);
    EXPECT_EQ(asked.m_strMarketingName, "Dual Port NIC") << "ids compared without case";
    SPCIInfo unknown = asked;
    unknown.m_strMarketingName.clear();
    unknown.m_strVendorID = "8086";
    reader.getMarketingNameForPCIDevice(unknown);
    EXPECT_EQ(unknown.m_strMarketingName, "");

    const std::map<std::string, std::string> names = reader.getCompIDMarkNameInfo();
    EXPECT_EQ(names, (std::map<std::string, std::string>{{"25227", "Dual Port NIC"}}))
        << "only an exactly named Display counts here";
    std::string id = "25227";
    EXPECT_EQ(reader.getMarketingNameForNonPCIDevice(id), "Dual Port NIC");
    id = "999";
    EXPECT_EQ(reader.getMarketingNameForNonPCIDevice(id), "");
}

TEST_F(DescriptorTest, DependenciesOnePerPciIdentityWithoutDuplicates) {
    descriptor(kDescriptor);
    BaseLogCapture log;
    CSoftwareComponentInfo reader;
    const std::vector<CDeviceInfo*> list = dependencies(reader);
    ASSERT_EQ(list.size(), 4u);

    struct Row {
        eDependencyType type;
        eDeviceType device;
        const char* componentId;
        const char* deviceId;
        const char* releaseId;
    };
    const Row rows[] = {
        {HARD, PCI_DEVICE, "300", "1", "A1"},
        {HARD, PCI_DEVICE, "300", "5", "A1"},
        {SOFT, NON_PCI_DEVICE, "301", "", "B"},  // the second, differing only in releaseID, is a duplicate
        {HARD, NON_PCI_DEVICE, "302", "", "C"},
    };
    for (std::size_t i = 0; i < list.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(list[i]->getDependencyType(), rows[i].type);
        EXPECT_EQ(list[i]->getDeviceType(), rows[i].device);
        EXPECT_EQ(list[i]->getComponentID(), rows[i].componentId);
        EXPECT_EQ(list[i]->getPCIInfo().m_strDeviceID, rows[i].deviceId);
        EXPECT_EQ(list[i]->getReleaseID(), rows[i].releaseId);
        EXPECT_EQ(list[i]->getParentComponentID(), "25227");
    }
    const CDeviceInfo& pci = *list[0];
    EXPECT_EQ(pci.getComponentType(), "FRMW");
    EXPECT_EQ(pci.getVersion(), "1.2");
    EXPECT_EQ(pci.getDisplay(), "Controller firmware");
    EXPECT_EQ(pci.getDetail(), "needed first");
    EXPECT_EQ(pci.getPCIInfo().m_strSubVendorID, "4");
    EXPECT_EQ(list[1]->getPCIInfo().m_strSubVendorID, "8");
    EXPECT_EQ(list[3]->getRelativeFilePath(), "") << "no path attribute";

    const std::string text = log.text();
    EXPECT_NE(text.find("CSoftwareComponentInfo::getDependencyInfo() failed to get the path info from package.xml "
                        "for dependent device"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("CSoftwareComponentInfo::AddDependencyInfo() Found a duplicate entry"), std::string::npos);
    EXPECT_NE(text.find("CSoftwareComponentInfo::getDependencyInfo() Found SoftDependecny"), std::string::npos);
}

TEST_F(DescriptorTest, FilePathIsTheDownloadSiteUrl) {
    const std::string saved = CDeviceInfo::getDownloadSiteBaseURL();
    EXPECT_EQ(saved, "https://downloads.example.invalid/");
    CDeviceInfo device;
    device.setFilePath("FOLDER1\\sub\\fw.exe");
    EXPECT_EQ(device.getFilePath(), "https://downloads.example.invalid/FOLDER1/sub/fw.exe");
    EXPECT_EQ(device.getRelativeFilePath(), "FOLDER1/sub/fw.exe") << "the record is mended too";

    CDeviceInfo::setDownloadSiteBaseURL("http://mirror.local/fw/");
    EXPECT_EQ(device.getFilePath(), "http://mirror.local/fw/FOLDER1/sub/fw.exe");
    CDeviceInfo::setDownloadSiteBaseURL(saved);
}

TEST_F(DescriptorTest, DeviceRecords) {
    BaseLogCapture log;
    CDeviceInfo a;
    a.setPCIInfo(0xABCD, 0x0001, 0x14E4, 0x0000);
    EXPECT_EQ(a.getPCIInfo().m_strDeviceID, "abcd");
    EXPECT_EQ(a.getPCIInfo().m_strSubDeviceID, "1");
    EXPECT_EQ(a.getPCIInfo().m_strVendorID, "14e4");
    EXPECT_EQ(a.getPCIInfo().m_strSubVendorID, "0");
    a.setBDFInfo(3, 0, 1);
    EXPECT_EQ(a.getBDFInfo().u8Bus, 3);
    EXPECT_EQ(a.getBDFInfo().u8Fun, 1);
    const std::string text = log.text();
    for (const char* line : {"CDeviceInfo::setPCIInfo() Device id abcd", "CDeviceInfo::setPCIInfo() SubVendor id 0",
                             "CNVMeAdapter::setBDFInfo() Bus Number is 3",
                             "CNVMeAdapter::setBDFInfo() Function Number is 1"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;

    // Equality looks at the identifying fields only.
    CDeviceInfo b = a;
    b.setReleaseID("other");
    b.setStatus(7);
    b.setCurrentVersion("0.9");
    b.setParentComponentID("1");
    EXPECT_TRUE(a == b);
    struct Change {
        const char* what;
        void (*apply)(CDeviceInfo&);
    };
    const Change changes[] = {
        {"type", [](CDeviceInfo& d) { d.setComponentType("X"); }},
        {"id", [](CDeviceInfo& d) { d.setComponentID("X"); }},
        {"dependency", [](CDeviceInfo& d) { d.setDependencyType(SOFT); }},
        {"version", [](CDeviceInfo& d) { d.setVersion("X"); }},
        {"display", [](CDeviceInfo& d) { d.setDisplay("X"); }},
        {"detail", [](CDeviceInfo& d) { d.setDetail("X"); }},
        {"path", [](CDeviceInfo& d) { d.setFilePath("X"); }},
        {"pci component", [](CDeviceInfo& d) {
             SPCIInfo p = d.getPCIInfo();
             p.m_strCompID = "X";
             d.setPCIInfo(p);
         }},
        {"pci sub vendor", [](CDeviceInfo& d) {
             SPCIInfo p = d.getPCIInfo();
             p.m_strSubVendorID = "X";
             d.setPCIInfo(p);
         }},
    };
    for (const Change& change : changes) {
        CDeviceInfo c = a;
        change.apply(c);
        EXPECT_FALSE(a == c) << change.what;
    }
}

TEST_F(DescriptorTest, InventoryOfOneComponent) {
    descriptor(kDescriptor);
    CSoftwareComponentInfo reader;
    const std::string inventory =
        "<SVMInventory>\n  <Device componentID=\"159\" display=\"A\">\n    <Application version=\"1\"/>\n  </Device>\n"
        "  <Device componentID=\"7\"/>\n  <Device componentID=\"159\" display=\"B\"/>\n</SVMInventory>\n";
    struct Row {
        const char* compId;
        bool found;
        const char* out;
    };
    const Row rows[] = {
        {"159", true,
         "<Device componentID=\"159\" display=\"A\"><Application version=\"1\"/></Device>"
         "<Device componentID=\"159\" display=\"B\"/>"},
        {"8", false, ""},
        {"159\"] | //*[\"", false, ""},  // a quote cannot widen the query
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.compId);
        // The output is the same whatever the process-wide blank handling
        // says at the time.
        for (int keepBlanks : {0, 1}) {
            xmlKeepBlanksDefault(keepBlanks);
            std::stringstream in(inventory), out;
            EXPECT_EQ(reader.GetInvFromRQL(row.compId, in, out), row.found);
            EXPECT_EQ(out.str(), row.out);
        }
    }
    xmlKeepBlanksDefault(1);
    std::stringstream broken("<SVMInventory><Device"), out;
    EXPECT_FALSE(reader.GetInvFromRQL("159", broken, out));
}

// Without a usable descriptor every query answers empty, and nothing of a
// hostile one is acted on.
TEST_F(DescriptorTest, MissingMalformedOrHostileDescriptorGivesEmptyResults) {
    const std::string entities = "<!ENTITY a0 \"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\">"
                                 "<!ENTITY a1 \"&a0;&a0;&a0;&a0;&a0;&a0;&a0;&a0;&a0;&a0;&a0;&a0;&a0;&a0;&a0;\">"
                                 "<!ENTITY a2 \"&a1;&a1;&a1;&a1;&a1;&a1;&a1;&a1;&a1;&a1;&a1;&a1;&a1;&a1;&a1;\">"
                                 "<!ENTITY a3 \"&a2;&a2;&a2;&a2;&a2;&a2;&a2;&a2;&a2;&a2;&a2;&a2;&a2;&a2;&a2;\">"
                                 "<!ENTITY a4 \"&a3;&a3;&a3;&a3;&a3;&a3;&a3;&a3;&a3;&a3;&a3;&a3;&a3;&a3;&a3;\">"
                                 "<!ENTITY a5 \"&a4;&a4;&a4;&a4;&a4;&a4;&a4;&a4;&a4;&a4;&a4;&a4;&a4;&a4;&a4;\">"
                                 "<!ENTITY a6 \"&a5;&a5;&a5;&a5;&a5;&a5;&a5;&a5;&a5;&a5;&a5;&a5;&a5;&a5;&a5;\">";
    std::string deep;
    for (int i = 0; i < 5000; ++i) deep += "<SoftwareComponent>";
    struct Row {
        const char* name;
        bool present;
        std::string text;
    };
    const Row rows[] = {
        {"missing", false, ""},
        {"not XML", true, "this is no descriptor"},
        {"cut short", true, "<SoftwareComponent vendorVersion=\"1\"><SupportedDevices><Device"},
        {"entity expansion", true,
         "<!DOCTYPE SoftwareComponent [" + entities + "]><SoftwareComponent vendorVersion=\"&a6;\">"
         "<SupportedDevices><Device componentID=\"&a6;\"><Dependency componentID=\"&a6;\"/></Device>"
         "</SupportedDevices></SoftwareComponent>"},
        {"nested too deep", true, deep},
        {"too long", true,
         "<SoftwareComponent vendorVersion=\"1\"><!--" + std::string(4u << 20, 'x') + "--></SoftwareComponent>"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        platform.files.clear();
        if (row.present) descriptor(row.text);
        CSoftwareComponentInfo reader;
        EXPECT_EQ(reader.GetComponentVersion(), "");
        EXPECT_EQ(reader.GetComponentType(), "");
        EXPECT_EQ(reader.GetComponentID(), "");
        EXPECT_EQ(reader.GetComponentDisplayString(), "");
        EXPECT_FALSE(reader.getPresenceOfRollbackInfo());
        EXPECT_TRUE(reader.GetSupportedDevices().empty());
        EXPECT_TRUE(dependencies(reader).empty());
        EXPECT_TRUE(reader.getCompIDMarkNameInfo().empty());
        EXPECT_EQ(reader.ParseXmlUsingXpath(), nullptr);
    }
}

TEST_F(DescriptorTest, ExternalEntitiesAreNotRead) {
    ScopedTempDir dir;
    writeFile(dir.file("secret"), "TOP-SECRET");
    descriptor("<!DOCTYPE SoftwareComponent [<!ENTITY x SYSTEM \"file://" + dir.file("secret") +
               "\">]><SoftwareComponent vendorVersion=\"&x;\"><SupportedDevices><Device componentID=\"1\">"
               "<Display>&x;</Display></Device></SupportedDevices></SoftwareComponent>");
    CSoftwareComponentInfo reader;
    EXPECT_EQ(reader.GetComponentVersion().find("TOP-SECRET"), std::string::npos);
    EXPECT_EQ(reader.GetComponentDisplayString().find("TOP-SECRET"), std::string::npos);
}

TEST_F(DescriptorTest, ConstructorSwitchesTheBaseLogOnWhenAskedFor) {
    BaseLogCapture capture;  // the switch below re-points the process-wide logger
    ScopedTempDir cwd(true);
    platform.addPath(platform.currentDirectory + "enabledebug.txt");
    descriptor(kDescriptor);
    CSoftwareComponentInfo reader;
    const std::string text = readFile(cwd.file("baseutils.log"));
    EXPECT_NE(text.find("CSoftwareComponentInfo::CSoftwareComponentInfo() Entering Constructor Method"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("CSoftwareComponentInfo::Init() Exiting"), std::string::npos);
}

}  // namespace
