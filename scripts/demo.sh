#!/bin/sh
# Sets up the machine, builds, and runs the zemt demo against a freshly
# initialised controller emulator.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)

sh "$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build" -DZEMT_BUILD_BENCH=ON
cmake --build "$root/build" -j"$(nproc)" --target zemt_cli

state="$root/build/demo-emulator"
rm -rf "$state"
zemt="$root/build/tools/zemt"
"$zemt" emulator init "$state"
echo
echo "\$ zemt --emulator $state info"
"$zemt" --emulator "$state" info
echo
echo "\$ zemt --emulator $state init"
"$zemt" --emulator "$state" init
echo
echo "\$ zemt --emulator $state ls KAV022"
"$zemt" --emulator "$state" ls KAV022
echo
echo "\$ zemt --emulator $state inventory"
"$zemt" --emulator "$state" inventory
echo
echo "\$ zemt --emulator $state depcheck examples/packages/nx2-adapter-firmware"
"$zemt" --emulator "$state" depcheck "$root/examples/packages/nx2-adapter-firmware"
