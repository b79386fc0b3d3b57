// zemt flag get|set: the controller's boot-state flag.
#include <CLI/CLI.hpp>
#include <iostream>
#include <string>

#include "Tool.h"
#include "secureKaver.h"
#include "zemt_emulator/State.h"

namespace zemt_tool {

namespace {

int runFlag(bool set, uint8_t value) {
    Problem failure;
    uint8_t flag = value;
    if (prepareHost(failure)) {
        secureKaver kaver;
        if (!kaver.InitOk) {
            failure.set("the library could not start", kaver.getZEMTError());
        } else if (!openSession(kaver)) {
            failure.set("the controller refused a session", kaver.getZEMTError());
        } else {
            if (set && kaver.setStateFlag(value) != 0)
                failure.set("the controller refused the state flag", kaver.getZEMTError());
            else if (!set && kaver.getStateFlag(flag) != 0)
                failure.set("the controller did not report the state flag", kaver.getZEMTError());
            if (!kaver.EndKaverSession() && !failure.failed())
                failure.set("the session could not be closed", kaver.getZEMTError());
        }
    }
    Json fields{{"operation", set ? "set" : "get"},
                {"value", failure.failed() ? Json(nullptr) : Json(flag)},
                {"name", failure.failed() ? Json(nullptr) : Json(flagName(flag))}};
    return report(fields, failure, [&]() {
        if (!failure.failed())
            std::cout << "State flag: " << static_cast<unsigned>(flag) << " (" << flagName(flag) << ")"
                      << (set ? " set" : "") << "\n";
    });
}

}  // namespace

void addFlagCommand(CLI::App& root, CommandTable& table) {
    CLI::App* flag = addCommand(root, table,
                                {"flag", "read or write the controller's boot-state flag", nullptr,
                                 "zemt --emulator /tmp/ctl flag get\nzemt --emulator /tmp/ctl flag set 0x80", false},
                                nullptr);
    flag->require_subcommand(1);
    addCommand(*flag, table,
               {"get", "print the boot-state flag", nullptr, "zemt --emulator /tmp/ctl flag get --json", true},
               []() { return runFlag(false, 0); });
    static std::string value;
    CLI::App* set = addCommand(
        *flag, table,
        {"set", "write the boot-state flag",
         "VALUE is a byte: 0 normal boot, 1 GUI, 4 field service, 5 SSM, 0x80 override (decimal or 0x hex).",
         "zemt --emulator /tmp/ctl flag set 4", true},
        []() {
            long number = 0;
            if (!zemt_emu::ParseNumber(value, number) || number < 0 || number > 0xFF)
                return usageError("flag value '" + value + "' is not a byte (0-255 or 0x00-0xff)");
            return runFlag(true, static_cast<uint8_t>(number));
        });
    set->add_option("VALUE", value, "the new flag")->required();
}

}  // namespace zemt_tool
