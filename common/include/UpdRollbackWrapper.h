/* SPDX-License-Identifier: Apache-2.0 */
#ifndef ZEMT_UPD_ROLLBACK_WRAPPER_H
#define ZEMT_UPD_ROLLBACK_WRAPPER_H

#include <string>
#include <vector>

#include "secureKaver.h"

// Result codes of the wrapper, beside the library's ZEMT_ codes.
const int UPD_NOFULLKAVERPRESENT = 80;
const int UPD_NOCURRENTDIRECTORY = 81;
const int UPD_COMPIDOPENERROR = 82;
const int UPD_SSIBOPENERROR = 83;
const int UPD_ADDFILEERROR = 84;
const int UPD_PKGERROR = 85;
const int UPD_PAYLOADERROR = 86;
const int UPD_NOPAYLOAD = 87;

// One record of the wrapper's copy list.
struct fDetails {
    std::string srcName;   // host file or folder; empty for a folder to create
    std::string destName;  // path inside the repository
    exmlMode action;       // filecopy, dirmove, dirdelete or dirmake
};

// One firmware-update run of an update package: its payload and
// descriptor are staged and the controller is asked to apply them, into
// the component's versioned folders in KAV022 (older controllers) or
// through a drop box's /payload and the stage-and-update command (newer
// controllers).  The results are 0 for success, -1 for an empty payload
// list or a failed stage-and-update, 1 for an update applied without the
// need to reboot, or a ZEMT_/UPD_ code.
class ZEMT_API UpdRollbackWrapper : public secureKaver {
public:
    // Builds and initialises the library object; throws the one-byte
    // error code (unsigned char) when either fails.
    UpdRollbackWrapper();
    virtual ~UpdRollbackWrapper();

    // vPayloadPath: one file per entry when bSingleFile, else folders whose
    // whole content is the payload.  The descriptor is strPackageXML when
    // bPackageXMLPathGiven, else the package.xml beside the payload.  The
    // task files are written when both names are given and bStageAndUpdate.
    int doRollbackAndUpdate(std::vector<std::string> vPayloadPath, char* szSubSystem, char* szWwrapperName,
                            bool bSingleFile, std::string& strErrString, bool bStageAndUpdate,
                            bool bPackageXMLPathGiven, std::string strPackageXML);
    int rollbackUsingVemoMethod(std::vector<std::string> vecPayloadList, char* szSubSystem, char* szWrapperName,
                                bool bSingleFile, std::string& strErrString, bool bStageAndUpdate,
                                bool bPackageXMLPathGiven, std::string strPackageXML);
    int rollbackUsingSarnMethod(std::vector<std::string> vecPayloadList, bool bSingleFile, std::string& strErrString,
                                bool bStageAndUpdate, bool bPackageXMLPathGiven, std::string strPackageXML);

    // Open a copy list and fill it (versioned folders / drop-box payload).
    int addPayloadFiles(std::vector<std::string> vecPayloadList, bool bSingleFile, bool bPackageXMLPathGiven,
                        std::string strPackageXML);
    int addPayloadandPackageFiles(std::vector<std::string> vecPayloadList, bool bSingleFile,
                                  bool bPackageXMLPathGiven, std::string strPackageXML);

    int createFileList(std::vector<std::string> vecSrcName, std::vector<fDetails*>& vecList, bool bSingleFile,
                       bool bPackageXMLPathGiven, std::string strPackageXML);
    // A folder payload is walked recursively; a symbolic link that leads
    // back into a folder being walked is refused (UPD_PAYLOADERROR).
    int addPayloadToFileList(std::string srcName, std::string destCopyDir, std::vector<fDetails*>& list,
                             bool singleFile);
    int addPackageXMLToList(std::string srcDir, std::string destCopyDir, std::vector<fDetails*>& list,
                            bool bPackageXMLPathGiven, std::string strPackageXML);
    void addToList(std::vector<fDetails*>& list, std::string srcName, std::string destName, exmlMode action);
    void freeUpList(std::vector<fDetails*>& list);

    // Complete the staged copy list.
    int updateFirmwarePartition();
    int updateFirmwarePartitionSarn(bool bStageAndUpdate);

    std::string getCurrentDir();
    std::string getFileNameFromPath(std::string& path);
    std::string getDirectoryFromPath(std::string& path);

    // The component file "<id>.xml" and the task file "ssibinput.xml" in
    // destDir (empty: the working directory), added to the copy list.
    // Characters that would end an attribute (&, <, ") are written as
    // entity references.
    int createComponentIdFile(std::string compName, std::string wrapperName, std::string destDir);
    int createSSIBUpdateFile(std::string wrapperName, std::string destDir, std::string strSubSystem);
};

#endif
