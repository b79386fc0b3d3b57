// SPDX-License-Identifier: Apache-2.0
#include "zemt_emulator/Inventory.h"

#include <libxml/parser.h>

#include <cctype>
#include <filesystem>
#include <map>
#include <memory>

namespace fs = std::filesystem;

namespace zemt_emu {

namespace files {
const char* const kInventory = "inventory";
}  // namespace files

namespace {

const char* const kFileNames[] = {"current.xml", "history.xml", "events.xml"};
const char* const kLogRoot = "SVMInventory";

typedef std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> OwnedDoc;

bool named(const xmlNode* node, const char* name) {
    return node != nullptr && node->type == XML_ELEMENT_NODE && xmlStrEqual(node->name, BAD_CAST name);
}

std::string attribute(const xmlNode* node, const char* name) {
    xmlChar* value = xmlGetProp(node, BAD_CAST name);
    std::string text = value ? reinterpret_cast<const char*>(value) : "";
    xmlFree(value);
    return text;
}

// Text directly inside an element (no entity is expanded).
std::string textOf(const xmlNode* element) {
    std::string out;
    for (const xmlNode* n = element->children; n != nullptr; n = n->next)
        if ((n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) && n->content != nullptr)
            out += reinterpret_cast<const char*>(n->content);
    return out;
}

std::string childText(const xmlNode* parent, const char* name) {
    for (const xmlNode* n = parent->children; n != nullptr; n = n->next)
        if (named(n, name)) return textOf(n);
    return "";
}

OwnedDoc parseText(const std::string& text) {
    return OwnedDoc(xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                                  XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOBLANKS),
                    &xmlFreeDoc);
}

std::string serialise(xmlDocPtr doc) {
    xmlChar* bytes = nullptr;
    int size = 0;
    xmlDocDumpFormatMemoryEnc(doc, &bytes, &size, "UTF-8", 1);
    std::string text(bytes ? reinterpret_cast<const char*>(bytes) : "", bytes ? static_cast<std::size_t>(size) : 0);
    xmlFree(bytes);
    return text;
}

OwnedDoc newDocument(const char* rootName) {
    OwnedDoc doc(xmlNewDoc(BAD_CAST "1.0"), &xmlFreeDoc);
    xmlDocSetRootElement(doc.get(), xmlNewNode(nullptr, BAD_CAST rootName));
    return doc;
}

std::size_t elementCount(const xmlNode* parent) {
    std::size_t n = 0;
    for (const xmlNode* c = parent->children; c != nullptr; c = c->next) n += c->type == XML_ELEMENT_NODE;
    return n;
}

// The firmware version of a device: its first Application's.
std::string versionOf(const xmlNode* device) {
    for (const xmlNode* n = device->children; n != nullptr; n = n->next)
        if (named(n, "Application")) return attribute(n, "version");
    return "";
}

std::string lowerHex(std::string id) {
    for (char& c : id) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string::size_type first = id.find_first_not_of('0');
    return first == std::string::npos ? "0" : id.substr(first);
}

// What a package asks the inventory for: a component id, and/or PCI
// identities (each compared on the ids it gives).
struct Wanted {
    std::string componentId;
    std::string display;
    std::vector<std::map<std::string, std::string>> pci;

    explicit Wanted(const xmlNode* element) : componentId(attribute(element, "componentID")) {
        display = childText(element, "Display");
        for (const xmlNode* n = element->children; n != nullptr; n = n->next) {
            if (!named(n, "PCIInfo")) continue;
            std::map<std::string, std::string> ids;
            for (const char* key : {"vendorID", "deviceID", "subVendorID", "subDeviceID"}) {
                std::string value = attribute(n, key);
                if (!value.empty()) ids[key] = lowerHex(value);
            }
            if (!ids.empty()) pci.push_back(ids);
        }
    }

