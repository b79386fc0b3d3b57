#!/bin/sh
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
cmake --build "$dir" -j"$jobs" --target zemt_fuzz_fat_label zemt_fuzz_package_descriptor

mkdir -p "$dir/artifacts"
# Inputs up to 128 KiB: the FAT probe's start buffer alone is 68 KiB, and
# descriptors are a few kilobytes.
for target in fat_label package_descriptor; do
    scratch="$dir/corpus/$target"
    mkdir -p "$scratch"
    echo "fuzz: $target for $seconds s"
    "$dir/tests/fuzz/zemt_fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 -max_len=131072 \
        -artifact_prefix="$dir/artifacts/$target-" "$scratch" "$root/tests/fuzz/corpus/$target"
done
