#!/usr/bin/env bash
# visca_calibrate measures the virtual camera program over a pseudo-terminal
# and writes its choice into a configuration file; tavrinode then verifies
# the written calibration over the same line. A short plan (pan only, moves
# of 5 degrees and more) keeps it to seconds. The same over the network:
# calibration and verification over udp with the IP header, verification
# over tcp, and a camera nobody runs. Empty names are usage errors. Every
# stop signal, during a drive or while the values are chosen, stops the
# camera and leaves the file alone.
source "$2/e2e_lib.sh"

"$bin/virtual_camera" --pty --profile proportional --quiet >"$work/camera.txt" 2>&1 &
background+=($!)
pty=$(announced "$work/camera.txt" pty)
[ -n "$pty" ] || { echo "the camera printed no pseudo-terminal"; cat "$work/camera.txt"; exit 1; }

printf '; site file\n[camera1]\nMoveSpeed = 100   ; full speed\nPanMoveTimePerDegree = 1000\n[camera2]\nZoomTime = 1\n' \
  >"$work/site.ini"
cp "$work/site.ini" "$work/before.ini"

# A camera number outside 1..255 is refused before anything is measured or written.
for n in 0 256 1x ""; do
  status=0
  timeout 30 "$bin/visca_calibrate" --profile proportional --camera "$n" --write "$work/site.ini" \
    >"$work/camera_n.txt" 2>&1 || status=$?
  [ "$status" -ne 0 ] && [ "$status" -ne 124 ] || fail "--camera '$n' ended with $status"
  expect_line "$work/camera_n.txt" "--camera: '$n' is not a camera number 1..255"
  expect_no_line "$work/camera_n.txt" "measuring"
done
expect_equal "the file after refused camera numbers" "$(cat "$work/site.ini")" "$(cat "$work/before.ini")"

# (An empty line or file name is refused in e2e_config.sh's table of every
# desk program's bad options.)

# A camera the file's [host] section does not have is refused, file untouched.
printf '[host]\ncameras = 2\n[camera1]\nZoomTime = 1\n' >"$work/two.ini"
cp "$work/two.ini" "$work/two_before.ini"
status=0
timeout 30 "$bin/visca_calibrate" --profile proportional --camera 3 --write "$work/two.ini" \
  >"$work/camera3.txt" 2>&1 || status=$?
[ "$status" -ne 0 ] && [ "$status" -ne 124 ] || fail "--camera 3 of 2 ended with $status"
expect_line "$work/camera3.txt" "camera 3 is beyond [host] cameras = 2 of $work/two.ini"
expect_no_line "$work/camera3.txt" "measuring"
expect_equal "the file after a camera beyond its cameras" "$(cat "$work/two.ini")" "$(cat "$work/two_before.ini")"

# --axes must name an axis: a usage error, nothing measured or written.
status=0
timeout 30 "$bin/visca_calibrate" --profile proportional --axes "" --write "$work/site.ini" >"$work/no_axes.txt" 2>&1 ||
  status=$?
expect_equal "--axes '' exit status" "$status" 2
expect_line "$work/no_axes.txt" "--axes: name at least one axis"
expect_equal "the file after --axes ''" "$(cat "$work/site.ini")" "$(cat "$work/before.ini")"

# Values it cannot stand behind are refused, file untouched: --quick on a
# camera whose time step needs a slower MoveSpeed predicts beyond the bound.
status=0
timeout 60 "$bin/visca_calibrate" --profile linear --quick --write "$work/site.ini" >"$work/quick.txt" 2>&1 ||
  status=$?
expect_equal "--quick on linear: exit status" "$status" 1
expect_line "$work/quick.txt" "calibration failed: pan: the values are predicted to land 5-90 degree moves"
expect_line "$work/quick.txt" "run it again without --quick"
expect_equal "the file after a refused calibration" "$(cat "$work/site.ini")" "$(cat "$work/before.ini")"

