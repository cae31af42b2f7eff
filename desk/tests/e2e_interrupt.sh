#!/usr/bin/env bash
# Ctrl-C (SIGINT) under the stand-in host: during a relative pan it cuts the
# sleep short and the driver, finding itself suspended, stops the camera and
# returns 0; during a relay pulse the driver sees the cut-short sleep,
# switches the relay off and returns 0. The session then goes on.
# SIGTERM and SIGHUP during a long pan do the same cut, then tear down and
# exit with 128 + the signal, the camera left stopped.
source "$2/e2e_lib.sh"

printf '[camera1]\nRelay1OnTime = 4000\n' >"$work/pulse.ini"
"$bin/tavrinode" --config "$work/pulse.ini" 'rel pan 90' 'relay relay1:on' 'speed' \
  >"$work/out.txt" 2>"$work/err.txt" &
pid=$!
background+=("$pid")

start=$(date +%s.%N)
wait_for "$work/out.txt" "pan-tilt drive: pan right at 0x12"
sleep 0.3
kill -INT "$pid"
wait_for "$work/out.txt" "relay 1 on"
sleep 0.3
kill -INT "$pid"
status=0
wait "$pid" || status=$?
background=()
elapsed=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')

expect_equal "exit status" "$status" 0
# The pan of 90 degrees (6210 ms) and the pulse of 4000 ms were both cut.
expect_between "seconds taken" "$elapsed" 0 5
expect_line "$work/out.txt" "interrupted: sleep of 6210000 us cut short"
expect_line "$work/out.txt" "-> 81 01 06 01 00 00 03 03 FF  pan-tilt stop"
expect_line "$work/out.txt" "interrupted: sleep of 500000 us cut short"
expect_line "$work/out.txt" "-> 81 01 06 00 A3 FF  relay 1 off"
expect_count "$work/out.txt" "  = 0" 2
expect_count "$work/out.txt" "driver was suspended; resumed" 2
expect_line "$work/err.txt" "Suspended while activating relay 1!"
# Both commands completed their bookkeeping, and the session went on.
expect_line "$work/out.txt" "completed camera 1, delay 2"
expect_line "$work/out.txt" "  speed 100.0"
expect_line "$work/out.txt" "teardown"
reached=$(sed -nE 's/.*pan: requested 90.000 degrees, reached ([0-9.]+) degrees.*/\1/p' "$work/out.txt")
expect_between "pan reached before the cut" "${reached:-999}" 1 60
expect_line "$work/out.txt" "virtual camera 1: pan ${reached}"

for sig in TERM:143 HUP:129; do
  name=${sig%%:*}
  : >"$work/$name.txt"
  "$bin/tavrinode" 'rel pan 90' 'rel pan 90' >"$work/$name.txt" 2>&1 &
  pid=$!
  background+=("$pid")
  wait_for "$work/$name.txt" "pan right at 0x12"
  sleep 0.3
  kill -"$name" "$pid"
  status=0
  wait "$pid" || status=$?
  background=()
  expect_equal "exit status after SIG$name" "$status" "${sig##*:}"
  expect_line "$work/$name.txt" "ended by SIG$name"
  expect_count "$work/$name.txt" "pan right at 0x12" 1
  expect_line "$work/$name.txt" "-> 81 01 06 01 00 00 03 03 FF  pan-tilt stop"
  expect_line "$work/$name.txt" "virtual camera 1: pan "
  expect_no_line "$work/$name.txt" ", moving"
done
finish
