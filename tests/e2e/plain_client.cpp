// SPDX-License-Identifier: Apache-2.0
// A program that uses the library and knows nothing of the emulator; the
// preload test runs it with the emulator library preloaded.
#include <iostream>

#include "secureKaver.h"

int main() {
    int generation = -1;
    int kind = -1;
    unsigned error = 0;
    {
        secureKaver kaver;
        error = kaver.getZEMTError();
        if (kaver.InitOk) {
            generation = kaver.GetSystemGeneration();
            kind = kaver.KAVERType;
        }
    }
    std::cout << "error=" << error << " generation=" << generation << " kind=" << kind << "\n";
    return error == 0 ? 0 : 1;
}