    bool Matches(const xmlNode* device) const {
        if (!componentId.empty() && attribute(device, "componentID") == componentId) return true;
        for (const auto& ids : pci) {
            bool all = true;
            for (const auto& id : ids) {
                std::string held = attribute(device, id.first.c_str());
                all = all && !held.empty() && lowerHex(held) == id.second;
            }
            if (all) return true;
        }
        return false;
    }

    std::string Name() const {
        std::string name = componentId.empty() ? "a PCI device" : componentId;
        return display.empty() ? name : name + " (" + display + ")";
    }
};

std::string joined(const std::vector<std::string>& parts, const char* separator) {
    std::string out;
    for (const std::string& part : parts) out += (out.empty() ? "" : separator) + part;
    return out;
}

void addRule(xmlNodePtr result, const char* type, const std::string& componentId, const std::string& required,
             const std::string& found, const std::string& verdict, const std::string& explanation) {
    xmlNodePtr rule = xmlNewTextChild(result, nullptr, BAD_CAST "Rule", BAD_CAST explanation.c_str());
    xmlSetProp(rule, BAD_CAST "type", BAD_CAST type);
    if (!componentId.empty()) xmlSetProp(rule, BAD_CAST "componentID", BAD_CAST componentId.c_str());
    xmlSetProp(rule, BAD_CAST "required", BAD_CAST required.c_str());
    xmlSetProp(rule, BAD_CAST "found", BAD_CAST found.c_str());
    xmlSetProp(rule, BAD_CAST "result", BAD_CAST verdict.c_str());
}

// Compares two parts of a dotted version.
int comparePart(std::string a, std::string b) {
    if (a.empty()) a = "0";
    if (b.empty()) b = "0";
    auto digits = [](const std::string& s) {
        for (char c : s)
            if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        return true;
    };
    const bool numberA = digits(a), numberB = digits(b);
    if (numberA != numberB) return numberA ? -1 : 1;
    if (numberA) {
        // Any length: leading zeros off, then the longer number is larger.
        a.erase(0, std::min(a.find_first_not_of('0'), a.size() - 1));
        b.erase(0, std::min(b.find_first_not_of('0'), b.size() - 1));
        if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    }
    return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

std::vector<std::string> splitVersion(const std::string& version) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    while (true) {
        std::string::size_type dot = version.find('.', start);
        parts.push_back(version.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (dot == std::string::npos) return parts;
        start = dot + 1;
    }
}

bool rebootRequired(const xmlNode* softwareComponent) {
    std::string said = attribute(softwareComponent, "rebootRequired");
    for (char& c : said) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (said == "true" || said == "1") return true;
    if (said == "false" || said == "0") return false;
    for (const xmlNode* n = softwareComponent->children; n != nullptr; n = n->next)
        if (named(n, "ComponentType")) return attribute(n, "value") == "BIOS";
    return false;
}

}  // namespace

bool IsInventoryMode(const std::string& mode) { return mode.compare(0, 4, "rql_") == 0; }

int CompareVersions(const std::string& a, const std::string& b) {
    std::vector<std::string> left = splitVersion(a), right = splitVersion(b);
    for (std::size_t i = 0; i < left.size() || i < right.size(); ++i) {
        int order = comparePart(i < left.size() ? left[i] : "", i < right.size() ? right[i] : "");
        if (order != 0) return order;
    }
    return 0;
}

bool DependencyCheckSupported(long major, long minor, bool monolithic) {
    return monolithic ? (major != 0 && minor > 29) : (major > 1 && minor > 19);
}

std::vector<InventoryDevice> SeededDevices(const std::string& firmware, const std::vector<PowerSupply>& supplies) {
    std::vector<InventoryDevice> devices;
    devices.push_back({"25227", "Management Controller Firmware", "FRMW", firmware, "", "", "", ""});
    devices.push_back({"159", "System BIOS", "BIOS", "1.4.2", "", "", "", ""});
    for (std::size_t i = 0; i < supplies.size(); ++i) {
        if (!supplies[i].present) continue;
        devices.push_back({std::to_string(supplies[i].compId), "Power Supply " + std::to_string(i + 1), "FRMW",
                           supplies[i].version, "", "", "", ""});
    }
    devices.push_back({"21500", "NX-2 Dual-Port 10GbE Adapter", "FRMW", "5.1.3", "f1c7", "0a10", "f1c7", "0001"});
    return devices;
}

bool SeedInventory(const std::string& dir, const std::vector<InventoryDevice>& devices, std::string& error) {
    std::error_code ec;
    fs::create_directories(JoinPath(dir, files::kInventory), ec);
    if (ec) {
        error = "cannot create " + JoinPath(dir, files::kInventory) + ": " + ec.message();
        return false;
    }
    for (const char* name : kFileNames) {
        OwnedDoc doc = newDocument(kLogRoot);
        if (!WriteWholeFile(JoinPath(JoinPath(dir, files::kInventory), name), serialise(doc.get()))) {
            error = "cannot write the inventory log";
            return false;
        }
    }
    Inventory inventory(dir, 0);
    if (!inventory.Load()) {
        error = "cannot read the inventory log back";
        return false;
    }
    std::string records;
    for (const InventoryDevice& d : devices) {
        OwnedDoc one = newDocument("Device");
        xmlNodePtr device = xmlDocGetRootElement(one.get());
        xmlSetProp(device, BAD_CAST "componentID", BAD_CAST d.componentId.c_str());
        xmlSetProp(device, BAD_CAST "display", BAD_CAST d.display.c_str());
        if (!d.vendorId.empty()) {
            xmlSetProp(device, BAD_CAST "vendorID", BAD_CAST d.vendorId.c_str());
            xmlSetProp(device, BAD_CAST "deviceID", BAD_CAST d.deviceId.c_str());
            xmlSetProp(device, BAD_CAST "subVendorID", BAD_CAST d.subVendorId.c_str());
            xmlSetProp(device, BAD_CAST "subDeviceID", BAD_CAST d.subDeviceId.c_str());
        }
        xmlNodePtr application = xmlNewChild(device, nullptr, BAD_CAST "Application", nullptr);
        xmlSetProp(application, BAD_CAST "componentType", BAD_CAST d.type.c_str());
        xmlSetProp(application, BAD_CAST "version", BAD_CAST d.version.c_str());
        xmlSetProp(application, BAD_CAST "display", BAD_CAST d.display.c_str());
        xmlBufferPtr buffer = xmlBufferCreate();
        xmlNodeDump(buffer, one.get(), device, 0, 0);
        records += reinterpret_cast<const char*>(xmlBufferContent(buffer));
        xmlBufferFree(buffer);
    }
    if (!inventory.Apply("<Records>" + records + "</Records>", true, "init")) {
        error = "cannot seed the inventory";
        return false;
    }
    inventory.AddEvent("inventory-collected",
                       "Inventory collected at start-up: " + std::to_string(devices.size()) + " devices");
    if (!inventory.Save()) {
        error = "cannot write the inventory log";
        return false;
    }
    return true;
}

Inventory::Inventory(const std::string& dir, unsigned long now) : dir_(dir), now_(now) {}

Inventory::~Inventory() {
    for (xmlDocPtr doc : docs_) xmlFreeDoc(doc);
}

bool Inventory::Load() {
    for (int kind = kCurrent; kind <= kEvents; ++kind) {
        std::string text;
        if (!ReadWholeFile(JoinPath(JoinPath(dir_, files::kInventory), kFileNames[kind]), text)) return false;
        OwnedDoc doc = parseText(text);
        if (!doc || !named(xmlDocGetRootElement(doc.get()), kLogRoot)) return false;
        xmlFreeDoc(docs_[kind]);
        docs_[kind] = doc.release();
    }
    return true;
}

bool Inventory::Save() const {
    for (int kind = kCurrent; kind <= kEvents; ++kind)
        if (!WriteWholeFile(JoinPath(JoinPath(dir_, files::kInventory), kFileNames[kind]), Document(Kind(kind))))
            return false;
    return true;
}

xmlNodePtr Inventory::root(Kind kind) const { return xmlDocGetRootElement(docs_[kind]); }

std::string Inventory::Document(Kind kind) const { return serialise(docs_[kind]); }

std::size_t Inventory::Count(Kind kind) const { return elementCount(root(kind)); }

bool Inventory::ValidRecords(const std::string& records) {
    OwnedDoc doc = parseText(records);
    return doc && named(xmlDocGetRootElement(doc.get()), "Records");
}

void Inventory::AddEvent(const std::string& action, const std::string& text) {
    xmlNodePtr event = xmlNewTextChild(root(kEvents), nullptr, BAD_CAST "Event", BAD_CAST text.c_str());
    xmlSetProp(event, BAD_CAST "time", BAD_CAST std::to_string(now_).c_str());
    xmlSetProp(event, BAD_CAST "id", BAD_CAST std::to_string(Count(kEvents)).c_str());
    xmlSetProp(event, BAD_CAST "action", BAD_CAST action.c_str());
}

void Inventory::addChange(const std::string& action, xmlNodePtr before, xmlNodePtr after, const std::string& mode) {
    xmlNodePtr device = after ? after : before;
    xmlNodePtr change = xmlNewChild(root(kHistory), nullptr, BAD_CAST "Change", nullptr);
    xmlSetProp(change, BAD_CAST "time", BAD_CAST std::to_string(now_).c_str());
    xmlSetProp(change, BAD_CAST "action", BAD_CAST action.c_str());
    xmlSetProp(change, BAD_CAST "componentID", BAD_CAST attribute(device, "componentID").c_str());
    xmlSetProp(change, BAD_CAST "display", BAD_CAST attribute(device, "display").c_str());
    if (before) xmlSetProp(change, BAD_CAST "fromVersion", BAD_CAST versionOf(before).c_str());
    if (after) xmlSetProp(change, BAD_CAST "toVersion", BAD_CAST versionOf(after).c_str());
    xmlSetProp(change, BAD_CAST "by", BAD_CAST mode.c_str());
}

bool Inventory::Apply(const std::string& records, bool entire, const std::string& mode) {
    OwnedDoc doc = parseText(records);
    const xmlNode* list = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    if (!named(list, "Records")) return false;

    // Incoming devices by component id, in document order.
    std::vector<std::string> order;
    std::map<std::string, std::vector<const xmlNode*>> incoming;
    std::size_t ignored = 0;
    for (const xmlNode* n = list->children; n != nullptr; n = n->next) {
        if (!named(n, "Device")) continue;
        std::string id = attribute(n, "componentID");
        if (id.empty()) {
            ++ignored;
            continue;
        }
        if (incoming[id].empty()) order.push_back(id);
        incoming[id].push_back(n);
    }

    xmlNodePtr current = root(kCurrent);
    std::size_t added = 0, replaced = 0, removed = 0;
    if (entire) {
        for (xmlNodePtr n = current->children, next; n != nullptr; n = next) {
            next = n->next;
            if (!named(n, "Device") || incoming.count(attribute(n, "componentID"))) continue;
            addChange("removed", n, nullptr, mode);
            ++removed;
            xmlUnlinkNode(n);
            xmlFreeNode(n);
        }
    }
    for (const std::string& id : order) {
        std::vector<xmlNodePtr> held;
        for (xmlNodePtr n = current->children; n != nullptr; n = n->next)
            if (named(n, "Device") && attribute(n, "componentID") == id) held.push_back(n);
        const std::vector<const xmlNode*>& fresh = incoming[id];
        for (std::size_t i = 0; i < fresh.size(); ++i) {
            xmlNodePtr copy = xmlDocCopyNode(const_cast<xmlNode*>(fresh[i]), docs_[kCurrent], 1);
            // The new records take the place of the old ones.
            if (held.empty()) xmlAddChild(current, copy);
            else xmlAddPrevSibling(held.front(), copy);
            addChange(i < held.size() ? "replaced" : "added", i < held.size() ? held[i] : nullptr, copy, mode);
            ++(i < held.size() ? replaced : added);
        }
        for (std::size_t i = fresh.size(); i < held.size(); ++i) {
            addChange("removed", held[i], nullptr, mode);
            ++removed;
        }
        for (xmlNodePtr old : held) {
            xmlUnlinkNode(old);
            xmlFreeNode(old);
        }
    }
    std::string summary = std::to_string(added) + " added, " + std::to_string(replaced) + " replaced";
    if (entire) summary += ", " + std::to_string(removed) + " removed";
    if (mode != "init")
        AddEvent(entire ? "inventory-replaced" : "records-updated",
                 (entire ? "Inventory replaced from input.xml: " : "Records updated from input.xml: ") + summary);
    if (ignored > 0)
        AddEvent("records-ignored",
                 std::to_string(ignored) + " device(s) without a componentID in input.xml ignored");
    return true;
}

FirmwareChange Inventory::UpdateFirmware(const std::string& descriptor, const std::string& onlyComponent,
                                        const std::string& by, bool apply) {
    FirmwareChange change;
    OwnedDoc package = parseText(descriptor);
    const xmlNode* component = package ? xmlDocGetRootElement(package.get()) : nullptr;
    if (!named(component, "SoftwareComponent")) return change;
    change.version = attribute(component, "vendorVersion");
    change.rebootRequired = rebootRequired(component);
    if (change.version.empty()) {
        change.outcome = FirmwareChange::kNoVersion;
        return change;
    }
    std::vector<Wanted> wanted;
    for (const xmlNode* list = component->children; list != nullptr; list = list->next)
        if (named(list, "SupportedDevices"))
            for (const xmlNode* d = list->children; d != nullptr; d = d->next)
                if (named(d, "Device") && (onlyComponent.empty() || attribute(d, "componentID") == onlyComponent))
                    wanted.emplace_back(d);
    std::vector<std::string> items;
    for (xmlNodePtr device = root(kCurrent)->children; device != nullptr; device = device->next) {
        bool fits = false;
        for (const Wanted& w : wanted) fits = fits || (named(device, "Device") && w.Matches(device));
        if (!fits) continue;
        const std::string from = versionOf(device);
        items.push_back(attribute(device, "componentID") + " (" + attribute(device, "display") + ") " +
                        (from.empty() ? "no version" : from) + " to " + change.version);
        if (!apply) continue;
        std::unique_ptr<xmlNode, void (*)(xmlNodePtr)> before(xmlCopyNode(device, 1), &xmlFreeNode);
        xmlNodePtr application = device->children;
        while (application != nullptr && !named(application, "Application")) application = application->next;
        if (application == nullptr) {
            application = xmlNewChild(device, nullptr, BAD_CAST "Application", nullptr);
            xmlSetProp(application, BAD_CAST "display", BAD_CAST attribute(device, "display").c_str());
        }
        xmlSetProp(application, BAD_CAST "version", BAD_CAST change.version.c_str());
        addChange("updated", before.get(), device, by);
    }
    change.outcome = items.empty() ? FirmwareChange::kNoDevice : FirmwareChange::kApplied;
    change.summary = joined(items, ", ");
    return change;
}

std::string Inventory::CheckDependencies(const std::string& descriptor, bool& passed) {
    OwnedDoc answer = newDocument("DependencyCheckResult");
    xmlNodePtr result = xmlDocGetRootElement(answer.get());
    xmlNodePtr status = xmlNewChild(result, nullptr, BAD_CAST "status", BAD_CAST "2");
    passed = false;

    OwnedDoc package = parseText(descriptor);
    const xmlNode* component = package ? xmlDocGetRootElement(package.get()) : nullptr;
    if (!named(component, "SoftwareComponent")) {
        xmlNewTextChild(result, nullptr, BAD_CAST "Summary",
                        BAD_CAST "failed: package.xml is not a package descriptor (no SoftwareComponent root)");
        AddEvent("dependency-check", "Dependency check failed: unreadable package.xml");
        return serialise(answer.get());
    }

    std::vector<const xmlNode*> supported;
    for (const xmlNode* list = component->children; list != nullptr; list = list->next)
        if (named(list, "SupportedDevices"))
            for (const xmlNode* d = list->children; d != nullptr; d = d->next)
                if (named(d, "Device")) supported.push_back(d);

    const xmlNode* current = root(kCurrent);
    auto holding = [current](const Wanted& wanted) {
        std::vector<const xmlNode*> found;
        for (const xmlNode* n = current->children; n != nullptr; n = n->next)
            if (named(n, "Device") && wanted.Matches(n)) found.push_back(n);
        return found;
    };
    auto versions = [](const std::vector<const xmlNode*>& devices) {
        std::vector<std::string> out;
        for (const xmlNode* d : devices) out.push_back(versionOf(d).empty() ? "no version" : versionOf(d));
        return out.empty() ? std::string("absent") : joined(out, ", ");
    };

    std::size_t required = 0, unmet = 0;

    // At least one supported device must be present.
    std::vector<std::string> names, present;
    for (const xmlNode* d : supported) {
        Wanted wanted(d);
        names.push_back(wanted.Name());
        for (const xmlNode* held : holding(wanted))
            present.push_back(wanted.Name() + " version " + versionOf(held));
    }
    const bool anySupported = !present.empty();
    ++required;
    unmet += anySupported ? 0 : 1;
    addRule(result, "SupportedDevice", "", names.empty() ? "a supported device" : "one of " + joined(names, ", "),
            present.empty() ? "none" : joined(present, ", "), anySupported ? "met" : "not met",
            names.empty() ? "The package lists no supported device: not met."
                          : "At least one supported device must be present (" + joined(names, ", ") + "); " +
                                (anySupported ? "present: " + joined(present, ", ") + ": met."
                                              : "none of them is in the inventory: not met."));

    for (const xmlNode* d : supported) {
        for (const xmlNode* rule = d->children; rule != nullptr; rule = rule->next) {
            const bool hard = named(rule, "Dependency");
            if (!hard && !named(rule, "SoftDependency")) continue;
            Wanted wanted(rule);
            const std::string minimum = attribute(rule, "version");
            const std::vector<const xmlNode*> found = holding(wanted);
            bool met = false;
            for (const xmlNode* held : found)
                met = met || minimum.empty() || CompareVersions(versionOf(held), minimum) >= 0;
            const std::string needs = minimum.empty() ? "present" : "version " + minimum + " or later";
            std::string verdict = met ? "met" : "not met";
            if (hard) {
                ++required;
                unmet += met ? 0 : 1;
            } else if (!met) {
                verdict = "not met (soft dependency: reported, not required)";
            }
            addRule(result, hard ? "Dependency" : "SoftDependency", wanted.componentId, needs, versions(found),
                    verdict,
                    std::string(hard ? "Dependency " : "Soft dependency ") + wanted.Name() + " needs " + needs +
                        "; the inventory holds " + versions(found) + ": " + verdict + ".");
        }
    }

    passed = unmet == 0;
    xmlNodeSetContent(status, BAD_CAST(passed ? "0" : "1"));
    const std::string summary = passed ? "passed: all " + std::to_string(required) + " required rules met"
                                       : "failed: " + std::to_string(unmet) + " of " + std::to_string(required) +
                                             " required rules not met";
    xmlNewTextChild(result, nullptr, BAD_CAST "Summary", BAD_CAST summary.c_str());
    AddEvent("dependency-check", "Dependency check " + summary);
    return serialise(answer.get());
}

}  // namespace zemt_emu
