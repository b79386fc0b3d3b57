/* SPDX-License-Identifier: Apache-2.0 */
#ifndef ZEMT_SECUREKAVER_H
#define ZEMT_SECUREKAVER_H

#include <stdint.h>

#include <sstream>
#include <string>
#include <vector>

#include "cfgEntry.h"
#include "kaverPartInfo.h"
#include "zemt.h"

// The shared request block and the poll's own block.
extern ZEMT_API EsmIPMICmdIoctlReq IPMIReqBuf;
extern ZEMT_API EsmIPMICmdIoctlReq PollReqBuf;

// Command bytes of the OEM requests.
enum eOEMIPMIRequestType {
    POSTOnlyKaverCmd = 0xA1,
    KaverSessionCommand = 0xA2,
    GetKaverInfo = 0xAB,
    RestoreKaverImage = 0xAC,
    GetKAVERType = 0xAD,
    GetKAVERAccessState = 0xAE,
    SetKAVERAccessState = 0xAF,
    ReservedExtCfgCmd = 0x01,
    Resetiveld = 0x02,
    SetExtCfgCmd = 0x03,
    PMStatusCmd = 0xA9,
    ManufacturingMode = 0xA5,
    GetSystemConf = 0x59,
    GetSarniVELDVersion = 0xBF
};

// The one object through which a caller works with the controller's
// flash repository.
class ZEMT_API secureKaver {
public:
    secureKaver();
    virtual ~secureKaver();

    // ---- library object ----------------------------------------------------
    // Generation, repository checks, session, catalogue refresh, detach all,
    // left-over drop box removal.  Called once after construction.
    bool secureKaverInit();
    bool secureKaverInitIPMI();
    int GetSystemGeneration();
    uint8_t getZEMTError();
    void storeErrorInfo(uint8_t code);
    void setRestart();
    uint16_t swapBytes(uint16_t v);
    bool byPassRecoveryState();

    // ---- hardware-access library -------------------------------------------
    int InstallIPMI();
    int UnInstallIPMI();

    // ---- OEM transport and polling -----------------------------------------
    uint8_t IPMIRequest(uint8_t subCmd, void* block, uint16_t reqLen, uint16_t rspLen);
    uint8_t OEMIPMIRequest(eOEMIPMIRequestType cmd, uint8_t subCmd, void* block,
                           uint16_t reqLen, uint16_t rspLen);
    uint8_t ProcessKaverIPMICommand(void* block);
    bool ProcessIPMICommand(void* block);
    uint8_t GetErrorCode(void* block);
    std::string getIPMICommandName(uint8_t subCmd);
    bool rstiVELD();
    uint8_t OEMIPMIRequestiVELDReset(eOEMIPMIRequestType cmd, void* block, uint16_t reqLen,
                                     uint16_t rspLen);
    bool PollKaverCmdComplete(int count, uint8_t subCmd);

    // ---- sessions ----------------------------------------------------------
    bool BeginKaverSession(uint16_t timeout);
    bool BeginKaverSessionExtended(uint16_t timeout);
    bool EndKaverSession();
    bool IsSessionActive();

    // ---- controller state ---------------------------------------------------
    kaverSupport_t GetKaverType();
    int IsKaverPresent();
    bool IsKaverEnabled();
    int iSSarniVELD();
    int isMonolithic();
    int isDepCheckSupported();
    uint8_t getStateFlag(uint8_t& value);
    uint8_t setStateFlag(uint8_t value);
    int regPowerCycle();
    int getPSCount(uint8_t& numPSU);
    int getPSUVersion(uint8_t i, unsigned int& compID, std::string& version,
                      unsigned int& isPresent);

    // ---- partition catalogue -------------------------------------------------
    // The id encoded in a label's characters 3..5 ("KAV022" -> 22), or 0.
    static partId_t getPartIndex(const std::string& name);

