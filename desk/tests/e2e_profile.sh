#!/usr/bin/env bash
# Camera profiles end to end: tavrinode over a pseudo-terminal to the virtual
# camera running the stepped profile (frames of 40 ms, 80 ms start latency,
# 120 ms coast), inquiries answered on the line, and the profile errors.
source "$2/e2e_lib.sh"

"$bin/virtual_camera" --pty --profile stepped --state "$work/state.txt" >"$work/camera.txt" 2>&1 &
background+=($!)
pty=$(announced "$work/camera.txt" pty)
[ -n "$pty" ] || { echo "the camera printed no pseudo-terminal"; cat "$work/camera.txt"; exit 1; }

status=0
"$bin/tavrinode" --port "$pty" 'rel pan 10' >"$work/host.txt" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "tavrinode exited with $status"

# Inquiries from a desk program: version, then where the pan came to rest.
# (Replies are hex-dumped one byte per word.)
exec 3<>"$pty"
printf '\x81\x09\x00\x02\xff' >&3
version=$(timeout 10 head -c 10 <&3 | od -An -tx1 | tr -s ' \n' ' ')
expect_equal "version reply" "$version" " 90 50 00 70 03 04 03 01 02 ff "
sleep 0.5  # coasting ends 120 ms after the stop's frame
printf '\x81\x09\x06\x12\xff' >&3
position=$(timeout 10 head -c 11 <&3 | od -An -tx1 | tr -s ' \n' ' ')
exec 3>&-

end_camera "${background[0]}"
background=()

value() { sed -n "s/^$1=//p" "$work/state.txt"; }
# Byte 0x12 is 38 deg/s here: 690 ms of drive, less the latency and up to a
# frame either way, plus 38 * 0.12 / 2 of coast: 25.1 to 26.6 degrees on an
# idle machine; the bounds allow a stop frame read 100 ms late.
pan=$(value pan)
expect_between pan "$pan" 24.5 31
expect_equal moving "$(value moving)" no
# 204.8 units per degree, four nibbles: the reply matches the state.
read -r -a w <<<"$position"
[ "${#w[@]}" -eq 11 ] || fail "position reply: '$position'"
units=$((0x${w[2]:1}${w[3]:1}${w[4]:1}${w[5]:1}))
expect_between "pan units / 204.8" "$(awk -v u="$units" 'BEGIN { print u / 204.8 }')" \
  "$(awk -v p="$pan" 'BEGIN { print p - 0.01 }')" "$(awk -v p="$pan" 'BEGIN { print p + 0.01 }')"
expect_line "$work/camera.txt" "inquiry: version"
expect_line "$work/camera.txt" "pan-tilt position: pan $units, tilt 0"

# The built-in camera: the reached amount after a relative move is where the
# camera comes to rest, coast included, not where it was when the stop left.
"$bin/tavrinode" --profile stepped 'rel pan 10' 'wait 500' >"$work/builtin.txt" 2>&1 ||
  fail "tavrinode with the built-in stepped camera failed"
reached=$(sed -n 's/.*pan: requested 10.000 degrees, reached \([0-9.]*\) degrees.*/\1/p' "$work/builtin.txt")
rest=$(sed -n 's/^virtual camera 1: pan \([0-9.]*\),.*/\1/p' "$work/builtin.txt")
expect_between "reached - rest" "$(awk -v a="${reached:-0}" -v b="${rest:-99}" 'BEGIN { print a - b }')" -0.002 0.002

# --sim-clock: sleeps take no real time (a minute's wait in seconds at most)
# and a session lands the same every time; its start sets the phase against
# the camera's frames, which moves where a move lands.
sim() {
  timeout 20 "$bin/tavrinode" --profile stepped --sim-clock "$1" 'rel pan 10' 'wait 60000' 2>&1 |
    sed -n 's/^virtual camera 1: pan \([-0-9.]*\),.*/\1/p'
}
first=$(sim 5)
[ -n "$first" ] || fail "tavrinode --sim-clock 5 did not run"
expect_between "pan on the simulated clock" "${first:-0}" 25.0 26.7  # as above, without the machine's lateness
expect_equal "the same session again" "$(sim 5)" "$first"
[ "$(sim 35)" != "$first" ] || fail "--sim-clock 35 landed as 5 does: the start is not the frame phase"
rc=0
"$bin/tavrinode" --port /dev/null --sim-clock 0 'rel pan 1' >"$work/sim-port.txt" 2>&1 || rc=$?
expect_equal "--sim-clock with --port exit status" "$rc" 2
expect_line "$work/sim-port.txt" "--sim-clock are for the built-in camera"
rc=0
"$bin/tavrinode" --sim-clock -3 'rel pan 1' >"$work/sim-bad.txt" 2>&1 || rc=$?
expect_equal "--sim-clock -3 exit status" "$rc" 2
expect_line "$work/sim-bad.txt" "--sim-clock: '-3' is not a time in milliseconds"

# Profile errors: a clear message and a nonzero status.
rc=0
"$bin/virtual_camera" --pty --profile no-such-camera >"$work/unknown.txt" 2>&1 || rc=$?
expect_equal "unknown profile exit status" "$rc" 2
expect_line "$work/unknown.txt" "no-such-camera.ini: cannot read the profile"
rc=0
"$bin/virtual_camera" --pty --profile geometric --pan-dps 20 >"$work/scale.txt" 2>&1 || rc=$?
expect_equal "scale of a table exit status" "$rc" 2
expect_line "$work/scale.txt" "--pan-dps: profile 'geometric' has a table there"
printf '[pan]\nfull_speed = 10\nsign = 2\n' >"$work/bad.ini"
rc=0
"$bin/tavrinode" --profile "$work/bad.ini" 'rel pan 1' >"$work/bad.txt" 2>&1 || rc=$?
expect_equal "bad profile exit status" "$rc" 2
expect_line "$work/bad.txt" "bad.ini:3: sign: not 1 or -1"
finish
