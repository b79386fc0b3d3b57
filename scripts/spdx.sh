#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Checks that every source, header, script and CMake file of the project
# opens with the licence's SPDX line (after a "#!" line); with --fix, adds
# the line where it is missing.
# Usage: scripts/spdx.sh [--fix]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tag="SPDX-License-Identifier: Apache-2.0"
fix=${1:-}

listed() {
    if git rev-parse --is-inside-work-tree > /dev/null 2>&1; then
        git ls-files
    else
        find . -path ./build\* -prune -o -type f -print | sed 's|^\./||'
    fi
}

# The comment that carries the line in each kind of file.
comment_for() {
    case "$1" in
        *.c | *.h) echo "/* $tag */" ;;
        *.cpp | *.hpp | *.cc) echo "// $tag" ;;
        CMakeLists.txt | */CMakeLists.txt | *.cmake | *.sh) echo "# $tag" ;;
        *)
            if [ "$(head -c 2 "$1")" = "#!" ]; then echo "# $tag"; fi ;;
    esac
}

report=$(mktemp)
trap 'rm -f "$report"' EXIT
listed | while IFS= read -r file; do
    [ -f "$file" ] || continue
    case "$file" in tests/fuzz/corpus/*) continue ;; esac
    comment=$(comment_for "$file")
    [ -n "$comment" ] || continue
    head -n 3 "$file" | grep -q "$tag" && continue
    if [ "$fix" != "--fix" ]; then
        echo "spdx: $file has no '$tag' line" | tee -a "$report" >&2
        continue
    fi
    # The line goes first, or right after the interpreter line.
    if [ "$(head -c 2 "$file")" = "#!" ]; then
        { head -n 1 "$file"; echo "$comment"; tail -n +2 "$file"; } > "$file.spdx"
    else
        { echo "$comment"; cat "$file"; } > "$file.spdx"
    fi
    chmod --reference="$file" "$file.spdx"
    mv "$file.spdx" "$file"
done

missing=$(wc -l < "$report")
if [ "$missing" -ne 0 ]; then
    echo "spdx: $missing file(s) without the licence line; 'scripts/spdx.sh --fix' adds it" >&2
    exit 1
fi
