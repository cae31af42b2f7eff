#!/usr/bin/env bash
# The board build as an integrator runs it: host libraries in an ordinary
# folder outside the sysroot (stand-ins made by scripts/stub-host-libs),
# configured with PTZ_HOST_LIBDIR, built, installed and packaged; then the
# program's dynamic section, exports and CPU attributes, the installed
# program and the package are checked, and under the emulator the stand-in
# glue resolves every entry point by name, as the host does.
# Usage: target_build.sh SOURCE READELF CROSS_PREFIX SYSROOT EMULATOR...
set -euo pipefail
src=$1 readelf=$2 prefix=$3 sysroot=$4
shift 4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

entries=$(grep -oE 'PTZ_DRIVER_EXPORT [a-z_ ]+\**driver_[a-z_]+\(' "$src/host/ptz_host.h" | grep -oE 'driver_[a-z_]+' | sort -u)
PTZ_CROSS_PREFIX=$prefix PTZ_SYSROOT=$sysroot "$src/scripts/stub-host-libs" "$work/hostlibs" >/dev/null

build=$work/build
step() { "$@" >"$work/step.log" 2>&1 || { cat "$work/step.log"; echo "FAIL: $*"; exit 1; }; }
step cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel -DPTZ_BUILD_TESTS=OFF \
  -DCMAKE_TOOLCHAIN_FILE="$src/cmake/arm-linux-gnueabihf.cmake" -DPTZ_CROSS_PREFIX="$prefix" \
  -DPTZ_SYSROOT="$sysroot" -DPTZ_HOST_LIBDIR="$work/hostlibs"
step cmake --build "$build" -j 2 --target tavrinode package
step cmake --install "$build" --prefix "$work/installed"
program=$build/tavrinode installed=$work/installed/bin/tavrinode

dynamic=$("$readelf" -dW "$program")
for lib in libptz_drivers_glue.so.2 libtessaryx_driver.so; do
  grep -qF "Shared library: [$lib]" <<<"$dynamic" || fail "NEEDED lacks $lib"
done
! grep -E 'RPATH|RUNPATH' <<<"$dynamic" || fail "the program has a run path"
! grep -qF "$work" "$program" || fail "the program holds a path of the build machine"
# Beside the entry points only the C runtime's own symbols are exported.
exports() {
  "$readelf" --dyn-syms -W "$1" | awk '$1 ~ /^[0-9]+:$/ && $7 != "UND" && ($5 == "GLOBAL" || $5 == "WEAK") {print $8}' |
    sed 's/@.*//' | grep -vxE '_.*|data_start' | sort -u
}
[ "$(exports "$program")" = "$entries" ] || fail "exports: $(exports "$program" | tr '\n' ' ')"
# The stand-ins define exactly the host symbols the program needs: its
# undefined symbols without a version (the C library's have one), main included.
needs=$("$readelf" --dyn-syms -W "$program" | awk '$7 == "UND" && $5 == "GLOBAL" && $8 !~ /@/ {print $8}' | sort)
stubs=$(for lib in "$work"/hostlibs/*.so*; do
  "$readelf" --dyn-syms -W "$lib" | awk '$7 != "UND" && ($5 == "GLOBAL" || $5 == "WEAK") {print $8}'
done | sort)
grep -qx main <<<"$needs" || fail "the program does not take main from the host"
[ "$needs" = "$stubs" ] || fail "stand-in symbols differ from the program's needs: $(diff <(echo "$needs") <(echo "$stubs") | grep '^[<>]' | tr '\n' ' ')"
for tag in 'Tag_CPU_arch: v7' 'Tag_FP_arch: VFPv3-D16' 'Tag_ABI_VFP_args: VFP registers'; do
  grep -qF "$tag" <<<"$("$readelf" -A "$program")" || fail "attributes lack '$tag'"
done

! "$readelf" -SW "$installed" | grep -E '\.symtab|\.debug' || fail "the installed program is not stripped"
[ "$(exports "$installed")" = "$entries" ] || fail "the installed program lost its exports"
[ -f "$work/installed/share/doc/tavrinode/examples/cameras.ini" ] || fail "no example configuration installed"

deb=$(find "$build" -maxdepth 1 -name '*.deb')
[ "$(dpkg-deb -f "$deb" Architecture)" = armhf ] || fail "package architecture $(dpkg-deb -f "$deb" Architecture)"
contents=$(dpkg-deb -c "$deb")
for f in ./usr/bin/tavrinode ./usr/share/doc/tavrinode/examples/cameras.ini; do
  grep -qF " $f" <<<"$contents" || fail "the package lacks $f"
done
glibc=$("$readelf" -V "$program" | grep -oE 'GLIBC_[0-9.]+' | sort -uV | tail -1)
grep -qF "libc6 (>= ${glibc#GLIBC_})" <<<"$(dpkg-deb -f "$deb" Depends)" || fail "the package's libc6 dependency is not $glibc"

run=$(LD_LIBRARY_PATH=$work/hostlibs "$@" "$program" 2>&1) || fail "the program failed: $run"
[ "$run" = "resolved 24 entry points, driver Tavrinode $(dpkg-deb -f "$deb" Version)" ] || fail "run: $run"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "board build: NEEDED, exports, attributes, entry points, install and package as expected"
