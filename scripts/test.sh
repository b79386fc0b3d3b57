#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Sets up the machine, builds and runs the whole test suite.
# Usage: scripts/test.sh [native|m32|sanitize]
#   native    x86-64 build with the benchmarks (default)
#   m32       32-bit x86 build
#   sanitize  AddressSanitizer + UndefinedBehaviorSanitizer build
set -eu
mode=${1:-native}
root=$(cd "$(dirname "$0")/.." && pwd)

sh "$root/scripts/setup.sh"

case "$mode" in
    native)   dir="$root/build";      options="-DZEMT_BUILD_BENCH=ON" ;;
    m32)      dir="$root/build-m32";  options="-DCMAKE_TOOLCHAIN_FILE=$root/cmake/m32.cmake -DZEMT_BUILD_BENCH=OFF" ;;
    sanitize) dir="$root/build-asan"; options="-DZEMT_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DZEMT_BUILD_BENCH=OFF" ;;
    *) echo "usage: $0 [native|m32|sanitize]" >&2; exit 2 ;;
esac

if [ "$mode" = m32 ]; then sh "$root/scripts/enable-i386.sh"; fi

jobs=$(nproc)
# shellcheck disable=SC2086
cmake -S "$root" -B "$dir" $options
cmake --build "$dir" -j"$jobs"
ctest --test-dir "$dir" --output-on-failure -j"$jobs"
