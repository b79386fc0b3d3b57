/* SPDX-License-Identifier: Apache-2.0 */
#ifndef ZEMT_TEST_FAKE_TREN_H
#define ZEMT_TEST_FAKE_TREN_H

#include <stdint.h>

#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "kaver_ipmi.h"

// One scripted answer of "ZOLIPMCommand".
struct TrenReply {
    uint16_t callResult = 1;    // what the function returns; 0 = no exchange
    int32_t status = 0;         // transport status written into the block
    bool answer = true;         // write response bytes into ReqRspBuffer
    uint8_t completion = 0;     // response byte 2
    std::vector<uint8_t> data;  // response bytes from byte 3 on

    static TrenReply Ok(std::vector<uint8_t> data = {}) {
        TrenReply r;
        r.data = std::move(data);
        return r;
    }
    static TrenReply Code(uint8_t completion, std::vector<uint8_t> data = {}) {
        TrenReply r;
        r.completion = completion;
        r.data = std::move(data);
        return r;
    }
    static TrenReply Transport(int32_t status) {
        TrenReply r;
        r.status = status;
        r.answer = false;
        return r;
    }
    static TrenReply NoExchange() {
        TrenReply r;
        r.callResult = 0;
        r.answer = false;
        return r;
    }
};

// In-process stand-in for the hardware-access library.  Its functions are
// plain C function pointers, so one instance at a time is the active one;
// the instance registers itself on construction.
class FakeTren {
public:
    FakeTren();
    ~FakeTren();

    // Handle the fake platform hands out for the loaded library.
    void* handle() { return this; }
    // GetProcAddress: null for a name in `missing` or an unknown name.
    void* resolve(const std::string& name) const;

    // ---- ZOLIPMCommand -----------------------------------------------------
    std::deque<TrenReply> script;  // consumed one per call
    TrenReply fallback;            // used once the script is empty
    bool recordRequests = true;
    std::vector<EsmIPMICmdIoctlReq> requests;  // every block as received

    // Overrides by sub-command (request byte 2) and occurrence (0 = its
    // first request): that request gets this reply whatever the script says.
    std::map<uint8_t, std::map<int, TrenReply>> onSubCommand;
    std::map<uint8_t, int> subCommandCount;

    void then(const TrenReply& reply) { script.push_back(reply); }
    void thenRepeat(const TrenReply& reply, int times) {
        for (int i = 0; i < times; ++i) script.push_back(reply);
    }
    // Request bytes (ReqRspBuffer[0 .. ReqPhaseBufLen)) of call i.
    std::vector<uint8_t> requestBytes(std::size_t i) const;

    // ---- ZOLIPMGetSystemInfoParameter / ZOLIPMIFreeGeneric ---------------------
    uint8_t generation = 0x10;   // byte 10 of the returned buffer
    int sysInfoStatus = 0;       // status written back
    bool sysInfoNullBuffer = false;
    int sysInfoCalls = 0;
    std::vector<uint8_t> sysInfoArgs;  // six bytes of the last call
    int sysInfoPresetStatus = -12345;  // status value seen on entry
    int sysInfoTimeout = 0;
    int freeCalls = 0;

    // ---- secure-update functions (Begin, Process, End) -------------------------
    // One call of a secure-update function: its name and integer arguments
    // in order, the digest for Process.
    struct SecureCall {
        std::string name;
        std::vector<int> args;
        std::vector<uint8_t> digest;
    };
    // Status each function writes back, by name ("Begin", "Process", "End");
    // 0 when not set.  A name in secureNullBuffer returns no buffer.
    std::map<std::string, int> secureStatus;
    std::set<std::string> secureNullBuffer;
    std::vector<SecureCall> secureCalls;
    uint8_t* secureStep(const std::string& name, std::vector<int> args, const uint8_t* digest, int* status);

    std::set<std::string> missing;  // function names the library lacks

    static FakeTren* active;

    uint16_t command(EsmIPMICmdIoctlReq* req, EsmIPMICmdIoctlReq* rsp);
    uint8_t* getSystemInfo(const uint8_t args[6], int* status, int timeout);
    void freeGeneric(void* buffer);

private:
    std::set<uint8_t*> outstanding_;
};

#endif