# The driver's FocusSpeed on geometric is predicted beyond the 10 % bound:
# without --lens-speed it is measured and chosen as auto does, with a line
# that says so; --lens-speed keep refuses it as ever.
lens() {
  local status=0
  timeout 60 "$bin/visca_calibrate" --profile geometric --axes focus --no-check "$@" >"$work/lens.txt" 2>&1 || status=$?
  echo "$status $(grep -o 'FocusSpeed = [0-9]*  (was\|measured in [0-9.]* s' "$work/lens.txt" | tr '\n' ' ')"
}
fallback=$(lens)
expect_line "$work/lens.txt" "FocusSpeed 100 in use is predicted to land focus moves"
expect_equal "status, FocusSpeed and camera time as auto" "$fallback" "$(lens --lens-speed auto)"
expect_equal "--lens-speed keep: exit status" "$(lens --lens-speed keep | cut -d' ' -f1)" 1
expect_line "$work/lens.txt" "--lens-speed auto chooses the fastest FocusSpeed"

# A value in use far off (60 times too long) is no reason to miss the right one.
printf '[camera1]\nPanMoveTimePerDegree = 10000\n' >"$work/far.ini"
status=0
timeout 120 "$bin/visca_calibrate" --profile linear --axes pan --write "$work/far.ini" >"$work/far.txt" 2>&1 ||
  status=$?
expect_equal "far-off value in use: exit status" "$status" 0
chosen=$(sed -n 's/^PanMoveTimePerDegree = //p' "$work/far.ini")
expect_between "PanMoveTimePerDegree from 10000" "${chosen:-0}" 300 460
for other in "zoom:" "focus:" "tilt:" "lens median"; do expect_no_line "$work/far.txt" "$other"; done

# A camera whose start latency (60 ms) costs 5 degree tilts too much at
# the speed its time step allows: a slower MoveSpeed keeps within the bound.
printf '[camera]\nframe_ms = 20\nstart_latency_ms = 60\ncoast_ms = 25\n[pan]\nfirst_byte = 1\nspeeds = 1.5 4 8 13\n[tilt]\nfirst_byte = 1\nspeeds = %s\nunits_per_degree = 12.5\nsign = -1\nmin = -20\nmax = 80\n[zoom]\nfull_travel_ms = 4000\n[focus]\nfull_travel_ms = 2500\n' \
  "1 3 6 10 15 20 25 29 32 34 35.5 36.5 37 37.5" >"$work/late.ini"
status=0
timeout 120 "$bin/visca_calibrate" --profile "$work/late.ini" --axes tilt --no-check >"$work/late.txt" 2>&1 || status=$?
expect_equal "a camera slow to start: exit status" "$status" 0
expect_line "$work/late.txt" "at a faster speed the camera's start costs moves of 5 to 90 degrees more than 5 %"

# Tilt alone needs only tilt's units, and reports only tilt.
status=0
timeout 60 "$bin/visca_calibrate" --port "$pty" --axes tilt --tilt-units-per-degree 14.4 --quick --no-check \
  >"$work/tilt.txt" 2>&1 || status=$?
expect_equal "--axes tilt with tilt units only: exit status" "$status" 0
expect_line "$work/tilt.txt" "TiltMoveTimePerDegree = "
expect_no_line "$work/tilt.txt" "pan:"
expect_no_line "$work/tilt.txt" "zoom:"
expect_no_line "$work/tilt.txt" "focus:"
expect_no_line "$work/tilt.txt" "lens median"

status=0
timeout 60 "$bin/visca_calibrate" --port "$pty" --profile proportional --quick --axes pan \
  --write "$work/site.ini" >"$work/calibrate.txt" 2>"$work/progress.txt" || status=$?
[ "$status" -eq 0 ] || fail "visca_calibrate exited with $status"
expect_line "$work/calibrate.txt" "camera: vendor 0x0070, model 0x0001, ROM 0x0100 on $pty"
expect_line "$work/calibrate.txt" "byte 0x12      right  rate"
expect_line "$work/progress.txt" "measuring pan byte 18"
# The camera turns 1000/69 degrees/s at 0x12: about 690 tenths of a ms per
# degree, whatever the file said before; a late frame on a loaded machine
# moves it a little.
chosen=$(sed -n 's/^PanMoveTimePerDegree = //p' "$work/site.ini")
expect_between PanMoveTimePerDegree "${chosen:-0}" 640 740
expect_equal "the rest of the file" \
  "$(grep -v '^PanMoveTimePerDegree\|^PanSpeedCompensation\|^; calibrated' "$work/site.ini")" \
  "$(printf '; site file\n[camera1]\nMoveSpeed = 100   ; full speed\n[camera2]\nZoomTime = 1')"
