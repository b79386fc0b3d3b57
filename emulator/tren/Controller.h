/* SPDX-License-Identifier: Apache-2.0 */
// The emulated management controller behind the TREN stand-in.  One
// Controller object serves one TREN call: it loads the state directory,
// answers, and writes the state back, so the controller's state outlives
// every process that talks to it.
#ifndef ZEMT_EMULATOR_CONTROLLER_H
#define ZEMT_EMULATOR_CONTROLLER_H

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "kaver_ipmi.h"
#include "zemt_emulator/FaultScript.h"
#include "zemt_emulator/State.h"

namespace zemt_emu {

// Completion codes the controller answers with.
enum : uint8_t {
    kCcSuccess = 0x00,
    kCcFailure = 0x01,
    kCcPending = 0x02,
    kCcInvalid = 0x03,
    kCcOverflow = 0x04,            // no room left in the repository
    kCcPartitionsAttached = 0x08,  // the partition is attached
    kCcSessionInProgress = 0x07,
    kCcInvalidCommand = 0xC1,      // command (or sub-command) not supported
    kCcRequestLength = 0xC7,       // request data length invalid
    kCcOutOfRange = 0xC9,          // parameter out of range
    kCcInvalidField = 0xCC,        // invalid data field in request
    kCcParamNotSupported = 0x80,   // get system info: parameter not supported
};

// Transport statuses the stand-in itself reports.
enum : int32_t {
    kStatusOk = 0,
    kStatusBad = 2,
    kStatusNoSuchDevice = 7,
    kStatusDataOverrun = 16,
};

// One File entry of an update document.
struct DocumentEntry {
    long order = 0;
    std::string hash, source, sourceKaver, destination, mode;
};

// Appends VALUE as two bytes, least significant first.
void putU16(std::vector<uint8_t>& data, unsigned value);

// A path inside a partition or drop box: "..", absolute paths and names
// FAT cannot hold refused.
bool SafeInnerPath(const std::string& inner);

class Controller {
public:
    explicit Controller(const std::string& dir);

    // ZOLIPMCommand: exchanges one block in place; 0 when no exchange happened.
    uint16_t Command(EsmIPMICmdIoctlReq* block);
    // ZOLIPMGetSystemInfoParameter.
    uint8_t* SystemInfo(const uint8_t selectors[6], int* status);
    // The three secure-update functions (sub-commands 0x20, 0x22, 0x23):
    // DATA is the units (LE) for begin, the 16-byte digest for process.
    // Returns a buffer on success or pending (status 0x1002).
    uint8_t* SecureUpdate(uint8_t sub, uint16_t handle, const uint8_t* data, std::size_t length, int* status);
    // ZOLIPMIFreeGeneric.
    void FreeBuffer(void* buffer);

    struct Request {
        const uint8_t* bytes;
        std::size_t length;
        uint8_t NetFn() const { return bytes[0]; }
        uint8_t Cmd() const { return bytes[1]; }
        uint8_t Sub() const { return length > 2 ? bytes[2] : 0; }
        uint16_t Handle() const { return static_cast<uint16_t>(bytes[3] | (bytes[4] << 8)); }
    };

    struct Reply {
        uint8_t completion = kCcSuccess;
        std::vector<uint8_t> data;     // bytes after the completion code
        bool noResponse = false;       // nothing is written back (cold reset)
        bool withHandle = false;       // data begins with the session handle
        void Fail(uint8_t cc) {
            completion = cc;
            data.clear();
            withHandle = false;
        }
    };

    typedef void (Controller::*Handler)(const Request&, Reply&);

    // One row of the dispatcher: request bytes 0 and 1 (and 2 when sub is
    // not -1) select the handler.  Later commands are added here.
    struct Route {
        uint8_t netFn;
        uint8_t cmd;
        int sub;
        std::size_t minRequest;  // shortest acceptable request
        bool needsSession;       // bytes 3-4 must name the open session
        Handler handler;
        const char* name;
    };

private:
    static const Route kRoutes[];
    const Route* findRoute(const Request& request, bool& knownCommand) const;

