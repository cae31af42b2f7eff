#!/usr/bin/env bash
# The board build as an integrator runs it: host libraries in an ordinary
# folder outside the sysroot (stand-ins made here from a few lines of C),
# configure with PTZ_HOST_LIBDIR, build, install, package. Checks the
# program's dynamic section, exports and CPU attributes, lets the stand-in
# glue resolve every entry point under the emulator, and checks the installed
# program and the package.
# Usage: target_build.sh SOURCE READELF CROSS_PREFIX SYSROOT EMULATOR...
set -euo pipefail
src=$1 readelf=$2 prefix=$3 sysroot=$4
shift 4
emulator=("$@")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

entries=$(grep -oE 'PTZ_DRIVER_EXPORT [a-z_ ]+\**(driver_[a-z_]+)\(' "$src/host/ptz_host.h" |
          grep -oE 'driver_[a-z_]+' | sort -u)
[ "$(printf '%s\n' "$entries" | wc -l)" -eq 24 ] || { echo "expected 24 entry points in the header"; exit 1; }

# The host's libraries: a glue whose main looks every entry point up by
# name, as the host does, and an empty second library.
mkdir "$work/hostlibs"
{
  echo '#include <dlfcn.h>'
  echo '#include <stdio.h>'
  echo '#include "ptz_host.h"'
  echo 'uint32_t cameras; int *camera_map; int camindex; int suspended; char drivermsg[256];'
  echo 'int ptz_write_port(const unsigned char *f, int n) { (void)f; (void)n; return 1; }'
  echo 'int ptz_usleep(unsigned int us) { (void)us; return 1; }'
  echo 'void ptz_action_started(int c) { (void)c; }'
  echo 'void ptz_action_completed(int c, int d) { (void)c; (void)d; }'
  echo 'int ptz_set_status(int a, int b, int c, int d, int e, int f, int g, int h, int i, int j, int k, int l,'
  echo '                   int m, int n) { return a + b + c + d + e + f + g + h + i + j + k + l + m + n >= 0; }'
  echo 'int ptz_get_int_param(const char *k, int m, int *v, int c) { (void)k; (void)m; (void)v; (void)c; return 0; }'
  echo 'int ptz_get_bool_param(const char *k, int m, int *v, int c) { (void)k; (void)m; (void)v; (void)c; return 0; }'
  echo 'void ptz_request_poll(int z) { (void)z; }'
  echo 'static const char *const names[] = {'
  printf '  "%s",\n' $entries
  echo '};'
  echo 'int main(void) {'
  echo '  int found = 0;'
  echo '  for (unsigned i = 0; i < sizeof names / sizeof names[0]; ++i) {'
  echo '    if (dlsym(RTLD_DEFAULT, names[i])) ++found; else printf("unresolved %s\n", names[i]);'
  echo '  }'
  echo '  void *get_info = dlsym(RTLD_DEFAULT, "driver_get_info");'
  echo '  const char *name = "?", *version = "?";'
  echo '  if (get_info) ((void (*)(const char **, const char **, const uint32_t **, const param_descriptor **,'
  echo '      const param_descriptor **, const param_descriptor **, const param_descriptor **,'
  echo '      const param_descriptor **, const param_descriptor **, const param_descriptor **,'
  echo '      const param_descriptor **, int *, const port_settings **, const text_item **, uint32_t **))get_info)('
  echo '      &name, &version, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);'
  echo '  printf("resolved %d entry points, driver %s %s\n", found, name, version);'
  echo '  return found == 24 ? 0 : 1;'
  echo '}'
} >"$work/glue.c"
echo 'int tessaryx_driver_stand_in;' >"$work/tessaryx.c"
cc=${prefix}gcc
sysroot_flag=()
[ -z "$sysroot" ] || sysroot_flag=(--sysroot="$sysroot")
"$cc" "${sysroot_flag[@]}" -shared -fPIC -I"$src/host" -Wl,-soname,libptz_drivers_glue.so.2 \
      -o "$work/hostlibs/libptz_drivers_glue.so.2" "$work/glue.c" -ldl
"$cc" "${sysroot_flag[@]}" -shared -fPIC -Wl,-soname,libtessaryx_driver.so \
      -o "$work/hostlibs/libtessaryx_driver.so" "$work/tessaryx.c"

