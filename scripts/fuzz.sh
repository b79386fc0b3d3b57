#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Builds the libFuzzer targets with clang and fuzzes each for a while.
# Usage: scripts/fuzz.sh [SECONDS]   (default 60 per target)
# New inputs go to a scratch corpus in the build directory, never into the
# committed seeds; a crash leaves its input in build-fuzz/artifacts/ and
# fails the run.  Add an input worth keeping to tests/fuzz/corpus/<target>/
# so that the ordinary test run replays it.
set -eu
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
dir="$root/build-fuzz"
jobs=${ZEMT_JOBS:-$(nproc)}

sh "$root/scripts/setup.sh"

CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -DZEMT_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZEMT_BUILD_BENCH=OFF
targets="fat_label rql_devices rql_answer package_info package_descriptor"
for target in $targets; do
    cmake --build "$dir" -j"$jobs" --target "zemt_fuzz_$target"
done

mkdir -p "$dir/artifacts"
for target in $targets; do
    scratch="$dir/corpus/$target"
    mkdir -p "$scratch"
    # Inputs up to 128 KiB for the FAT probe (its start buffer alone is
    # 68 KiB); XML documents show their structure well below 16 KiB.
    case $target in
        fat_label) max_len=131072 ;;
        *) max_len=16384 ;;
    esac
    echo "fuzz: $target for $seconds s"
    "$dir/tests/fuzz/zemt_fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 -max_len="$max_len" \
        -artifact_prefix="$dir/artifacts/$target-" "$scratch" "$root/tests/fuzz/corpus/$target"
done
