#!/usr/bin/env bash
# The ARM calibrator (ARM run, under the emulator) against a native build of
# the same sources: on simulated time it must choose exactly what the native
# calibrator chooses and print the same report; over a pseudo-terminal it
# calibrates the native virtual camera program, then checks it with the
# values written (and a worn copy of it).
# Usage: e2e_arm_calibrate.sh BUILD TESTS SOURCE EMULATOR...
source "$2/e2e_lib.sh"
src=$3
shift 3
native=$bin/native-tools
for step in "cmake -S $src -B $native -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel -DPTZ_BUILD_TESTS=OFF" \
            "cmake --build $native --target visca_calibrate virtual_camera"; do
  env -u PKG_CONFIG_LIBDIR $step >"$work/native-build.log" 2>&1 || { cat "$work/native-build.log"; echo "FAIL: $step"; exit 1; }
done

mkdir "$work/arm" "$work/native"
status=0
(cd "$work/native" && timeout 120 "$native/visca_calibrate" --profile stepped --write site.ini >report.txt 2>&1) || status=$?
[ "$status" -eq 0 ] || fail "the native calibrator exited with $status"
status=0
(cd "$work/arm" && timeout 300 "$@" "$bin/visca_calibrate" --profile stepped --write site.ini >report.txt 2>&1) || status=$?
[ "$status" -eq 0 ] || fail "the ARM calibrator exited with $status"
for key in MoveSpeed PanMoveTimePerDegree TiltMoveTimePerDegree ZoomTime FocusTime; do
  expect_line "$work/native/site.ini" "$key = "
done
# (the record's date is the minute each run ended: the two may differ)
undated() { sed 's/^; calibrated [0-9-]* [0-9:]* UTC$/; calibrated (date)/' "$1"; }
expect_equal "the values the ARM calibrator chose" "$(undated "$work/arm/site.ini")" "$(undated "$work/native/site.ini")"
expect_equal "the ARM calibrator's report" "$(cat "$work/arm/report.txt")" "$(cat "$work/native/report.txt")"

"$native/virtual_camera" --pty --profile proportional --quiet >"$work/camera.txt" 2>&1 &
background+=($!)
pty=$(announced "$work/camera.txt" pty)
[ -n "$pty" ] || { echo "the camera printed no pseudo-terminal"; cat "$work/camera.txt"; exit 1; }
status=0
timeout 300 "$@" "$bin/visca_calibrate" --port "$pty" --profile proportional --quick --axes pan \
  --write "$work/pty.ini" >"$work/calibrate.txt" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "the ARM calibrator over $pty exited with $status"
expect_line "$work/calibrate.txt" "camera: vendor 0x0070, model 0x0001, ROM 0x0100 on $pty"
# The camera turns 1000/69 degrees/s at 0x12: about 690 tenths of a ms per
# degree; the emulator and a loaded machine read a frame a little late.
chosen=$(sed -n 's/^PanMoveTimePerDegree = //p' "$work/pty.ini" 2>/dev/null || true)
expect_between "PanMoveTimePerDegree over the pseudo-terminal" "${chosen:-0}" 640 740

# The board's check with the values just written: the same camera lands as
# recorded (ok, and its page written); a copy 10 % slower has drifted.
"$native/virtual_camera" --pty --profile proportional --wear 10 --quiet >"$work/worn.txt" 2>&1 &
background+=($!)
worn=$(announced "$work/worn.txt" pty)
for case in "$pty|0|ok" "$worn|1|drifted (pan)"; do
  IFS='|' read -r line expected verdict <<<"$case"
  status=0
  timeout 300 "$@" "$bin/visca_calibrate" --port "$line" --profile proportional --axes pan --config "$work/pty.ini" \
    --check --report "$work/check.html" >"$work/check.txt" 2>&1 || status=$?
  expect_equal "the ARM check on $line: exit status" "$status" "$expected"
  expect_line "$work/check.txt" "calibrated 20"
  expect_line "$work/check.txt" "verdict camera 1: $verdict"
  expect_line "$work/check.html" "<span class='badge'>${verdict%% *}</span>"
done
finish