build=$work/build
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel -DPTZ_BUILD_TESTS=OFF \
      -DCMAKE_TOOLCHAIN_FILE="$src/cmake/arm-linux-gnueabihf.cmake" -DPTZ_CROSS_PREFIX="$prefix" \
      -DPTZ_SYSROOT="$sysroot" -DPTZ_HOST_LIBDIR="$work/hostlibs" >"$work/configure.log" ||
  { cat "$work/configure.log"; echo "FAIL: configure"; exit 1; }
cmake --build "$build" -j 2 --target tavrinode >"$work/build.log" || { cat "$work/build.log"; echo "FAIL: build"; exit 1; }
program=$build/tavrinode

# Dynamic section: both host libraries, no path of this machine.
dynamic=$("$readelf" -dW "$program")
for lib in libptz_drivers_glue.so.2 libtessaryx_driver.so; do
  grep -qF "Shared library: [$lib]" <<<"$dynamic" || fail "NEEDED lacks $lib"
done
if grep -qE 'RPATH|RUNPATH' <<<"$dynamic"; then fail "the program has a run path: $(grep -E 'RPATH|RUNPATH' <<<"$dynamic")"; fi
if grep -qF "$work" "$program"; then fail "the program holds the build folder's path"; fi

# Exports: the 24 entry points and, beside them, only the C runtime's own
# symbols (underscore names and data_start).
exports() {
  "$readelf" --dyn-syms -W "$1" | awk '$1 ~ /^[0-9]+:$/ && $7 != "UND" && ($5 == "GLOBAL" || $5 == "WEAK") {print $8}' |
    sed 's/@.*//' | grep -vxE '_.*|data_start' | sort -u
}
[ "$(exports "$program")" = "$entries" ] ||
  fail "exports differ from the entry points: $(diff <(echo "$entries") <(exports "$program") | grep '^[<>]' | tr '\n' ' ')"

# ARMv7, VFPv3-D16, arguments in VFP registers (hard-float).
attributes=$("$readelf" -A "$program")
for tag in 'Tag_CPU_arch: v7' 'Tag_FP_arch: VFPv3-D16' 'Tag_ABI_VFP_args: VFP registers'; do
  grep -qF "$tag" <<<"$attributes" || fail "attributes lack '$tag'"
done

# Installed stripped, still exporting the entry points.
cmake --install "$build" --prefix "$work/installed" >/dev/null
installed=$work/installed/bin/tavrinode
if [ ! -f "$installed" ]; then
  fail "nothing installed at bin/tavrinode"
else
  if "$readelf" -SW "$installed" | grep -qE '\.symtab|\.debug'; then fail "the installed program is not stripped"; fi
  [ "$(exports "$installed")" = "$entries" ] || fail "the installed program lost its exports"
fi
[ -f "$work/installed/share/doc/tavrinode/examples/cameras.ini" ] || fail "no example configuration installed"

# The package: armhf, the program and the example configuration.
cmake --build "$build" --target package >"$work/package.log" || { cat "$work/package.log"; fail "package"; }
deb=$(find "$build" -maxdepth 1 -name '*.deb' | head -1)
if [ -z "$deb" ]; then
  fail "no .deb written"
else
  [ "$(dpkg-deb -f "$deb" Architecture)" = armhf ] || fail "package architecture $(dpkg-deb -f "$deb" Architecture)"
  version=$(dpkg-deb -f "$deb" Version)
  glibc=$("$readelf" -V "$program" | grep -oE 'GLIBC_[0-9.]+' | sort -uV | tail -1)
  grep -qF "libc6 (>= ${glibc#GLIBC_})" <<<"$(dpkg-deb -f "$deb" Depends)" ||
    fail "package depends on '$(dpkg-deb -f "$deb" Depends)', the program needs $glibc"
  contents=$(dpkg-deb -c "$deb")
  for f in ./usr/bin/tavrinode ./usr/share/doc/tavrinode/examples/cameras.ini; do
    grep -qF " $f" <<<"$contents" || fail "package lacks $f"
  done
fi

# Under the emulator the glue finds every entry point; the driver names the
# version the package carries.
run=$(LD_LIBRARY_PATH=$work/hostlibs "${emulator[@]}" "$program" 2>&1) || fail "the program failed: $run"
[ "$run" = "resolved 24 entry points, driver Tavrinode ${version:-?}" ] || fail "unexpected run: $run"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "board build: NEEDED, exports, attributes, entry points, install and package as expected"
