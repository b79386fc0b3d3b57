// SPDX-License-Identifier: Apache-2.0
// The two task description files of an update on an older controller: the
// component file "<id>.xml", which names the wrapper program that updates
// the component, and "ssibinput.xml", the task that runs it.
#include <cerrno>
#include <cstring>
#include <fstream>

#include "UpdRollbackWrapper.h"
#include "core/FailureReason.h"
#include "update/WrapperTexts.h"

namespace {

const char* const GENERIC_XML_TAG = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>";
const char* const SSIB_HEAD_TAG = "<SSIB>";
const char* const SSIB_TAIL_TAG = "</SSIB>";
const char* const REC_BEG_TAG = "<Record";
const char* const GEN_END_TAG = " />";
const char* const QUOT_TAG = "\"";
const char* const TYPE_TAG = " type=";
const char* const BLKID_TAG = " blockid=";
const char* const REBOOT_REQD_TAG = " reboot_required=";
const char* const REBOOT_TYPE_TAG = " reboot_type=";
const char* const TIMEOUT_TAG = " timeout=";
const char* const RET_CODE_TAG = " returncode=";
const char* const RETRY_CNT_TAG = " retrycount=";
const char* const CMD_BEG_TAG = " cmd=";
const char* const UP_TAG = " /u frmw:\\";
const char* const CMD_END_TAG = " ramfs:\\output.xml\"";
const char* const WRAPPER_BEG_TAG = "<Wrapper";
const char* const WRAPPER_END_TAG = "</Wrapper>";
const char* const NAME_TAG = " name=";
const char* const FILE_PATH_NAME_TAG = " filePathName=";
const char* const DIG_SIG_TAG = " digitalSignature=";
const char* const CLOSE_TAG = " >";
const char* const SUPPORTED_DEVICES_BEG_TAG = "<SupportedDevices>";
const char* const SUPPORTED_DEVICES_END_TAG = "</SupportedDevices>";
const char* const DEVICE_BEG_TAG = "<Device";
const char* const DEVICE_END_TAG = "</Device>";
const char* const COMP_ID_TAG = " componentID=";
const char* const INV_BEG_TAG = "<Inventory";
const char* const SUPPORTED_TAG = " supported=";
const char* const SOURCE_TAG = " source=";
const char* const UPDATE_BEG_TAG = "<Update";
const char* const ROLLBACK_TAG = " rollback=";
const char* const VALIDATION_TAG = " validationNeeded=";
const char* const IMPACTS_TP_MEASUREMENTS_TAG = " impactsTPMmeasurements=";
const char* const FIELDSERVICE_TAG = " fieldservice=";
const char* const FORCED_TAG = "forced";
const char* const FMPINFO_TAG = "<FmpInfo vendorcode=";
const char* const VENDORCODETYPE_TAG = " vendorcodetype=";
const char* const FILEEXTENSION_TAG = " FileExtension=";
const char* const FMPGUID_TAG = " fmpGUID=";

// What the files say for each subsystem; the name is compared exactly.
struct Subsystem {
    const char* name;
    bool firmwareBlock;  // the device carries an FmpInfo element
    const char* strFmpGUID;
    const char* strFileExtension;
    const char* inventorySource;
    const char* rebootRequired;
    const char* rebootType;
    const char* extraTaskAttributes;
};

const Subsystem kSubsystems[] = {
    {"BIOS", true, "B1FF281A-918F-4603-B8D2-125E02299D50", ".hdr", "Device", "1", "1", ""},
    {"CPLD", true, "B77ACD42-04B9-4404-8B77-A02DAA872880", ".jbc", "Device", "2", "0",
     "  category=\"CPLD\" taskName=\"CPLD\"  "},
    {"PSU", false, "", "", "RQL", "", "", ""},
};
const Subsystem kOtherSubsystem = {"", false, "", "", "", "", "", ""};

const Subsystem& subsystemOf(const std::string& name) {
    for (const Subsystem& s : kSubsystems)
        if (name == s.name) return s;
    return kOtherSubsystem;
}

// The values are written inside double-quoted attributes: a quote, a '<'
// or an '&' in a name would end the attribute or break the document, so
// they become entity references.  Ordinary names are written unchanged.
std::string escaped(const std::string& value) {
    std::string out;
    for (char c : value) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '"') out += "&quot;";
        else out += c;
    }
    return out;
}

std::string attr(const char* tag, const std::string& value) { return tag + (QUOT_TAG + escaped(value)) + QUOT_TAG; }

