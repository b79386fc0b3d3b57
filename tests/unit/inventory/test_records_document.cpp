// SPDX-License-Identifier: Apache-2.0
// The records document of an inventory-log update: the device generated
// from the package (descriptor and getSystemId), a caller's device list,
// and the limits that keep hostile XML from doing harm.
#include <libxml/parser.h>

#include "KaverTest.h"
#include "SoftwareComponentInfo.h"

namespace {

const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>";

std::string records(const std::string& body) { return kDeclaration + "<Records>" + body + "</Records>"; }

// A descriptor whose compatibility entries name system ids.
const char* const kCompatibleDescriptor =
    "<?xml version=\"1.0\"?>\n"
    "<SoftwareComponent vendorVersion=\"5.2.0\">\n"
    "  <Name><Display lang=\"en\">Adapter Firmware, version 5.2.0</Display></Name>\n"
    "  <ComponentType value=\"FRMW\"/>\n"
    "  <versionCompatibilities>\n"
    "    <verCompat type=\"firmware\" componentType=\"FRMW\" componentID=\"21500\" min_version=\"5.0.0\">\n"
    "      <versionSupportedSystems><versionSystemID>0C2D</versionSystemID>"
    "<versionSystemID>1A2B</versionSystemID></versionSupportedSystems>\n"
    "    </verCompat>\n"
    "    <verCompat componentID=\"300\">\n"
    "      <versionSupportedSystems><versionSystemID>1A2B</versionSystemID></versionSupportedSystems>\n"
    "      <versionSupportedSystems><versionSystemID>1A2B</versionSystemID></versionSupportedSystems>\n"
    "    </verCompat>\n"
    "    <verCompat type=\"x\" min_version=\"9\">\n"
    "      <versionSupportedSystems><versionSystemID> 1A2B</versionSystemID></versionSupportedSystems>\n"
    "    </verCompat>\n"
    "  </versionCompatibilities>\n"
    "</SoftwareComponent>\n";

class RecordsDocumentTest : public KaverTest {
protected:
    void SetUp() override {
        KaverTest::SetUp();
        cwd.reset(new ScopedTempDir(true));
        platform.currentDirectory = cwd->path() + "/";
        build();
    }

