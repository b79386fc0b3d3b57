// SPDX-License-Identifier: Apache-2.0
// The wrapper's copy lists: payload files and folders, the descriptor, and
// on older controllers the rotation of the component's versioned folders.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "PlatformLayer.h"
#include "UpdRollbackWrapper.h"
#include "core/FailureReason.h"
#include "update/WrapperTexts.h"

namespace {

// A folder being walked, by device and inode.
struct FolderId {
    dev_t device;
    ino_t inode;
    bool operator==(const FolderId& other) const { return device == other.device && inode == other.inode; }
};

// Entry names of a folder as readdir gives them ("." and ".." included);
// false when it cannot be opened.  The payload is the caller's own data,
// read where the caller put it.
// "PATH: why", for a payload file or folder the walk cannot use.
void recordUnusable(const std::string& path) { failure::record(path + ": " + std::strerror(errno)); }

bool readFolder(const std::string& path, std::vector<std::string>& names) {
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) return false;
    while (const dirent* entry = readdir(dir)) names.push_back(entry->d_name);
    closedir(dir);
    return true;
}

// The payload walk.  `walking` holds the folders from the payload's root
// down to `srcName`; a symbolic link back into one of them would make the
// walk endless.
int walkPayload(UpdRollbackWrapper& wrapper, const std::string& srcName, const std::string& destCopyDir,
                std::vector<fDetails*>& list, bool singleFile, std::vector<FolderId>& walking) {
    KAVER_LOG("Entering UpdRollbackWrapper::addPayloadToFileList");
    KAVER_LOG(srcName);
    KAVER_LOG(destCopyDir);
    struct stat st;
    if (singleFile) {
        if (::stat(srcName.c_str(), &st) != 0) {
            recordUnusable(srcName);
            KAVER_LOG(statError + srcName + payload);
            return UPD_PAYLOADERROR;
        }
        std::string path = srcName;
        wrapper.addToList(list, srcName, destCopyDir + fileSeparator + wrapper.getFileNameFromPath(path), filecopy);
    } else {
        std::vector<std::string> names;
        if (!readFolder(srcName, names) || ::stat(srcName.c_str(), &st) != 0) {
            recordUnusable(srcName);
            KAVER_LOG(noHandleError);
            return UPD_PAYLOADERROR;
        }
        if (names.size() <= 2) {
            failure::record("the payload folder " + srcName + " is empty");
            KAVER_LOG(noPayload);
            return UPD_NOPAYLOAD;
        }
        walking.push_back(FolderId{st.st_dev, st.st_ino});
        for (const std::string& name : names) {
            const std::string path = srcName + fileSeparator + name;
            if (::stat(path.c_str(), &st) != 0) {
                recordUnusable(path);
                KAVER_LOG(statError + name + payload);
                return UPD_PAYLOADERROR;
            }
            const std::string dest = destCopyDir + fileSeparator + name;
            if (!S_ISDIR(st.st_mode)) {
                wrapper.addToList(list, path, dest, filecopy);
                continue;
            }
            if (name == "." || name == "..") continue;
            if (std::find(walking.begin(), walking.end(), FolderId{st.st_dev, st.st_ino}) != walking.end()) {
                KAVER_LOG("Symbolic link loop at " + path + payload);
                failure::record(path + " leads back into a folder of the payload (a symbolic link loop)");
                return UPD_PAYLOADERROR;
            }
            wrapper.addToList(list, "", dest, dirmake);
            const int result = walkPayload(wrapper, path, dest, list, false, walking);
            if (result != 0) return result;
        }
        walking.pop_back();
    }
    KAVER_LOG("Leaving UpdRollbackWrapper::addPayloadToFileList");
    return 0;
}

}  // namespace

