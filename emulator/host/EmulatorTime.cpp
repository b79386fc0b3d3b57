// SPDX-License-Identifier: Apache-2.0
#include "zemt_emulator/EmulatorTime.h"

#include <time.h>

#include <atomic>
#include <cstdint>

namespace {

std::atomic<uint64_t> spent{0};  // nanoseconds
thread_local int depth = 0;
thread_local uint64_t enteredAt = 0;

uint64_t now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<uint64_t>(t.tv_sec) * 1000000000ULL + static_cast<uint64_t>(t.tv_nsec);
}

}  // namespace

extern "C" void zemt_emu_time_enter() {
    if (depth++ == 0) enteredAt = now();
}

extern "C" void zemt_emu_time_leave() {
    if (depth > 0 && --depth == 0) spent += now() - enteredAt;
}

double zemt_emu::EmulatorSeconds() { return static_cast<double>(spent.load()) / 1e9; }
