#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Sets up the machine, builds, and runs a firmware update end to end
# against freshly initialised controller emulators: the inventory, the
# package and its dependency check, the update, the versioned folders it
# leaves, and a rollback with the older package.  Works from any folder.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)

sh "$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build" -DZEMT_BUILD_BENCH=ON
cmake --build "$root/build" -j"$(nproc)" --target zemt_cli

zemt="$root/build/tools/zemt"
packages="$root/examples/packages"
vemo="$root/build/demo-emulator"
sarn="$root/build/demo-emulator-sarn"

# Prints the command as it reads from the repository's root, then runs it.
run() {
    echo
    echo "\$ zemt $*" | sed "s|$root/||g"
    "$zemt" "$@"
}

echo "== A generation-two controller: updates go into KAV022's versioned folders"
run emulator init "$vemo" --generation vemo --force
run --emulator "$vemo" inventory
run --emulator "$vemo" update "$packages/system-bios-1.5.0"
run --emulator "$vemo" versions

echo
echo "== Checking and applying the newer BIOS"
run package "$packages/system-bios-1.7.0"
run --emulator "$vemo" depcheck "$packages/system-bios-1.7.0"
run --emulator "$vemo" update "$packages/system-bios-1.7.0"
run --emulator "$vemo" inventory
run --emulator "$vemo" versions 159

echo
echo "== Rolling back: updating with the version the previous folder holds"
run --emulator "$vemo" update "$packages/system-bios-1.5.0"
run --emulator "$vemo" versions 159
run --emulator "$vemo" inventory history

echo
echo "== A generation-three controller stages and applies the payload itself"
run emulator init "$sarn" --force
run --emulator "$sarn" update "$packages/nx2-adapter-firmware-5.3.0"
run --emulator "$sarn" inventory