    // ---- partitions ------------------------------------------------------------
    // Bitmaps of the static / dynamic partitions the controller lists; on a
    // failed query the last good value (0 without a session).
    uint16_t getPartIndexInfo();
    uint16_t getDynPartIndexInfo();
    // Record in the catalogue which partition stands behind each set bit of
    // the low byte (static: by label; dynamic: lowest bit only, in row 0).
    bool getPartInfo(uint16_t bitmap);
    bool getDynPartInfo(uint16_t bitmap);
    // Drop boxes.  s_volName is ignored: every drop box is dynDriveName.
    // retSize receives the granted size in bytes, 0 on failure.
    bool CreateDropBox(const char* s_volName, uint32_t size, uint32_t* retSize);
    // 0 deletes the drop box recorded in catalogue row 0.
    bool DeleteDropBox(uint16_t iBitMap);
    // Deletes the first dynamic partition of `bitmap` labelled `name`
    // (case ignored); true also when there is none.
    bool deleteDynPartWithName(uint16_t bitmap, const std::string& name);

    // ---- attach and detach -----------------------------------------------------
    bool AttachPartition(uint16_t statBitMap, uint16_t dynBitMap, uint16_t partId);
    bool DetachPartition(uint16_t statBitMap, uint16_t dynBitMap, uint16_t partId, bool bDetachAll);
    bool AttachKaverPartition(uint16_t partId);
    bool AttachKaverPartition(const std::string& label);
    bool DetachKaverPartition(uint16_t partId);
    bool DetachKaverPartition(const std::string& label);
    // Detaches every partition; always true.
    bool DetachAll();
    // Older ESX hosts keep stale SCSI entries after a detach: drop them.
    void ESX_RemoveEntries(uint16_t statBitMap, uint16_t dynBitMap, uint16_t partId);

    // ---- host disks ------------------------------------------------------------
    // Waits (up to 60 attempts, 5 s apart) for the disk carrying the FAT
    // volume label; its device path, or empty text.
    std::string getDevicePath(const std::string& label);
    bool isSGDriverLoaded();
    // out = RHatPartDir + label + "/"; always true.
    bool getPartDrive(const std::string& label, std::string& out);
    // out: a buffer of at least MAXPATH_LEN bytes; always true.
    bool getDynPartDrive(const char* label, char* out);

    // ---- mounting --------------------------------------------------------------
    bool mountStatPartition(const std::string& label);
    bool mountDynPartition();
    bool unmountStatPartition(const std::string& label);
    bool unmountDynPartition();
    // Output of cmd, at most 512 bytes, up to the first NUL.
    std::string executeCmd(const std::string& cmd);
    void syncAll(const std::string& mountPoint);

    // ---- host preparation ----------------------------------------------------
    bool getLinuxOSVer();
    bool udevhalInstall();
    bool udevhalUninstall();
    bool RestartUdevRules();
    bool StartHalDaemon();
    bool StopHalDaemon();
    bool IsHalDaemonRunning();
    bool CopyFile(const std::string& file, const std::string& dir);

    // ---- versioned component folders -----------------------------------------
    // The lowest component id of ./package.xml, as written there; it must
    // be usable as a folder name.
    bool get_comp_id(std::string& compId);
    // Adds the actions that place one payload file of version N in
    // kav022/<id>/current; the first file of a copy list also rotates the
    // component's folders (current to previous) or seeds both on a fresh
    // install.
    bool AddNFile(std::string file);
    // Prepares the component's folders without adding a payload; compResult
    // tells whether the stored version equals the package's.
    bool AttachAndCompare(bool& compResult);
    // Appends ready-made entries for an N-1 payload, unchanged.
    bool AddN1File(std::vector<cfgEntry> n1List);
    bool getVendorVersion(const std::string& path, std::string& version);
    // A current folder that does not exist is no error: match stays false.
    bool compareVendorVersion(const std::string& mountPoint, bool& match);
    bool IsFreshInstall(const std::string& compId, std::vector<std::string>& list, bool& fresh);
    bool MakeFreshInstall();
    bool ReplaceCurrentFolder(std::string& mountPoint);
    // Names in a host directory (a mounted partition), "." and ".." left out.
    bool system_specific_list_dir(std::string path, std::vector<std::string>& list);

