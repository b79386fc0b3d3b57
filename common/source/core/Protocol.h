/* SPDX-License-Identifier: Apache-2.0 */
// The controller's repository protocol as the library speaks it, in one
// place: every sub-command of the OEM session command (0xA2) with the name
// the debug log gives it and the request and response lengths it is sent
// with, the other OEM commands the library sends, and the controller's
// completion codes.  Every request takes its number and lengths from here;
// the lengths are the public *_REQLEN / *_RSPLEN constants of zemt.h.
//
// The emulator's route table and the tests' literal bytes do not use this
// header on purpose: they check it.
#ifndef ZEMT_CORE_PROTOCOL_H
#define ZEMT_CORE_PROTOCOL_H

#include <stdint.h>

#include "secureKaver.h"

namespace protocol {

// One form of a sub-command: its number, its name and the lengths of its
// requests.  Sub-commands that TREN sends itself, or that the library
// never sends, have no lengths.
struct SubCommand {
    uint8_t number;
    const char* name;
    uint16_t reqLen;
    uint16_t rspLen;
};

constexpr SubCommand kBeginSession = {0, "BeginKAVERSession", BEGINKAVERSESS_REQLEN, BEGINKAVERSESS_RSPLEN};
constexpr SubCommand kEndSession = {1, "EndKAVERSession", ENDKAVERSESS_REQLEN, ENDKAVERSESS_RSPLEN};
constexpr SubCommand kResetSessionWatchdog = {2, "ResetKAVERSessionWD", KAVERSESSWDOG_REQLEN, KAVERSESSWDOG_RSPLEN};
constexpr SubCommand kGetPartitionIndexInfo = {3, "Getpartitionindexinfo", GETPARTINDEX_REQLEN, GETPARTINDEX_RSPLEN};
constexpr SubCommand kGetPartitionInfo = {4, "GetPartitionInfo", GETPARTINFO_REQLEN, GETPARTINFO_RSPLEN};
constexpr SubCommand kAttachPartitions = {5, "AttachPartitions", ATTACHPART_REQLEN, ATTACHPART_RSPLEN};
constexpr SubCommand kDetachPartitions = {6, "DetachPartitions", DETACHPART_REQLEN, DETACHPART_RSPLEN};
constexpr SubCommand kCreateDynamicPartition = {7, "CreateDynamicPartition", CREATEDYNPART_REQLEN,
                                                CREATEDYNPART_RSPLEN};
constexpr SubCommand kDeleteDynamicPartition = {8, "DeleteDynamicPartition", DELETEDYNPART_REQLEN,
                                                DELETEDYNPART_RSPLEN};
// Sub-command 9 carries an update document's hash: a header, then parts.
constexpr SubCommand kSecureKaverUpdateHeader = {9, "SecureKAVERUpdate", UPDATEHASHHDR_REQLEN, UPDATEHASHHDR_RSPLEN};
constexpr SubCommand kSecureKaverUpdateHashPart = {9, "SecureKAVERUpdate", SECKAVERUP_HASHDATA_REQLEN,
                                                   SECKAVERUP_HASHDATA_RSPLEN};
constexpr SubCommand kGetKaverStatus = {10, "GetKAVERStatus", GETKAVERSTATUS_REQLEN, GETKAVERSTATUS_RSPLEN};
constexpr SubCommand kChangePartitionAccessType = {11, "ChangePartitionAccessType", 0, 0};
constexpr SubCommand kRegisterSsibTask = {12, "RegisterSSIBTask", CMDREGSSIBTASK1_REQLEN, CMDREGSSIBTASK1_RSPLEN};
constexpr SubCommand kGetStateFlag = {16, "getStateFlagCmd", GETFLAGSTATUS_REQLEN, GETFLAGSTATUS_RSPLEN};
constexpr SubCommand kSetStateFlag = {17, "setStateFlagCmd", SETFLAGSTATUS_REQLEN, SETFLAGSTATUS_RSPLEN};
// The extended begin is sent with the plain begin's lengths.
constexpr SubCommand kBeginSessionExtended = {18, "BeginKAVERSessionExtended", BEGINKAVERSESS_REQLEN,
                                              BEGINKAVERSESS_RSPLEN};
// The secure-update steps go out through TREN's own functions; the library
// only polls for them by number.
constexpr SubCommand kBeginSecureUpdate = {32, "BeginSecureUpdate", 0, 0};
constexpr SubCommand kProcessSecureUpdate = {34, "ProcessSecureUpdate", 0, 0};
constexpr SubCommand kEndSecureUpdate = {35, "EndSecureUpdate", 0, 0};
// Stage-and-update has no name in the debug log.
constexpr SubCommand kStageAndUpdate = {37, "", STAGEANDUPDATE_REQLEN, STAGEANDUPDATE_RSPLEN};

// Every sub-command once, by number: the debug log's names.
constexpr SubCommand kSubCommands[] = {
    kBeginSession,
    kEndSession,
    kResetSessionWatchdog,
    kGetPartitionIndexInfo,
    kGetPartitionInfo,
    kAttachPartitions,
    kDetachPartitions,
    kCreateDynamicPartition,
    kDeleteDynamicPartition,
    kSecureKaverUpdateHeader,
    kGetKaverStatus,
    kChangePartitionAccessType,
    kRegisterSsibTask,
    kGetStateFlag,
    kSetStateFlag,
    kBeginSessionExtended,
    kBeginSecureUpdate,
    kProcessSecureUpdate,
    kEndSecureUpdate,
    kStageAndUpdate,
};
// Requests sent with other lengths than their sub-command's own.
//
// Undoing a create that could not be identified: a delete sent with the
// lengths of the create it undoes.
constexpr SubCommand kUndoCreateDynamicPartition = {kDeleteDynamicPartition.number, kDeleteDynamicPartition.name,
                                                    kCreateDynamicPartition.reqLen, kCreateDynamicPartition.rspLen};
// Deleting a drop box: the answer is read with the request's length, not
// the shorter response length.
constexpr SubCommand kDeleteDropBox = {kDeleteDynamicPartition.number, kDeleteDynamicPartition.name,
                                       kDeleteDynamicPartition.reqLen, kDeleteDynamicPartition.reqLen};

// Sends a sub-command in a block that already holds its data bytes:
// secureKaver::IPMIRequest with the form's number and lengths.
inline uint8_t request(secureKaver& kaver, const SubCommand& form, void* block = &IPMIReqBuf) {
    return kaver.IPMIRequest(form.number, block, form.reqLen, form.rspLen);
}

// An OEM command other than the session command, with the byte the
// library writes where a sub-command would stand.
struct OemCommand {
    eOEMIPMIRequestType command;
    uint8_t byte2;
    uint16_t reqLen;
    uint16_t rspLen;
};

constexpr OemCommand kGetRepositoryKind = {GetKAVERType, 0, GETKAVERTYPE_REQLEN, GETKAVERTYPE_RSPLEN};
constexpr OemCommand kGetRepositoryAccessState = {GetKAVERAccessState, 0, GETKAVERACCESSSTATE_REQLEN,
                                                  GETKAVERACCESSSTATE_RSPLEN};
constexpr OemCommand kGetControllerVersion = {GetSarniVELDVersion, 0x04, GETIVELDVER_REQLEN, GETIVELDVER_RSPLEN};

// Sends an OEM command in the shared block.
inline uint8_t request(secureKaver& kaver, const OemCommand& command) {
    return kaver.OEMIPMIRequest(command.command, command.byte2, &IPMIReqBuf, command.reqLen, command.rspLen);
}

// A controller completion code (byte 2 of an answer) and the debug-log
// line the transport writes for it.
struct CompletionCode {
    uint8_t code;
    const char* message;
};

constexpr CompletionCode kCompletionCodes[] = {
    {KAVER_SUCCESS, "IVELD returned SUCCESS\n"},
    {KAVER_FAILURE, "IVELD returned FAILURE\n"},
    {KAVER_PENDING, "IVELD returned PENDING\n"},
    {KAVER_INVALID, "IVELD returned INVALID\n"},
    {KAVER_OVERFLOW, "IVELD returned OVERFLOW\n"},
    {KAVER_DISABLED, "IVELD returned KAVER_DISABLED\n"},
    {KAVER_BMAP_IMAGE_INVALID, "IVELD returned KAVER_BMAP_IMAGE_INVALID\n"},
    {KAVER_SESSION_IN_PROGRESS, "IVELD returned KAVER_SESSION_IN_PROGRESS\n"},
    {KAVER_PARTITIONS_ATTACHED, "IVELD returned KAVER_PARTITIONS_ATTACHED\n"},
};
// KAVER_INPROCESS (0xFF) is not a final answer: the transport turns it
// into KAVER_PENDING after a pause.

}  // namespace protocol

#endif
