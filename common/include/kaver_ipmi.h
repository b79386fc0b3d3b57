/* SPDX-License-Identifier: Apache-2.0 */
#ifndef ZEMT_KAVER_IPMI_H
#define ZEMT_KAVER_IPMI_H

#include <stddef.h>
#include <stdint.h>

#include "zemt_export.h"

// The 72-byte request/response block exchanged in place with the
// hardware-access library.  Packed to 4 so that the 64-bit field does not
// move the layout between the 32-bit and the 64-bit build.
#pragma pack(push, 4)

typedef struct _CMDTimeout {
    int32_t Typical;
    int32_t Max;
} CMDTimeout;

typedef struct _IPMIBMCInfo {
    int16_t BMCPresent;
    uint8_t BMCHostIntfType;
    uint8_t BMCSpecVer;
    uint8_t BMCRsSA;
    uint8_t ReservedAlign[1];
    int32_t BMCCmdTimeout;
    CMDTimeout TimeoutUsSMSATNPhase;
    CMDTimeout TimeoutUsWaitForResponsePhase;
    uint16_t IPMIReqRspBufferLength;
} IPMIBMCInfo;

typedef struct _IPMIBMCFlags {
    int16_t SMSMsgAtn;
    int16_t SMMMsgAtn;
    int16_t SMIAsserted;
    int16_t BMCBusy;
} IPMIBMCFlags;

typedef struct _IPMIBMCNextRqSeq {
    uint8_t RqSeq;
    uint8_t MaxRqSeq;
} IPMIBMCNextRqSeq;

typedef struct _IPMIReqRsp {
    uint32_t ReqPhaseBufLen;
    uint32_t RspPhaseBufLen;
    uint8_t ReqRspBuffer[35];
    uint8_t RsSA;
    uint8_t ChannelNum;
    uint8_t ReservedAlign[3];
} IPMIReqRsp;

typedef struct _IPMIReqRspEx {
    uint8_t RsSA;
    uint8_t ChannelNum;
    uint8_t ReservedAlign[2];
    uint32_t ReqPhaseBufLen;
    uint32_t RspPhaseBufLen;
    uint8_t ReqRspBuffer[40];
} IPMIReqRspEx;

typedef struct _HostWatchdog {
    uint8_t State;
    uint8_t Capability;
    uint8_t ActionBitmap;
    uint16_t TimeOutSeconds;
} HostWatchdog;

typedef struct _HostControl {
    uint8_t Capability;
    uint8_t ActionBitmap;
    int32_t BeforeActionSeconds;
    int32_t ActionDurationSeconds;
} HostControl;

typedef union _IPMICmdParameters {
    IPMIBMCInfo IBGI;
    IPMIBMCFlags IBGF;
    IPMIBMCNextRqSeq IBGNR;
    IPMIReqRsp IRR;
    IPMIReqRspEx IRREx;
    HostWatchdog HstWDog;
    HostControl HstCntl;
} IPMICmdParameters;

typedef struct _IOCTLHeader {
    uint64_t Reserved;
    int32_t Status;
} IOCTLHeader;

typedef struct _EsmIPMICmdIoctlReq {
    IOCTLHeader IOCTLData;
    int32_t Status;
    uint32_t ReqType;
    IPMICmdParameters Parameters;
} EsmIPMICmdIoctlReq, IPMIBuf;

#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(EsmIPMICmdIoctlReq) == 72, "IPMI block is 72 bytes");
static_assert(sizeof(IPMICmdParameters) == 52, "parameter union is 52 bytes");
static_assert(offsetof(EsmIPMICmdIoctlReq, IOCTLData.Status) == 8, "IOCTLData.Status at 8");
static_assert(offsetof(EsmIPMICmdIoctlReq, Status) == 12, "Status at 12");
static_assert(offsetof(EsmIPMICmdIoctlReq, ReqType) == 16, "ReqType at 16");
static_assert(offsetof(EsmIPMICmdIoctlReq, Parameters.IRREx.RsSA) == 20, "RsSA at 20");
static_assert(offsetof(EsmIPMICmdIoctlReq, Parameters.IRREx.ChannelNum) == 21, "ChannelNum at 21");
static_assert(offsetof(EsmIPMICmdIoctlReq, Parameters.IRREx.ReqPhaseBufLen) == 24, "ReqPhaseBufLen at 24");
static_assert(offsetof(EsmIPMICmdIoctlReq, Parameters.IRREx.RspPhaseBufLen) == 28, "RspPhaseBufLen at 28");
static_assert(offsetof(EsmIPMICmdIoctlReq, Parameters.IRREx.ReqRspBuffer) == 32, "ReqRspBuffer at 32");
#endif

// Request kind of the extended request/response form.
#define IPMI_REQTYPE_IRREX 11

// Function types of the hardware-access library.
typedef uint16_t (*FPROCZOLIPMCOMMAND)(EsmIPMICmdIoctlReq* req, EsmIPMICmdIoctlReq* rsp);
typedef uint8_t* (*FPROCZOLIPMGETSYSTEMINFOPARAMETER)(uint8_t, uint8_t, uint8_t, uint8_t,
                                                     uint8_t, uint8_t, int* status,
                                                     int timeout);
typedef void (*FPROCZOLIPMIFREEGENERIC)(void* buffer);
typedef uint8_t* (*FPROCZOLIPMOEMKAVERBEGINSECUREUPDATE)(uint8_t, uint8_t, uint16_t, uint16_t,
                                                        uint16_t, int, uint8_t* out,
                                                        int* status);
typedef uint8_t* (*FPROCZOLIPMOEMKAVERPROCESSSECUREUPDATE)(uint8_t, uint8_t, uint8_t, uint8_t,
                                                          uint16_t, int, uint8_t* digest,
                                                          uint8_t* out, int* status);
typedef uint8_t* (*FPROCZOLIPMOEMKAVERENDSECUREUPDATE)(uint8_t, uint8_t, uint8_t, uint16_t,
                                                      int, uint8_t* out, int* status);

#endif
