// SPDX-License-Identifier: Apache-2.0
// Process-wide globals with their defaults; callers may read or replace them.
#include "secureKaver.h"

std::ofstream LogFile;
const char* LogFilePath = "ZEMT_DBG.log";
bool DebugLog = false;
bool BenchFlag = false;
systemGeneration_t GenerationType = Failure;
const char* updInvFileName = "input.xml";
const char* curInvFileName = "output.xml";
const char* updFileName = "update.xml";
const char* dynDriveName = "SECUPD";

// The char* globals are writable slots by contract, so they point at
// writable storage rather than at string literals.
static char recordSepText[] = "/";
static char copyCmdText[] = "/bin/cp";
static char mkdirCmdText[] = "mkdir -p";
static char sessionIdText[] = "lastSessionId";
char* RecordSep = recordSepText;
char* copyCmd = copyCmdText;
char* mkdirCmd = mkdirCmdText;
char* SessionID = sessionIdText;
char* cfgFilePath = nullptr;
uint16_t dynHandleIdx = 0;

const char* ESXRel = "/etc/vmware-release";
const char* RedHatRel = "/etc/redhat-release";
const char* SuseRel = "/etc/SuSE-release";
const char* QEVRel = "/VERSION";
const char* WYRRel = "/VER_INFO";
const char* NewWYRRel = "/qev-version";
const char* RHatUdevLibDir = "/etc/udev/rules.d/";
const char* RHatPartDir = "/tmp/";
const char* StatSecKavDev = "/dev/seckavupd-";
const char* sysfs_sg_dir = "/sys/class/scsi_generic";

EsmIPMICmdIoctlReq IPMIReqBuf;
