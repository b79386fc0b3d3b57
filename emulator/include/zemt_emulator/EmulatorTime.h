/* SPDX-License-Identifier: Apache-2.0 */
// Time this process spends inside the emulator: the emulated controller's
// calls (the hardware-access stand-in), and the emulated host's commands
// and platform slots.  Only the outermost of nested calls counts, so that
// the sum is wall time the library itself did not spend.  Benchmarks take
// it from the run's wall time to show the library's own share.
#ifndef ZEMT_EMULATOR_EMULATORTIME_H
#define ZEMT_EMULATOR_EMULATORTIME_H

#define ZEMT_EMU_TIME_API __attribute__((visibility("default")))

// Exported by libzemt_emu under these names, so that the stand-in, loaded
// on its own, finds them in the process (dlsym) and counts into the same sum.
extern "C" ZEMT_EMU_TIME_API void zemt_emu_time_enter();
extern "C" ZEMT_EMU_TIME_API void zemt_emu_time_leave();

namespace zemt_emu {

// Seconds spent inside the emulator so far by this process.
ZEMT_EMU_TIME_API double EmulatorSeconds();

// Counts its lifetime as time inside the emulator.
class EmulatorTimer {
public:
    EmulatorTimer() { zemt_emu_time_enter(); }
    ~EmulatorTimer() { zemt_emu_time_leave(); }
    EmulatorTimer(const EmulatorTimer&) = delete;
    EmulatorTimer& operator=(const EmulatorTimer&) = delete;
};

}  // namespace zemt_emu

#endif
