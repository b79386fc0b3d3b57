// SPDX-License-Identifier: Apache-2.0
// Dependency check: the package's descriptor goes to the controller, which
// evaluates its rules against the inventory and answers in output.xml.
#include <cstring>

#include "UpdateDocument.h"
#include "core/FailureReason.h"
#include "inventory/AnswerFile.h"
#include "inventory/RqlExchange.h"
#include "md5wrapper.h"
#include "secureKaver.h"

bool secureKaver::doDepCheck(std::stringstream& buffer, xmlMode_t queryType) {
    static md5wrapper md5;
    if (isDepCheckSupported() == 0) {
        KAVER_LOG("Dependency Checking is NOT supported by the iVELD FW.  Reporting success");
        return true;
    }
    KAVER_LOG("Dependency Checking is supported by the iVELD FW");
    rql::Exchange box(*this);
    try {
        std::memset(&IPMIReqBuf, 0, sizeof IPMIReqBuf);
        if (queryType != rql_query_dependency) {
            KAVER_LOG("doDepCheck called with incorrect queryType");
            rql::fail(ZEMT_INVALID_QUERY);
        }
        if (!IsSessionActive()) {
            KAVER_LOG("doDepCheck called with NO active session");
            rql::fail(ZEMT_NOKAVERSESS);
        }
        rql::request(rql_query_dependency, "update.xml", "output.xml", "");
        std::ostringstream queryFile;
        CreateRQLConfigFile(&queryFile, RqlRequest);

        std::string mount, hash;
        if (!box.placeRequest(queryFile.str(), md5, "doDepCheck failed", "update.xml", mount, hash)) return false;
        KAVER_LOG("update.xml written");
        if (doCopy(mount, "package.xml", "package.xml", filecopy) != 0) {
            KAVER_LOG("doCopy failed");
            rql::fail(ZEMT_INTERROR);
        }
        KAVER_LOG("package.xml written");
        syncAll(mount);

        box.handOver(hash);
        const std::string answer = box.fetchAnswer("output.xml file does NOT exist", "Contents of output.xml");
        box.detach();
        box.remove("Delete Drop Box Failed.", "Delete Drop Box succeeded.");
        KAVER_LOG("doDepCheck succeeded");

        std::string reported;
        switch (answerfile::judgeDependencies(answer, reported)) {
            case answerfile::Passed:
                KAVER_LOG("Dependency Check successful");
                return true;
            case answerfile::Failed:
                KAVER_LOG("Dependency Check failed");
                KAVER_LOG(reported);
                buffer << reported;
                return false;
            case answerfile::Empty:
                // An empty answer says neither that the check passed nor
                // why not: the exchange ends as an internal error.
                KAVER_LOG("Dependency Check failed");
                KAVER_LOG("doDepCheck failed");
                KAVER_LOG("ZEMT internal error");
                storeErrorInfo(ZEMT_INTERROR);
                failure::record("the controller's answer is empty");
                return false;
        }
        return false;
    } catch (unsigned char code) {
        KAVER_LOG("doDepCheck failed");
        // A failed descriptor copy leaves the drop box attached, and an
        // attached drop box cannot be deleted.
        const bool attached = code == ZEMT_FINDMOUNTERR || code == ZEMT_NOFILEFOUND ||
                              code == ZEMT_NODYNPRESENT || code == ZEMT_INTERROR;
        box.cleanUp(code, attached, true, "DeleteDropBox Failed.");
        return false;
    } catch (...) {
        KAVER_LOG("doDepCheck failed");
        KAVER_LOG("ZEMT internal error");
        storeErrorInfo(ZEMT_INTERROR);
        return false;
    }
}
