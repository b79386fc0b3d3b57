#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Makes 32-bit x86 programs runnable for the 32-bit test run.  Most x86-64
# kernels run them natively; a kernel built without 32-bit support runs
# them through qemu's user-mode emulator (installed by setup.sh),
# registered with binfmt_misc.
set -eu
probe_dir=$(mktemp -d)
trap 'rm -rf "$probe_dir"' EXIT
printf 'int main(void) { return 0; }\n' > "$probe_dir/probe.c"
gcc -m32 "$probe_dir/probe.c" -o "$probe_dir/probe"

if "$probe_dir/probe" 2>/dev/null; then
    echo "enable-i386: 32-bit programs run natively"
    exit 0
fi

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
if [ ! -x /usr/bin/qemu-i386-static ]; then
    echo "enable-i386: qemu-i386-static is missing; run scripts/setup.sh first" >&2
    exit 1
fi
if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    $SUDO mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
fi
if [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    # ELF32, little-endian, executable or shared object, machine 3 (i386).
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
        | $SUDO tee /proc/sys/fs/binfmt_misc/register > /dev/null
fi
"$probe_dir/probe"
echo "enable-i386: 32-bit programs run through qemu-i386"
