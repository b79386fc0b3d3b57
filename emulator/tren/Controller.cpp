// SPDX-License-Identifier: Apache-2.0
#include "Controller.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "zemt_emulator/Disks.h"

namespace zemt_emu {
namespace {

const uint8_t kOemNetFn = 0xC0;
const uint8_t kAppNetFn = 0x18;
const uint8_t kSessionCmd = 0xA2;
const uint8_t kExtendedFlag = 0x02;
const uint8_t kControllerAddress = 0x20;  // the controller's slave address
const std::size_t kBufferSize = sizeof(((IPMIReqRspEx*)nullptr)->ReqRspBuffer);
// Parameter selector of the power-supply count (get system info parameters).
const uint8_t kPsCountSelector = 0xEA;
const std::size_t kSysInfoSize = 32;

std::string key(const char* prefix, long number, const char* suffix = "") {
    return std::string(prefix) + std::to_string(number) + suffix;
}

}  // namespace

void putU16(std::vector<uint8_t>& data, unsigned value) {
    data.push_back(static_cast<uint8_t>(value & 0xFF));
    data.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
}

// The dispatcher.  Exact sub-command rows come before a command's catch-all.
const Controller::Route Controller::kRoutes[] = {
    {kOemNetFn, kSessionCmd, 0, 8, false, &Controller::BeginSession, "BeginKAVERSession"},
    {kOemNetFn, kSessionCmd, 1, 7, true, &Controller::EndSession, "EndKAVERSession"},
    {kOemNetFn, kSessionCmd, 3, 7, true, &Controller::GetPartitionIndexInfo, "Getpartitionindexinfo"},
    {kOemNetFn, kSessionCmd, 4, 9, true, &Controller::GetPartitionInfo, "GetPartitionInfo"},
    {kOemNetFn, kSessionCmd, 5, 13, true, &Controller::AttachPartitions, "AttachPartitions"},
    {kOemNetFn, kSessionCmd, 6, 13, true, &Controller::DetachPartitions, "DetachPartitions"},
    {kOemNetFn, kSessionCmd, 7, 14, true, &Controller::CreateDynamicPartition,
     "CreateDynamicPartition"},
    {kOemNetFn, kSessionCmd, 8, 11, true, &Controller::DeleteDynamicPartition,
     "DeleteDynamicPartition"},
    {kOemNetFn, kSessionCmd, 9, 6, true, &Controller::SecureCopy, "SecureKAVERUpdate"},
    {kOemNetFn, kSessionCmd, 10, 8, true, &Controller::GetStatus, "GetKAVERStatus"},
    {kOemNetFn, kSessionCmd, 16, 8, true, &Controller::GetStateFlag, "getStateFlagCmd"},
    {kOemNetFn, kSessionCmd, 17, 7, true, &Controller::SetStateFlag, "setStateFlagCmd"},
    {kOemNetFn, kSessionCmd, 18, 8, false, &Controller::BeginSessionExtended,
     "BeginKAVERSessionExtended"},
    {kOemNetFn, kSessionCmd, 37, 6, true, &Controller::StageAndUpdate, "StageAndUpdate"},
    {kOemNetFn, 0xAD, -1, 4, false, &Controller::GetRepositoryKind, "GetKAVERType"},
    {kOemNetFn, 0xAE, -1, 4, false, &Controller::GetAccessState, "GetKAVERAccessState"},
    {kOemNetFn, 0xBF, -1, 3, false, &Controller::GetVersion, "GetSarniVELDVersion"},
    {kOemNetFn, 0xBD, -1, 2, false, &Controller::GetSystemKind, "GetSystemKind"},
    {kOemNetFn, 0xB0, 0x0A, 4, false, &Controller::GetPowerSupplyVersion, "GetPSUVersion"},
    {kAppNetFn, 0x59, -1, 6, false, &Controller::GetSystemInfoParameters, "GetSystemInfoParameters"},
    {kAppNetFn, 0x02, -1, 2, false, &Controller::ColdReset, "ColdReset"},
};

Controller::Controller(const std::string& dir) : dir_(dir), now_(0) {
    conf_.Load(JoinPath(dir_, files::kControllerConf));
    state_.Load(JoinPath(dir_, files::kControllerState));
    faults_ = LoadFaults(JoinPath(dir_, files::kFaults));
    now_ = ReadClock(dir_);
    if (!state_.Has("state_flag")) state_.SetInt("state_flag", conf_.GetInt("state_flag", 0));
    expireSession();
}

void Controller::save() { state_.Save(JoinPath(dir_, files::kControllerState)); }

void Controller::log(const std::string& line) {
    AppendLine(JoinPath(dir_, files::kRequestLog), std::to_string(now_) + " " + line + releaseNote_);
    releaseNote_.clear();
}

const Controller::Route* Controller::findRoute(const Request& request, bool& knownCommand) const {
    knownCommand = false;
    const Route* fallback = nullptr;
    for (const Route& route : kRoutes) {
        if (route.netFn != request.NetFn() || route.cmd != request.Cmd()) continue;
        knownCommand = true;
        if (route.sub < 0) {
            if (fallback == nullptr) fallback = &route;
        } else if (request.length > 2 && route.sub == request.Sub()) {
            return &route;
        }
    }
    return fallback;
}

// ---- sessions -----------------------------------------------------------------

void Controller::expireSession() {
    long handle = state_.GetInt("session.handle", 0);
    if (handle == 0) return;
    // A session whose process has ended is released at once: virtual time
    // only passes while someone runs, so its watchdog might never run out.
    ProcessIdentity owner;
    bool ownerGone = ProcessIdentity::Parse(state_.Get("session.owner"), owner) && !IsRunning(owner);
    if (ownerGone || static_cast<long>(now_) >= state_.GetInt("session.expires", 0)) {
        // The watchdog ran out: the session is gone.
        state_.SetInt("session.handle", 0);
        state_.Erase("session.owner");
        state_.Erase("pending.sub");
        if (ownerGone) releaseNote_ = " owner-gone";
    }
}

bool Controller::sessionValid(uint16_t handle) const {
    long active = state_.GetInt("session.handle", 0);
    return active != 0 && handle == active;
}

void Controller::startSession(const Request& request, Reply& reply) {
    unsigned timeout = static_cast<unsigned>(request.bytes[4] | (request.bytes[5] << 8));
    if (timeout == 0) {
        reply.Fail(kCcInvalidField);
        return;
    }
    if (state_.GetInt("session.handle", 0) != 0) {
        reply.Fail(kCcSessionInProgress);
        return;
    }
    long handle = state_.GetInt("next_handle", 0x1A);
    if ((handle & 0xFFFF) == 0) handle = 0x1A;
    state_.SetInt("next_handle", (handle + 0x11) & 0xFFFF);
    state_.SetInt("session.handle", handle & 0xFFFF);
    state_.SetInt("session.timeout", timeout);
    state_.SetInt("session.expires", static_cast<long>(now_) + timeout);
    state_.Set("session.owner", CurrentProcess().Text());
    reply.withHandle = true;
    putU16(reply.data, static_cast<unsigned>(handle));
    putU16(reply.data, timeout);
    putU16(reply.data, 0);
}

void Controller::BeginSession(const Request& request, Reply& reply) { startSession(request, reply); }

void Controller::BeginSessionExtended(const Request& request, Reply& reply) {
    // Older firmware does not know the extended form.
    if (conf_.GetInt("extended_session", 1) == 0) {
        reply.Fail(kCcInvalidCommand);
        return;
    }
    if ((request.bytes[3] & kExtendedFlag) == 0) {
        reply.Fail(kCcInvalidField);
        return;
    }
    startSession(request, reply);
}

void Controller::EndSession(const Request& request, Reply& reply) {
    state_.SetInt("session.handle", 0);
    state_.Erase("session.owner");
    state_.Erase("pending.sub");
    putU16(reply.data, request.Handle());
}

// ---- polling and state flag -----------------------------------------------------

void Controller::GetStatus(const Request& request, Reply& reply) {
    uint8_t awaited = request.bytes[5];
    long status;
    if (state_.Has("pending.sub") && state_.GetInt("pending.sub", -1) == awaited) {
        long left = state_.GetInt("pending.left", 0);
        if (left > 0) {
            state_.SetInt("pending.left", left - 1);
            status = kCcPending;
        } else {
            status = state_.GetInt("pending.final", 0);
            state_.Erase("pending.sub");
            state_.Erase("pending.left");
            state_.Erase("pending.final");
            state_.SetInt(key("status.", awaited), status);
        }
    } else {
        status = state_.GetInt(key("status.", awaited), 0);
    }
    putU16(reply.data, request.Handle());
    reply.data.push_back(static_cast<uint8_t>(status));
    reply.data.push_back(0);
}

void Controller::GetStateFlag(const Request& request, Reply& reply) {
    if (request.bytes[5] != 0) {  // only flag type 0 exists
        reply.Fail(kCcInvalidField);
        return;
    }
    putU16(reply.data, request.Handle());
    reply.data.push_back(static_cast<uint8_t>(state_.GetInt("state_flag", 0)));
    putU16(reply.data, 0);
}

void Controller::SetStateFlag(const Request& request, Reply& reply) {
    if (request.bytes[5] != 0) {
        reply.Fail(kCcInvalidField);
        return;
    }
    state_.SetInt("state_flag", request.bytes[6]);
    putU16(reply.data, request.Handle());
    putU16(reply.data, 0);
}

// ---- controller queries ---------------------------------------------------------

void Controller::GetRepositoryKind(const Request&, Reply& reply) {
    reply.data.push_back(static_cast<uint8_t>(conf_.GetInt("repository", 0)));
    putU16(reply.data, 0);
}

void Controller::GetAccessState(const Request&, Reply& reply) {
    reply.data.push_back(static_cast<uint8_t>(conf_.GetInt("access", 0)));
    putU16(reply.data, 0);
}

void Controller::GetVersion(const Request& request, Reply& reply) {
    uint8_t info = request.Sub();
    // Version information 4 exists only on Sarn-generation firmware.
    bool known = info == 1 || (info == 4 && conf_.GetInt("generation", 0x16) >= 0x16);
    if (!known) {
        reply.Fail(kCcInvalidField);
        return;
    }
    reply.data.push_back(static_cast<uint8_t>(conf_.GetInt("firmware.major", 2)));
    reply.data.push_back(static_cast<uint8_t>(conf_.GetInt("firmware.minor", 30)));
    putU16(reply.data, static_cast<unsigned>(conf_.GetInt("firmware.build", 0)));
    putU16(reply.data, 1);  // platform data version
    putU16(reply.data, 1);  // RQ version
    putU16(reply.data, 1);  // RQ build
    reply.data.resize(reply.data.size() + 10, 0);
}

void Controller::GetSystemKind(const Request&, Reply& reply) {
    // This answer carries the system kind where a completion code would stand.
    reply.completion = conf_.GetInt("monolithic", 0) != 0 ? 1 : 0;
    reply.data.push_back(0);
}

void Controller::GetPowerSupplyVersion(const Request& request, Reply& reply) {
    long index = request.bytes[3];
    long count = conf_.GetInt("ps.count", 0);
    if (index < 1 || index > count) {
        reply.Fail(kCcOutOfRange);
        return;
    }
    std::string prefix = key("ps.", index, ".");
    bool present = conf_.GetInt(prefix + "present", 1) != 0;
    unsigned long compId = static_cast<unsigned long>(conf_.GetInt(prefix + "compid", 0));
    std::string version = conf_.Get(prefix + "version");
    // Bytes from 3: index, supply type, rating, three reserved bytes, the
    // component id (LE), eight bytes of version text, three reserved bytes,
    // and the presence bits.
    reply.data.push_back(static_cast<uint8_t>(index));
    reply.data.push_back(present ? 0x01 : 0x00);
    reply.data.push_back(present ? 0x0B : 0x00);
    reply.data.resize(reply.data.size() + 3, 0);
    for (int shift = 0; shift < 32; shift += 8)
        reply.data.push_back(static_cast<uint8_t>((compId >> shift) & 0xFF));
    for (std::size_t i = 0; i < 8; ++i)
        reply.data.push_back(i < version.size() ? static_cast<uint8_t>(version[i]) : 0);
    reply.data.resize(reply.data.size() + 3, 0);
    reply.data.push_back(present ? 0x01 : 0x00);
}

void Controller::GetSystemInfoParameters(const Request& request, Reply& reply) {
    if (request.bytes[3] != kPsCountSelector) {
        reply.Fail(kCcParamNotSupported);
        return;
    }
    // Byte 3 parameter revision, 4 set selector, then the parameter data
    // whose ninth byte (response byte 11) is the power-supply count.
    reply.data.push_back(0x11);
    reply.data.push_back(request.bytes[4]);
    reply.data.resize(reply.data.size() + 6, 0);
    reply.data.push_back(static_cast<uint8_t>(conf_.GetInt("ps.count", 0)));
    reply.data.resize(reply.data.size() + 4, 0);
}

void Controller::ColdReset(const Request&, Reply& reply) {
    // The controller restarts: sessions and pending work are lost and it
    // answers nothing until it is back.
    state_.SetInt("session.handle", 0);
    state_.Erase("session.owner");
    state_.Erase("pending.sub");
    state_.SetInt("reset.until", static_cast<long>(now_) + conf_.GetInt("reset_recovery", 90));
    reply.noResponse = true;
}

// ---- partitions -------------------------------------------------------------------

namespace {

const int kBitmapBits = 16;
const long kChunk = 32768;          // drop-box size unit
const uint8_t kUsbKey = 0x40;       // device type of a drop box
const uint8_t kDynamicKind = 0x80;  // partition kind byte of dynamic partitions

uint16_t bigEndian16(const uint8_t* bytes) { return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]); }

