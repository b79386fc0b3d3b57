#!/bin/sh
# Installs every Debian package the build, the tests and the emulator need.
# Idempotent: packages already present are skipped without touching apt.
set -eu

PACKAGES="cmake make g++ g++-multilib pkg-config libxml2-dev libxml2-dev:i386 \
googletest libgtest-dev libgmock-dev clang libclang-rt-14-dev \
dosfstools mtools util-linux libssl-dev libssl-dev:i386 zlib1g-dev zlib1g-dev:i386 \
libbenchmark-dev zip unzip qemu-user-static libcli11-dev nlohmann-json3-dev"

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
        missing="$missing $p"
    fi
done

if [ -n "$missing" ]; then
    echo "setup: installing$missing"
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -qq
    # shellcheck disable=SC2086
    $SUDO apt-get install -y -qq --no-install-recommends $missing
else
    echo "setup: all packages present"
fi
