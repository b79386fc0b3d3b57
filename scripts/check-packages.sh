#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Builds the Debian packages of a configured build tree and checks them: the
# files each one holds, the library's SONAME, the dependencies each declares,
# and that what they hold works: the README's example and the staging
# example compile against the development package with pkg-config, and the
# packaged zemt runs the packaged emulator.
# Usage: scripts/check-packages.sh [BUILD_DIR]   (default: build)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
version=$(sed -n 's/^project(libzemt VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
arch=$(dpkg --print-architecture)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "check-packages: $*" >&2
    failures=$((failures + 1))
}

rm -f "$build"/*.deb
cmake --build "$build" --target package -j2 > "$work/package.log" 2>&1 || {
    cat "$work/package.log" >&2
    exit 1
}

# ---- files ------------------------------------------------------------------------
files_of() {
    dpkg-deb -c "$1" | awk '{ print $6 }' | sed 's|^\./|/|' | grep -v '/$' | sort
}

expect_files() {
    deb="$build/$1_${version}_${arch}.deb"
    if [ ! -f "$deb" ]; then
        fail "$1: no package $deb"
        return
    fi
    printf '%s\n' $2 | sort > "$work/expected"
    files_of "$deb" > "$work/actual"
    if ! diff -u "$work/expected" "$work/actual" > "$work/diff"; then
        fail "$1: the files differ from what is expected"
        cat "$work/diff" >&2
    fi
}

lib=/usr/lib
expect_files libzemt0 "$lib/libzemt.so.0 $lib/libzemt.so.$version /usr/share/zemt/rules/00-secupd-norvik.rules
    /usr/share/zemt/rules/98-secupdusb.rules /usr/share/doc/libzemt0/copyright"
headers=$(cd "$root/common/include" && ls *.h; cd "$root/cm_CMBaseUtils/include/external" && ls *.h)
expect_files libzemt-dev "$lib/libzemt.so $lib/pkgconfig/libzemt.pc $(for h in $headers; do echo /usr/include/zemt/$h; done)
    /usr/share/doc/libzemt-dev/copyright"
expect_files zemt "/usr/bin/zemt $lib/libzemt_emu.so.0 $lib/libzemt_emu.so.$version $lib/libzemt_emu_preload.so
    $lib/zemt/emulator/libzolipm32.so /usr/share/doc/zemt/copyright"

# ---- SONAME -------------------------------------------------------------------------
root_dir="$work/root"
mkdir -p "$root_dir"
for deb in "$build"/*.deb; do dpkg-deb -x "$deb" "$root_dir"; done
soname=$(readelf -d "$root_dir$lib/libzemt.so.$version" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = "libzemt.so.0" ] || fail "libzemt0: SONAME is '$soname', not libzemt.so.0"
[ "$(readlink "$root_dir$lib/libzemt.so.0")" = "libzemt.so.$version" ] || fail "libzemt0: libzemt.so.0 does not point at the library"
[ "$(readlink "$root_dir$lib/libzemt.so")" = "libzemt.so.0" ] || fail "libzemt-dev: libzemt.so does not point at libzemt.so.0"

# ---- dependencies: the package names, each exactly once --------------------------------
expect_depends() {
    deb="$build/$1_${version}_${arch}.deb"
    [ -f "$deb" ] || return 0
    actual=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//' | sort | tr '\n' ' ')
    expected=$(printf '%s\n' $2 | sort | tr '\n' ' ')
    [ "$actual" = "$expected" ] || fail "$1: depends on '$actual', expected '$expected'"
    case "$(dpkg-deb -f "$deb" Depends)" in
        *"libzemt0 (= $version)"* | "") ;;
        *libzemt0*) fail "$1: does not depend on libzemt0 of exactly this version" ;;
    esac
}
expect_depends libzemt0 "libc6 libgcc-s1 libssl3 libstdc++6 libxml2"
expect_depends libzemt-dev "libzemt0"
expect_depends zemt "libzemt0 mtools dosfstools unzip libc6 libgcc-s1 libssl3 libstdc++6 libxml2"

# ---- what they hold works ----------------------------------------------------------------
pc="$root_dir$lib/pkgconfig"
[ "$(PKG_CONFIG_PATH=$pc pkg-config --variable=prefix libzemt)" = /usr ] || fail "libzemt.pc: prefix is not /usr"
flags=$(PKG_CONFIG_PATH=$pc pkg-config --define-variable=prefix="$root_dir/usr" --cflags --libs libzemt)
# The README's first C++ block, exactly as written.
awk '/^```cpp$/ { inside = 1; next } /^```$/ { if (inside) exit } inside' "$root/README.md" > "$work/readme.cpp"
for program in "$work/readme.cpp" "$root/examples/stage_files.cpp"; do
    # shellcheck disable=SC2086
    g++ -std=c++17 -o "$work/program" "$program" $flags 2> "$work/compile.log" || {
        fail "$(basename "$program") does not compile against the development package"
        cat "$work/compile.log" >&2
    }
done

zemt="$root_dir/usr/bin/zemt"
# ZEMT_TREN_LIBRARY names no file: the packaged emulator uses the stand-in it ships.
state="$work/emulator"
if ZEMT_TREN_LIBRARY=/nonexistent "$zemt" emulator init "$state" > "$work/run.log" 2>&1 &&
    "$zemt" --emulator "$state" info >> "$work/run.log" 2>&1; then
    grep -q "^tren_source=$root_dir$lib/zemt/emulator/libzolipm32.so$" "$state/host.conf" ||
        fail "zemt: the packaged emulator did not install the packaged stand-in"
    "$zemt" --version | grep -q "^libzemt $version ($root_dir$lib/libzemt.so.$version)$" ||
        fail "zemt: does not load the packaged library"
else
    fail "zemt: the packaged tool does not run the packaged emulator"
    cat "$work/run.log" >&2
fi

if [ "$failures" -ne 0 ]; then
    echo "check-packages: $failures check(s) failed" >&2
    exit 1
fi
echo "check-packages: libzemt0, libzemt-dev and zemt $version: files, SONAME, dependencies and a run checked"
