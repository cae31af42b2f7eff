#!/usr/bin/env bash
# The board build as an integrator runs it: host libraries in an ordinary
# folder outside the sysroot (stand-ins made here from a few lines of C),
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
names=$(printf '"%s",' $entries)
cat >"$work/glue.c" <<'C'
#include <dlfcn.h>
#include <stdio.h>
#include "ptz_host.h"
uint32_t cameras; int *camera_map; int camindex; int suspended; char drivermsg[256];
int ptz_write_port(const unsigned char *f, int n) { return 1; }
int ptz_usleep(unsigned int us) { return 1; }
void ptz_action_started(int c) {}
void ptz_action_completed(int c, int d) {}
int ptz_set_status(int a, int b, int c, int d, int e, int f, int g, int h, int i, int j, int k, int l, int m,
                   int n) { return 1; }
int ptz_get_int_param(const char *k, int m, int *v, int c) { return 0; }
int ptz_get_bool_param(const char *k, int m, int *v, int c) { return 0; }
void ptz_request_poll(int z) {}
int main(void) {
  static const char *const names[] = {ENTRY_NAMES};
  int found = 0;
  for (unsigned i = 0; i < sizeof names / sizeof names[0]; ++i) {
    if (dlsym(RTLD_DEFAULT, names[i])) ++found; else printf("unresolved %s\n", names[i]);
  }
  const char *name = "?", *version = "?";
  __typeof__(driver_get_info) *get_info = (__typeof__(driver_get_info) *)dlsym(RTLD_DEFAULT, "driver_get_info");
  if (get_info) get_info(&name, &version, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  printf("resolved %d entry points, driver %s %s\n", found, name, version);
  return found == 24 ? 0 : 1;
}
C
echo 'int tessaryx_driver_stand_in;' >"$work/tessaryx.c"
flags=(-shared -fPIC -I"$src/host")
[ -z "$sysroot" ] || flags+=(--sysroot="$sysroot")
mkdir "$work/hostlibs"
"${prefix}gcc" "${flags[@]}" "-DENTRY_NAMES=$names" -Wl,-soname,libptz_drivers_glue.so.2 \
  -o "$work/hostlibs/libptz_drivers_glue.so.2" "$work/glue.c" -ldl
"${prefix}gcc" "${flags[@]}" -Wl,-soname,libtessaryx_driver.so -o "$work/hostlibs/libtessaryx_driver.so" "$work/tessaryx.c"

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