std::string componentFileText(const Subsystem& subsystem, const std::string& compName, const std::string& wrapperName,
                              const std::string& id) {
    std::string text = WRAPPER_BEG_TAG + attr(NAME_TAG, compName) + attr(FILE_PATH_NAME_TAG, wrapperName) +
                       attr(DIG_SIG_TAG, "false") + attr(TIMEOUT_TAG, "300") + CLOSE_TAG;
    text += SUPPORTED_DEVICES_BEG_TAG + (DEVICE_BEG_TAG + attr(COMP_ID_TAG, id));
    if (subsystem.firmwareBlock) {
        text += attr(IMPACTS_TP_MEASUREMENTS_TAG, "true") + attr(FIELDSERVICE_TAG, FORCED_TAG) + CLOSE_TAG;
        text += std::string(FMPINFO_TAG) + QUOT_TAG + QUOT_TAG + attr(VENDORCODETYPE_TAG, "UINT32") +
                attr(FILEEXTENSION_TAG, subsystem.strFileExtension) + attr(FMPGUID_TAG, subsystem.strFmpGUID) +
                GEN_END_TAG;
    } else {
        text += CLOSE_TAG;
    }
    text += std::string(DEVICE_END_TAG) + SUPPORTED_DEVICES_END_TAG;
    text += INV_BEG_TAG + attr(SUPPORTED_TAG, "true") + attr(SOURCE_TAG, subsystem.inventorySource) + GEN_END_TAG;
    text += UPDATE_BEG_TAG + attr(SUPPORTED_TAG, "true") + attr(ROLLBACK_TAG, "true") +
            attr(VALIDATION_TAG, "true") + GEN_END_TAG + WRAPPER_END_TAG;
    return text;
}

std::string taskFileText(const Subsystem& subsystem, const std::string& wrapperName, const std::string& id) {
    std::string text = std::string(GENERIC_XML_TAG) + SSIB_HEAD_TAG + REC_BEG_TAG + attr(TYPE_TAG, "0") +
                       attr(BLKID_TAG, "6") + attr(REBOOT_REQD_TAG, subsystem.rebootRequired) +
                       attr(REBOOT_TYPE_TAG, subsystem.rebootType) + attr(TIMEOUT_TAG, "300") +
                       attr(RET_CODE_TAG, "0") + attr(RETRY_CNT_TAG, "0");
    // The wrapper updates with the component file from the frmw: store and
    // leaves its result in ramfs:.
    text += CMD_BEG_TAG + (QUOT_TAG + escaped(wrapperName)) + UP_TAG + escaped(id) + "\\" + escaped(id) + ".xml" +
            CMD_END_TAG;
    text += subsystem.extraTaskAttributes + (GEN_END_TAG + std::string(SSIB_TAIL_TAG));
    return text;
}

bool writeLine(const std::string& path, const std::string& text) {
    std::ofstream out(path.c_str(), std::ios::out | std::ios::trunc | std::ios::binary);
    if (!out.is_open()) {
        failure::record(path + " cannot be opened for writing: " + std::strerror(errno));
        return false;
    }
    out << text << '\n';
    return true;
}

// Where a task file goes (the working directory when no folder is given)
// and the component it describes; 0 or the code of what is missing.
int folderAndComponent(UpdRollbackWrapper& wrapper, std::string& destDir, std::string& id) {
    if (destDir.empty()) destDir = wrapper.getCurrentDir();
    if (destDir.empty()) {
        failure::record("the working directory cannot be read");
        return UPD_NOCURRENTDIRECTORY;
    }
    if (!wrapper.get_comp_id(id)) {
        KAVER_LOG(noCompID);
        return ZEMT_PACKAGEXMLERROR;
    }
    return 0;
}

}  // namespace

int UpdRollbackWrapper::createComponentIdFile(std::string compName, std::string wrapperName, std::string destDir) {
    const Subsystem& subsystem = subsystemOf(compName);
    std::string id;
    const int ready = folderAndComponent(*this, destDir, id);
    if (ready != 0) return ready;
    const std::string compIDFile = destDir + fileSeparator + id + ".xml";
    if (!writeLine(compIDFile, componentFileText(subsystem, compName, wrapperName, id))) {
        KAVER_LOG(noOpen + compIDFile + writing);
        return UPD_COMPIDOPENERROR;
    }
    const std::string dest = std::string(kav022_lower) + fileSeparator + id + fileSeparator + id + ".xml";
    if (!AddFile(compIDFile, dest, filecopy)) {
        KAVER_LOG(addcompIDError);
        return UPD_ADDFILEERROR;
    }
    return 0;
}

int UpdRollbackWrapper::createSSIBUpdateFile(std::string wrapperName, std::string destDir, std::string strSubSystem) {
    const Subsystem& subsystem = subsystemOf(strSubSystem);
    std::string id;
    const int ready = folderAndComponent(*this, destDir, id);
    if (ready != 0) return ready;
    const std::string ssibInputFile = destDir + fileSeparator + ssibFile;
    if (!writeLine(ssibInputFile, taskFileText(subsystem, wrapperName, id))) {
        KAVER_LOG(noOpen + ssibInputFile + writing);
        return UPD_SSIBOPENERROR;
    }
    if (!AddFile(ssibInputFile, "", ssib)) {
        KAVER_LOG(addSSIBError);
        return UPD_ADDFILEERROR;
    }
    return 0;
}
