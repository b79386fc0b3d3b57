// SPDX-License-Identifier: Apache-2.0
// One firmware-update run: the copy list of payload and descriptor is
// built, staged and handed to the controller on the path its generation
// serves.
#include "UpdRollbackWrapper.h"

#include <memory>

#include "PlatformLayer.h"
#include "SoftwareComponentInfo.h"
#include "core/FailureReason.h"
#include "update/WrapperTexts.h"

namespace {

const char* const kPayloadFolder = "/payload";

bool given(const char* name) { return name != nullptr && *name != '\0'; }

// Registers every record with AddFile, in order; false at the first one
// the copy list refuses.
bool addRecords(secureKaver& kaver, const std::vector<fDetails*>& list) {
    for (const fDetails* record : list) {
        if (kaver.AddFile(record->srcName, record->destName, record->action)) continue;
        failure::prefix("adding " + (record->srcName.empty() ? record->destName : record->srcName) +
                        " to the copy list");
        return false;
    }
    return true;
}

// StartCopyFile; its code when it fails, after `leaving` is logged.
int openCopyList(secureKaver& kaver, const char* leaving) {
    if (!kaver.StartCopyFile()) {
        const int code = kaver.getZEMTError();
        failure::prefix("opening the copy list");
        KAVER_LOG(startcopyError + std::to_string(code));
        KAVER_LOG(leaving);
        return code;
    }
    KAVER_LOG(startcopySuccess);
    return 0;
}

}  // namespace

UpdRollbackWrapper::UpdRollbackWrapper() : secureKaver() {
    const uint8_t created = getZEMTError();
    if (created != 0) {
        KAVER_LOG(secureKaverError);
        failure::prefix("starting the library");
        throw created;
    }
    secureKaverInit();
    if (!InitOk) {
        const uint8_t code = getZEMTError();
        KAVER_LOG(std::string(" Error in Update Rollback Wrapper Constructor ") + secureInitError + " error code " +
                  std::to_string(code));
        failure::prefix("initialising the library");
        throw code;
    }
    KAVER_LOG(secureKaverSuccess);
}

UpdRollbackWrapper::~UpdRollbackWrapper() {}

int UpdRollbackWrapper::doRollbackAndUpdate(std::vector<std::string> vPayloadPath, char* szSubSystem,
                                            char* szWwrapperName, bool bSingleFile, std::string& strErrString,
                                            bool bStageAndUpdate, bool bPackageXMLPathGiven,
                                            std::string strPackageXML) {
    KAVER_LOG("Entering to doRollbackAndUpdate");
    if (vPayloadPath.empty()) {
        strErrString = "Payload list is empty";
        KAVER_LOG(strErrString);
        failure::record("the payload list is empty");
        KAVER_LOG("Leaving doRollbackAndUpdate");
        return -1;
    }
    // Reading the descriptor switches the base utilities' log on when asked
    // for; nothing else of the reader is needed here.
    std::unique_ptr<CSoftwareComponentInfo> descriptor(new CSoftwareComponentInfo());
    const bool sarnPath = checkGUIDEnable();
    // A controller that does not know the capability query answers it
    // with an error; that only chooses the older path.
    failure::clear();
    if (!sarnPath) {
        KAVER_LOG(
            "Going Through Vemo Path : Check GUID Enable false or Rollbackwrapper node is not present in "
            "pacakge.xml");
        return rollbackUsingVemoMethod(vPayloadPath, szSubSystem, szWwrapperName, bSingleFile, strErrString,
                                       bStageAndUpdate, bPackageXMLPathGiven, strPackageXML);
    }
    KAVER_LOG("Going Through Sarn Path");
    return rollbackUsingSarnMethod(vPayloadPath, bSingleFile, strErrString, bStageAndUpdate, bPackageXMLPathGiven,
                                   strPackageXML);
}

int UpdRollbackWrapper::rollbackUsingVemoMethod(std::vector<std::string> vecPayloadList, char* szSubSystem,
                                                char* szWrapperName, bool bSingleFile, std::string& strErrString,
                                                bool bStageAndUpdate, bool bPackageXMLPathGiven,
                                                std::string strPackageXML) {
    KAVER_LOG("Entering to rollbackUsingVemoMethod Method");
    int result = addPayloadFiles(vecPayloadList, bSingleFile, bPackageXMLPathGiven, strPackageXML);
    if (result != 0) {
        strErrString = "ZEMT addPayloadFiles failed";
        failure::prefix("listing the payload for KAV022");
        return result;
    }
    if (given(szWrapperName) && given(szSubSystem) && bStageAndUpdate) {
        KAVER_LOG("Creating the compid.xml & ssibinput.xml for creating the SSIB Task");
        result = createComponentIdFile(szSubSystem, szWrapperName, "");
        if (result != 0) {
            strErrString = "ZEMT createComponentIdFile failed";
            failure::prefix("writing the component file");
            return result;
        }
        result = createSSIBUpdateFile(szWrapperName, "", szSubSystem);
        if (result != 0) {
            strErrString = "ZEMT createSSIBUpdateFile failed";
            failure::prefix("writing the task file");
            return result;
        }
    }
    result = updateFirmwarePartition();
    if (result != 0) {
        strErrString = "ZEMT updateFirmwarePartition failed";
        failure::prefix("staging the payload into KAV022");
    } else {
        KAVER_LOG("Leaving rollbackUsingVemoMethod Method");
    }
    return result;
}