void putBigEndian16(std::vector<uint8_t>& data, unsigned value) {
    data.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
    data.push_back(static_cast<uint8_t>(value & 0xFF));
}

std::string diskId(bool dynamic, int bit) {
    return std::string(dynamic ? "dynamic." : "static.") + std::to_string(bit);
}

}  // namespace

uint16_t Controller::staticBitmap() const {
    uint16_t bitmap = 0;
    for (int bit = 0; bit < kBitmapBits; ++bit)
        if (!conf_.Get(key("static.", bit, ".label")).empty()) bitmap |= static_cast<uint16_t>(1u << bit);
    return bitmap;
}

uint16_t Controller::dynamicBitmap() const {
    uint16_t bitmap = 0;
    for (int bit = 0; bit < kBitmapBits; ++bit)
        if (state_.GetInt(key("dynamic.", bit, ".units"), 0) > 0) bitmap |= static_cast<uint16_t>(1u << bit);
    return bitmap;
}

std::string Controller::partitionLabel(bool dynamic, int bit) const {
    return dynamic ? state_.Get(key("dynamic.", bit, ".label")) : conf_.Get(key("static.", bit, ".label"));
}

std::string Controller::imagePath(bool dynamic, int bit) const {
    std::error_code ec;
    std::string images = std::filesystem::absolute(JoinPath(dir_, files::kPartitions), ec).string();
    return JoinPath(images, dynamic ? "dynamic-" + std::to_string(bit) + ".img"
                                    : partitionLabel(false, bit) + ".img");
}

