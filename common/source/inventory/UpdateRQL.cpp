// SPDX-License-Identifier: Apache-2.0
// Inventory-log update: a records document (input.xml) and the update
// document naming it go to the controller in a drop box; nothing comes back.
#include <cstring>

#include "PlatformLayer.h"
#include "UpdateDocument.h"
#include "inventory/RecordsDocument.h"
#include "inventory/RqlExchange.h"
#include "md5wrapper.h"
#include "secureKaver.h"

std::string secureKaver::getRQLXml(const std::string& strComponentID, const std::string& strXmlDevices) {
    if (strXmlDevices.empty()) {
        const std::string sysId = getSysID();
        std::string display, type, version;
        const std::string fragment = getPkgInfo(sysId, display, type, version);
        return records::document(records::generatedDevice(strComponentID, display, type, version, fragment));
    }
    KAVER_LOG("Device Input XML: " + strXmlDevices);
    return records::document(records::devicesOf(strXmlDevices));
}

bool secureKaver::UpdateRQL(std::string cid, xmlMode_t updateType, std::string xmlDevices) {
    static md5wrapper md5;
    rql::Exchange box(*this);
    try {
        std::memset(&IPMIReqBuf, 0, sizeof IPMIReqBuf);
        const std::string records = getRQLXml(cid, xmlDevices);
        KAVER_LOG("RQL entry: " + records);
        if (!IsSessionActive()) {
            KAVER_LOG("UpdateRQL called with NO Active Session");
            rql::fail(ZEMT_NOKAVERSESS);
        }
        if (updateType != rql_update_records && updateType != rql_update_entire_inventory) {
            KAVER_LOG("Invalid update RQL request.");
            rql::fail(ZEMT_INVRQLREQ);
        }
        rql::request(updateType, updInvFileName, "", md5.getHashFromString(records));
        std::ostringstream updateFile;
        CreateRQLConfigFile(&updateFile, RqlRequest);

        // A document too large for any drop box asks for more than one can
        // be, instead of wrapping round to a small size.
        const uint64_t needed = static_cast<uint64_t>(records.size()) + DYNCHUNK_SZ;
        const uint32_t size = needed > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(needed);
        if (!box.create(size, "UpdateRQL failed", "PartitionSize obtained is small")) return false;
        box.attach("AttachPartition succeeded.");
        KAVER_LOG("Finding where the dynamic partition was attached.");
        const std::string mount = box.mountPoint();
        KAVER_LOG("Dynamic partition mount point found");
        KAVER_LOG(mount);
        KAVER_LOG("Constructing the target file name");
        if (!box.labelKnown()) rql::fail(ZEMT_FINDMOUNTERR);
        const std::string inputPath = mount + updInvFileName;
        const std::string updatePath = mount + updFileName;

        const std::string document = updateFile.str();
        const std::string hash = md5.getHashFromString(document);
        KAVER_LOG("update.xml File Hash: " + hash);
        KAVER_LOG("update.xml Contents: " + document);
        box.write(updatePath, document);
        CPlatformLayer::Run("sync");
        box.write(inputPath, records);
        CPlatformLayer::Run("sync");
        syncAll(mount);

        box.handOver(hash);
        box.remove("DeleteDropBox failed", "DeleteDropBox succeeded");
        return true;
    } catch (unsigned char code) {
        box.cleanUp(code, code == ZEMT_FINDMOUNTERR || code == ZEMT_NODYNPRESENT, false, "Delete Drop Box Failed.");
        KAVER_LOG("UpdateRQL Failed.");
        return false;
    } catch (...) {
        KAVER_LOG("ZEMT internal error");
        KAVER_LOG("UpdateRQL Failed.");
        storeErrorInfo(ZEMT_INTERROR);
        return false;
    }
}
