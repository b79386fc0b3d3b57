// SPDX-License-Identifier: Apache-2.0
// Versioned component folders in partition KAV022: <id>/current holds the
// installed payload (version N), <id>/previous the one before it.  The
// operations here only add copy-list actions; a completer carries them out.
#include "update/VersionedFolders.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <memory>

#include "PlatformLayer.h"
#include "XmlRead.h"
#include "secureKaver.h"

namespace {

const std::string package_xml = "package.xml";
const std::string package_xml2 = "package.xml";
const std::string software_component = "SoftwareComponent";
const std::string vendorVersion = "vendorVersion";
const std::string kav022_upper = "KAV022";
const std::string kav022_lower = "kav022";
const std::string current = "current";
const std::string previous = "previous";

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

std::string componentFolder(const secureKaver& kaver) { return kav022_lower + "/" + kaver.n_payload_component_id; }

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Lists the component's folder `sub` and adds one action per entry; false
// when it cannot be listed or an action is refused.
bool addPerEntry(secureKaver& kaver, const std::string& mountPoint, const std::string& sub,
                 const std::function<bool(const std::string&)>& add) {
    std::vector<std::string> names;
    if (!kaver.system_specific_list_dir(mountPoint + kaver.n_payload_component_id + "/" + sub, names)) return false;
    for (const std::string& name : names)
        if (!add(name)) return false;
    return true;
}

// A different version is coming: the files of current replace those of
// previous, and current is left empty for the new ones.
bool rotate(secureKaver& kaver, const std::string& mountPoint, const std::vector<std::string>& compList) {
    const std::string folder = componentFolder(kaver);
    if (string_in_list(previous, compList)) {
        KAVER_LOG("Previous dir already there, delete all files");
        if (!addPerEntry(kaver, mountPoint, previous, [&](const std::string& name) {
                return kaver.AddFile("", folder + "/" + previous + "/" + name, filedelete);
            }))
            return false;
    } else {
        KAVER_LOG("Previous dir not there, make it");
        if (!kaver.AddFile("", folder + "/" + previous, dirmake)) return false;
    }
    if (string_in_list(current, compList)) {
        KAVER_LOG("Current dir already there, move files to Previous");
        return addPerEntry(kaver, mountPoint, current, [&](const std::string& name) {
            return kaver.AddFile(folder + "/" + current + "/" + name, folder + "/" + previous + "/" + name, filemove);
        });
    }
    KAVER_LOG("Current dir not there, make it");
    return kaver.AddFile("", folder + "/" + current, dirmake);
}

// Who asks for the folder preparation: the first payload of a copy list,
// which also rotates the folders, or AttachAndCompare, which only compares
// and logs more.
enum Caller { ForPayload, ForCompare };

// Gets the component id, attaches KAV022 and adds the folder actions; the
// partition is detached again on every path after the attach.
bool prepareFolders(secureKaver& kaver, Caller caller, bool& match) {
    const bool comparing = caller == ForCompare;
    match = false;
    if (!kaver.get_comp_id(kaver.n_payload_component_id)) {
        if (comparing) KAVER_LOG("Get Component ID failed");
        return false;
    }
    KAVER_LOG("Attaching KAV022 and getting mount point");
    if (!kaver.AttachKaverPartition(kav022_upper)) {
        if (comparing) KAVER_LOG("AttachKaverParition Failed");
        return false;
    }
    auto detachAndFail = [&kaver](const char* message) {
        if (message != nullptr) KAVER_LOG(message);
        kaver.DetachKaverPartition(kav022_upper);
        return false;
    };
    std::string mountPoint;
    if (!kaver.getPartDrive(kav022_upper, mountPoint)) return detachAndFail(comparing ? "GetPartDrive Failed" : nullptr);
    std::vector<std::string> rootList;
    if (!kaver.system_specific_list_dir(mountPoint, rootList))
        return detachAndFail(comparing ? "Listing files from Mount Point Failed" : nullptr);

    const std::string& id = kaver.n_payload_component_id;
    const std::string folder = componentFolder(kaver);
    if (string_in_list(id, rootList)) {
        KAVER_LOG("Component ID dir already there");
        std::vector<std::string> compList;
        if (!kaver.system_specific_list_dir(mountPoint + id, compList))
            return detachAndFail(comparing ? "Listing files from MountPoint\\CompId Failed" : nullptr);
        if (!kaver.IsFreshInstall(id, compList, kaver.isFreshInstall)) return detachAndFail("IsFreshInstall Failed");
        if (kaver.isFreshInstall) {
            if (comparing) KAVER_LOG("isFreshInstall is ON");
            if (!kaver.MakeFreshInstall()) return detachAndFail("MakeFreshInstall Failed");
        } else {
            if (!kaver.compareVendorVersion(mountPoint, match)) return detachAndFail("CompareVendorVersion Failed");
            if (match) {
                KAVER_LOG("Vendor Version Matched");
                if (!kaver.ReplaceCurrentFolder(mountPoint)) return detachAndFail("ReplaceCurrentFolder Failed");
            } else if (!comparing && !rotate(kaver, mountPoint, compList)) {
                return detachAndFail(nullptr);
            }
        }
    } else {
        KAVER_LOG(comparing ? "Component ID Dir not there, so make it" : "Component ID dir not there, add it and Current");
        kaver.isFreshInstall = true;
        if (!kaver.AddFile("", folder, dirmake)) return detachAndFail(nullptr);
        if (!kaver.MakeFreshInstall()) return detachAndFail("MakeFreshInstall Failed");
    }
    kaver.DetachKaverPartition(kav022_upper);
    return true;
}

}  // namespace

