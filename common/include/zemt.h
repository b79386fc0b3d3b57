/* SPDX-License-Identifier: Apache-2.0 */
#ifndef ZEMT_H
#define ZEMT_H

#include <stdint.h>

#include <fstream>
#include <string>

#include "kaver_ipmi.h"
#include "zemt_error.h"
#include "zemt_export.h"

// ---- shared numeric constants ---------------------------------------------
const int IPMI_HDRSIZE = 2;
const uint8_t KAVER_BMC_ADD = 0x20;
const uint8_t KAVER_NETFUN_LUN = 0xC0;
const uint8_t KAVER_IPMI_OEM_CMD = 0xA2;
const int ZEMT_MAXPOLLCNT = 3000;
const int KAVER_POLL_TIMEOUT = 500;
const uint16_t KAVER_SESSION_TIMEOUT = 1200;
const int IPMI_TIMEOUT = 90;
const uint32_t DYNCHUNK_SZ = 0x8000;
const uint32_t MAXCHUNK_SZ = 0x80000000u;
const uint32_t ONE_K = 1024;
const uint32_t ONE_MEG = 1048576;
const uint32_t TWO_MEG = 2097152;
const uint16_t emptyBitMap = 0;
const int ENOERROR = 0;
const int MAX_STAT_COUNT = 120;
const uint32_t MAXBSIZE = 26214400;
const int UMOUNT_WAIT_TIME = 7;
const int MAXPATH_LEN = 360;
const int maxPartitions = 257;
const int dynPartSlot = 0;
const int MaxPartInfoEntry = 257;
const uint8_t FLOPPY = 0;
const uint8_t RESERVED = 0x20;
const uint8_t USB_KEY = 0x40;
const uint8_t READONLY = 0;
const uint8_t READWRITE = 0x08;
const uint8_t staticPartType = 0;
const uint8_t dynamicPartType = 0x80;

// ---- controller completion codes (byte 2 of an answer) ----------------------
const uint8_t KAVER_SUCCESS = 0;
const uint8_t KAVER_FAILURE = 1;
const uint8_t KAVER_PENDING = 2;
const uint8_t KAVER_INVALID = 3;
const uint8_t KAVER_OVERFLOW = 4;
const uint8_t KAVER_DISABLED = 5;
const uint8_t KAVER_BMAP_IMAGE_INVALID = 6;
const uint8_t KAVER_SESSION_IN_PROGRESS = 7;
const uint8_t KAVER_PARTITIONS_ATTACHED = 8;
const uint8_t KAVER_INPROCESS = 0xFF;

// ---- request/response lengths of the OEM commands ---------------------------
// Each counts the whole buffer, NetFn/LUN and command bytes included.
const uint16_t BEGINKAVERSESS_REQLEN = 8;
const uint16_t BEGINKAVERSESS_RSPLEN = 9;
const uint16_t ENDKAVERSESS_REQLEN = 7;
const uint16_t ENDKAVERSESS_RSPLEN = 5;
const uint16_t KAVERSESSWDOG_REQLEN = 7;
const uint16_t KAVERSESSWDOG_RSPLEN = 7;
const uint16_t GETPARTINDEX_REQLEN = 7;
const uint16_t GETPARTINDEX_RSPLEN = 13;
const uint16_t GETPARTINFO_REQLEN = 9;
const uint16_t GETPARTINFO_RSPLEN = 14;
const uint16_t ATTACHPART_REQLEN = 13;
const uint16_t ATTACHPART_RSPLEN = 7;
const uint16_t DETACHPART_REQLEN = 13;
const uint16_t DETACHPART_RSPLEN = 7;
const uint16_t CREATEDYNPART_REQLEN = 14;
const uint16_t CREATEDYNPART_RSPLEN = 9;
const uint16_t DELETEDYNPART_REQLEN = 11;
const uint16_t DELETEDYNPART_RSPLEN = 7;
const uint16_t DETACHDYNPART_REQLEN = 11;
const uint16_t DETACHDYNPART_RSPLEN = 7;
const uint16_t UPDATEHASHHDR_REQLEN = 13;
const uint16_t UPDATEHASHHDR_RSPLEN = 7;
const uint16_t SECKAVERUP_HASHDATA_REQLEN = 17;
const uint16_t SECKAVERUP_HASHDATA_RSPLEN = 7;
const uint16_t GETKAVERSTATUS_REQLEN = 8;
const uint16_t GETKAVERSTATUS_RSPLEN = 7;
const uint16_t CMDREGSSIBTASK1_REQLEN = 8;
const uint16_t CMDREGSSIBTASK1_RSPLEN = 7;
const uint16_t CMDREGSSIBTASK2_REQLEN = 17;
const uint16_t CMDREGSSIBTASK2_RSPLEN = 7;
const uint16_t GETFLAGSTATUS_REQLEN = 8;
const uint16_t GETFLAGSTATUS_RSPLEN = 8;
const uint16_t SETFLAGSTATUS_REQLEN = 7;
const uint16_t SETFLAGSTATUS_RSPLEN = 7;
const uint16_t STAGEANDUPDATE_REQLEN = 7;
const uint16_t STAGEANDUPDATE_RSPLEN = 8;
const uint16_t GETKAVERTYPE_REQLEN = 4;
const uint16_t GETKAVERTYPE_RSPLEN = 6;
const uint16_t GETKAVERACCESSSTATE_REQLEN = 4;
const uint16_t GETKAVERACCESSSTATE_RSPLEN = 6;
const uint16_t SETKAVERACCESSSTATE_REQLEN = 6;
const uint16_t SETKAVERACCESSSTATE_RSPLEN = 5;
const uint16_t QUERYRQL_REQLEN = 7;
const uint16_t QUERYRQL_RSPLEN = 7;
const uint16_t GETPMSTATUS_REQLEN = 8;
const uint16_t GETPMSTATUS_RSPLEN = 34;
const uint16_t RESEXTCFG_REQLEN = 5;
const uint16_t RESEXTCFG_RSPLEN = 7;
const uint16_t SETEXTCFG_REQLEN = 17;
const uint16_t SETEXTCFG_RSPLEN = 7;
const uint16_t GETIVELDVER_REQLEN = 3;
const uint16_t GETIVELDVER_RSPLEN = 23;

