// SPDX-License-Identifier: Apache-2.0
// The inventory log and the dependency check end to end: the library's
// exchanges against the emulated controller's inventory, the example
// packages, and what every exchange reports and leaves behind when a step
// fails.
#include <libxml/parser.h>
#include <libxml/xpath.h>

#include <filesystem>
#include <memory>
#include <sstream>

#include "EmulatorFixture.h"
#include "secureKaver.h"
#include "zemt_emulator/Inventory.h"

namespace fs = std::filesystem;

namespace {

const char* const kDeviceList =
    "<Devices>\n"
    "  <Device componentID=\"777\" display=\"Test Sensor\">\n"
    "    <Application componentType=\"FRMW\" version=\"1.9\" display=\"Test Sensor\"/>\n"
    "  </Device>\n"
    "</Devices>\n";

class InventoryTest : public EmulatorTest {
protected:
    // Copies an example package (descriptor, payload, getSystemId) into the
    // working directory, as an update package runs from its own folder.
    void UsePackage(const std::string& name) {
        const fs::path from = fs::path(ZEMT_E2E_EXAMPLES_DIR) / name;
        ASSERT_TRUE(fs::exists(from / "package.xml")) << from;
        fs::copy(from, workDir_, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    }

    std::string Query(secureKaver& kaver, xmlMode_t mode) {
        std::stringstream answer;
        EXPECT_TRUE(kaver.QueryRQL(answer, mode)) << int(kaver.getZEMTError());
        return answer.str();
    }

    // The attribute of the elements an XPath expression selects in an
    // answer, in document order ("<unparsable>" when it does not parse).
    static std::vector<std::string> Select(const std::string& answer, const std::string& path, const char* attribute) {
        std::vector<std::string> values;
        std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> doc(
            xmlReadMemory(answer.data(), static_cast<int>(answer.size()), nullptr, nullptr, XML_PARSE_NONET),
            &xmlFreeDoc);
        if (!doc) return {"<unparsable>"};
        xmlXPathContextPtr context = xmlXPathNewContext(doc.get());
        xmlXPathObjectPtr result = xmlXPathEvalExpression(BAD_CAST path.c_str(), context);
        for (int i = 0; result && result->nodesetval && i < result->nodesetval->nodeNr; ++i) {
            xmlChar* value = xmlGetProp(result->nodesetval->nodeTab[i], BAD_CAST attribute);
            values.push_back(value ? reinterpret_cast<const char*>(value) : "");
            xmlFree(value);
        }
        xmlXPathFreeObject(result);
        xmlXPathFreeContext(context);
        return values;
    }

    void ExpectDropBoxGone() const {
        EXPECT_EQ(ControllerState("dynamic.0.units"), "") << "the drop box is still there";
        EXPECT_FALSE(fs::exists(Image("dynamic-0.img")));
    }

    std::string StateFile(const std::string& name) const {
        std::string text;
        zemt_emu::ReadWholeFile(stateDir_ + "/inventory/" + name, text);
        return text;
    }
};

TEST_F(InventoryTest, EachQueryReturnsTheSeededRecords) {
    Init();
    std::unique_ptr<secureKaver> kaver = Start();

    const std::string current = Query(*kaver, rql_query_current_records);
    EXPECT_EQ(current, StateFile("current.xml"));
    EXPECT_EQ(Select(current, "/SVMInventory/Device", "componentID"),
              (std::vector<std::string>{"25227", "159", "8010", "8010", "21500"}));
    // The layout the descriptor reader's inventory extraction looks up.
    EXPECT_EQ(Select(current, "/SVMInventory/Device[@componentID = \"25227\"]/Application", "version"),
              std::vector<std::string>{"2.30"});
    EXPECT_EQ(Select(current, "/SVMInventory/Device[@componentID = \"8010\"]/Application", "version"),
              (std::vector<std::string>{"00.1C.4D", "00.1C.4E"}));
    EXPECT_EQ(Select(current, "/SVMInventory/Device[@componentID = \"21500\"]", "vendorID"),
              std::vector<std::string>{"f1c7"});

    const std::string history = Query(*kaver, rql_query_history_records);
    EXPECT_EQ(Select(history, "/SVMInventory/Change[@action = \"added\"]", "componentID"),
              (std::vector<std::string>{"25227", "159", "8010", "8010", "21500"}));
    EXPECT_EQ(Select(history, "/SVMInventory/Change", "time"), std::vector<std::string>(5, "0"));

    const std::string events = Query(*kaver, rql_query_event_records);
    EXPECT_EQ(Select(events, "/SVMInventory/Event", "action"),
              (std::vector<std::string>{"inventory-collected", "query", "query"}));
    EXPECT_NE(events.find("Current records sent: 5"), std::string::npos) << events;

    EXPECT_EQ(CountRequests({0xc0, 0xa2, 0x07}), 3);
    ExpectDropBoxGone();
    ExpectNothingMounted("SECUPD");
}

TEST_F(InventoryTest, UpdatedRecordShowsInTheCurrentRecordsAndItsChangeInTheHistory) {
    Init();
    ASSERT_NO_FATAL_FAILURE(UsePackage("nx2-adapter-firmware"));
    std::unique_ptr<secureKaver> kaver = Start();

    // The device comes from the package's descriptor and getSystemId (0A1B).
    ASSERT_TRUE(kaver->UpdateRQL("21500", rql_update_records, "")) << int(kaver->getZEMTError());
    const unsigned long changedAt = Clock();
    ExpectDropBoxGone();
    ExpectNothingMounted("SECUPD");

    const std::string current = Query(*kaver, rql_query_current_records);
    const std::string device = "/SVMInventory/Device[@componentID = \"21500\"]";
    EXPECT_EQ(Select(current, device, "display"), std::vector<std::string>{"NX-2 Dual-Port 10GbE Adapter Firmware"});
    EXPECT_EQ(Select(current, device, "AgentID"), std::vector<std::string>{"3"});
    EXPECT_EQ(Select(current, device + "/Application", "version"), std::vector<std::string>{"5.2.0"});
    EXPECT_EQ(Select(current, device + "/versionCompatibilities/verCompat", "min_version"),
              std::vector<std::string>{"5.0.0"})
        << "only the entry listing this system";
    EXPECT_EQ(Select(current, "/SVMInventory/Device", "componentID").size(), 5u);

    const std::string history = Query(*kaver, rql_query_history_records);
    const std::string change = "/SVMInventory/Change[@componentID = \"21500\" and @action = \"replaced\"]";
    EXPECT_EQ(Select(history, change, "fromVersion"), std::vector<std::string>{"5.1.3"});
    EXPECT_EQ(Select(history, change, "toVersion"), std::vector<std::string>{"5.2.0"});
    EXPECT_EQ(Select(history, change, "by"), std::vector<std::string>{"rql_update_records"});
    ASSERT_EQ(Select(history, change, "time").size(), 1u);
    EXPECT_LE(std::stoul(Select(history, change, "time")[0]), changedAt);
    EXPECT_GT(std::stoul(Select(history, change, "time")[0]), 0u) << "in virtual time";

    const std::string events = Query(*kaver, rql_query_event_records);
    EXPECT_NE(events.find("Records updated from input.xml: 0 added, 1 replaced"), std::string::npos) << events;
}

TEST_F(InventoryTest, CallerDeviceListAddsRecordsOrReplacesTheWholeInventory) {
    Init();
    std::unique_ptr<secureKaver> kaver = Start();

    ASSERT_TRUE(kaver->UpdateRQL("", rql_update_records, kDeviceList)) << int(kaver->getZEMTError());
    std::string current = Query(*kaver, rql_query_current_records);
    EXPECT_EQ(Select(current, "/SVMInventory/Device", "componentID"),
              (std::vector<std::string>{"25227", "159", "8010", "8010", "21500", "777"}));
    EXPECT_EQ(Select(current, "/SVMInventory/Device[@componentID = \"777\"]", "AgentID"),
              std::vector<std::string>{"3"});

    ASSERT_TRUE(kaver->UpdateRQL("", rql_update_entire_inventory, kDeviceList)) << int(kaver->getZEMTError());
    current = Query(*kaver, rql_query_current_records);
    EXPECT_EQ(Select(current, "/SVMInventory/Device", "componentID"), std::vector<std::string>{"777"});
    const std::string history = Query(*kaver, rql_query_history_records);
    EXPECT_EQ(Select(history, "/SVMInventory/Change[@by = \"rql_update_entire_inventory\"]", "action"),
              (std::vector<std::string>{"removed", "removed", "removed", "removed", "removed", "replaced"}));

    // A list that is not XML adds nothing and is still sent.
    ASSERT_TRUE(kaver->UpdateRQL("", rql_update_records, "<Devices><Device")) << int(kaver->getZEMTError());
    EXPECT_EQ(Select(Query(*kaver, rql_query_current_records), "/SVMInventory/Device", "componentID"),
              std::vector<std::string>{"777"});
    ExpectDropBoxGone();
    ExpectNothingMounted("SECUPD");
}

// Each example package against the default emulator: the verdict, and the
// reason the answer gives rule by rule.
TEST_F(InventoryTest, DependencyCheckOfTheExamplePackages) {
    struct Case {
        const char* package;
        bool passes;
        std::vector<std::string> reasons;  // texts the answer holds
    };
    const Case cases[] = {
        {"nx2-adapter-firmware", true, {}},
        {"system-bios-update", false,
         {"<status>1</status>",
          "Dependency 21500 (NX-2 Dual-Port 10GbE Adapter) needs version 5.10.0 or later; the inventory holds "
          "5.1.3: not met.",
          "Dependency 25227 (Management Controller Firmware) needs version 2.20 or later; the inventory holds "
          "2.30: met.",
          "Soft dependency 8010 (Power Supply) needs version 00.1C.4D or later; the inventory holds 00.1C.4D, "
          "00.1C.4E: met.",
          "failed: 1 of 3 required rules not met"}},
        {"sx8-storage-firmware", false,
         {"<status>1</status>",
          "At least one supported device must be present (30117 (SX-8 Storage Controller)); none of them is in "
          "the inventory: not met."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.package);
        Fresh();
        ASSERT_NO_FATAL_FAILURE(UsePackage(c.package));
        std::unique_ptr<secureKaver> kaver = Start();
        std::stringstream answer;
        EXPECT_EQ(kaver->doDepCheck(answer, rql_query_dependency), c.passes);
        EXPECT_EQ(kaver->getZEMTError(), 0);
        if (c.passes) {
            EXPECT_EQ(answer.str(), "");
        }
        EXPECT_EQ(answer.str().find("<?xml"), std::string::npos) << "the declaration is not passed back";
        for (const std::string& reason : c.reasons) EXPECT_NE(answer.str().find(reason), std::string::npos) << answer.str();
        const std::string events = StateFile("events.xml");
        EXPECT_NE(events.find(c.passes ? "Dependency check passed" : "Dependency check failed"), std::string::npos);
        ExpectDropBoxGone();
        ExpectNothingMounted("SECUPD");
    }
}

TEST_F(InventoryTest, MissingDescriptorFailsTheCopyAndRemovesTheDropBox) {
    Init();
    std::unique_ptr<secureKaver> kaver = Start();
    std::stringstream answer;
    EXPECT_FALSE(kaver->doDepCheck(answer, rql_query_dependency));
    EXPECT_EQ(int(kaver->getZEMTError()), ZEMT_INTERROR);
    EXPECT_EQ(answer.str(), "");
    ExpectDropBoxGone();
    ExpectNothingMounted("SECUPD");
}

TEST_F(InventoryTest, DependencyVersionsCompareAsDottedNumbers) {
    const struct {
        const char* a;
        const char* b;
        int order;
    } pairs[] = {
        {"1.10", "1.9", 1}, {"1.9", "1.10", -1}, {"2.30", "2.4", 1},  {"1.2", "1.2.0", 0},
        {"1.02", "1.2", 0}, {"1.4.2", "1.4.10", -1}, {"00.1C.4E", "00.1C.4D", 1}, {"1.A", "1.9", 1},
        {"", "0", 0},       {"99999999999999999999.1", "99999999999999999999.0", 1},
    };
    for (const auto& p : pairs) {
        SCOPED_TRACE(std::string(p.a) + " vs " + p.b);
        const int order = zemt_emu::CompareVersions(p.a, p.b);
        EXPECT_EQ(order > 0 ? 1 : order < 0 ? -1 : 0, p.order);
    }

    // The controller applies that order: BIOS 1.4.2 is below 1.4.10.
    Init();
    WriteWorkFile("package.xml",
                  "<SoftwareComponent vendorVersion=\"1\"><SupportedDevices><Device componentID=\"25227\">"
                  "<Dependency componentID=\"159\" version=\"1.4.10\"/>"
                  "<Dependency componentID=\"25227\" version=\"2.4\"/>"
                  "</Device></SupportedDevices></SoftwareComponent>");
    std::unique_ptr<secureKaver> kaver = Start();
    std::stringstream answer;
    EXPECT_FALSE(kaver->doDepCheck(answer, rql_query_dependency));
    EXPECT_NE(answer.str().find("Dependency 159 needs version 1.4.10 or later; the inventory holds 1.4.2: not met."),
              std::string::npos)
        << answer.str();
    EXPECT_NE(answer.str().find("Dependency 25227 needs version 2.4 or later; the inventory holds 2.30: met."),
              std::string::npos)
        << answer.str();
}

// Firmware that cannot check dependencies makes the check a pass without
// any exchange; when the library cannot tell (the version query fails) it
// asks, and such a controller refuses the request.
TEST_F(InventoryTest, ControllerWithoutDependencyCheckSupport) {
    struct Case {
        const char* name;
        long major, minor;
        bool monolithic;
        const char* fault;
        bool result;
        int code;
        long dropBoxes;
    };
    const Case cases[] = {
        {"modular 2.19", 2, 19, false, "", true, 0, 0},
        {"modular 1.30", 1, 30, false, "", true, 0, 0},
        {"monolithic 1.29", 1, 29, true, "", true, 0, 0},
        {"monolithic 1.30 can", 1, 30, true, "", false, 0, 1},
        {"version query fails", 1, 10, false, "cmd=0xBF tren_result=0 times=always", false, ZEMT_SMCFAILED, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fresh([&](zemt_emu::InitOptions& o) {
            o.firmwareMajor = c.major;
            o.firmwareMinor = c.minor;
            o.monolithic = c.monolithic;
        });
        ASSERT_NO_FATAL_FAILURE(UsePackage("sx8-storage-firmware"));
        std::unique_ptr<secureKaver> kaver = Start();
        if (*c.fault) Fault(c.fault);
        const std::size_t from = Requests().size();
        std::stringstream answer;
        EXPECT_EQ(kaver->doDepCheck(answer, rql_query_dependency), c.result);
        EXPECT_EQ(int(kaver->getZEMTError()), c.code);
        EXPECT_EQ(CountRequests({0xc0, 0xa2, 0x07}, from), c.dropBoxes);
        ExpectDropBoxGone();
        ExpectNothingMounted("SECUPD");
    }
}

// Where an exchange fails, the code it reports and what is left: every row
// runs a fresh controller with one fault added after initialisation.
enum class Box { Gone, Attached, Detached };

struct StepFailure {
    const char* name;
    const char* fault;
    int code;      // 0: the exchange succeeds
    Box box;       // the drop box afterwards
    const char* answer;  // what the caller's buffer holds ("*": the whole answer)
};

class ExchangeFailureTest : public InventoryTest {
protected:
    void ExpectBox(Box box) const {
        if (box == Box::Gone) {
            ExpectDropBoxGone();
            return;
        }
        EXPECT_NE(ControllerState("dynamic.0.units"), "");
        EXPECT_EQ(ControllerState("attached.dynamic"), box == Box::Attached ? "1" : "0");
    }

    // Runs EXCHANGE once per row; it returns the exchange's result and
    // fills the caller's buffer.
    void RunRows(const std::vector<StepFailure>& rows, const char* package,
                 const std::function<bool(secureKaver&, std::stringstream&)>& exchange) {
        for (const StepFailure& row : rows) {
            SCOPED_TRACE(row.name);
            Fresh();
            if (package) {
                ASSERT_NO_FATAL_FAILURE(UsePackage(package));
            }
            std::unique_ptr<secureKaver> kaver = Start();
            Fault(row.fault);
            std::stringstream buffer;
            const bool done = exchange(*kaver, buffer);
            EXPECT_EQ(done, row.code == 0);
            EXPECT_EQ(int(kaver->getZEMTError()), row.code);
            ExpectBox(row.box);
            if (std::string(row.answer) == "*") {
                EXPECT_NE(buffer.str().find("<SVMInventory>"), std::string::npos) << buffer.str();
            } else {
                EXPECT_EQ(buffer.str(), row.answer);
            }
            ExpectNothingMounted("SECUPD");
        }
    }
};

// Faults shared by the three exchanges up to the hand-over.
const StepFailure kCommonRows[] = {
    {"drop box refused", "cmd=0xA2/7 completion=0xC0", ZEMT_DYNPARTERR, Box::Gone, ""},
    {"attach refused", "cmd=0xA2/5 completion=0xC0", ZEMT_NODYNPRESENT, Box::Gone, ""},
    {"disk never appears", "disk label=SECUPD appear=never times=always", ZEMT_NODYNPRESENT, Box::Gone, ""},
    {"mount fails", "host=mount exit=32 times=always", ZEMT_NODYNPRESENT, Box::Gone, ""},
    // The host has unmounted it; the controller keeps it attached and will
    // not delete an attached drop box.
    {"detach refused", "cmd=0xA2/6 completion=0xC0", ZEMT_DETACHFAILED, Box::Attached, ""},
    {"hash refused", "process effect=refuse", ZEMT_SMCFAILED, Box::Gone, ""},
    {"document unparsable", "process effect=unparsable", ZEMT_SMCFAILED, Box::Gone, ""},
};

std::vector<StepFailure> withCommonRows(std::vector<StepFailure> rows) {
    rows.insert(rows.begin(), std::begin(kCommonRows), std::end(kCommonRows));
    return rows;
}

TEST_F(ExchangeFailureTest, QueryReportsEveryStepFailureAndCleansUp) {
    RunRows(withCommonRows({
                {"second attach refused", "cmd=0xA2/5 completion=0xC0 after=1", ZEMT_NODYNPRESENT, Box::Gone, ""},
                {"no answer", "process effect=no-answer", ZEMT_NOFILEFOUND, Box::Gone, ""},
                {"answer too large", "process effect=oversized-answer", ZEMT_NOFILEFOUND, Box::Gone, ""},
                {"empty answer", "process effect=empty-answer", 0, Box::Gone, ""},
                {"second detach refused", "cmd=0xA2/6 completion=0xC0 after=1", ZEMT_DETACHFAILED, Box::Attached,
                 "*"},
                // The clean-up deletes once more, and that one is accepted.
                {"delete refused once", "cmd=0xA2/8 completion=0xC0", ZEMT_DELETEDROPBOXERR, Box::Gone, "*"},
                {"delete always refused", "cmd=0xA2/8 completion=0xC0 times=always", ZEMT_DELETEDROPBOXERR,
                 Box::Detached, "*"},
            }),
            nullptr, [](secureKaver& kaver, std::stringstream& buffer) {
                return kaver.QueryRQL(buffer, rql_query_current_records);
            });
}

// The library does not parse answers: a query hands a cut-off document
// over as it is, a dependency check finds no pass in it and passes it back.
TEST_F(ExchangeFailureTest, MalformedAnswerIsHandedOverAsItIs) {
    Init();
    std::unique_ptr<secureKaver> kaver = Start();
    Fault("process effect=malformed-answer");
    std::stringstream buffer;
    ASSERT_TRUE(kaver->QueryRQL(buffer, rql_query_current_records)) << int(kaver->getZEMTError());
    const std::string whole = StateFile("current.xml");
    EXPECT_EQ(buffer.str(), whole.substr(0, whole.size() / 2));

    ASSERT_NO_FATAL_FAILURE(UsePackage("nx2-adapter-firmware"));
    Fault("process effect=malformed-answer");
    // Enough rules that the status element lies in the first half.
    std::stringstream check;
    EXPECT_TRUE(kaver->doDepCheck(check, rql_query_dependency));
    ASSERT_NO_FATAL_FAILURE(UsePackage("sx8-storage-firmware"));
    Fault("process effect=malformed-answer");
    EXPECT_FALSE(kaver->doDepCheck(check, rql_query_dependency));
    EXPECT_EQ(kaver->getZEMTError(), 0);
    EXPECT_EQ(check.str().rfind("\n<DependencyCheckResult>\n  <status>1</status>", 0), 0u) << check.str();
    EXPECT_EQ(check.str().find("</DependencyCheckResult>"), std::string::npos) << "cut off";
    ExpectDropBoxGone();
    ExpectNothingMounted("SECUPD");
}

TEST_F(ExchangeFailureTest, UpdateReportsEveryStepFailureAndCleansUp) {
    RunRows(withCommonRows({
                // No second try: the update leaves a drop box whose deletion failed.
                {"delete refused", "cmd=0xA2/8 completion=0xC0", ZEMT_DELETEDROPBOXERR, Box::Detached, ""},
            }),
            nullptr, [](secureKaver& kaver, std::stringstream&) {
                return kaver.UpdateRQL("", rql_update_records, kDeviceList);
            });
}

TEST_F(ExchangeFailureTest, DependencyCheckReportsEveryStepFailureAndCleansUp) {
    RunRows(withCommonRows({
                {"descriptor copy fails", "host=cp exit=1", ZEMT_INTERROR, Box::Gone, ""},
                {"second attach refused", "cmd=0xA2/5 completion=0xC0 after=1", ZEMT_NODYNPRESENT, Box::Gone, ""},
                {"no answer", "process effect=no-answer", ZEMT_NOFILEFOUND, Box::Gone, ""},
                {"answer too large", "process effect=oversized-answer", ZEMT_NOFILEFOUND, Box::Gone, ""},
                // Nothing to pass back and no verdict: an internal error.
                {"empty answer", "process effect=empty-answer", ZEMT_INTERROR, Box::Gone, ""},
                {"second detach refused", "cmd=0xA2/6 completion=0xC0 after=1", ZEMT_DETACHFAILED, Box::Attached,
                 ""},
                {"delete refused once", "cmd=0xA2/8 completion=0xC0", ZEMT_DELETEDROPBOXERR, Box::Gone, ""},
            }),
            "nx2-adapter-firmware", [](secureKaver& kaver, std::stringstream& buffer) {
                return kaver.doDepCheck(buffer, rql_query_dependency);
            });
}

}  // namespace