int UpdRollbackWrapper::rollbackUsingSarnMethod(std::vector<std::string> vecPayloadList, bool bSingleFile,
                                                std::string& strErrString, bool bStageAndUpdate,
                                                bool bPackageXMLPathGiven, std::string strPackageXML) {
    KAVER_LOG("Entering rollbackUsingSarnMethod");
    int result = addPayloadandPackageFiles(vecPayloadList, bSingleFile, bPackageXMLPathGiven, strPackageXML);
    if (result != 0) {
        strErrString = "ZEMT addPayloadFiles failed";
        KAVER_LOG("ZEMT addPayloadandPackageFiles failed");
        failure::prefix("listing the payload for the drop box");
        return result;
    }
    result = updateFirmwarePartitionSarn(bStageAndUpdate);
    if (result != 0) {
        strErrString = "ZEMT updateFirmwarePartition failed";
        KAVER_LOG("ZEMT updateFirmwarePartitionSarn failed");
    } else {
        KAVER_LOG("Leaving rollbackUsingSarnMethod");
    }
    return result;
}

int UpdRollbackWrapper::addPayloadFiles(std::vector<std::string> vecPayloadList, bool bSingleFile,
                                        bool bPackageXMLPathGiven, std::string strPackageXML) {
    KAVER_LOG("Entering addPayloadFiles");
    const int opened = openCopyList(*this, "Leaving addPayloadFiles");
    if (opened != 0) return opened;
    std::vector<fDetails*> list;
    int result = createFileList(vecPayloadList, list, bSingleFile, bPackageXMLPathGiven, strPackageXML);
    if (result != 0) {
        KAVER_LOG(createFileListError);
    } else {
        KAVER_LOG(createFileListSuccess);
        if (!addRecords(*this, list)) {
            KAVER_LOG(addError);
            result = UPD_ADDFILEERROR;
        }
    }
    freeUpList(list);
    KAVER_LOG("Leaving addPayloadFiles");
    return result;
}

int UpdRollbackWrapper::addPayloadandPackageFiles(std::vector<std::string> vecPayloadList, bool bSingleFile,
                                                  bool bPackageXMLPathGiven, std::string strPackageXML) {
    KAVER_LOG("Entering addPayloadandPackageFiles");
    const int opened = openCopyList(*this, "Leaving addPayloadandPackageFiles because of StartCopyFile error");
    if (opened != 0) return opened;
    if (!AddFile("", kPayloadFolder, dirmake)) {
        KAVER_LOG("Leaving addPayloadandPackageFiles as AddFile failed");
        failure::prefix(std::string("adding the folder ") + kPayloadFolder + " to the copy list");
        return UPD_ADDFILEERROR;
    }
    const std::string processDir = CPlatformLayer::getCurrentProcessDirectory();
    KAVER_LOG("Current process directory is " + processDir);
    std::vector<fDetails*> list;
    int result = addPackageXMLToList(processDir, kPayloadFolder, list, bPackageXMLPathGiven, strPackageXML);
    // A payload that cannot be listed fails the run, whichever source it is.
    for (std::size_t i = 0; result == 0 && i < vecPayloadList.size(); ++i)
        result = addPayloadToFileList(vecPayloadList[i], kPayloadFolder, list, bSingleFile);
    if (result != 0) {
        KAVER_LOG(createFileListError);
        freeUpList(list);
        KAVER_LOG("Leaving addPayloadandPackageFiles because of file list error");
        return result;
    }
    KAVER_LOG(createFileListSuccess);
    if (!addRecords(*this, list)) {
        KAVER_LOG(addError);
        freeUpList(list);
        KAVER_LOG("Leaving addPayloadandPackageFiles because of AddFile error");
        return UPD_ADDFILEERROR;
    }
    freeUpList(list);
    KAVER_LOG("Leaving addPayloadandPackageFiles");
    return 0;
}

int UpdRollbackWrapper::updateFirmwarePartition() {
    if (!CompleteCopyFile()) {
        const int code = getZEMTError();
        KAVER_LOG(completeCopyError + std::string(" with error code ") + std::to_string(code));
        return code;
    }
    KAVER_LOG(copySuccess);
    if (!EndCopyFile()) {
        const int code = getZEMTError();
        KAVER_LOG(endCopyError + std::string(" with error code ") + std::to_string(code));
        return code;
    }
    return 0;
}

int UpdRollbackWrapper::updateFirmwarePartitionSarn(bool bStageAndUpdate) {
    KAVER_LOG("Entering updateFirmwarePartitionSarn");
    if (!CompleteCopyFileSarn()) {
        const int code = getZEMTError();
        KAVER_LOG(completeCopyError + std::string(" with error code ") + std::to_string(code));
        failure::prefix("staging the payload in a drop box");
        return code;
    }
    KAVER_LOG(copySuccess);
    int result = sendIPMICommandToStageAndUpdate(bStageAndUpdate);
    if (result == -1) failure::prefix(bStageAndUpdate ? "stage and update" : "stage only");
    failure::Keep reason;  // a drop box left behind does not change the outcome
    // The log macro skips its argument when the log is off.
    const bool deleted = DeleteDropBox(0);
    KAVER_LOG(deleted ? "DeleteDropBox Success" : "DeleteDropBox Failed");
    if (!EndCopyFile()) {
        result = getZEMTError();
        KAVER_LOG(endCopyError + std::string(" with error code ") + std::to_string(result));
    }
    KAVER_LOG("Leaving updateFirmwarePartitionSarn");
    return result;
}