expect_count "$work/site.ini" "PanSpeedCompensation = -50" 1

status=0
timeout 60 "$bin/tavrinode" --port "$pty" --config "$work/site.ini" 'verify quick' >"$work/verify.txt" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "tavrinode exited with $status"
expect_count "$work/verify.txt" "verify pan " 4
summary=$(grep '^verify summary' "$work/verify.txt" || true)
expect_line "$work/verify.txt" "; 4 moves"
# Timing over a loaded machine: a frame read 100 ms late adds 1.5 degrees
# to a 5 degree move.
worst=$(sed -n 's/.*5-90 deg median [0-9.]*% worst \([0-9.]*\)%.*/\1/p' <<<"$summary")
expect_between "worst verified error (%)" "${worst:-999}" 0 35

# The check lands its plan with the file's values and writes nothing: the
# camera just calibrated is ok against its record; a copy of it 5 % slower
# has drifted on pan.
expect_count "$work/site.ini" "; calibrated pan: predicted" 1
cp "$work/site.ini" "$work/calibrated.ini"
"$bin/virtual_camera" --pty --profile proportional --wear 5 --quiet >"$work/camera-worn.txt" 2>&1 &
background+=($!)
worn=$(announced "$work/camera-worn.txt" pty)
for camera in "$pty ok 0" "$worn drifted 1"; do
  read -r line verdict expected <<<"$camera"
  status=0
  timeout 60 "$bin/visca_calibrate" --port "$line" --profile proportional --axes pan --config "$work/site.ini" \
    --check >"$work/check-$verdict.txt" 2>&1 || status=$?
  expect_equal "--check of the $verdict camera: exit status" "$status" "$expected"
  expect_line "$work/check-$verdict.txt" "pan checked: 6 moves, median"
  expect_line "$work/check-$verdict.txt" "(recorded median"
  expect_line "$work/check-$verdict.txt" "verdict camera 1: $verdict"
done
expect_line "$work/check-drifted.txt" "verdict camera 1: drifted (pan)"
kill -TERM "${background[-1]}"
wait "${background[-1]}" || true
unset 'background[-1]'
expect_equal "the file after --check" "$(cat "$work/site.ini")" "$(cat "$work/calibrated.ini")"

# A network camera with the IP header that also acknowledges and completes
# every command: the inquiries pass those replies over and take the answer
# under their own sequence number.
"$bin/virtual_camera" --listen udp:127.0.0.1:0 --replies --profile proportional --quiet >"$work/camera-udp.txt" 2>&1 &
background+=($!)
udp=$(announced "$work/camera-udp.txt" listen)
[ -n "$udp" ] || { echo "the camera printed no address"; cat "$work/camera-udp.txt"; exit 1; }
cp "$work/before.ini" "$work/net.ini"
status=0
timeout 60 "$bin/visca_calibrate" --port "$udp" --profile proportional --quick --axes pan \
  --write "$work/net.ini" >"$work/calibrate-udp.txt" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "visca_calibrate over udp exited with $status"
expect_line "$work/calibrate-udp.txt" "camera: vendor 0x0070, model 0x0001, ROM 0x0100 on $udp"
chosen=$(sed -n 's/^PanMoveTimePerDegree = //p' "$work/net.ini")
expect_between "PanMoveTimePerDegree over udp" "${chosen:-0}" 640 740