    // ---- staging: copy list, deletion, signed payloads -------------------------
    // Opens a new copy list (empties the old one); 12 when one is open.
    bool StartCopyFile();
    // Adds one action; the source is checked, sized and hashed now.  The
    // same source and destination twice add one entry.  A rejected entry
    // leaves the list as it was, still open.
    bool AddFile(std::string src, std::string dest, exmlMode action);
    // Adds a filecopy; numbers from the counter's next value (the first
    // entry after StartCopyFile gets order 2).  SplitFile is not used.
    bool AddFile(std::string src, std::string dest, bool SplitFile);
    // Closes the list; the entries stay until the next StartCopyFile.
    bool EndCopyFile();
    // Appends a filedelete of `fileName` (label "/" path), open list or not.
    bool DeleteKaverFile(std::string fileName);
    // A ".zip" and a ".sig" in ./payload; the ".zip" listed last is named
    // in m_strPayloadFileName.
    bool IsPayloadSigned(std::string& m_strPayloadFileName);

    // ---- staging: filling a drop box and completing a copy ---------------------
    // Adds to `size` what the whole copy list needs in a drop box.
    void CalculateAndAdjustPayloadSize(uint32_t& size);
    // One pass of the general filler from entry `start` on; `start` moves
    // past what went into the drop box.
    bool populateDynPart(std::string mntPnt, std::ostringstream* xmlStr, uint32_t& start,
                         uint32_t dropBoxSize);
    // The same pass for generation-three systems (filecopy and dirmake only).
    bool populateDynPartSarn(std::string strMntPnt, std::ostringstream* osXmlStr, uint32_t& uStart,
                             uint32_t uDropBoxSize);
    // Places the signed package of the first entry, its signature and
    // package.xml in the drop box mounted at DynMountPoint.
    bool populateDynPart(std::ostringstream* xmlStr);
    bool CompleteCopyFile();
    bool CompleteCopyFileSarn();
    bool CompleteSignedUnzip();
    // Hash header and four hash parts; true only when all five were
    // accepted.  Nothing is sent after the first refusal.
    bool SecureKaverCopy(sessionHandle myHdl, std::string cfgHash, uint16_t reserveByte);
    bool beginSecureUpdate(uint32_t size);
    bool processSecureUpdate(std::string hash);
    bool endSecureUpdate();
    void freeResponsePtr(void* p);
    // Reads every copied file back from the target partition.
    bool VerifyCopyFiles();

    // ---- inventory log and dependency check -----------------------------------
    // Exchanges with the controller through a drop box; a session must be
    // open.  On failure errorInfo.lastErr holds the reason.
    //
    // Appends the controller's answer for rql_query_current_records,
    // rql_query_history_records or rql_query_event_records to `buffer` (up
    // to a NUL in it).  An answer larger than 4 MiB is not read: that fails
    // with ZEMT_NOFILEFOUND, as a missing one does.
    bool QueryRQL(std::stringstream& buffer, xmlMode_t queryType);
    // Adds records (rql_update_records) or replaces the whole inventory
    // (rql_update_entire_inventory) with the records document of
    // getRQLXml(cid, xmlDevices).
    bool UpdateRQL(std::string cid, xmlMode_t updateType, std::string xmlDevices);
    // The records document.  With an empty `strXmlDevices`, one device
    // `strComponentID` described by ./package.xml and the system's id (see
    // getSysID); otherwise the Device elements of the caller's list, each
    // given AgentID="3" where it has none.  The list is walked from its
    // root: text is passed over, and any node that is not a Device is
    // entered and never left again, so Device elements after a nested
    // group (or after a comment) are not seen.  A flat run of Device
    // elements under one root element always works.  A list that is not
    // well-formed, carries a document type declaration, is larger than
    // 4 MiB or nests deeper than 64 elements gives an empty <Records>.
    std::string getRQLXml(const std::string& strComponentID, const std::string& strXmlDevices);
    // The last four characters of the "System ID" line that
    // ./getSystemId prints (after another line); empty when there is none.
    static std::string getSysID();
    // Display name, component type and version of ./package.xml, and the
    // versionCompatibilities fragment of its entries for `sysId` (empty
    // without such an element).  Never fails: an unreadable descriptor
    // gives empty values.
    static std::string getPkgInfo(std::string sysId, std::string& disp, std::string& compType,
                                  std::string& ver);
    // Has the controller check ./package.xml against its inventory (queryType
    // must be rql_query_dependency).  True when the check passed or the
    // controller cannot check; false when it failed (`buffer` receives the
    // answer without its XML declaration) or the exchange failed (`buffer`
    // untouched, reason in errorInfo.lastErr).  Answers larger than 4 MiB
    // are not read (ZEMT_NOFILEFOUND).
    bool doDepCheck(std::stringstream& buffer, xmlMode_t queryType);

