#!/usr/bin/env bash
# tavrinode, linked against the stand-in host glue, writes to a
# pseudo-terminal served by the virtual camera program, through a script.
# Checks the frames the camera decoded, in order, and where it ended up.
source "$2/e2e_lib.sh"

"$bin/virtual_camera" --pty --state "$work/state.txt" >"$work/camera.txt" 2>&1 &
background+=($!)
pty=$(announced "$work/camera.txt" pty)
[ -n "$pty" ] || { echo "the camera printed no pseudo-terminal"; cat "$work/camera.txt"; exit 1; }

# --raw: preset 0 reaches the driver, whose own refusal is checked below.
status=0
"$bin/tavrinode" --raw --port "$pty" --script "$here/e2e_pty_script.cmd" >"$work/host.txt" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "tavrinode exited with $status"
# Let the camera take the last bytes, then stop it: it writes its state.
sleep 0.2
end_camera "${background[0]}"
background=()

# The camera's trace: "   t.tttttt  81 01 ... FF  meaning"
frames=$(sed -nE 's/^ *[0-9]+\.[0-9]{6}  ([0-9A-F]{2} )*FF  //p' "$work/camera.txt")
expected="pan-tilt drive: pan right at 0x12, tilt stop
pan-tilt stop
pan-tilt drive: tilt down at 0x0E, pan stop
pan-tilt stop
zoom tele, speed 7
zoom stop
memory set 1 (preset 2)
pan-tilt drive: pan left at 0x12, tilt stop
pan-tilt stop
memory recall 1 (preset 2)
focus mode auto
relay 3 on
menu open
menu close
zoom tele, speed 7
zoom stop"
expect_equal "frames decoded by the camera" "$frames" "$expected"

value() { sed -n "s/^$1=//p" "$work/state.txt"; }
# Open-loop timing on a shared machine: a frame read late by the camera
# shifts the result by 14.5 degrees or 1900 zoom steps per second, so the
# bounds allow about 35 ms early and 100 ms late. (The speed bytes are checked
# exactly with the frames above; these bounds check the drive times.)
expect_between pan "$(value pan)" 9.5 11.5       # back at the preset, stored after pan 10
expect_between tilt "$(value tilt)" -6.5 -4.5
expect_between zoom "$(value zoom)" 1935 2200
expect_equal focus_mode "$(value focus_mode)" auto
expect_equal relays "$(value relay1) $(value relay2) $(value relay3)" "off off on"
expect_equal menu "$(value menu)" closed
expect_equal presets "$(value presets)" 1
expect_equal moving "$(value moving)" no
expect_equal dropped "$(value dropped)" 0

# The host's side: setup, bookkeeping, the drive times it slept, teardown.
expect_line "$work/host.txt" "frames to $pty"
expect_line "$work/host.txt" "setup = 1"
expect_line "$work/host.txt" "pan: requested 10.000 degrees; drive time 690 ms intended"
expect_line "$work/host.txt" "tilt: requested -5.000 degrees; drive time 340 ms intended"
expect_line "$work/host.txt" "zoom: requested 2000.000 steps; drive time 1050 ms intended"
expect_line "$work/host.txt" "pan: requested -5.000 degrees; drive time 345 ms intended"
expect_line "$work/host.txt" "completed camera 1, delay 5"
expect_count "$work/host.txt" "started camera 1" 7
expect_line "$work/host.txt" "poll requested (0)"
expect_no_line "$work/host.txt" "error:"
expect_line "$work/host.txt" "Refused, preset number outside 1..255"
expect_count "$work/host.txt" "  = 0" 1

# The other way round: tavrinode makes the pseudo-terminal, the camera serves
# it as its port and ends when tavrinode closes it.
"$bin/tavrinode" --pty 'wait 1000' 'rel tilt 2' >"$work/host2.txt" 2>&1 &
host_pid=$!
pty2=$(announced "$work/host2.txt" pty)
"$bin/virtual_camera" --port "$pty2" >"$work/camera2.txt" 2>&1 &
background+=($!)
wait "$host_pid" || fail "tavrinode --pty exited with an error"
for _ in $(seq 100); do
  kill -0 "${background[0]}" 2>/dev/null || break
  sleep 0.05
done
if kill -0 "${background[0]}" 2>/dev/null; then
  fail "the camera kept running after tavrinode closed the line"
else
  wait "${background[0]}" || fail "the camera exited with an error"
  background=()
fi
expect_equal "frames over tavrinode's pseudo-terminal" \
  "$(sed -nE 's/^ *[0-9]+\.[0-9]{6}  ([0-9A-F]{2} )*FF  //p' "$work/camera2.txt")" \
  "pan-tilt drive: tilt up at 0x0C, pan stop
pan-tilt stop"
expect_line "$work/camera2.txt" "the other end closed the line"
expect_line "$work/host2.txt" "tilt: requested 2.000 degrees; drive time 136 ms intended"
expect_no_line "$work/host.txt" "write failed"
finish