# verify_over LINE NAME: the quick verification over LINE with the values
# calibrated over udp; all four moves land within the bounds above.
verify_over() {
  status=0
  timeout 60 "$bin/tavrinode" --port "$1" --config "$work/net.ini" 'verify quick' >"$work/verify-$2.txt" 2>&1 || status=$?
  [ "$status" -eq 0 ] || fail "tavrinode verify over $2 exited with $status"
  expect_count "$work/verify-$2.txt" "verify pan " 4
  worst=$(sed -n 's/^verify summary: 5-90 deg median [0-9.]*% worst \([0-9.]*\)%.*; 4 moves$/\1/p' \
    "$work/verify-$2.txt")
  expect_between "worst verified error over $2 (%)" "${worst:-999}" 0 35
}
verify_over "$udp" udp
"$bin/virtual_camera" --listen tcp:127.0.0.1:0 --profile proportional --quiet >"$work/camera-tcp.txt" 2>&1 &
background+=($!)
tcp=$(announced "$work/camera-tcp.txt" listen)
verify_over "$tcp" tcp

# Nobody at the address: both programs name the line and fail at once.
kill -TERM "${background[1]}"
wait "${background[1]}" || true
status=0
timeout 30 "$bin/visca_calibrate" --port "$udp" --profile proportional --quick --axes pan \
  >"$work/calibrate-gone.txt" 2>&1 || status=$?
[ "$status" -eq 1 ] || fail "visca_calibrate without a camera exited with $status"
expect_line "$work/calibrate-gone.txt" "no answer to the inquiry 81 09 00 02 FF on $udp"
status=0
timeout 30 "$bin/visca_calibrate" --port "$udp" --profile proportional --check >"$work/check-gone.txt" 2>&1 ||
  status=$?
expect_equal "--check without a camera: exit status" "$status" 1
expect_line "$work/check-gone.txt" "verdict camera 1: failed (no answer to the inquiry 81 09 00 02 FF on $udp"
status=0
timeout 30 "$bin/tavrinode" --port "$udp" 'verify quick' >"$work/verify-gone.txt" 2>&1 || status=$?
[ "$status" -eq 1 ] || fail "tavrinode verify without a camera exited with $status"
expect_line "$work/verify-gone.txt" "error: verify: pan position: no answer to 81 09 06 12 FF on $udp"

# A --write the result cannot go to is refused (status 2) before anything moves (a
# FIFO does not hang it); so is a configuration the INI library would misread.
mkfifo "$work/fifo"
printf '[camera1]\n;%0199d port = x\n' 0 >"$work/long.ini"
for target in "$work" "$work/fifo" "$work/long.ini"; do
  status=0
  timeout 10 "$bin/visca_calibrate" --profile proportional --quick --write "$target" >"$work/target.txt" 2>&1 ||
    status=$?
  expect_equal "--write $target exit status" "$status" 2
  expect_line "$work/target.txt" "visca_calibrate: $target"
done
expect_line "$work/target.txt" "long.ini:2: line longer than 199 characters"

# Every stop signal during a drive: the camera is stopped (the three stop
# frames of the safe stop, the last pan-tilt frame a stop), the file stays
# as it was, and the status is 128 + the signal.
"$bin/virtual_camera" --pty --profile proportional >"$work/camera-stop.txt" 2>&1 &
background+=($!)
pty=$(announced "$work/camera-stop.txt" pty)
for sig in INT:130 HUP:129 QUIT:131 TERM:143; do
  name=${sig%%:*}
  cp "$work/before.ini" "$work/site2.ini"
  seen=$(wc -l <"$work/camera-stop.txt")
  "$bin/visca_calibrate" --port "$pty" --profile proportional --axes pan \
    --write "$work/site2.ini" >"$work/interrupted.txt" 2>&1 &
  calibrate_pid=$!
  for _ in $(seq 400); do
    tail -n +$((seen + 1)) "$work/camera-stop.txt" | grep -q 'pan-tilt drive' && break
    sleep 0.02
  done
  kill -"$name" "$calibrate_pid"
  asked=$(date +%s.%N)
  status=0
  wait "$calibrate_pid" || status=$?
  took=$(awk -v a="$asked" -v b="$(date +%s.%N)" 'BEGIN { printf "%d", (b - a) * 1000 }')
  expect_between "ms from SIG$name to the end" "$took" 0 3000
  expect_equal "exit status after SIG$name" "$status" "${sig##*:}"
  expect_line "$work/interrupted.txt" "interrupted; the configuration file was left as it was"
  expect_equal "the file after SIG$name" "$(cat "$work/site2.ini")" "$(cat "$work/before.ini")"
  tail -n +$((seen + 1)) "$work/camera-stop.txt" >"$work/frames-$name.txt"
  expect_line "$work/frames-$name.txt" "zoom stop"
  expect_equal "the last pan-tilt frame after SIG$name" \
    "$(grep -o 'pan-tilt [a-z]*' "$work/frames-$name.txt" | grep -v position | tail -1)" "pan-tilt stop"
