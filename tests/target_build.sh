#!/usr/bin/env bash
# The board build as an integrator runs it: host libraries in an ordinary
# folder outside the sysroot (stand-ins made by scripts/stub-host-libs),
# configured with PTZ_HOST_LIBDIR, built (without a compiler note), installed
# and packaged; then the program's dynamic section, exports and CPU
# attributes, the installed programs' hardening and both packages (with
# lintian) are checked, and under the emulator the stand-in glue resolves
# every entry point by name, as the host does. Last, the configure command
# run again is taken without a warning, with another toolchain file refused.
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
configure=(cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel -DPTZ_BUILD_TESTS=OFF
  -DCMAKE_TOOLCHAIN_FILE="$src/cmake/arm-linux-gnueabihf.cmake" -DPTZ_CROSS_PREFIX="$prefix"
  -DPTZ_SYSROOT="$sysroot" -DPTZ_HOST_LIBDIR="$work/hostlibs")
step "${configure[@]}"
step cmake --build "$build" -j 2 --target tavrinode package
! grep -m 5 -E 'note:|warning:' "$work/step.log" || fail "the build prints notes or warnings"
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

# Both packages: architecture, contents, a Depends naming the Debian package
# of every library their programs need (the host's two aside) and the C
# library version they use; and Debian's own checks, where each override
# carries its reason (packaging/PACKAGE.lintian-overrides).
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
debs=$(find "$build" -maxdepth 1 -name '*.deb' -printf '%f\n' | sort | tr '\n' ' ')
[ "$debs" = "tavrinode-tools_${version}_armhf.deb tavrinode_${version}_armhf.deb " ] || fail "packages: $debs"
check_package() { # NAME FILE...: the package holds the files; those in usr/bin are its programs
  local name=$1 deb=$build/$1_${version}_armhf.deb glibc=GLIBC_0 lib owner depends contents out
  shift
  [ -f "$deb" ] || return 0
  [ "$(dpkg-deb -f "$deb" Architecture)" = armhf ] || fail "$name: architecture $(dpkg-deb -f "$deb" Architecture)"
  contents=$(dpkg-deb -c "$deb") depends=$(dpkg-deb -f "$deb" Depends)
  for f in "$@"; do
    grep -qF " ./usr/$f" <<<"$contents" || fail "$name lacks /usr/$f"
    [[ $f == bin/* ]] || continue
    for lib in $("$readelf" -dW "$build/${f#bin/}" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p'); do
      case $lib in libptz_drivers_glue.so.2 | libtessaryx_driver.so) continue ;; esac
      owner=$(dpkg -S "/lib/arm-linux-gnueabihf/$lib" "/usr/lib/arm-linux-gnueabihf/$lib" 2>/dev/null | head -1 | cut -d: -f1 || true)
      sed 's/ ([^)]*)//g; s/, /\n/g' <<<"$depends" | grep -qxF "${owner:-?}" || fail "$name: Depends lacks ${owner:-the package} of $lib: $depends"
    done
    glibc=$({ echo "$glibc"; "$readelf" -V "$build/${f#bin/}" | grep -oE 'GLIBC_[0-9.]+'; } | sort -uV | tail -1)
  done
  grep -qF "libc6 (>= ${glibc#GLIBC_})" <<<"$depends" || fail "$name: the libc6 dependency is not $glibc: $depends"
  out=$(lintian --pedantic -I --tag-display-limit 0 "$deb" 2>"$work/lintian.err") || fail "lintian on $name: $out $(cat "$work/lintian.err")"
  [ -z "$out" ] || fail "lintian on $name: $out"
}
check_package tavrinode bin/tavrinode share/doc/tavrinode/examples/cameras.ini share/doc/tavrinode/copyright
check_package tavrinode-tools bin/visca_calibrate bin/visca_decode share/tavrinode/profiles/stepped.ini \
  share/doc/tavrinode-tools/copyright
for f in bin/visca_calibrate bin/visca_decode share/tavrinode/profiles/stepped.ini; do
  [ -f "$work/installed/$f" ] || fail "$f not installed"
done
! "$readelf" -SW "$work/installed/bin/visca_calibrate" | grep -E '\.symtab|\.debug' || fail "the installed calibrator is not stripped"

# Debian's hardening, on each installed program: position-independent, full
# RELRO with immediate binding, fortified C library calls, no .comment; the
# tools, which read what the line brings, with a stack protector.
for f in tavrinode visca_calibrate visca_decode; do
  elf=$("$readelf" -hlSdW --dyn-syms "$work/installed/bin/$f")
  grep -qE 'Type: +DYN' <<<"$elf" || fail "$f is not position-independent"
  grep -qE 'GNU_RELRO' <<<"$elf" || fail "$f has no RELRO segment"
  grep -qE '\(FLAGS_1\) +Flags: NOW PIE' <<<"$elf" || fail "$f binds lazily or is no PIE"
  grep -qE ' __[a-z_]+_chk@' <<<"$elf" || fail "$f calls no fortified function"
  ! grep -qF ' .comment ' <<<"$elf" || fail "$f keeps its .comment section"
  [ "$f" = tavrinode ] || grep -qF ' __stack_chk_fail@' <<<"$elf" || fail "$f has no stack protector"
done

run=$(LD_LIBRARY_PATH=$work/hostlibs "$@" "$program" 2>&1) || fail "the program failed: $run"
[ "$run" = "resolved 24 entry points, driver Tavrinode $version" ] || fail "run: $run"

# The documented configure command run again on the folder (the toolchain
# file named relative to the sources) is taken quietly; another toolchain
# file is refused rather than ignored.
(cd "$src" && cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake) >"$work/again.log" 2>&1 ||
  fail "configuring again failed: $(cat "$work/again.log")"
! grep -B1 -A4 'CMake Warning' "$work/again.log" || fail "configuring again warns"
cp "$src/cmake/arm-linux-gnueabihf.cmake" "$work/other.cmake"
! cmake -S "$src" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$work/other.cmake" >"$work/other.log" 2>&1 ||
  fail "another toolchain file was taken by a configured folder"
tr -s ' \n' ' ' <"$work/other.log" | grep -qF 'give that one a build folder of its own' || fail "another toolchain file: $(cat "$work/other.log")"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "board build: quiet build, NEEDED, exports, attributes, entry points, hardening, install, package and reconfigure as expected"
