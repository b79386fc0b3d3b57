// SPDX-License-Identifier: Apache-2.0
// Construction and destruction of the library object and its small helpers.
#include "secureKaver.h"

#include "PlatformLayer.h"

namespace {
const char* kDebugSwitchFile = "zemtdebuglog";
const char* kBenchSwitchFile = "benchtest";
const char* kUsbArbitratorCheck = "ps aux | grep -v grep | grep -q vmware-usbarbitrator > /dev/null";

bool isEsx(int os) { return os == ESX || os == ESX4 || os == ESX4_1; }
}  // namespace

secureKaver::secureKaver()
    : sessionEc(eSuccess),
      thisSession(),
      l_state(0),
      errorInfo(),
      KAVERType(noKaverPresent),
      l_entryNumber(0),
      curRQDRIVECnt(0),
      curStatCnt(0),
      curDynCnt(0),
      LinuxOSVer(-1),
      restart(0),
      n_payload_added(0),
      MAX_DYN_PART_SIZE(0),
      isFreshInstall(false),
      m_bHaldDaemonRunning(false),
      InitOk(false),
      UpdateCompletionStatus(true) {
    dynHandleIdx = 0;

    if (!DebugLog && CPlatformLayer::PathExists(kDebugSwitchFile)) {
        // Each switch-on starts an empty log; a failed open loses lines silently.
        LogFile.clear();
        LogFile.open(LogFilePath, std::ios::out | std::ios::trunc);
        DebugLog = true;
        KAVER_LOG("Debug message logging started.");
    }
    if (CPlatformLayer::PathExists(kBenchSwitchFile)) BenchFlag = true;

    isFreshInstall = false;
    sessionEc = objectInitializationFailed;
    m_bHaldDaemonRunning = IsHalDaemonRunning();

    CSignalHandler* signalHandler = new CSignalHandler();
    signalHandler->setupSignalHandlers();
    if (!secureKaverInitIPMI()) {
        KAVER_LOG("ZEMT Library initialization failed");
        sessionEc = objectInitializationFailed;
        errorInfo.lastErr = getZEMTError();
    } else {
        errorInfo.lastErr = 0;
        getLinuxOSVer();
        if (LinuxOSVer == -1) KAVER_LOG("Unsupported OS");
        if (isEsx(LinuxOSVer) && CPlatformLayer::Run(kUsbArbitratorCheck) == 0) {
            KAVER_LOG("usbarbitrator serice is running.. please stop it");
            errorInfo.lastErr = ZEMT_ESX_USBARBITRATOR_SERVICE_RUNNING;
            InitOk = false;
        } else if (!udevhalInstall()) {
            KAVER_LOG("Udev and Hal Installation failed");
        }
    }
    // The ignore disposition outlives the handler object.
    delete signalHandler;
}

secureKaver::~secureKaver() {
    FileList.clear();
    if (thisSession.KAVER_Handle != 0 && !EndKaverSession()) KAVER_LOG("EndKaverSession failed");
    thisSession = sessionHandle();
    if (restart != 0) restartController();

    bool uninstalled = udevhalUninstall();
    KAVER_LOG("Udev and Hal udevhalUninstall ");
    if (!uninstalled) KAVER_LOG("Udev and Hal Uninstallation failed");
    if (UnInstallIPMI() != 0) KAVER_LOG("UnInstallIPMI failed");
    KAVER_LOG("secureKaver::~secureKaver() after delete m_pNotificationThread ");
    if (DebugLog) {
        LogFile.close();
        DebugLog = false;
    }
}

// Destruction step 4: reset the controller and wait until it grants a
// session again (up to 24 tries), all on the platform clock.
void secureKaver::restartController() {
    if (KAVERType == KaverLite || KAVERType == Liter) {
        CPlatformLayer::Sleep(60);
        KAVER_LOG("KAVER Lite/Liter NOT resetting iVELD");
        return;
    }
    rstiVELD();
    CPlatformLayer::Sleep(60);
    for (int attempt = 0; attempt < 24; ++attempt) {
        if (BeginKaverSessionExtended(60) || BeginKaverSession(60)) {
            EndKaverSession();
            CPlatformLayer::Sleep(60);
            return;
        }
        CPlatformLayer::Sleep(10);
    }
    KAVER_LOG("Reboot wait timeout reached");
}

uint8_t secureKaver::getZEMTError() {
    // Callers test a possibly null object; laundering the pointer keeps the
    // optimiser from assuming it away.
    const secureKaver* volatile self = this;
    if (self == nullptr) {
        KAVER_LOG("secureKaver object does not exist");
        return ZEMT_NOINSTANCE;
    }
    return errorInfo.lastErr;
}

void secureKaver::storeErrorInfo(uint8_t code) { errorInfo.lastErr = code; }

void secureKaver::setRestart() { restart = 1; }

uint16_t secureKaver::swapBytes(uint16_t v) { return static_cast<uint16_t>((v << 8) | (v >> 8)); }

bool secureKaver::byPassRecoveryState() {
    std::string componentId;
    if (!get_comp_id(componentId)) {
        KAVER_LOG("byPassRecoveryState: Could not get Component ID");
        return false;
    }
    KAVER_LOG("byPassRecoveryState: Component ID is " + componentId);
    if (componentId == "28897") {
        KAVER_LOG("byPassRecoveryState: Component ID Matched for recovery state bypass.");
        return true;
    }
    KAVER_LOG("byPassRecoveryState: Component ID Didn't match for recovery state bypass.");
    return false;
}