// ---- host OS codes --------------------------------------------------------
const int REDHAT = 0;
const int SUSE = 1;
const int XENSERVER = 4;
const int ELI = 5;
const int ESX = 6;
const int ESX4 = 8;
const int ELI_NEW = 9;
const int ESX4_1 = 11;
const int CENTOS = 12;

// ---- enumerations ---------------------------------------------------------
typedef enum {
    eSuccess = 0,
    objectInitializationFailed = 1,
    newSessionFailed = 2,
    noDestinationFile = 3,
    noSourceFile = 4,
    SrcFileMissing = 5,
    addOrderError = 6,
    eLastEc = 7
} sessionEc_t;

typedef enum {
    Failure = -1,
    PreVemo = 0,
    VemoGen = 1,
    SarnGen = 2
} systemGeneration_t;

enum ekaverSupport {
    noKaverPresent = 0,
    fullKaverPresent = 1,
    KaverLite = 2,
    Liter = 3
};
typedef ekaverSupport kaverSupport_t;

typedef uint16_t kaverTime_t;

struct errorInfoStr {
    uint8_t lastErr;
    uint8_t errSubcode;
};

struct sessionHandle {
    uint16_t KAVER_Handle;
    uint16_t DYNKAVER_Handle;
    bool sessionActive;
    uint16_t statBitMap;
    uint16_t dynBitMap;
    kaverTime_t wdTimeOut;
};

// ---- process-wide globals (exported; callers may read or replace them) ----
extern ZEMT_API std::ofstream LogFile;
extern ZEMT_API const char* LogFilePath;
extern ZEMT_API bool DebugLog;
extern ZEMT_API bool BenchFlag;
extern ZEMT_API systemGeneration_t GenerationType;
extern ZEMT_API const char* updInvFileName;
extern ZEMT_API const char* curInvFileName;
extern ZEMT_API const char* updFileName;
extern ZEMT_API const char* dynDriveName;
extern ZEMT_API char* RecordSep;
extern ZEMT_API char* copyCmd;
extern ZEMT_API char* mkdirCmd;
extern ZEMT_API char* SessionID;
extern ZEMT_API char* cfgFilePath;
extern ZEMT_API uint16_t dynHandleIdx;

// Host release files and the udev rules directory.
extern ZEMT_API const char* ESXRel;
extern ZEMT_API const char* RedHatRel;
extern ZEMT_API const char* SuseRel;
extern ZEMT_API const char* QEVRel;
extern ZEMT_API const char* WYRRel;
extern ZEMT_API const char* NewWYRRel;
extern ZEMT_API const char* RHatUdevLibDir;

// Where partitions are mounted and linked, and the sysfs list of sg devices.
extern ZEMT_API const char* RHatPartDir;
extern ZEMT_API const char* StatSecKavDev;
extern ZEMT_API const char* sysfs_sg_dir;

// The hardware-access library and its command entry point.
extern ZEMT_API void* zolipmiLib;
extern ZEMT_API FPROCZOLIPMCOMMAND pfnCommandWithoutRetry;
extern ZEMT_API const char* TREN_IPMILIB;

// ---- free helpers -----------------------------------------------------------
ZEMT_API void logKaverMsg(const char* sourceFile, unsigned int line, const std::string& message);
ZEMT_API std::string getFileName(const std::string& path);
ZEMT_API int Ascii2Hex(const std::string& text);

// Every debug-log line names the source file and line that wrote it; with
// the log off the message is not even built.
#define KAVER_LOG(msg)                                      \
    do {                                                    \
        if (DebugLog) logKaverMsg(__FILE__, __LINE__, (msg)); \
    } while (0)

#endif
