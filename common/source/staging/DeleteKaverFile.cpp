// SPDX-License-Identifier: Apache-2.0
// Removing a stored file: a filedelete action on the copy list, carried
// out by the controller at the next completion.
#include "secureKaver.h"

bool secureKaver::DeleteKaverFile(std::string fileName) {
    try {
        cfgEntry entry;
        entry.order = ++l_entryNumber;
        entry.mode = filedelete;
        entry.algorithm = 1;
        entry.dstName = fileName;
        std::string::size_type pos = fileName.find('/');
        partId_t part = getPartIndex(pos == std::string::npos ? fileName : fileName.substr(0, pos));
        if (part != 0) entry.partNum = part;
        FileList.push_back(entry);
        return true;
    } catch (unsigned char code) {
        storeErrorInfo(code);
        return false;
    } catch (...) {
        KAVER_LOG("ZEMT internal error");
        storeErrorInfo(ZEMT_INTERROR);
        return false;
    }
}
