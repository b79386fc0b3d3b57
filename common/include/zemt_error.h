/* SPDX-License-Identifier: Apache-2.0 */
#ifndef ZEMT_ERROR_H
#define ZEMT_ERROR_H

#include <stdint.h>

#include "zemt_export.h"

// Library error codes, kept in errorInfo.lastErr and returned by
// getZEMTError().  Code 10 is not assigned.
enum : uint8_t {
    ZEMT_OK_CODE = 0,
    ZEMT_IPMIERROR = 1,
    ZEMT_NOKAVERSESS = 2,
    ZEMT_INVKAVERPART = 3,
    ZEMT_PARTSIZESMALL = 4,
    ZEMT_GETSESSFAIL = 5,
    ZEMT_NOSRCFILE = 6,
    ZEMT_NODESTFILE = 7,
    ZEMT_SRCFILEMISSING = 8,
    ZEMT_ADDORDERERROR = 9,
    ZEMT_DIRISEMPTY = 11,
    ZEMT_EWRONGORDER = 12,
    ZEMT_HASHMISMATCH = 13,
    ZEMT_NODYNPRESENT = 14,
    ZEMT_INSTIPMIERROR = 15,
    ZEMT_TRENNOTPRES = 16,
    ZEMT_NOINSTANCE = 17,
    ZEMT_NOSUCHREQUEST = 18,
    ZEMT_INVPARTNAME = 19,
    ZEMT_NOKAVERPRESENT = 20,
    ZEMT_KAVERDISABLED = 21,
    ZEMT_DYNPARTERR = 22,
    ZEMT_DETACHFAILED = 23,
    ZEMT_SMCFAILED = 24,
    ZEMT_DELETEDROPBOXERR = 25,
    ZEMT_READWRITEERR = 26,
    ZEMT_FINDMOUNTERR = 27,
    ZEMT_CMDTIMEDOUT = 28,
    ZEMT_SESSIONACTIVE = 29,
    ZEMT_ENDSESSERR = 30,
    ZEMT_INTERROR = 31,
    ZEMT_INVRQLREQ = 32,
    ZEMT_NOFILEFOUND = 33,
    ZEMT_GETSTATFAIL = 34,
    ZEMT_DYNPARTEXISTS = 35,
    ZEMT_SIZEGT2GB = 36,
    ZEMT_ATTACHPARTFAIL = 37,
    ZEMT_NOSPACEONKAVER = 38,
    ZEMT_GOTNOHANDLE = 39,
    ZEMT_PARTNOTMOUNTED = 40,
    ZEMT_FINDVOLFAILED = 41,
    ZEMT_GETVOLINFO = 42,
    ZEMT_FINDNEXTVOL = 43,
    ZEMT_DELDYNPARTERR = 44,
    ZEMT_GKAVFAILED = 45,
    ZEMT_TRENINSTALLERROR = 46,
    ZEMT_COPYVERIFYFAIL = 47,
    ZEMT_GETSTATEERROR = 48,
    ZEMT_SETSTATEERROR = 49,
    ZEMT_RESEXTCFG = 50,
    ZEMT_SETEXTCFG = 51,
    ZEMT_UNSUPPORTEDOS = 52,
    ZEMT_PACKAGEXMLERROR = 53,
    ZEMT_INVALID_QUERY = 54,
    ZEMT_KAVER_DISABLED = 55,
    ZEMT_ESX_USBARBITRATOR_SERVICE_RUNNING = 56,
    ZEMT_SIGNFILEMISSING = 57,
    ZEMT_PACKAGEXMLMISSING = 58,
    ZEMT_PAYLOADSIZEGTMAX = 59,
    ZEMT_BEGIN_SECUREUPDATE_FAILED = 60,
    ZEMT_PROCESS_SECUREUPDATE_FAILED = 61,
    ZEMT_END_SECUREUPDATE_FAILED = 62,
    ZEMT_GETSESSFAIL_Vemo = 63,
    ZEMT_CREATE_DYN_PART_FAILED = 64,
    ZEMT_MAX_THROW_MSG = 254
};

// Why the last failed operation failed, in words, for people: where the
// failure happened (a command with its exit status, a file, a refused
// controller request), with the context of each step in front ("pass #2:
// copying fw.bin to KAV022/fw/fw.bin: /bin/cp exited 1").  Empty when
// nothing was recorded.  Each long operation (initialisation, a copy
// list's completion, an inventory exchange) clears it when it starts.
// Process-wide, like the library's other state; the text stays valid until
// the next library call.  The error codes stay the authoritative result.
#ifdef __cplusplus
extern "C" {
#endif
ZEMT_API const char* zemtLastFailureReason(void);
#ifdef __cplusplus
}
#endif

#endif