    // Handlers.
    void BeginSession(const Request&, Reply&);
    void BeginSessionExtended(const Request&, Reply&);
    void EndSession(const Request&, Reply&);
    void GetStatus(const Request&, Reply&);
    void GetStateFlag(const Request&, Reply&);
    void SetStateFlag(const Request&, Reply&);
    void GetRepositoryKind(const Request&, Reply&);
    void GetAccessState(const Request&, Reply&);
    void GetVersion(const Request&, Reply&);
    void GetSystemKind(const Request&, Reply&);
    void GetPowerSupplyVersion(const Request&, Reply&);
    void GetSystemInfoParameters(const Request&, Reply&);
    void ColdReset(const Request&, Reply&);
    void GetPartitionIndexInfo(const Request&, Reply&);
    void GetPartitionInfo(const Request&, Reply&);
    void AttachPartitions(const Request&, Reply&);
    void DetachPartitions(const Request&, Reply&);
    void CreateDynamicPartition(const Request&, Reply&);
    void DeleteDynamicPartition(const Request&, Reply&);
    void SecureCopy(const Request&, Reply&);
    void StageAndUpdate(const Request&, Reply&);

    // Processing of a drop box (tren/Processing.cpp): a completion code.
    int processDropBox(int bit, const std::string& expectedHash, std::string& note);
    bool resolveTarget(const std::string& path, std::string& image, std::string& inner) const;
    const Fault* fireProcessFault();
    // Stage-and-update (tren/StageAndUpdate.cpp): a drop box whose document
    // places everything under /payload is gathered into the staging store
    // (a completion code); a status poll finishes a started stage when its
    // time has come.
    static bool IsPayloadDocument(const std::vector<DocumentEntry>& entries);
    int stagePayloadPass(const std::vector<DocumentEntry>& entries, const std::string& boxDir, std::string& note);
    uint8_t stageStatus();
    // Runs a task file the controller kept (tren/TaskProcessing.cpp):
    // "applied" or "failed", with the reason in the event log.
    std::string runTask(const std::string& name);
    // Inventory-log entries of an update document (tren/InventoryProcessing.cpp):
    // the check before anything is carried out, and carrying one out (0 or
    // an exit status, as the other modes' tools).
    bool checkInventoryEntry(const std::string& mode, const std::string& source, const std::string& hash,
                             const std::string& boxDir, std::string& note);
    int carryOutInventoryEntry(const std::string& mode, const std::string& source, const std::string& boxDir,
                               int bit, const std::string& effect, std::string& note);
    int writeAnswer(std::string answer, int bit, const std::string& effect, std::string& note);
    void finishPending(uint8_t sub, int result, Reply& reply, uint16_t handle);

    // Partitions: the static ones come from controller.conf, drop boxes
    // live in controller.state.
    uint16_t staticBitmap() const;
    uint16_t dynamicBitmap() const;
    std::string partitionLabel(bool dynamic, int bit) const;
    std::string imagePath(bool dynamic, int bit) const;
    // Presents / withdraws the USB disk of an attached partition.
    void presentDisk(bool dynamic, int bit);
    void withdrawDisk(bool dynamic, int bit);
    long diskAppearance(const std::string& label);

    void startSession(const Request&, Reply&);
    bool sessionValid(uint16_t handle) const;
    void expireSession();
    const Fault* fire(const unsigned char* request, std::size_t length, bool sysinfo);
    // Counts the request against every fault MATCHES picks; the first one
    // whose window it falls in fires.
    const Fault* fireWhere(const std::function<bool(const Fault&)>& matches);
    void log(const std::string& line);
    void save();

    std::string dir_;
    KeyValueFile conf_;
    KeyValueFile state_;
    std::vector<Fault> faults_;
    unsigned long now_;
    long processPolls_ = 0;
    std::string processNote_;
    std::string releaseNote_;  // noted on the next logged line
};

}  // namespace zemt_emu

#endif
