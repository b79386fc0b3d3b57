/* SPDX-License-Identifier: Apache-2.0 */
// Fault script: scripted misbehaviour of the emulated controller.
//
//   cmd=[NETFN:]CMD[/SUB] ACTION... [after=K] [times=N|always]
//   sysinfo (status=N | buffer=null) [after=K] [times=N|always]
//   host=NAME [match=TEXT] exit=N [after=K] [times=N|always]
//   disk [label=LABEL] appear=N|never [after=K] [times=N|always]
//   process effect=corrupt|full|refuse|unparsable|polls|no-answer|empty-answer|malformed-answer|oversized-answer
//           [polls=N] [after=K] [times=N|always]
//   stage start=N|status=N [after=K] [times=N|always]
//
// NETFN is request byte 0 (default 0xC0, the OEM NetFn), CMD byte 1 and SUB
// byte 2.  Actions on a command: completion=CC, status=S (transport status),
// tren_result=0 (the command function reports no exchange), pending=N
// [final=S] (sub-commands of 0xA2 only).  See emulator/README.md.
#ifndef ZEMT_EMULATOR_FAULTSCRIPT_H
#define ZEMT_EMULATOR_FAULTSCRIPT_H

#include <string>
#include <vector>

namespace zemt_emu {

struct Fault {
    enum Target { kCommand, kSysInfo, kHost, kDisk, kProcess, kStage };
    Target target = kCommand;

    // Selector (commands only).
    int netFn = 0xC0;
    int cmd = -1;
    int sub = -1;  // -1: any byte 2

    // Actions; a field not given keeps its "unset" value.
    int completion = -1;   // answer this completion code
    bool hasStatus = false;
    int status = 0;        // transport status (command) or status out-value (sysinfo)
    bool trenFails = false;  // ZOLIPMCommand returns 0
    int pending = -1;      // polls that report "still pending"
    int finalStatus = 0;   // status reported after the pending polls
    bool nullBuffer = false;  // sysinfo: return no buffer

    // Host commands: the program's base name, a text the command line must
    // hold, and the exit status it fails with (it does nothing else).
    std::string program;
    std::string match;
    int exitStatus = -1;
    // Disks: the partition label (empty: any) and the scans before the disk
    // shows up (-1: never).
    std::string label;
    long appear = 0;
    // Processing of a drop box (the fourth hash part or the secure-update
    // process step): what goes wrong (the *-answer effects spoil the answer
    // document of an inventory query or dependency check), and polls that
    // report pending first.
    std::string effect;
    long polls = 0;
    // Stage-and-update: the answer byte a start request (operation 2 or 4)
    // or a status poll (operation 8) gives instead of the controller's own.
    int stageStart = -1;
    int stageStatus = -1;

    long after = 0;        // let this many matching requests pass first
    long times = 1;        // then fire this many times; -1 = always

    int lineNumber = 0;    // 1-based line in the fault file
    std::string text;

    bool Matches(const unsigned char* request, std::size_t length) const;
    bool MatchesSysInfo() const { return target == kSysInfo; }
};

// Parses one line.  Blank and comment lines give false with an empty error.
// Counts a host command against the host= lines of the state directory's
// fault script (in controller.state, under the state lock) and returns the
// exit status the first firing line asks for, or -1.
int FireHostFault(const std::string& dir, const std::string& program, const std::string& line);

bool ParseFaultLine(const std::string& line, Fault& fault, std::string& error);

// Every fault of a fault file, in order; lines that do not parse are skipped
// (they were checked when appended through AppendFault).
std::vector<Fault> LoadFaults(const std::string& path);

}  // namespace zemt_emu

#endif
