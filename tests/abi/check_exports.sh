#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Compares the dynamic symbols a library defines with the expected list.
# Usage: check_exports.sh [--update] LIBRARY EXPECTED
set -eu
update=no
if [ "$1" = "--update" ]; then update=yes; shift; fi
library=$1
expected=$2
actual=$(mktemp)
trap 'rm -f "$actual"' EXIT
# Name only: the address and the symbol kind differ between builds.
nm -D --defined-only -C "$library" | cut -d' ' -f3- | LC_ALL=C sort > "$actual"
if [ "$update" = yes ]; then
    cp "$actual" "$expected"
    echo "updated $expected"
    exit 0
fi
if ! diff -u "$expected" "$actual"; then
    echo "exported symbols of $library differ from $expected (lines with + are new, - are gone)"
    exit 1
fi
echo "exported symbols match ($(wc -l < "$expected") symbols)"