long Controller::diskAppearance(const std::string& label) {
    const Fault* fault = fireWhere([&label](const Fault& f) {
        return f.target == Fault::kDisk && (f.label.empty() || f.label == label);
    });
    return fault ? fault->appear : 0;
}

void Controller::presentDisk(bool dynamic, int bit) {
    DiskTable disks;
    disks.Load(dir_);
    if (disks.FindById(diskId(dynamic, bit)) != nullptr) return;  // already presented
    Disk disk = disks.Allocate(diskId(dynamic, bit));
    disk.label = partitionLabel(dynamic, bit);
    disk.image = imagePath(dynamic, bit);
    disk.offset = conf_.GetInt("partition_table", 0) != 0 ? kPartitionOffset : 0;
    disk.scansLeft = diskAppearance(disk.label);
    disks.Disks().push_back(disk);
    disks.Save(dir_);
    SyncDiskNodes(dir_, disks);
}

void Controller::withdrawDisk(bool dynamic, int bit) {
    DiskTable disks;
    disks.Load(dir_);
    disks.Remove(diskId(dynamic, bit));
    disks.Save(dir_);
    SyncDiskNodes(dir_, disks);
}

void Controller::GetPartitionIndexInfo(const Request& request, Reply& reply) {
    putU16(reply.data, request.Handle());
    putBigEndian16(reply.data, staticBitmap());
    putU16(reply.data, 0);
    putBigEndian16(reply.data, dynamicBitmap());
    putU16(reply.data, 0);
}

