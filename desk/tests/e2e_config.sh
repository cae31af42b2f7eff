#!/usr/bin/env bash
# The stand-in host's configuration file: values outside the descriptor's
# range and unknown keys are refused naming file, line and key; an unset key
# makes the driver's own failure path show; slots (each with its own built-in
# camera) and reload work; exit statuses tell what went wrong.
source "$2/e2e_lib.sh"

# run NAME CONFIG-TEXT [tavrinode arguments...]: runs with that configuration,
# output in $work/NAME.txt, exit status in $rc.
run() {
  local name=$1 text=$2
  shift 2
  printf '%s\n' "$text" >"$work/$name.ini"
  rc=0
  "$bin/tavrinode" --config "$work/$name.ini" "$@" >"$work/$name.txt" 2>&1 || rc=$?
}

run range $'[camera1]\nMoveSpeed = 80\nPanSpeedCompensation = -101' status
expect_equal "range exit status" "$rc" 2
expect_line "$work/range.txt" "range.ini:3: PanSpeedCompensation = -101 is outside its range -100..100"
expect_no_line "$work/range.txt" "setup ="

run unknown $'; slot 1\n[camera1]\nMoveSpeeed = 50' status
expect_equal "unknown key exit status" "$rc" 2
expect_line "$work/unknown.txt" "unknown.ini:3: unknown key 'MoveSpeeed' in [camera1]"

run boolean $'[camera1]\nFlipPan = maybe' status
expect_equal "boolean exit status" "$rc" 2
expect_line "$work/boolean.txt" "boolean.ini:2: FlipPan = maybe is not a boolean"

run section $'[camera1]\n[kamera2]' status
expect_equal "section exit status" "$rc" 2
expect_line "$work/section.txt" "section.ini:2: unknown section [kamera2]"

# Just outside what the file may say: each refused, naming the line.
for case in '[camera0]|refused.ini:1: unknown section [camera0]' \
  '[camera1]\nMoveSpeed = 80x|refused.ini:2: MoveSpeed = 80x is not a whole number' \
  '[camera1]\nPanSpeedCompensation = 101|refused.ini:2: PanSpeedCompensation = 101 is outside its range' \
  '[host]\ncameras = 2\n[camera3]|refused.ini: [camera3] is beyond cameras = 2'; do
  IFS='|' read -r text want <<<"$case"
  run refused "$(printf '%b' "$text")" status
  expect_equal "exit status with $text" "$rc" 2
  expect_line "$work/refused.txt" "$want"
done

# An unset key: the driver's request fails and setup reports it.
run unset $'[camera1]\nTiltMoveTimePerDegree =' --trace status
expect_equal "unset key exit status" "$rc" 1
expect_line "$work/unset.txt" "param TiltMoveTimePerDegree (int, mode 1, camera 1): missing"
expect_line "$work/unset.txt" "param MoveSpeed (int, mode 1, camera 1): 100"
expect_line "$work/unset.txt" "param FlipTilt (bool, mode 0, camera 1): 0"
expect_line "$work/unset.txt" "setup = 0"
expect_line "$work/unset.txt" "drivermsg: Error refresh of parameters failed!"

# Three slots, the second belonging to another driver: nothing is asked for
# camera 2, and each configured camera has its own values.
run slots $'[host]\ncameras = 3\n[camera1]\nFlipPan = yes\n[camera2]\nconfigured = false\n[camera3]\nMoveSpeed = 40' \
  --trace flips speed 'camera 3' flips speed
expect_equal "slots exit status" "$rc" 0
expect_line "$work/slots.txt" "configured: 1 3,"
# Sections as the INI library reads them: after a byte order mark, and not
# when indented after a key (that line is more of the key's value).
run bom $'\xef\xbb\xbf[camera2]' status
expect_line "$work/bom.txt" "configured: 2,"
run indent $'[camera1]\nFlipPan = yes\n  [kamera2]' status
expect_line "$work/indent.txt" "indent.ini:3: FlipPan = [kamera2] is not a boolean"
expect_count "$work/slots.txt" "camera 1): " 18
expect_count "$work/slots.txt" "camera 2): " 0
expect_count "$work/slots.txt" "camera 3): " 18
expect_equal "per-camera answers" "$(grep -E '^  (flipped:|speed) ' "$work/slots.txt")" \
"  flipped: pan 1, tilt 0
  speed 100.0
  flipped: pan 0, tilt 0
  speed 40.0"