int UpdRollbackWrapper::createFileList(std::vector<std::string> vecSrcName, std::vector<fDetails*>& vecList,
                                       bool bSingleFile, bool bPackageXMLPathGiven, std::string strPackageXML) {
    KAVER_LOG("Entering UpdRollbackWrapper::createFileList");
    std::string id;
    if (!get_comp_id(id)) {
        KAVER_LOG(noCompID);
        return ZEMT_PACKAGEXMLERROR;
    }
    // Single files are staged from beside the running program.  A folder
    // payload lies in the package's root, its descriptor beside it.
    std::string strSrcDir;
    if (bSingleFile) strSrcDir = CPlatformLayer::getCurrentProcessDirectory();
    else if (!vecSrcName.empty()) strSrcDir = vecSrcName.front();
    KAVER_LOG("strSrcDir is " + strSrcDir);

    const std::string folder = std::string(kav022_lower) + fileSeparator + id;
    const std::string current = folder + fileSeparator + NDir;
    const std::string previous = folder + fileSeparator + N_1Dir;

    bool sameVersion = false;
    if (!AttachAndCompare(sameVersion)) {
        failure::prefix("reading the component's folders in KAV022");
        return UPD_PAYLOADERROR;
    }
    if (!isFreshInstall && !sameVersion) {
        KAVER_LOG("Creating CompID DIR and moving content from current to preivous");
        addToList(vecList, strSrcDir + fileSeparator + id, folder, dirmake);
        addToList(vecList, previous, "", dirdelete);
        addToList(vecList, current, previous, dirmove);
        addToList(vecList, strSrcDir + fileSeparator + id, current, dirmake);
    }

    // A fresh install seeds both folders with the same version.
    std::vector<std::string> targets(1, current);
    if (isFreshInstall) targets.push_back(previous);
    const std::string descriptorDir = bSingleFile ? strSrcDir : strSrcDir + fileSeparator + "..";
    for (const std::string& target : targets) {
        const int result = addPackageXMLToList(descriptorDir, target, vecList, bPackageXMLPathGiven, strPackageXML);
        if (result != 0) return result;
    }
    // A source that cannot be listed fails the run, whichever it is.
    for (const std::string& target : targets) {
        for (const std::string& source : vecSrcName) {
            const int result = addPayloadToFileList(source, target, vecList, bSingleFile);
            if (result != 0) return result;
        }
    }
    return 0;
}

int UpdRollbackWrapper::addPayloadToFileList(std::string srcName, std::string destCopyDir,
                                             std::vector<fDetails*>& list, bool singleFile) {
    std::vector<FolderId> walking;
    return walkPayload(*this, srcName, destCopyDir, list, singleFile, walking);
}

int UpdRollbackWrapper::addPackageXMLToList(std::string srcDir, std::string destCopyDir,
                                            std::vector<fDetails*>& list, bool bPackageXMLPathGiven,
                                            std::string strPackageXML) {
    const std::string dest = destCopyDir + fileSeparator + pkgFile;
    if (bPackageXMLPathGiven) {
        // The caller's choice is taken as it is; a missing file fails later,
        // when the copy list checks its sources.
        KAVER_LOG("PackageXMLPath  " + strPackageXML);
        addToList(list, strPackageXML, dest, filecopy);
        return 0;
    }
    const std::string path = srcDir + fileSeparator + pkgFile;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        failure::record("the package's descriptor " + path + ": " + std::strerror(errno));
        KAVER_LOG(statError + path);
        return UPD_PKGERROR;
    }
    KAVER_LOG("PackageXMLPath  " + path);
    addToList(list, path, dest, filecopy);
    return 0;
}

void UpdRollbackWrapper::addToList(std::vector<fDetails*>& list, std::string srcName, std::string destName,
                                   exmlMode action) {
    KAVER_LOG("Entering UpdRollbackWrapper::addToList");
    KAVER_LOG(srcName);
    KAVER_LOG(destName);
    list.push_back(new fDetails{srcName, destName, action});
    KAVER_LOG("Leaving UpdRollbackWrapper::addToList");
}

void UpdRollbackWrapper::freeUpList(std::vector<fDetails*>& list) {
    for (fDetails* record : list) delete record;
    list.clear();
}

std::string UpdRollbackWrapper::getCurrentDir() {
    char buffer[1025] = {0};
    if (getcwd(buffer, sizeof buffer) == nullptr) {
        KAVER_LOG(currentDirError);
        return std::string();
    }
    return buffer;
}

std::string UpdRollbackWrapper::getFileNameFromPath(std::string& path) {
    const std::string::size_type pos = path.find_last_of("/\\");
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

std::string UpdRollbackWrapper::getDirectoryFromPath(std::string& path) {
    const std::string::size_type pos = path.find_last_of("/\\");
    return pos == std::string::npos ? std::string() : path.substr(0, pos);
}