    void systemIdPrints(const std::string& output) { platform.setOutput(cwd->path() + "/getSystemId", output); }
    void descriptor(const std::string& text) { writeFile(cwd->file("package.xml"), text); }
    std::string fromList(const std::string& list) { return kaver->getRQLXml("ignored", list); }
};

TEST_F(RecordsDocumentTest, GeneratedDeviceIsWrittenExactly) {
    descriptor("<SoftwareComponent vendorVersion=\"1.2\"><Name><Display>D, version 1.2</Display></Name>"
               "<ComponentType value=\"FRMW\"/></SoftwareComponent>");
    const std::string document = kaver->getRQLXml("25227", "");
    EXPECT_EQ(document.substr(0, 39), "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>");
    EXPECT_EQ(document, records("<Device AgentID=\"3\" componentID=\"25227\" display=\"D\" ><Application "
                                "componentType=\"FRMW\" version=\"1.2\" display=\"D\" /></Device>"));
    EXPECT_EQ(platform.commands, std::vector<std::string>{cwd->path() + "/getSystemId"});

    // The entries listing this system, once per listing, with the attributes
    // they have; blanks inside an id keep it from matching.
    systemIdPrints("Example tool\nSystem ID: 1A2B\n");
    descriptor(kCompatibleDescriptor);
    EXPECT_EQ(kaver->getRQLXml("21500", ""),
              records("<Device AgentID=\"3\" componentID=\"21500\" display=\"Adapter Firmware\" ><Application "
                      "componentType=\"FRMW\" version=\"5.2.0\" display=\"Adapter Firmware\" />"
                      "<versionCompatibilities>"
                      "<verCompat type=\"firmware\" componentType=\"FRMW\" componentID=\"21500\" "
                      "min_version=\"5.0.0\"></verCompat>"
                      "<verCompat componentID=\"300\" ></verCompat>"
                      "<verCompat componentID=\"300\" ></verCompat>"
                      "</versionCompatibilities></Device>"));

    systemIdPrints("Example tool\nSystem ID: 9999\n");
    EXPECT_NE(kaver->getRQLXml("21500", "").find("/><versionCompatibilities></versionCompatibilities></Device>"),
              std::string::npos);

    // Neither descriptor nor tool: empty values, the document still made.
    platform.outputs.clear();
    std::remove(cwd->file("package.xml").c_str());
    EXPECT_EQ(kaver->getRQLXml("7", ""),
              records("<Device AgentID=\"3\" componentID=\"7\" display=\"\" ><Application componentType=\"\" "
                      "version=\"\" display=\"\" /></Device>"));
}

// Values are pasted into attributes: markup characters in them become
// references, so the controller still receives well-formed records.
TEST_F(RecordsDocumentTest, MarkupInValuesIsEscaped) {
    descriptor("<SoftwareComponent vendorVersion=\"1&quot;2\"><Name><Display>R&amp;D &lt;lab&gt;</Display></Name>"
               "<ComponentType value=\"FRMW\"/><versionCompatibilities><verCompat componentID=\"a&amp;b\">"
               "<versionSupportedSystems><versionSystemID></versionSystemID></versionSupportedSystems>"
               "</verCompat></versionCompatibilities></SoftwareComponent>");
    const std::string document = kaver->getRQLXml("1\"2", "");
    EXPECT_EQ(document, records("<Device AgentID=\"3\" componentID=\"1&quot;2\" display=\"R&amp;D &lt;lab&gt;\" >"
                                "<Application componentType=\"FRMW\" version=\"1&quot;2\" "
                                "display=\"R&amp;D &lt;lab&gt;\" /><versionCompatibilities>"
                                "<verCompat componentID=\"a&amp;b\" ></verCompat></versionCompatibilities>"
                                "</Device>"))
        << "an empty system id matches an empty entry";
    xmlDocPtr parsed = xmlReadMemory(document.data(), static_cast<int>(document.size()), nullptr, nullptr,
                                     XML_PARSE_NONET | XML_PARSE_NOERROR);
    EXPECT_NE(parsed, nullptr);
    xmlFreeDoc(parsed);
}

TEST_F(RecordsDocumentTest, DescriptorFieldsFollowTheirRules) {
    struct Row {
        const char* name;
        const char* descriptor;
        const char* display;
        const char* type;
        const char* version;
    };
    const Row rows[] = {
        {"no comma: the whole display text",
         "<SoftwareComponent vendorVersion=\"3\"><Name><Display>Plain</Display></Name></SoftwareComponent>", "Plain",
         "", "3"},
        {"the first Display element of Name counts",
         "<SoftwareComponent><Name><Other>x</Other><Display>First</Display><Display>Second</Display></Name>"
         "</SoftwareComponent>",
         "First", "", ""},
        {"a later Name is not read once a display name is taken",
         "<SoftwareComponent><Name><Display>One</Display></Name><Name><Display>Two</Display></Name>"
         "</SoftwareComponent>",
         "One", "", ""},
        {"nor once a component type is taken",
         "<SoftwareComponent><ComponentType value=\"BIOS\"/><Name><Display>Late</Display></Name>"
         "</SoftwareComponent>",
         "", "BIOS", ""},
        {"the last component type wins",
         "<SoftwareComponent><ComponentType value=\"A\"/><ComponentType/><ComponentType value=\"B\"/>"
         "</SoftwareComponent>",
         "", "B", ""},
        {"nothing after versionCompatibilities is read",
         "<SoftwareComponent><versionCompatibilities/><ComponentType value=\"X\"/></SoftwareComponent>", "", "",
         ""},
        {"another root: nothing is read",
         "<Package vendorVersion=\"1\"><Name><Display>N</Display></Name><ComponentType value=\"T\"/></Package>", "",
         "", ""},
        {"names are case-sensitive",
         "<softwarecomponent vendorVersion=\"1\"><Name><Display>N</Display></Name></softwarecomponent>", "", "", ""},
        {"not well-formed", "<SoftwareComponent vendorVersion=\"1\"><Name>", "", "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        descriptor(row.descriptor);
        std::string display = "old", type = "old", version = "old";
        secureKaver::getPkgInfo("1A2B", display, type, version);
        EXPECT_EQ(display, row.display);
        EXPECT_EQ(type, row.type);
        EXPECT_EQ(version, row.version);
    }
}

TEST_F(RecordsDocumentTest, SystemIdIsTheLastFourCharactersOfItsLine) {
    struct Row {
        const char* name;
        std::string output;
        const char* id;
    };
    const Row rows[] = {
        {"after another line", "Example tool\nSystem ID: 1A2B\n", "1A2B"},
        {"last four of a longer id", "x\nSystem ID: ABCDEF\nmore\n", "CDEF"},
        {"separator is any one character", "x\nSystem ID=1A2B\n", "1A2B"},
        {"not after a line feed", "System ID: 1A2B\n", ""},
        {"at the very first position", "\nSystem ID: 1A2B\n", ""},
        {"line not ended", "x\nSystem ID: 1A2B", ""},
        {"nothing after the separator", "x\nSystem ID:\n", ""},
        {"output ends after the marker", "x\nSystem ID", ""},
        {"fewer than four characters", "x\nSystem ID: 12\n", ""},
        {"text ends at a NUL", std::string("x\0\nSystem ID: 1A2B\n", 19), ""},
        {"only the first 1024 bytes are read", std::string(1020, 'y') + "\nSystem ID: 1A2B\n", ""},
        {"no output", "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        systemIdPrints(row.output);
        EXPECT_EQ(secureKaver::getSysID(), row.id);
    }
    platform.failingPipes.insert(cwd->path() + "/getSystemId");
    EXPECT_EQ(secureKaver::getSysID(), "") << "the program cannot be started";
}

// The program is named by the working directory: a directory whose name
// means something to the shell is quoted, an ordinary one is not.
TEST_F(RecordsDocumentTest, SystemIdCommandQuotesAnUnusualDirectory) {
    const struct {
        const char* directory;
        const char* command;
    } rows[] = {
        {"/opt/pkg-1.0/", "/opt/pkg-1.0/getSystemId"},
        {"/opt/my pkg; rm -rf x/", "'/opt/my pkg; rm -rf x/getSystemId'"},
        {"/opt/it's $(here)/", "'/opt/it'\\''s $(here)/getSystemId'"},
        {"//", "//getSystemId"},  // the root directory, as the platform layer gives it
    };
    for (const auto& row : rows) {
        platform.commands.clear();
        platform.currentDirectory = row.directory;
        secureKaver::getSysID();
        EXPECT_EQ(platform.commands, std::vector<std::string>{row.command});
    }
    // No directory (the platform layer's answer when it cannot be read), or
    // one longer than a working directory can be: nothing is run.
    for (const std::string& directory : {std::string("/"), "/" + std::string(1023, 'd') + "/"}) {
        platform.commands.clear();
        platform.currentDirectory = directory;
        EXPECT_EQ(secureKaver::getSysID(), "");
        EXPECT_TRUE(platform.commands.empty()) << directory.size();
    }
}

TEST_F(RecordsDocumentTest, CallerDeviceListIsWalkedFromItsRoot) {
    struct Row {
        const char* name;
        std::string list;
        std::string devices;
    };
    const Row rows[] = {
        {"AgentID added where missing", "<Devices><Device componentID=\"1\"/><Device AgentID=\"5\"/></Devices>",
         "<Device componentID=\"1\" AgentID=\"3\"/><Device AgentID=\"5\"/>"},
        {"the caller's layout is kept",
         "<Devices>\n  <Device componentID=\"1\">\n    <Application version=\"2\"/>\n  </Device>\n</Devices>",
         "<Device componentID=\"1\" AgentID=\"3\">\n    <Application version=\"2\"/>\n  </Device>"},
        {"a root Device", "<Device componentID=\"9\"><x/></Device>", "<Device componentID=\"9\" AgentID=\"3\">\n"
                                                                      "  <x/>\n</Device>"},
        {"chain of groups down to the devices", "<a><b><Device componentID=\"1\"/><Device componentID=\"2\"/></b></a>",
         "<Device componentID=\"1\" AgentID=\"3\"/><Device componentID=\"2\" AgentID=\"3\"/>"},
        {"devices after a nested group are not seen",
         "<Devices><Group><Device componentID=\"1\"/></Group><Device componentID=\"2\"/></Devices>",
         "<Device componentID=\"1\" AgentID=\"3\"/>"},
        {"a comment ends the walk", "<Devices><!-- c --><Device componentID=\"1\"/></Devices>", ""},
        {"so does CDATA", "<Devices><![CDATA[x]]><Device componentID=\"1\"/></Devices>", ""},
        {"an element named text is passed over", "<Devices><text/><Device componentID=\"1\"/></Devices>",
         "<Device componentID=\"1\" AgentID=\"3\"/>"},
        {"not well-formed", "<Devices><Device componentID=\"1\">", ""},
        {"not XML at all", "Device", ""},
        {"document type declarations are refused",
         "<!DOCTYPE Devices [<!ENTITY a \"x\">]><Devices><Device componentID=\"1\"/></Devices>", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(fromList(row.list), records(row.devices));
    }
}

// Whatever another part of the process told libxml2 about blanks, a device
// list keeps its own layout.
TEST_F(RecordsDocumentTest, LayoutDoesNotDependOnLibxmlDefaults) {
    const std::string list = "<Devices>\n  <Device componentID=\"1\">\n    <A/>\n  </Device>\n</Devices>";
    const std::string before = fromList(list);
    const int previous = xmlKeepBlanksDefault(0);
    const std::string after = fromList(list);
    xmlKeepBlanksDefault(previous);
    EXPECT_EQ(after, before);
}

// Making a descriptor reader switches libxml2's process-wide blank handling
// off; the records the library writes from a descriptor or a device list
// stay the same.
TEST_F(RecordsDocumentTest, RecordsDoNotChangeOnceADescriptorReaderWasMade) {
    systemIdPrints("Example tool\nSystem ID: 0C2D\n");
    descriptor(kCompatibleDescriptor);
    const std::string list = "<Devices>\n  <Device componentID=\"1\">\n    <A> <B/> </A>\n  </Device>\n</Devices>";
    const std::string generated = kaver->getRQLXml("21500", "");
    const std::string listed = fromList(list);
    ASSERT_NE(generated.find("<verCompat "), std::string::npos) << generated;

    { CSoftwareComponentInfo reader; }
    const int blanks = xmlKeepBlanksDefault(1);
    EXPECT_EQ(blanks, 0) << "the reader no longer switches blanks off: this test shows nothing";
    xmlKeepBlanksDefault(blanks);

    EXPECT_EQ(kaver->getRQLXml("21500", ""), generated);
    EXPECT_EQ(fromList(list), listed);
    xmlKeepBlanksDefault(1);
}

TEST_F(RecordsDocumentTest, HostileListsGiveEmptyRecordsQuickly) {
    // Nested entity expansion ("billion laughs") is never reached.
    std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE d [<!ENTITY l0 \"lol\">";
    for (int i = 1; i < 10; ++i) {
        laughs += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k) laughs += "&l" + std::to_string(i - 1) + ";";
        laughs += "\">";
    }
    laughs += "]><Devices><Device componentID=\"&l9;\"/></Devices>";
    EXPECT_EQ(fromList(laughs), records(""));
    // An external entity is not loaded either.
    EXPECT_EQ(fromList("<!DOCTYPE d [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><d><Device a=\"&x;\"/></d>"),
              records(""));

    // Nesting: 63 groups around a device are read, 64 are too deep.
    auto nested = [](int depth) {
        std::string open, close;
        for (int i = 0; i < depth; ++i) {
            open += "<g>";
            close = "</g>" + close;
        }
        return open + "<Device componentID=\"1\"/>" + close;
    };
    EXPECT_EQ(fromList(nested(63)), records("<Device componentID=\"1\" AgentID=\"3\"/>"));
    EXPECT_EQ(fromList(nested(64)), records(""));

    // Size: a list above 4 MiB is refused whole.
    const std::string device = "<Device componentID=\"1\"/>";
    std::string big = "<Devices>" + device;
    big += "<!--" + std::string(4 * 1048576, 'x') + "-->";
    EXPECT_EQ(fromList(big + "</Devices>"), records(""));
}

}  // namespace