# Two slots on two built-in cameras, slot 1 another driver's: the console
# starts on slot 2, refuses slot 1 without sending anything, and each camera
# ends where its own moves put it.
run cams $'[host]\ncameras = 3\n[camera1]\nconfigured = false\n[camera2]\n[camera3]' \
  'rel pan 10' 'camera 1' 'camera 3' 'rel pan -5' 'rel tilt 2'
expect_equal "refused slot exit status" "$rc" 1
expect_line "$work/cams.txt" "error: camera: camera 1 belongs to another driver (configured = false); nothing sent"
expect_count "$work/cams.txt" "started camera 1" 0
expect_count "$work/cams.txt" "started camera 2" 1
expect_count "$work/cams.txt" "started camera 3" 2
expect_count "$work/cams.txt" "virtual camera " 2
expect_between "camera 2 pan" "$(sed -nE 's/^virtual camera 2: pan ([-0-9.]+),.*/\1/p' "$work/cams.txt")" 9.9 10.5
expect_between "camera 3 pan" "$(sed -nE 's/^virtual camera 3: pan ([-0-9.]+),.*/\1/p' "$work/cams.txt")" -5.3 -4.9
expect_between "camera 3 tilt" "$(sed -nE 's/^virtual camera 3: pan [-0-9.]+, tilt ([-0-9.]+),.*/\1/p' "$work/cams.txt")" 0.5 2.5

# Exit statuses: 2 for what cannot be read or does nothing, 1 for a rejected
# script line (a plot that cannot be written refuses its verify at once).
printf 'speed
speed fast
' >"$work/bad.cmd"
printf 'verify %s/none/p.svg\n' "$work" >"$work/plot.cmd"
# A comment the INI library would cut after 199 characters, its tail a port.
printf ';%0199d port = %s/ttyUSB7\n' 0 "$work" >"$work/long.ini"
mkfifo "$work/fifo"
for case in "2|is a directory|--config $work" "2|script $work is a directory|--script $work" \
  "2|cannot read the script|--script $work/none.cmd" "1|error: speed: 'fast'|--script $work/bad.cmd" \
  "2|unknown section [kamera2]|--config $work/section.ini --script $work/bad.cmd" \
  "2|long.ini:1: line longer than 199 characters|--config $work/long.ini status" \
  "2|they do nothing with --port or --pty|--pty --replies" "2|--reconnect does nothing|--reconnect status" \
  "1|error: verify: cannot write $work/none/p.svg|--script $work/plot.cmd" \
  "2|configuration $work/fifo is not a regular file|--config $work/fifo status"; do
  IFS='|' read -r want text args <<<"$case"
  rc=0
  # A FIFO nobody writes must not hold the host: KILL is the only way out of a hang.
  # shellcheck disable=SC2086
  timeout -s KILL 20 "$bin/tavrinode" $args >"$work/status.txt" 2>&1 || rc=$?
  expect_equal "exit status with $args" "$rc" "$want"
  expect_line "$work/status.txt" "$text"
done

