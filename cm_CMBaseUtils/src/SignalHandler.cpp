// SPDX-License-Identifier: Apache-2.0
#include <signal.h>

#include <cstring>

#include "PlatformLayer.h"
#include "zemt.h"

CSignalHandler::CSignalHandler() {}
CSignalHandler::~CSignalHandler() {}

bool CSignalHandler::setupSignalHandlers() {
    KAVER_LOG("Inside CSignalHandler::setupSignalHandlers()");
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    if (sigaction(SIGINT, &action, nullptr) != 0) {
        KAVER_LOG("CSignalHandler::setupSignalHandlers() : signal is failed");
        return false;
    }
    return true;
}
