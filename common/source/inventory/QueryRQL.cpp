// SPDX-License-Identifier: Apache-2.0
// Inventory-log query: the controller's current, history or event records,
// asked for by an update document and answered in output.xml.
#include <cstring>

#include "PlatformLayer.h"
#include "UpdateDocument.h"
#include "inventory/RqlExchange.h"
#include "md5wrapper.h"
#include "secureKaver.h"

bool secureKaver::QueryRQL(std::stringstream& buffer, xmlMode_t queryType) {
    static md5wrapper md5;
    rql::Exchange box(*this);
    try {
        std::memset(&IPMIReqBuf, 0, sizeof IPMIReqBuf);
        if (!IsSessionActive()) {
            KAVER_LOG("QueryRQL called with NO active session");
            rql::fail(ZEMT_NOKAVERSESS);
        }
        if (queryType < rql_query_current_records || queryType > rql_query_event_records) {
            KAVER_LOG("Invalid update RQL request.");
            rql::fail(ZEMT_INVRQLREQ);
        }
        rql::request(queryType, "Update.xml", "Output.xml", "");
        std::ostringstream queryFile;
        CreateRQLConfigFile(&queryFile, RqlRequest);

        std::string mount, hash;
        if (!box.placeRequest(queryFile.str(), md5, "QueryRQL failed", "Update.xml", mount, hash)) return false;
        CPlatformLayer::Run("sync");
        KAVER_LOG("update.xml written");
        syncAll(mount);

        box.handOver(hash);
        const std::string answer = box.fetchAnswer("Output.xml file does NOT exist", "Contents of Output.xml");
        buffer << answer;
        box.detach();
        box.remove("Delete Drop Box Failed.", "Delete Drop Box succeeded.");
        KAVER_LOG("QueryRQL succeeded");
        return true;
    } catch (unsigned char code) {
        KAVER_LOG("QueryRQL failed");
        const bool attached =
            code == ZEMT_FINDMOUNTERR || code == ZEMT_NOFILEFOUND || code == ZEMT_NODYNPRESENT;
        box.cleanUp(code, attached, true, "DeleteDropBox Failed.");
        return false;
    } catch (...) {
        KAVER_LOG("QueryRQL failed");
        KAVER_LOG("ZEMT internal error");
        storeErrorInfo(ZEMT_INTERROR);
        return false;
    }
}
