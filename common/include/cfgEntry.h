/* SPDX-License-Identifier: Apache-2.0 */
#ifndef ZEMT_CFGENTRY_H
#define ZEMT_CFGENTRY_H

#include <stdint.h>

#include <string>

// Action of one update-document entry.
typedef enum exmlMode {
    doNotDisturb = 0,
    filecopy = 1,
    dircopy = 2,
    filemove = 3,
    dirmove = 4,
    filedelete = 5,
    dirdelete = 6,
    fileappend = 7,
    dirmake = 8,
    ssib = 9,
    rql_update_records = 10,
    rql_update_entire_inventory = 11,
    rql_query_current_records = 12,
    rql_query_history_records = 13,
    rql_query_event_records = 14,
    rql_query_dependency = 15,
    signedunzip = 16
} xmlMode_t;

// One action of a copy list; a plain value type.
struct cfgEntry {
    int order = 0;
    xmlMode_t mode = doNotDisturb;
    int algorithm = 0;
    int copyRc = 0;
    int filePerms = 0;
    int32_t fileSize = 0;
    int n_or_n1 = 0;
    int32_t loc = 0;
    uint16_t partNum = 0;
    uint16_t processed = 0;
    std::string srcName;
    std::string dstName;
    std::string hash;
};

#endif