void Controller::GetPartitionInfo(const Request& request, Reply& reply) {
    bool dynamic = request.bytes[5] == kDynamicKind;
    int bit = request.bytes[6];
    if ((request.bytes[5] != 0 && !dynamic) || bit >= kBitmapBits) {
        reply.Fail(kCcInvalidField);
        return;
    }
    uint16_t present = dynamic ? dynamicBitmap() : staticBitmap();
    if ((present & (1u << bit)) == 0) {
        reply.Fail(kCcInvalid);
        return;
    }
    long chunks = dynamic ? state_.GetInt(key("dynamic.", bit, ".units"), 0)
                          : conf_.GetInt(key("static.", bit, ".mib"), 0) * 1048576L / kChunk;
    std::string label = partitionLabel(dynamic, bit);
    label.resize(6, ' ');
    long attached = state_.GetInt(dynamic ? "attached.dynamic" : "attached.static", 0);
    putU16(reply.data, request.Handle());
    putU16(reply.data, static_cast<unsigned>(chunks > 0xFFFF ? 0xFFFF : chunks));
    reply.data.insert(reply.data.end(), label.begin(), label.end());
    reply.data.push_back((attached & (1L << bit)) ? 1 : 0);
}

void Controller::AttachPartitions(const Request& request, Reply& reply) {
    uint16_t stat = bigEndian16(request.bytes + 5);
    uint16_t dyn = bigEndian16(request.bytes + 9);
    // Every bit asked for must name a partition the controller has.
    if ((stat & ~staticBitmap()) != 0 || (dyn & ~dynamicBitmap()) != 0) {
        reply.Fail(kCcInvalid);
        return;
    }
    long attachedStat = state_.GetInt("attached.static", 0);
    long attachedDyn = state_.GetInt("attached.dynamic", 0);
    for (int bit = 0; bit < kBitmapBits; ++bit) {
        if (stat & (1u << bit)) presentDisk(false, bit);
        if (dyn & (1u << bit)) presentDisk(true, bit);
    }
    state_.SetInt("attached.static", attachedStat | stat);
    state_.SetInt("attached.dynamic", attachedDyn | dyn);
    putU16(reply.data, request.Handle());
    putU16(reply.data, 0);
}

