// zemt flag get|set: the controller's boot-state flag.
#include <iostream>
#include <string>
#include <vector>

#include "Json.h"
#include "Tool.h"
#include "secureKaver.h"
#include "zemt_emulator/State.h"

namespace zemt_tool {

int cmdFlag(const std::vector<std::string>& args) {
    bool json = false;
    std::vector<std::string> words;
    for (const std::string& arg : args) {
        if (arg == "--json")
            json = true;
        else
            words.push_back(arg);
    }
    bool set = !words.empty() && words[0] == "set";
    if (words.empty() || (words[0] != "get" && !set) || (set && words.size() != 2) ||
        (!set && words.size() != 1))
        return usageError("flag wants 'get' or 'set VALUE'");
    long value = 0;
    if (set && (!zemt_emu::ParseNumber(words[1], value) || value < 0 || value > 0xFF))
        return usageError("flag value '" + words[1] + "' is not a byte (0-255 or 0x00-0xff)");

    secureKaver kaver;
    std::string failure;
    unsigned code = 0;
    uint8_t flag = 0;
    if (!kaver.InitOk) {
        code = kaver.getZEMTError();
        failure = "the library could not start";
    } else if (!openSession(kaver)) {
        code = kaver.getZEMTError();
        failure = "the controller refused a session";
    } else {
        if (set) {
            if (kaver.setStateFlag(static_cast<uint8_t>(value)) != 0) {
                code = kaver.getZEMTError();
                failure = "the controller refused the state flag";
            }
            flag = static_cast<uint8_t>(value);
        } else if (kaver.getStateFlag(flag) != 0) {
            code = kaver.getZEMTError();
            failure = "the controller did not report the state flag";
        }
        if (!kaver.EndKaverSession() && failure.empty()) {
            code = kaver.getZEMTError();
            failure = "the session could not be closed";
        }
    }

    if (json) {
        JsonWriter j;
        j.BeginObject();
        j.Key("ok");
        j.Bool(failure.empty());
        j.Key("operation");
        j.String(set ? "set" : "get");
        if (failure.empty()) {
            j.Key("value");
            j.Number(flag);
            j.Key("name");
            j.String(flagName(flag));
        } else {
            j.Key("error");
            j.BeginObject();
            j.Key("code");
            j.Number(code);
            j.Key("name");
            j.String(errorName(code));
            j.Key("message");
            j.String(failure);
            j.EndObject();
        }
        j.EndObject();
        std::cout << j.Text() << "\n";
    } else if (failure.empty()) {
        std::cout << "State flag: " << static_cast<unsigned>(flag) << " (" << flagName(flag) << ")"
                  << (set ? " set" : "") << "\n";
    }
    if (!failure.empty()) {
        std::cerr << "zemt: flag " << (set ? "set" : "get") << " failed: " << failure << ", error "
                  << errorText(code) << "\n";
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace zemt_tool
