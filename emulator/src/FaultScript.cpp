// SPDX-License-Identifier: Apache-2.0
#include "zemt_emulator/FaultScript.h"

#include <fstream>
#include <sstream>

#include "zemt_emulator/State.h"

namespace zemt_emu {
namespace {

bool parseByte(const std::string& text, int& out) {
    long value = 0;
    if (!ParseNumber(text, value) || value < 0 || value > 0xFF) return false;
    out = static_cast<int>(value);
    return true;
}

bool parseSelector(const std::string& text, Fault& fault, std::string& error) {
    std::string rest = text;
    std::string::size_type colon = rest.find(':');
    if (colon != std::string::npos) {
        if (!parseByte(rest.substr(0, colon), fault.netFn)) {
            error = "bad NetFn byte in '" + text + "'";
            return false;
        }
        rest = rest.substr(colon + 1);
    }
    std::string::size_type slash = rest.find('/');
    std::string cmd = slash == std::string::npos ? rest : rest.substr(0, slash);
    if (!parseByte(cmd, fault.cmd)) {
        error = "bad command byte in '" + text + "'";
        return false;
    }
    if (slash != std::string::npos && !parseByte(rest.substr(slash + 1), fault.sub)) {
        error = "bad sub-command byte in '" + text + "'";
        return false;
    }
    return true;
}

}  // namespace

bool Fault::Matches(const unsigned char* request, std::size_t length) const {
    if (target != kCommand || length < 2) return false;
    if (request[0] != netFn || request[1] != cmd) return false;
    if (sub >= 0 && (length < 3 || request[2] != sub)) return false;
    return true;
}

bool ParseFaultLine(const std::string& line, Fault& fault, std::string& error) {
    error.clear();
    fault = Fault();
    std::istringstream words(line);
    std::string word;
    if (!(words >> word) || word[0] == '#') return false;

    fault.text = line;
    if (word == "sysinfo") {
        fault.target = Fault::kSysInfo;
    } else if (word == "disk") {
        fault.target = Fault::kDisk;
    } else if (word == "process") {
        fault.target = Fault::kProcess;
    } else if (word == "stage") {
        fault.target = Fault::kStage;
    } else if (word.compare(0, 5, "host=") == 0) {
        fault.target = Fault::kHost;
        fault.program = word.substr(5);
        if (fault.program.empty()) {
            error = "host= wants a command name (mount, umount, mkdir, ln, ...)";
            return false;
        }
    } else if (word.compare(0, 4, "cmd=") == 0) {
        if (!parseSelector(word.substr(4), fault, error)) return false;
    } else {
        error = "a fault line starts with cmd=..., sysinfo, host=..., disk, process or stage, not '" + word + "'";
        return false;
    }

    bool hasAction = false;
    bool hasFinal = false;
    while (words >> word) {
        if (word[0] == '#') break;
        std::string::size_type eq = word.find('=');
        if (eq == std::string::npos) {
            error = "expected key=value, got '" + word + "'";
            return false;
        }
        std::string key = word.substr(0, eq);
        std::string value = word.substr(eq + 1);
        long number = 0;
        bool numeric = ParseNumber(value, number);
        if (key == "times") {
            if (value == "always") {
                fault.times = -1;
            } else if (!numeric || number < 1) {
                error = "times wants a count of at least 1 or 'always'";
                return false;
            } else {
                fault.times = number;
            }
        } else if (key == "after") {
            if (!numeric || number < 0) {
                error = "after wants a count";
                return false;
            }
            fault.after = number;
        } else if (key == "status" && fault.target != Fault::kStage) {
            if (!numeric) {
                error = "status wants a number";
                return false;
            }
            fault.hasStatus = true;
            fault.status = static_cast<int>(number);
            hasAction = true;
        } else if (fault.target == Fault::kHost && (key == "match" || key == "exit")) {
            if (key == "match") {
                fault.match = value;
            } else if (!numeric || number < 1 || number > 255) {
                error = "exit wants a failing exit status (1-255)";
                return false;
            } else {
                fault.exitStatus = static_cast<int>(number);
                hasAction = true;
            }
        } else if (fault.target == Fault::kHost) {
            error = "host= takes match=, exit=, after= and times=, not '" + key + "'";
            return false;
        } else if (fault.target == Fault::kDisk && (key == "label" || key == "appear")) {
            if (key == "label") {
                fault.label = value;
            } else if (value == "never") {
                fault.appear = -1;
                hasAction = true;
            } else if (!numeric || number < 0) {
                error = "appear wants a scan count or 'never'";
                return false;
            } else {
                fault.appear = number;
                hasAction = true;
            }
        } else if (fault.target == Fault::kDisk) {
            error = "disk takes label=, appear=, after= and times=, not '" + key + "'";
            return false;
        } else if (fault.target == Fault::kProcess && (key == "effect" || key == "polls")) {
            if (key == "polls") {
                if (!numeric || number < 0) {
                    error = "polls wants a count";
                    return false;
                }
                fault.polls = number;
            } else if (value == "corrupt" || value == "full" || value == "refuse" || value == "unparsable" ||
                       value == "polls" || value == "no-answer" || value == "empty-answer" ||
                       value == "malformed-answer" || value == "oversized-answer") {
                fault.effect = value;
                hasAction = true;
            } else {
                error = "effect is corrupt, full, refuse, unparsable, polls, no-answer, empty-answer, "
                        "malformed-answer or oversized-answer";
                return false;
            }
        } else if (fault.target == Fault::kProcess) {
            error = "process takes effect=, polls=, after= and times=, not '" + key + "'";
            return false;
        } else if (fault.target == Fault::kStage && (key == "start" || key == "status")) {
            int answer = 0;
            if (!parseByte(value, answer) || fault.stageStart >= 0 || fault.stageStatus >= 0) {
                error = "stage takes one of start= and status=, with an answer byte";
                return false;
            }
            (key == "start" ? fault.stageStart : fault.stageStatus) = answer;
            hasAction = true;
        } else if (fault.target == Fault::kStage) {
            error = "stage takes start= or status=, after= and times=, not '" + key + "'";
            return false;
        } else if (key == "buffer" && fault.target == Fault::kSysInfo) {
            if (value != "null") {
                error = "buffer only takes the value null";
                return false;
            }
            fault.nullBuffer = true;
            hasAction = true;
        } else if (fault.target == Fault::kSysInfo) {
            error = "sysinfo takes status=, buffer=null, after= and times=, not '" + key + "'";
            return false;
        } else if (key == "completion") {
            if (!numeric || number < 0 || number > 0xFF) {
                error = "completion wants a byte";
                return false;
            }
            fault.completion = static_cast<int>(number);
            hasAction = true;
        } else if (key == "tren_result") {
            if (!numeric || number != 0) {
                error = "tren_result only takes 0 (the exchange did not happen)";
                return false;
            }
            fault.trenFails = true;
            hasAction = true;
        } else if (key == "pending") {
            if (!numeric || number < 0) {
                error = "pending wants a poll count";
                return false;
            }
            fault.pending = static_cast<int>(number);
            hasAction = true;
        } else if (key == "final") {
            if (!numeric || number < 0 || number > 0xFF) {
                error = "final wants a status byte";
                return false;
            }
            fault.finalStatus = static_cast<int>(number);
            hasFinal = true;
        } else {
            error = "unknown key '" + key + "'";
            return false;
        }
    }
    if (!hasAction) {
        error = "the line names no action";
        return false;
    }
    if (hasFinal && fault.pending < 0) {
        error = "final= goes with pending=";
        return false;
    }
    if (fault.pending >= 0 && fault.cmd != 0xA2) {
        error = "pending= applies to sub-commands of 0xA2 only (they are polled)";
        return false;
    }
    return true;
}

int FireHostFault(const std::string& dir, const std::string& program, const std::string& line) {
    std::vector<Fault> faults = LoadFaults(JoinPath(dir, files::kFaults));
    bool any = false;
    for (const Fault& f : faults) any = any || f.target == Fault::kHost;
    if (!any) return -1;
    StateLock lock(dir);
    KeyValueFile state;
    std::string path = JoinPath(dir, files::kControllerState);
    state.Load(path);
    int chosen = -1;
    for (const Fault& f : faults) {
        if (f.target != Fault::kHost || f.program != program) continue;
        if (!f.match.empty() && line.find(f.match) == std::string::npos) continue;
        std::string seenKey = "fault." + std::to_string(f.lineNumber) + ".seen";
        long seen = state.GetInt(seenKey, 0) + 1;
        state.SetInt(seenKey, seen);
        bool inWindow = seen > f.after && (f.times < 0 || seen <= f.after + f.times);
        if (chosen < 0 && inWindow) chosen = f.exitStatus;
    }
    state.Save(path);
    return chosen;
}

std::vector<Fault> LoadFaults(const std::string& path) {
    std::vector<Fault> faults;
    std::ifstream in(path.c_str());
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        Fault fault;
        std::string error;
        if (ParseFaultLine(line, fault, error)) {
            fault.lineNumber = number;
            faults.push_back(fault);
        }
    }
    return faults;
}

}  // namespace zemt_emu