void Controller::DetachPartitions(const Request& request, Reply& reply) {
    // Bits of partitions that are not attached (or do not exist) are
    // simply not attached afterwards: detaching everything is "0x00ff".
    long stat = state_.GetInt("attached.static", 0) & bigEndian16(request.bytes + 5);
    long dyn = state_.GetInt("attached.dynamic", 0) & bigEndian16(request.bytes + 9);
    for (int bit = 0; bit < kBitmapBits; ++bit) {
        if (stat & (1L << bit)) withdrawDisk(false, bit);
        if (dyn & (1L << bit)) withdrawDisk(true, bit);
    }
    state_.SetInt("attached.static", state_.GetInt("attached.static", 0) & ~stat);
    state_.SetInt("attached.dynamic", state_.GetInt("attached.dynamic", 0) & ~dyn);
    putU16(reply.data, request.Handle());
    putU16(reply.data, 0);
}

void Controller::CreateDynamicPartition(const Request& request, Reply& reply) {
    long units = request.bytes[5] | (request.bytes[6] << 8);
    std::string label(reinterpret_cast<const char*>(request.bytes + 7), 6);
    while (!label.empty() && (label.back() == ' ' || label.back() == '\0')) label.pop_back();
    if (request.bytes[13] != kUsbKey || label.empty() || label.find_first_of(" /\\") != std::string::npos) {
        reply.Fail(kCcInvalidField);
        return;
    }
    if (units == 0) {
        reply.Fail(kCcInvalid);
        return;
    }
    int slot = -1;
    long used = 0;
    long slots = conf_.GetInt("dynamic.slots", 8);
    for (int bit = 0; bit < kBitmapBits; ++bit) {
        long existing = state_.GetInt(key("dynamic.", bit, ".units"), 0);
        used += existing * kChunk;
        if (existing == 0 && slot < 0 && bit < slots) slot = bit;
    }
    if (slot < 0) {
        reply.Fail(kCcFailure);
        return;
    }
    if (used + units * kChunk > conf_.GetInt("dynamic.space", 0)) {
        reply.Fail(kCcOverflow);
        return;
    }
    std::string error;
    if (!MakeFatImage(imagePath(true, slot), units * kChunk, label,
                      conf_.GetInt("partition_table", 0) != 0, error)) {
        reply.Fail(kCcFailure);
        return;
    }
    state_.SetInt(key("dynamic.", slot, ".units"), units);
    state_.Set(key("dynamic.", slot, ".label"), label);
    putU16(reply.data, request.Handle());
    putBigEndian16(reply.data, 1u << slot);
    putU16(reply.data, 0);
}

