#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Regenerates the seed corpus of the FAT label fuzz target: real FAT12 and
# FAT16 volumes made by mkfs.fat and mtools, cut after their root
# directory (all the probe reads), and a compact FAT32 volume around a
# real mkfs.fat boot sector whose FAT and root directory are shrunk to a
# few sectors (a real FAT32 FAT alone is 256 KiB).
# Usage: make_fat_label_seeds.sh [OUTPUT_DIR]
set -eu
out=${1:-$(cd "$(dirname "$0")" && pwd)/corpus/fat_label}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1
PATH=$PATH:/usr/sbin:/sbin
mkdir -p "$out"
echo data > "$work/f.txt"

u8() { od -An -tu1 -j "$2" -N1 "$1" | tr -d ' '; }
u16() { od -An -tu2 -j "$2" -N2 "$1" | tr -d ' '; }

# Keeps the boot sector, reserved sectors, FATs and root directory.
cut_after_root() {
    ss=$(u16 "$1" 11); res=$(u16 "$1" 14); nf=$(u8 "$1" 16)
    entries=$(u16 "$1" 17); spf=$(u16 "$1" 22)
    head -c $(( (res + nf * spf) * ss + entries * 32 )) "$1" > "$2"
}

long_names() {  # image count
    i=1
    while [ "$i" -le "$2" ]; do
        mcopy -i "$1" "$work/f.txt" "::A long file name, number $i.txt"
        i=$((i + 1))
    done
    mdel -i "$1" "::A long file name, number 2.txt"
}

img=$work/fat12.img
truncate -s 256K "$img"
mkfs.fat -F 12 -S 512 -s 1 -r 16 -n SEED12 "$img" > /dev/null
cut_after_root "$img" "$out/seed-fat12-512"

img=$work/fat12-2k.img
truncate -s 1M "$img"
mkfs.fat -F 12 -S 2048 -s 1 -r 64 "$img" > /dev/null
long_names "$img" 4
mlabel -i "$img" ::SEED12LFN
cut_after_root "$img" "$out/seed-fat12-2048-long-names"

img=$work/fat16.img
truncate -s 2200K "$img"
mkfs.fat -F 16 -S 512 -s 1 -f 1 -r 16 -n SEED16 "$img" > /dev/null
cut_after_root "$img" "$out/seed-fat16-512"

# FAT32: the real boot sector with 2 reserved sectors, 1 FAT of 1 sector;
# the root directory runs from cluster 2 into cluster 3, the label is in 3.
img=$work/fat32.img
truncate -s 34M "$img"
mkfs.fat -F 32 -S 512 -s 1 -n SEED32 "$img" > /dev/null
seed=$out/seed-fat32-512-two-clusters
head -c 512 "$img" > "$seed"
printf '\002\000' | dd of="$seed" bs=1 seek=14 conv=notrunc status=none
printf '\001' | dd of="$seed" bs=1 seek=16 conv=notrunc status=none
printf '\001\000\000\000' | dd of="$seed" bs=1 seek=36 conv=notrunc status=none
head -c 512 /dev/zero >> "$seed"
{
    printf '\370\377\377\017\377\377\377\017\003\000\000\000\377\377\377\017'
    head -c 496 /dev/zero
    printf '\345LDFILE TXT\040'; head -c 20 /dev/zero
    i=1
    while [ "$i" -le 15 ]; do
        printf 'FILE%03d TXT\040' "$i"; head -c 20 /dev/zero
        i=$((i + 1))
    done
    printf 'SEED32     \010'; head -c 20 /dev/zero
    head -c 480 /dev/zero
} >> "$seed"

ls -l "$out"