std::string GetAttribute(xmlNode* node, const char* name) { return xmlread::attribute(node, name); }

bool string_in_list(std::string name, std::vector<std::string> list) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

bool secureKaver::system_specific_list_dir(std::string path, std::vector<std::string>& list) {
    list.clear();
    KAVER_LOG("entering secureKaver::system_specific_list_dir");
    KAVER_LOG("path at 1:" + path);
    std::replace(path.begin(), path.end(), '\\', '/');
    path += "/";
    KAVER_LOG("path at 2:" + path);
    // The platform lists nothing for a folder it cannot open; a folder that
    // is not there must fail instead of looking empty.
    if (!CPlatformLayer::IsDirectory(path)) {
        storeErrorInfo(ZEMT_INTERROR);
        KAVER_LOG("Exit at 1");
        return false;
    }
    for (const std::string& entry : CPlatformLayer::GetFileList(path)) {
        const std::string name = entry.substr(entry.rfind('/') + 1);
        if (name != "." && name != "..") list.push_back(name);
    }
    return true;
}

bool secureKaver::getVendorVersion(const std::string& path, std::string& version) {
    KAVER_LOG("Entering getVendorVersion");
    KAVER_LOG("path at 1:" + path);
    std::string file = path;
    std::replace(file.begin(), file.end(), '\\', '/');
    KAVER_LOG("path at 2:" + file);
    std::unique_ptr<xmlDoc, DocFree> doc(xmlread::parseFile(file));
    if (!doc) {
        KAVER_LOG("Could not open package.xml");
        return false;
    }
    xmlNode* root = xmlDocGetRootElement(doc.get());
    if (root == nullptr) {
        KAVER_LOG("Could not get root node");
        return false;
    }
    if (xmlStrcmp(root->name, BAD_CAST software_component.c_str()) != 0) {
        KAVER_LOG("Root node is not SoftwareComponent");
        storeErrorInfo(ZEMT_PACKAGEXMLERROR);
        return false;
    }
    version = GetAttribute(root, vendorVersion.c_str());
    KAVER_LOG("VendorVersion from " + version);
    return true;
}

bool secureKaver::IsFreshInstall(const std::string& /*compId*/, std::vector<std::string>& list, bool& fresh) {
    KAVER_LOG("Entering IsFreshInstall");
    fresh = false;
    if (string_in_list(current, list)) {
        KAVER_LOG("Current dir present in Kaver");
    } else {
        KAVER_LOG("Current Folder not present in Kaver");
        if (string_in_list(previous, list)) {
            KAVER_LOG("Preivous Folder present in Kaver");
        } else {
            KAVER_LOG("Previous Folder not present in Kaver");
            fresh = true;
        }
    }
    return true;
}