# Every desk program: a bad option or option value, or an output that cannot
# be written, gets status 2 and one line, without the usage that would push
# it off the screen, before anything opens or moves (/dev/null is no serial
# line: opening it would give 1); an unknown option points to --help. An
# empty line or file name ('', a script's unset variable) is a usage error
# too, never the built-in camera or standard input.
printf 'name = x\n' >"$work/bad-profile.ini"
printf '[camera1]\nport = /dev/null\n' >"$work/site.ini"
cp "$work/site.ini" "$work/keep.ini"
calibrate="visca_calibrate|2"
for case in "tavrinode|2|--pty-wait: 'x'|--pty-wait x" "tavrinode|2|--help lists the options|--bogus" \
  "tavrinode|2|bad-profile.ini:1: |--profile $work/bad-profile.ini" \
  "tavrinode|2|'udp:abc': give the camera as udp:HOST:PORT|--port udp:abc status" \
  "tavrinode|2|cannot write $work/none/p.svg|--verify --verify-plot $work/none/p.svg" \
  "tavrinode|2|cannot write /proc/x.svg|--timeline /proc/x.svg status" \
  "virtual_camera|2|--pan-dps: 'x'|--pty --pan-dps x" "virtual_camera|2|--help lists the options|--bogus" \
  "virtual_camera|2|'abc' is not a port number|--listen udp:abc" \
  "virtual_camera|2|cannot write $work/none/t.svg|--pty --timeline $work/none/t.svg" \
  "virtual_camera|2|cannot write $work: it is a folder|--pty --state $work" \
  "$calibrate|--pan-units-per-degree|--port /dev/null" \
  "$calibrate|--tilt-units-per-degree|--port /dev/null --axes tilt,zoom" \
  "visca_calibrate|1|/dev/null is not a serial device|--port /dev/null --axes tilt --tilt-units-per-degree 9" \
  "visca_calibrate|2|--pan-units-per-degree|--all --config $work/site.ini" \
  "visca_calibrate|2|cannot create files in $work/none|--profile linear --write $work/none/x.ini" \
  "visca_calibrate|2|none.ini|--profile linear --all --config $work/none.ini" \
  "visca_calibrate|2|--lens-speed: '8'|--profile linear --lens-speed 8" \
  "visca_calibrate|2|--twin: cannot write $work/none/t.ini|--profile linear --twin $work/none/t.ini" \
  "visca_decode|2|--help lists the options|--bogus" "visca_decode|2|cannot read $work/none.log|$work/none.log" \
  "$calibrate|--port: the value is empty|--profile linear --write $work/site.ini --port ''" \
  "$calibrate|--write: the value is empty|--profile linear --write ''" "tavrinode|2|--port: the value is empty|--port ''" \
  "virtual_camera|2|--port: the value is empty|--port ''" "virtual_camera|2|--listen: the value is empty|--listen ''" \
  "visca_decode|2|an empty file name|''"; do
  IFS='|' read -r program want text args <<<"$case"
  read -ra words <<<"$args"
  for i in "${!words[@]}"; do [ "${words[$i]}" != "''" ] || words[$i]=""; done
  rc=0
  timeout 10 "$bin/$program" "${words[@]}" >"$work/alone.txt" 2>&1 </dev/null || rc=$?
  expect_equal "exit status of $program $args" "$rc" "$want"
  expect_equal "lines from $program $args" "$(wc -l <"$work/alone.txt")" 1
  expect_line "$work/alone.txt" "$text"
done
expect_equal "the file after refused options" "$(cat "$work/site.ini")" "$(cat "$work/keep.ini")"

# The banner names each camera's own line, and the profile.
run own $'[host]\ncameras = 3\n[camera1]\nport = udp-raw:127.0.0.1:9\n[camera2]\nconfigured = false\n[camera3]\nport = udp-raw:127.0.0.1:7' \
  --profile stepped status
expect_line "$work/own.txt" "frames to camera 1 udp-raw:127.0.0.1:9; camera 3 udp-raw:127.0.0.1:7, 3 camera slot(s)"
expect_line "$work/own.txt" ", profile stepped"

# reload: the file changes between two commands.
printf '[camera1]\nMoveSpeed = 80\n' >"$work/reload.ini"
rc=0
{ printf 'speed\n'; sleep 0.3; sed -i 's/80/60/' "$work/reload.ini"; printf 'speed 20\nreload\nspeed\n'; } |
  "$bin/tavrinode" --config "$work/reload.ini" >"$work/reload.txt" 2>&1 || rc=$?
expect_equal "reload exit status" "$rc" 0
expect_equal "speeds around the reload" "$(grep -E '^  speed ' "$work/reload.txt")" \
"  speed 80.0
  speed 60.0"
expect_line "$work/reload.txt" "configuration reloaded from $work/reload.ini"

# A reload whose file went bad keeps the configuration in use.
printf '[camera1]\nMoveSpeed = 70\n' >"$work/bad.ini"
rc=0
{ printf 'speed\n'; sleep 0.3; printf '[camera1]\nMoveSpeed = 700\n' >"$work/bad.ini"; printf 'reload\nspeed\n'; } |
  "$bin/tavrinode" --config "$work/bad.ini" >"$work/badreload.txt" 2>&1 || rc=$?
expect_equal "bad reload exit status" "$rc" 1
expect_line "$work/badreload.txt" "error: reload: $work/bad.ini:2: MoveSpeed = 700 is outside its range 1..100; the configuration in use stays"
expect_count "$work/badreload.txt" "  speed 70.0" 2
finish
