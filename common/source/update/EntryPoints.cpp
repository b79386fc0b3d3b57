// SPDX-License-Identifier: Apache-2.0
// The plain entry points of update packages over the one update object of
// the process.
#include "zemt_update.h"

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "UpdRollbackWrapper.h"
#include "core/FailureReason.h"

UpdRollbackWrapper* pUpdRollbackWrapper = nullptr;

namespace {

const int kCheckRejected = 249;
const int kCheckNotExchanged = 248;
const char* const kNoObject = "no update object: CheckVemo was not called, or the object was released";

// The caller's buffer holds ZEMT_ERRSTRING_SIZE bytes; a longer text is cut
// so that the zero byte still fits, never left out.
void copyText(char* errString, const std::string& text) {
    if (errString == nullptr) return;
    const std::size_t length = text.size() < ZEMT_ERRSTRING_SIZE - 1 ? text.size() : ZEMT_ERRSTRING_SIZE - 1;
    std::memcpy(errString, text.data(), length);
    errString[length] = '\0';
}

}  // namespace

extern "C" void CleanUp_UpdRollbackWrapper(void) {
    if (pUpdRollbackWrapper == nullptr) return;
    delete pUpdRollbackWrapper;
    pUpdRollbackWrapper = nullptr;
}

extern "C" int CheckVemo(char* errString, int* nRetVal) {
    // A second call replaces the object; the first one still holds the
    // controller's only session and would make the new one fail.
    CleanUp_UpdRollbackWrapper();
    failure::clear();
    unsigned char code = ZEMT_INTERROR;
    try {
        pUpdRollbackWrapper = new UpdRollbackWrapper();
        if (GenerationType == PreVemo) CleanUp_UpdRollbackWrapper();
        return GenerationType;
    } catch (unsigned char thrown) {
        code = thrown;
    } catch (...) {
        // Nothing but the object's own code may cross into a C caller.
    }
    if (code == ZEMT_NOKAVERPRESENT) {
        copyText(errString, "CheckVemo : There is no kaver present on the system ");
        return 0;
    }
    if (nRetVal != nullptr) *nRetVal = code;
    copyText(errString, code == ZEMT_KAVER_DISABLED ? "CheckVemo :kaver is disabled " : "ZEMT Initialization failed");
    return GenerationType;
}

extern "C" int Depcheck(void) {
    failure::clear();
    if (pUpdRollbackWrapper == nullptr) {
        failure::record(kNoObject);
        return -1;
    }
    std::stringstream answer;
    bool passed = false;
    try {
        passed = pUpdRollbackWrapper->doDepCheck(answer, rql_query_dependency);
    } catch (...) {
        answer.str("");
        failure::record("internal error");
    }
    if (passed) {
        failure::clear();
        return 0;
    }
    const int result = answer.str().empty() ? kCheckNotExchanged : kCheckRejected;
    if (result == kCheckRejected) failure::record("the controller's dependency check rejected the package");
    else failure::prefix("the dependency check could not be made");
    failure::Keep reason;  // the object's clean-up ends the session
    CleanUp_UpdRollbackWrapper();
    return result;
}

extern "C" int UpdateBiosUsingRQ(char* szAbsHdrFileName, char* szSubSystem, char* szWrapperName, bool bSingleFile,
                                 char* errString) {
    KAVER_LOG("Entering UpdateBiosUsingRQ");
    failure::clear();
    int result = -1;
    std::string text;
    if (pUpdRollbackWrapper == nullptr) {
        KAVER_LOG("Failed in creating the UpdRollbackWrapper object : NULL == pUpdRollbackWrapper");
        failure::record(kNoObject);
    } else {
        try {
            std::vector<std::string> payload(1, szAbsHdrFileName != nullptr ? szAbsHdrFileName : "");
            KAVER_LOG("Before updating using doRollbackAndUpdate method");
            result = pUpdRollbackWrapper->doRollbackAndUpdate(payload, szSubSystem, szWrapperName, bSingleFile, text,
                                                              true, false, "");
            KAVER_LOG("After update using  doRollbackAndUpdate method");
        } catch (...) {
            result = ZEMT_INTERROR;
            failure::record("internal error");
        }
        if (result != 0) text = "Update Using RQ Failed";
        KAVER_LOG("Before calling CleanUp_UpdRollbackWrapper method");
        failure::Keep reason;  // the object's clean-up ends the session
        CleanUp_UpdRollbackWrapper();
        KAVER_LOG("After calling CleanUp_UpdRollbackWrapper method");
    }
    KAVER_LOG("Leaving UpdateBiosUsingRQ");
    copyText(errString, text);
    return result;
}