void Controller::DeleteDynamicPartition(const Request& request, Reply& reply) {
    uint16_t bitmap = bigEndian16(request.bytes + 5);
    if (bitmap == 0 || (bitmap & ~dynamicBitmap()) != 0) {
        reply.Fail(kCcInvalid);
        return;
    }
    if (bitmap & state_.GetInt("attached.dynamic", 0)) {
        reply.Fail(kCcPartitionsAttached);
        return;
    }
    for (int bit = 0; bit < kBitmapBits; ++bit) {
        if ((bitmap & (1u << bit)) == 0) continue;
        std::error_code ec;
        std::filesystem::remove(imagePath(true, bit), ec);
        state_.Erase(key("dynamic.", bit, ".units"));
        state_.Erase(key("dynamic.", bit, ".label"));
    }
    // Short enough for the library's undo request, which reads 9 bytes.
    putU16(reply.data, request.Handle());
    putU16(reply.data, 0);
}

// ---- faults -------------------------------------------------------------------------

const Fault* Controller::fireWhere(const std::function<bool(const Fault&)>& matches) {
    const Fault* chosen = nullptr;
    for (const Fault& fault : faults_) {
        if (!matches(fault)) continue;
        std::string seenKey = key("fault.", fault.lineNumber, ".seen");
        long seen = state_.GetInt(seenKey, 0) + 1;
        state_.SetInt(seenKey, seen);
        bool inWindow = seen > fault.after && (fault.times < 0 || seen <= fault.after + fault.times);
        if (chosen == nullptr && inWindow) chosen = &fault;
    }
    return chosen;
}

const Fault* Controller::fire(const unsigned char* request, std::size_t length, bool sysinfo) {
    return fireWhere([&](const Fault& fault) {
        return sysinfo ? fault.MatchesSysInfo() : fault.Matches(request, length);
    });
}

// ---- the exchange -------------------------------------------------------------------

