#!/usr/bin/env bash
# Ctrl-C (SIGINT) under the stand-in host: during a relative pan it cuts the
# sleep short and the driver, finding itself suspended, stops the camera and
# returns 0; during a relay pulse the driver sees the cut-short sleep,
# switches the relay off and returns 0. Outside the console the session then
# ends with status 130 (also in `wait`, or verification, or between lines).
# SIGTERM, SIGHUP and SIGQUIT during a long pan do the same cut, then tear
# down and exit with 128 + the signal, the camera left stopped.
source "$2/e2e_lib.sh"

# interrupt FILE WAIT-FOR ARGS...: runs tavrinode with ARGS, sends SIGINT
# once FILE has WAIT-FOR (and 0.3 s more); exit status in $status. Standard
# input from $stdin, if set.
interrupt() {
  local file=$1 text=$2
  shift 2
  "$bin/tavrinode" "$@" <"${stdin:-/dev/null}" >"$file" 2>>"$work/err.txt" &
  local pid=$!
  background+=("$pid")
  wait_for "$file" "$text"
  sleep 0.3
  kill -INT "$pid"
  status=0
  wait "$pid" || status=$?
  background=()
}

printf '[camera1]\nRelay1OnTime = 4000\n' >"$work/pulse.ini"
start=$(date +%s.%N)
interrupt "$work/out.txt" "pan-tilt drive: pan right at 0x12" 'rel pan 90' 'speed'
expect_equal "exit status after a cut relative move" "$status" 130
interrupt "$work/relay.txt" "relay 1 on" --config "$work/pulse.ini" 'relay relay1:on' 'speed'
expect_equal "exit status after a cut relay pulse" "$status" 130
cat "$work/relay.txt" >>"$work/out.txt"
elapsed=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')

# The pan of 90 degrees (6210 ms) and the pulse of 4000 ms were both cut.
expect_between "seconds taken" "$elapsed" 0 5
expect_line "$work/out.txt" "interrupted: sleep of 6210000 us cut short"
expect_line "$work/out.txt" "-> 81 01 06 01 00 00 03 03 FF  pan-tilt stop"
expect_line "$work/out.txt" "interrupted: sleep of 500000 us cut short"
expect_line "$work/out.txt" "-> 81 01 06 00 A3 FF  relay 1 off"
expect_count "$work/out.txt" "  = 0" 2
expect_count "$work/out.txt" "driver was suspended; resumed" 2
expect_line "$work/err.txt" "Suspended while activating relay 1!"
# Both commands completed their bookkeeping, and the session ended.
expect_line "$work/out.txt" "completed camera 1, delay 2"
expect_count "$work/out.txt" "interrupted; quitting" 2
expect_no_line "$work/out.txt" "> speed"
reached=$(sed -nE 's/.*pan: requested 90.000 degrees, reached ([0-9.]+) degrees.*/\1/p' "$work/out.txt")
expect_between "pan reached before the cut" "${reached:-999}" 1 60
expect_line "$work/out.txt" "virtual camera 1: pan ${reached}"

# A script's wait: the continuous move is stopped and the script ends.
interrupt "$work/wait.txt" "> wait 5000" 'move 50' 'wait 5000' 'speed'
expect_equal "exit status after a cut wait" "$status" 130
expect_line "$work/wait.txt" "wait interrupted"
expect_no_line "$work/wait.txt" ", moving"

# Verification: the moves before the cut are counted, the cut one (the
# 1380 ms drive back from 20 degrees) is not.
interrupt "$work/verify.txt" "20 deg: reached" --verify
expect_equal "exit status after a cut verification" "$status" 130
expect_line "$work/verify.txt" "interrupted: sleep of 1380000 us"
expect_count "$work/verify.txt" "20 deg: reached" 1
done=$(grep -c '^verify [a-z]* [-+]' "$work/verify.txt" || true)
expect_line "$work/verify.txt" "verify: interrupted; $done completed move(s) counted"

# Piped standard input: Ctrl-C while the host waits for the next line.
mkfifo "$work/lines"
exec 4<>"$work/lines"
printf 'speed\n' >&4
stdin=$work/lines interrupt "$work/stdin.txt" "speed 100.0"
exec 4>&-
expect_equal "exit status after Ctrl-C between piped lines" "$status" 130

interrupt "$work/pty.txt" "waiting up to" --pty
expect_equal "exit status after Ctrl-C while waiting for the pty" "$status" 130

# The console on a terminal: Ctrl-C at the prompt stops a continuous move;
# during a command it cuts it, stops the move, and the console goes on; a
# move already stopped is not stopped again; two in a row quit with 130.
HOME=$work console console 'move 50\r' '\003' 'move -50\r' 'wait 9000\r' '~\003' 'move 0 50\r' 'stop\r' '\003' '\003'
expect_equal "exit status after Ctrl-C twice" "$rc" 130
expect_line "$work/console.txt" "wait interrupted"
expect_line "$work/console.txt" "tilt up at 0x07"
expect_equal "stop frames at the prompt and after the cut" \
  "$(sed -n '/stopping camera 1/,/= 1/p' "$work/console.txt" | grep -c 'pan-tilt stop')" 2
expect_count "$work/console.txt" "stopping camera 1" 2

for sig in TERM:143 HUP:129 QUIT:131; do
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
