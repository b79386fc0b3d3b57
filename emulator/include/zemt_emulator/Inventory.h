/* SPDX-License-Identifier: Apache-2.0 */
// The emulated controller's inventory log: the devices it knows with their
// firmware (current records), what changed and when (history records) and
// what the controller did (event records), kept as three XML files in the
// state directory's inventory/ folder.  Formats: emulator/README.md.
#ifndef ZEMT_EMULATOR_INVENTORY_H
#define ZEMT_EMULATOR_INVENTORY_H

#include <libxml/tree.h>

#include <string>
#include <vector>

#include "zemt_emulator/State.h"

namespace zemt_emu {

namespace files {
extern const char* const kInventory;  // folder of current.xml, history.xml, events.xml
}  // namespace files

// An update-document mode of the inventory log ("rql_...").
bool IsInventoryMode(const std::string& mode);

// Dotted version order: the parts between dots compare as numbers when
// both are digits (so 1.10 is above 1.9), a number is below any other
// text, other texts compare byte by byte, and a missing or empty part is 0
// (1.2 equals 1.2.0).  Negative, zero or positive, as strcmp.
int CompareVersions(const std::string& a, const std::string& b);

// Whether firmware MAJOR.MINOR can check dependencies: on a modular system
// from major 2 and minor 20, on a monolithic one from major 1 and minor
// 30, the two numbers compared separately (the library's own rule).
bool DependencyCheckSupported(long major, long minor, bool monolithic);

// One device of the current records.
struct InventoryDevice {
    std::string componentId;
    std::string display;
    std::string type;     // componentType of its Application
    std::string version;  // version of its Application
    // PCI identity (four-digit lower-case hex), empty for other devices.
    std::string vendorId, deviceId, subVendorId, subDeviceId;
};

// What a new controller holds: its own firmware (version FIRMWARE), the
// system BIOS, every present power supply and one network adapter.
std::vector<InventoryDevice> SeededDevices(const std::string& firmware, const std::vector<PowerSupply>& supplies);

// Writes a fresh inventory log holding DEVICES (each recorded as added at
// time 0, and one event for the collection).
bool SeedInventory(const std::string& dir, const std::vector<InventoryDevice>& devices, std::string& error);

// What applying the firmware of a package descriptor to the inventory
// finds or did.
struct FirmwareChange {
    enum Outcome { kNotADescriptor, kNoVersion, kNoDevice, kApplied };
    Outcome outcome = kNotADescriptor;
    std::string version;        // the descriptor's vendorVersion
    // The descriptor's rebootRequired ("true"/"false") on its root, else
    // true for a ComponentType of BIOS only.
    bool rebootRequired = false;
    std::string summary;        // "159 (System BIOS) 1.4.2 to 1.7.0", one item per device
};

class Inventory {
public:
    enum Kind { kCurrent, kHistory, kEvents };

    // The log of a state directory at virtual time NOW.
    Inventory(const std::string& dir, unsigned long now);
    ~Inventory();
    Inventory(const Inventory&) = delete;
    Inventory& operator=(const Inventory&) = delete;

    // False when a file is missing or is not an inventory document.
    bool Load();
    bool Save() const;

    // The records of KIND as the answer document the controller writes.
    std::string Document(Kind kind) const;
    // Number of records of KIND.
    std::size_t Count(Kind kind) const;

    // A records document (<Records> with Device elements) that update
    // modes take; false when RECORDS is not one.
    static bool ValidRecords(const std::string& records);
    // Adds or replaces (by componentID) the devices of RECORDS, or with
    // ENTIRE makes them the whole inventory.  Every change goes to the
    // history, a summary to the events; false when RECORDS is not valid.
    bool Apply(const std::string& records, bool entire, const std::string& mode);

    // Evaluates the rules of the package descriptor DESCRIPTOR: its answer
    // document, PASSED set when it carries status 0.
    std::string CheckDependencies(const std::string& descriptor, bool& passed);

    // Sets the firmware version of every device of the current records that
    // a supported device of DESCRIPTOR matches (of component ONLYCOMPONENT
    // alone when it is not empty) to the descriptor's vendorVersion; each
    // change goes to the history (action "updated", by BY).  With APPLY
    // false nothing changes and the summary tells what would.
    FirmwareChange UpdateFirmware(const std::string& descriptor, const std::string& onlyComponent,
                                  const std::string& by, bool apply);

    void AddEvent(const std::string& action, const std::string& text);

private:
    xmlNodePtr root(Kind kind) const;
    void addChange(const std::string& action, xmlNodePtr before, xmlNodePtr after, const std::string& mode);

    std::string dir_;
    unsigned long now_;
    xmlDocPtr docs_[3] = {nullptr, nullptr, nullptr};
};

}  // namespace zemt_emu

#endif
