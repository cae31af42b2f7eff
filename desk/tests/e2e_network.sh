#!/usr/bin/env bash
# tavrinode drives the virtual camera over the network lines on loopback:
# udp with the IP header (reset, sequence numbers, replies matched to their
# requests, junk datagrams counted and dropped), then udp-raw and tcp.
source "$2/e2e_lib.sh"

# start_camera NAME ADDRESS [options]: starts the camera listening on ADDRESS and
# sets $port to the port it took.
start_camera() {
  local name=$1 net=$2
  shift 2
  "$bin/virtual_camera" --listen "$net" --state "$work/$name-state.txt" "$@" >"$work/$name.txt" 2>&1 &
  background+=($!)
  port=$(announced "$work/$name.txt" listen | sed -n 's/.*:\([0-9]*\)$/\1/p')
  [ -n "$port" ] || { echo "the camera printed no address"; cat "$work/$name.txt"; exit 1; }
}

# stop_camera: lets it take the last datagrams, then ends it (it writes its state).
stop_camera() {
  sleep 0.2
  end_camera "${background[0]}"
  background=()
}

frames() { sed -nE 's/^ *[0-9]+\.[0-9]{6}  ([0-9A-F]{2} )*FF  //p' "$work/$1.txt"; }
value() { sed -n "s/^$2=//p" "$work/$1-state.txt"; }

start_camera udp udp:0 --replies --profile geometric
expect_line "$work/udp.txt" "listen udp:127.0.0.1:$port"
# Junk first: too short, a lying length field, a reply sent to the camera.
printf 'xyz' >"/dev/udp/127.0.0.1/$port"
printf '\x01\x00\x00\x09\x00\x00\x00\x01\x81\x01\xff' >"/dev/udp/127.0.0.1/$port"
printf '\x01\x11\x00\x03\x00\x00\x00\x01\x90\x41\xff' >"/dev/udp/127.0.0.1/$port"

status=0
"$bin/tavrinode" --trace --port "udp:127.0.0.1:$port" 'rel pan 10' 'rel tilt -5' >"$work/host.txt" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "tavrinode exited with $status"
stop_camera

expect_equal "frames decoded by the camera over udp" "$(frames udp)" \
  "pan-tilt drive: pan right at 0x12, tilt stop
pan-tilt stop
pan-tilt drive: tilt down at 0x0E, pan stop
pan-tilt stop"
expect_line "$work/udp.txt" "shorter than the header"
expect_line "$work/udp.txt" "length field says 9 bytes, 3 follow"
expect_line "$work/udp.txt" "a reply sent to the camera"
expect_line "$work/udp.txt" "reset: sequence numbers start again"
expect_equal dropped "$(value udp datagrams_dropped)" 3
# The geometric camera turns at 81 deg/s at pan byte 0x12 and 34 deg/s at
# tilt byte 0x0E, so 690 and 340 ms drives end near 56 and -11 degrees; the
# bounds allow the frames to arrive about 35 ms early or 100 ms late.
expect_between pan "$(value udp pan)" 53 64
expect_between tilt "$(value udp tilt)" -15 -9.5
expect_equal moving "$(value udp moving)" no

# The host numbers its messages from the reset on and sees every reply
# under the number of the frame it answers.
expect_line "$work/host.txt" "<- control reply 01: reset done  [sequence 0]"
# (The last stop's replies come after tavrinode has gone.)
for seq in 1 2 3; do
  for reply in acknowledge completion; do
    grep -qE "$reply, socket [12]  \[sequence $seq\]" "$work/host.txt" ||
      fail "host.txt: no $reply under sequence $seq"
  done
done
expect_no_line "$work/host.txt" "write failed"
expect_line "$work/host.txt" "pan: requested 10.000 degrees; drive time 690 ms intended"

# Bare messages over udp-raw and tcp.
for transport in udp-raw tcp; do
  start_camera "$transport" "$transport:127.0.0.1:0"
  "$bin/tavrinode" --port "$transport:127.0.0.1:$port" 'rel tilt 2' >"$work/host-$transport.txt" 2>&1 ||
    fail "tavrinode over $transport exited with an error"
  stop_camera
  expect_equal "frames decoded by the camera over $transport" "$(frames "$transport")" \
    "pan-tilt drive: tilt up at 0x0C, pan stop
pan-tilt stop"
  expect_between "$transport tilt" "$(value "$transport" tilt)" 1.5 3
done
expect_line "$work/tcp.txt" "; listening again"

# tcp: eight silent clients take every place; a ninth, sending 32 MiB of
# noise, takes the place of the one silent longest and does not make the
# camera grow; the host still gets through after it.
# (No quarantine of freed memory in the sanitizer build: it would count.)
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=0" start_camera many tcp:127.0.0.1:0 --quiet
silent=()
for _ in $(seq 8); do
  exec {fd}<>"/dev/tcp/127.0.0.1/$port"
  silent+=("$fd")
done
sleep 0.2
before=$(awk '/^VmRSS/ { print $2 }' "/proc/${background[0]}/status")
head -c $((32 << 20)) /dev/zero >"/dev/tcp/127.0.0.1/$port" || fail "a ninth client could not send"
sleep 0.3
peak=$(awk '/^VmHWM/ { print $2 }' "/proc/${background[0]}/status")
expect_between "camera growth (kB) while taking 32 MiB of noise" $((peak - before)) 0 8192
"$bin/tavrinode" --port "tcp:127.0.0.1:$port" 'rel tilt 2' >"$work/host-many.txt" 2>&1 ||
  fail "tavrinode could not get through to a camera with eight silent clients"
stop_camera
for fd in "${silent[@]}"; do exec {fd}>&-; done
expect_between "tilt with eight silent clients" "$(value many tilt)" 1.5 3

# Nothing listens: a tcp camera cannot be reached, and tavrinode says so.
status=0
"$bin/tavrinode" --port "tcp:127.0.0.1:$port" 'rel tilt 2' >"$work/refused.txt" 2>&1 || status=$?
[ "$status" -ne 0 ] || fail "tavrinode reached a camera that was gone"
expect_line "$work/refused.txt" "tcp:127.0.0.1:$port: cannot connect"
finish