done

# Ctrl-C once the camera is back at its start, while the values are chosen:
# still 130, and the file is not written.
cp "$work/before.ini" "$work/site3.ini"
"$bin/visca_calibrate" --profile linear --axes zoom --write "$work/site3.ini" >/dev/null 2>"$work/late.txt" &
calibrate_pid=$!
wait_for "$work/late.txt" "back at the start; choosing the values"
kill -INT "$calibrate_pid"
status=0
wait "$calibrate_pid" || status=$?
expect_equal "exit status after Ctrl-C while choosing" "$status" 130
expect_line "$work/late.txt" "interrupted; the configuration file was left as it was"
expect_equal "the file after Ctrl-C while choosing" "$(cat "$work/site3.ini")" "$(cat "$work/before.ini")"

# Under nohup (SIGHUP ignored from the start) a hang-up does not stop the run.
cp "$work/before.ini" "$work/site4.ini"
(
  trap '' HUP
  exec "$bin/visca_calibrate" --profile linear --axes pan --write "$work/site4.ini" >/dev/null 2>"$work/nohup.txt"
) &
calibrate_pid=$!
wait_for "$work/nohup.txt" "measuring pan"
kill -HUP "$calibrate_pid"
status=0
wait "$calibrate_pid" || status=$?
expect_equal "exit status after SIGHUP under nohup" "$status" 0
expect_line "$work/site4.ini" "PanMoveTimePerDegree = "

# --twin: refused before anything moves when an axis would not be measured;
# otherwise one run writes the calibration and the camera's profile, which
# names the line and the date, says what was assumed, and runs.
for extra in "--axes pan,tilt,zoom" "--quick"; do
  status=0
  # shellcheck disable=SC2086
  timeout 30 "$bin/visca_calibrate" --profile proportional --twin "$work/twin.ini" $extra >"$work/twin-refused.txt" 2>&1 ||
    status=$?
  expect_equal "--twin $extra exit status" "$status" 2
  expect_no_line "$work/twin-refused.txt" "measuring"
done
expect_line "$work/twin-refused.txt" "visca_calibrate: --twin: a twin needs the full measurement; leave out --quick"
status=0
"$bin/visca_calibrate" --config "$work/site.ini" --all --twin "$work/twin.ini" >"$work/twin-all.txt" 2>&1 || status=$?
expect_equal "--twin --all exit status" "$status" 2
expect_line "$work/twin-all.txt" "--twin does not go with --all"
[ ! -e "$work/twin.ini" ] || fail "a refused --twin wrote $work/twin.ini"
: >"$work/twin-values.ini"
timeout 120 "$bin/visca_calibrate" --profile stepped --twin "$work/twin.ini" --write "$work/twin-values.ini" \
  >"$work/twin.txt" 2>/dev/null || fail "visca_calibrate --twin failed: $(tail -3 "$work/twin.txt")"
expect_line "$work/twin.txt" "twin: pan units_per_degree: not measurable (the reply counts units), 204.8 taken as given"
expect_line "$work/twin.txt" "twin written to $work/twin.ini"
expect_line "$work/twin.txt" "values to [camera1] of $work/twin-values.ini"
expect_line "$work/twin.ini" "; on built-in virtual camera (stepped), $(date -u +%Y-%m-%d)"
"$bin/tavrinode" --profile "$work/twin.ini" "rel pan 10" "wait 500" >"$work/twin-run.txt" 2>&1 ||
  fail "tavrinode does not run the twin: $(tail -3 "$work/twin-run.txt")"
finish