bool secureKaver::MakeFreshInstall() {
    KAVER_LOG("Entering MakeFreshInstall");
    if (!isFreshInstall) {
        KAVER_LOG("isFreshInstall is OFF");
        return false;
    }
    const std::string folder = componentFolder(*this);
    return AddFile("", folder + "/" + previous, dirmake) && AddFile("", folder + "/" + current, dirmake);
}

bool secureKaver::compareVendorVersion(const std::string& mountPoint, bool& match) {
    KAVER_LOG("Entering compareVendorVersion");
    match = false;
    const std::string currentDir = mountPoint + n_payload_component_id + "/" + current;
    std::vector<std::string> list;
    if (CPlatformLayer::IsDirectory(currentDir + "/")) {
        if (!system_specific_list_dir(currentDir, list)) {
            KAVER_LOG("List Current folder failed");
            return false;
        }
    }
    if (!string_in_list(package_xml2, list)) {
        KAVER_LOG("Current folder not there or package.xml not found in KAV partition");
        return true;
    }
    KAVER_LOG("Found package.xml");
    std::string installed, offered;
    if (!getVendorVersion(currentDir + "/" + package_xml2, installed)) {
        KAVER_LOG("getVendorVersion from KAV022 Failed");
        return false;
    }
    if (!getVendorVersion(package_xml, offered)) {
        KAVER_LOG("getVendorVersion from TARN Failed");
        return false;
    }
    installed = lower(installed);
    KAVER_LOG("tolower of Vendor Version from Kaver " + installed);
    offered = lower(offered);
    KAVER_LOG("tolower of Vendor Version from TARN " + offered);
    if (installed == offered) {
        KAVER_LOG("Vendor Version Matched");
        match = true;
    }
    return true;
}

bool secureKaver::ReplaceCurrentFolder(std::string& mountPoint) {
    KAVER_LOG("Entering ReplaceCurrentFolder");
    const std::string& id = n_payload_component_id;
    const std::string folder = componentFolder(*this);
    std::vector<std::string> files;
    if (!system_specific_list_dir(mountPoint + id + "/" + current, files)) {
        KAVER_LOG("Listing files from MountPoint\\CompId\\current Failed");
        return false;
    }
    for (const std::string& name : files)
        if (!AddFile("", folder + "/" + current + "/" + name, filedelete)) return false;
    std::vector<std::string> compList;
    if (!system_specific_list_dir(mountPoint + id, compList)) return false;
    if (!string_in_list(previous, compList)) {
        KAVER_LOG("Previous dir not there, so make it");
        if (!AddFile("", folder + "/" + previous, dirmake)) return false;
    }
    return true;
}

bool secureKaver::AttachAndCompare(bool& compResult) { return prepareFolders(*this, ForCompare, compResult); }

bool secureKaver::AddNFile(std::string file) {
    const std::string::size_type slash = file.find_last_of("/\\");
    const std::string base = slash == std::string::npos ? file : file.substr(slash + 1);
    if (n_payload_added == 0) {
        n_payload_added = 1;
        KAVER_LOG("Adding first N payload file");
        bool match = false;
        if (!prepareFolders(*this, ForPayload, match)) return false;
        const std::string dir = componentFolder(*this);
        if (!AddFile(package_xml, dir + "/" + current + "/" + package_xml2, filecopy)) return false;
        if (isFreshInstall && !AddFile(package_xml, dir + "/" + previous + "/" + package_xml2, filecopy))
            return false;
    } else {
        KAVER_LOG("Adding subsequent N payload file");
    }
    const std::string dir = componentFolder(*this);
    if (!AddFile(file, dir + "/" + current + "/" + base, filecopy)) return false;
    // A fresh install seeds both folders with the same version.
    return !isFreshInstall || AddFile(file, dir + "/" + previous + "/" + base, filecopy);
}

bool secureKaver::AddN1File(std::vector<cfgEntry> n1List) {
    try {
        for (const cfgEntry& entry : n1List) FileList.push_back(entry);
        return true;
    } catch (...) {
        KAVER_LOG("ZEMT internal error");
        storeErrorInfo(ZEMT_INTERROR);
    }
    return false;
}