    // ---- stage and update (generation three) --------------------------------
    // Whether the controller stages packages from a drop box's /payload.
    bool checkGUIDEnable();
    // Starts staging (or staging and applying) the drop box's payload and
    // polls for the outcome: 0 applied, reboot required; 1 applied, no
    // reboot required; -1 refused, failed or given up.
    int sendIPMICommandToStageAndUpdate(bool bStageAndUpdate);
    int pollForStatus();

    // ---- fields, in declaration order ----------------------------------------
    sessionEc_t sessionEc;
    sessionHandle thisSession;
    std::vector<cfgEntry> FileList;
    int l_state;
    errorInfoStr errorInfo;
    kaverSupport_t KAVERType;
    int l_entryNumber;
    std::string mountedVolName;
    int curRQDRIVECnt;
    int curStatCnt;
    int curDynCnt;
    int LinuxOSVer;
    int restart;
    int n_payload_added;
    std::string n_payload_component_id;
    uint32_t MAX_DYN_PART_SIZE;
    bool isFreshInstall;
    bool m_bHaldDaemonRunning;
    bool InitOk;
    bool UpdateCompletionStatus;

private:
    secureKaver(const secureKaver&) = delete;
    secureKaver& operator=(const secureKaver&) = delete;

    void restartController();
};

// ---- staging globals ------------------------------------------------------------
// Margin every drop-box size rule keeps free (bytes); writable.
extern ZEMT_API uint32_t eps;
// Mount point of the drop box used by the signed-package path.
extern ZEMT_API char DynMountPoint[1024];
// Path of the last update document written.
extern ZEMT_API char targetFilePath[1024];

// Progress of a copy list being completed, reported after every pass the
// controller accepted (the general and the generation-three completers).
struct copyProgress {
    uint32_t pass;         // 1 for the first pass
    uint32_t entriesDone;  // copy-list entries wholly handed over so far
    uint32_t entries;
    uint64_t bytesDone;    // payload bytes handed over so far
    uint64_t bytes;        // payload bytes of the whole copy list
};
typedef void (*copyProgressHandler)(const copyProgress* progress, void* context);
// Installs the process-wide handler (null switches it off).  Like the other
// staging buffers it is shared by every secureKaver of the process.
ZEMT_API void setCopyProgressHandler(copyProgressHandler handler, void* context);

// Prepares the directories of `dst` inside the drop box at `mntPnt` and runs
// the copy command for `op`; the result of the last command, 0 when `op`
// needs none, -1 when a name cannot be used safely.
ZEMT_API int doCopy(std::string mntPnt, std::string dst, std::string src, exmlMode op);

// Partition number written as the leading decimal folder of a name
// ("22/fw/x.bin" -> 22), read as atoi would; 0 when there is none.
ZEMT_API uint16_t GetPartNum(std::string fileName);

#endif