uint16_t Controller::Command(EsmIPMICmdIoctlReq* block) {
    IPMIReqRspEx& io = block->Parameters.IRREx;
    uint8_t request[kBufferSize];
    std::size_t length = io.ReqPhaseBufLen < kBufferSize ? io.ReqPhaseBufLen : kBufferSize;
    std::memcpy(request, io.ReqRspBuffer, length);
    std::string head = "cmd " + HexBytes(request, length) + " | ";

    // Malformed blocks never reach the controller.
    if (block->ReqType != IPMI_REQTYPE_IRREX || io.ReqPhaseBufLen < 2 ||
        io.ReqPhaseBufLen > kBufferSize || io.RspPhaseBufLen > kBufferSize) {
        block->Status = kStatusBad;
        log(head + "- | status=2 result=1 malformed-block");
        save();
        return 1;
    }
    if (io.RsSA != kControllerAddress) {
        block->Status = kStatusNoSuchDevice;
        log(head + "- | status=7 result=1 wrong-slave-address");
        save();
        return 1;
    }
    if (static_cast<long>(now_) < state_.GetInt("reset.until", 0)) {
        log(head + "- | status=- result=0 resetting");
        save();
        return 0;
    }

    Request req{request, length};
    const Fault* fault = fire(request, length, false);
    std::string faultNote = fault ? " fault=" + std::to_string(fault->lineNumber) : "";
    if (fault && fault->trenFails) {
        log(head + "- | status=- result=0" + faultNote);
        save();
        return 0;
    }
    if (fault && fault->hasStatus && fault->status != 0) {
        block->Status = fault->status;
        log(head + "- | status=" + std::to_string(fault->status) + " result=1" + faultNote);
        save();
        return 1;
    }

    bool knownCommand = false;
    const Route* route = findRoute(req, knownCommand);
    Reply reply;
    if (fault && fault->completion >= 0) {
        reply.completion = static_cast<uint8_t>(fault->completion);
    } else if (route == nullptr) {
        reply.Fail(knownCommand ? kCcInvalidField : kCcInvalidCommand);
    } else if (length < route->minRequest) {
        reply.Fail(kCcRequestLength);
    } else if (route->needsSession && !sessionValid(req.Handle())) {
        reply.Fail(kCcInvalid);
    } else {
        if (route->needsSession) {
            // Every accepted request under the session restarts its watchdog.
            state_.SetInt("session.expires",
                          static_cast<long>(now_) + state_.GetInt("session.timeout", 0));
        }
        if (fault && fault->pending >= 0) {
            // The command is taken on and finishes later; its effect only
            // holds when it is going to succeed.
            if (fault->finalStatus == 0) (this->*route->handler)(req, reply);
            reply = Reply();
            reply.completion = kCcPending;
            putU16(reply.data, req.Handle());
            state_.SetInt("pending.sub", req.Sub());
            state_.SetInt("pending.left", fault->pending);
            state_.SetInt("pending.final", fault->finalStatus);
        } else {
            (this->*route->handler)(req, reply);
        }
    }

    block->Status = kStatusOk;
    std::string answer = "-";
    if (!reply.noResponse) {
        std::vector<uint8_t> bytes;
        bytes.push_back(static_cast<uint8_t>(req.NetFn() | 0x04));  // response NetFn
        bytes.push_back(req.Cmd());
        bytes.push_back(reply.completion);
        bytes.insert(bytes.end(), reply.data.begin(), reply.data.end());
        if (bytes.size() > io.RspPhaseBufLen) {
            // The caller's response buffer is too small for the answer.
            block->Status = kStatusDataOverrun;
            log(head + HexBytes(bytes.data(), bytes.size()) + " | status=16 result=1" + faultNote);
            save();
            return 1;
        }
        std::memset(io.ReqRspBuffer, 0, kBufferSize);
        std::memcpy(io.ReqRspBuffer, bytes.data(), bytes.size());
        io.RspPhaseBufLen = static_cast<uint32_t>(bytes.size());
        answer = HexBytes(bytes.data(), bytes.size());
    }
    log(head + answer + " | status=0 result=1" + faultNote + processNote_);
    save();
    return 1;
}

uint8_t* Controller::SystemInfo(const uint8_t selectors[6], int* status) {
    std::string head = "sysinfo " + HexBytes(selectors, 6) + " | ";
    if (static_cast<long>(now_) < state_.GetInt("reset.until", 0)) {
        *status = -1;
        log(head + "- | status=-1 resetting");
        save();
        return nullptr;
    }
    const Fault* fault = fire(nullptr, 0, true);
    std::string faultNote = fault ? " fault=" + std::to_string(fault->lineNumber) : "";
    if (fault) {
        *status = fault->hasStatus ? fault->status : 0;
        log(head + "- | status=" + std::to_string(*status) + faultNote);
        save();
        return nullptr;
    }
    // Only the OEM system-information parameter 0xDD, set 2, is known.
    if (selectors[2] != 0xDD || selectors[3] != 0x02) {
        *status = kCcParamNotSupported;
        log(head + "- | status=" + std::to_string(*status));
        save();
        return nullptr;
    }
    uint8_t* buffer = static_cast<uint8_t*>(std::calloc(kSysInfoSize, 1));
    if (buffer == nullptr) {
        *status = -1;
        return nullptr;
    }
    buffer[0] = 0x11;  // parameter revision
    buffer[1] = 0x02;  // set selector
    buffer[10] = static_cast<uint8_t>(conf_.GetInt("generation", 0x16));
    *status = 0;
    log(head + HexBytes(buffer, kSysInfoSize) + " | status=0");
    save();
    return buffer;
}

void Controller::FreeBuffer(void* buffer) {
    if (buffer == nullptr) return;
    std::free(buffer);
    log("free");
}

}  // namespace zemt_emu
