#!/usr/bin/env bash
# The console fed through standard input: bad commands and bad arguments get
# a one-line error each and the console goes on; "quit" ends the session
# (later lines are not run) with the driver torn down, and the exit status
# tells that commands were rejected. On a terminal, completion covers the
# arguments and the history outlives the session ($HOME/.tavrinode_history).
source "$2/e2e_lib.sh"

printf '%s\n' \
  'help' \
  'frobnicate 1 2' \
  'rel pan' \
  'rel pan ten' \
  'rel spin 5' \
  'speed fast' \
  'camera 7' \
  'menu sideways' \
  'preset set' \
  'preset jump 3' \
  'move' \
  'move 1 2 3 4 5 6' \
  'move 200' \
  'rel iris 2' \
  'speed 0' \
  'wait 99999999999999' \
  'rel tilt 5 tilt 1' \
  'preset set 7' \
  'preset set 6' \
  'wait 0' \
  'help move' \
  '' \
  '# a comment' \
  'preset range' \
  'speed 50' \
  'speed' \
  'menu up' \
  'relay relay9:on' \
  'bars' \
  'fieldangle' \
  'rel pan 2' \
  'status' \
  'quit' \
  'rel pan 10' |
  HOME=$work "$bin/tavrinode" >"$work/out.txt" 2>"$work/err.txt" || rc=$?
expect_equal "exit status after rejected commands" "${rc:-0}" 1

out=$work/out.txt
expect_line "$out" "error: unknown command 'frobnicate' (type help)"
expect_line "$out" "error: rel: give axis and amount pairs"
expect_line "$out" "error: rel: pan: 'ten' is not a number"
expect_line "$out" "error: rel: unknown axis 'spin'"
expect_line "$out" "error: speed: 'fast' is not a number"
expect_line "$out" "error: camera: no camera 7 (cameras 1..1)"
expect_line "$out" "error: menu: menu (close, open, up, down, left, right, select, back or a number): 'sideways' is not a whole number"
expect_line "$out" "error: preset: missing argument"
expect_line "$out" "error: preset: 'jump': use set, goto or range"
expect_line "$out" "error: move: too many arguments ('6')"
expect_line "$out" "error: move: pan: 200 is outside -100..100 (host speed, 0 = stop)"
expect_line "$out" "error: rel: iris: 2 is less than one brightness step (624 iris units)"
expect_line "$out" "error: speed: 0 is outside 1..100 percent"
expect_line "$out" "error: wait: 99999999999999 is outside 0..600000"
expect_line "$out" "error: rel: tilt is given twice"
expect_line "$out" "error: preset: 7 is outside 1..6"
expect_line "$out" "memory set 5 (preset 6)"
expect_line "$out" "larger is driven (the driver's rule)"
# Help fits 80 columns: the console's, and every program's --help.
{
  sed -n '/^> help$/,/^> frobnicate/p' "$out"
  for program in tavrinode virtual_camera visca_calibrate visca_decode; do "$bin/$program" --help; done
} >"$work/help.txt"
expect_equal "help lines wider than 80 columns" "$(awk 'length($0) > 80' "$work/help.txt")" ""
expect_line "$work/help.txt" "  quit                      tear the driver down"
expect_count "$work/help.txt" "usage: " 4
expect_count "$out" "error:" 17
# Every error is one line, and the good commands after them all ran.
expect_line "$out" "  presets 1..6"
expect_line "$out" "  speed 50.0"
expect_line "$out" "  drivermsg: OSD-UP command not supported"
expect_line "$out" "  bar ranges: pan 48.0, tilt 78.0"
expect_line "$out" "  field angle 45.0 degrees"
# MoveSpeed 50 makes 2 degrees of pan 276 ms.
expect_line "$out" "pan: requested 2.000 degrees, reached"
expect_line "$out" "drive time 276 ms intended"
expect_line "$out" "virtual camera 1: pan "
# quit stops the session: the last line never ran.
expect_no_line "$out" "> rel pan 10"
expect_line "$out" "teardown"
expect_line "$out" "poll requested (0)"
# The driver's syslog lines reach standard error.
expect_line "$work/err.txt" "OSD-UP! Not supported OSD command!"
expect_line "$work/err.txt" "Command not recognized!"
# No history from standard input that is not a terminal.
[ ! -e "$work/.tavrinode_history" ] || fail "a piped session wrote a history"

# A piped line longer than 4096 characters is refused and skipped to its end,
# the next line runs; a last line that never ends is refused too.
rc=0
{ printf 'speed 40%4088s\nspeed 45%4089s\nspeed\n' '' ''; head -c 4000000 /dev/zero | tr '\0' x; } |
  HOME=$work "$bin/tavrinode" >"$work/long.txt" 2>&1 || rc=$?
expect_equal "exit status after a long line" "$rc" 1
expect_line "$work/long.txt" "  speed 40.0"
expect_line "$work/long.txt" "error: line 2 of standard input is longer than 4096 characters; skipped"
expect_line "$work/long.txt" "error: line 4 of standard input is longer than 4096 characters; skipped"
expect_count "$work/long.txt" "error:" 2

export HOME=$work
console first 'preset g\t3\r' 'menu u\t\r' 'rel t\t1 p\t1\r' 'ircut d\t\r' 'ircut day\r' '\004'
expect_equal "first console exit status" "$rc" 0
expect_line "$work/first.txt" "memory recall 2 (preset 3)"
expect_equal "history" "$(tail -n 2 "$work/.tavrinode_history")" $'rel tilt 1 pan 1\nircut day'
# The next session recalls it; without a writable home the session still runs.
console second '\033[A\033[A\r' '\004'
expect_line "$work/second.txt" "tilt: requested 1.000 degrees"
HOME=$work/none console third 'speed\r' 'quit\r'
expect_equal "exit status without a history" "$rc" 0
expect_line "$work/third.txt" "history not saved to $work/none/.tavrinode_history"
# A history that is a relative link is followed from the link's folder, not
# from the folder the host runs in (whose file of that name stays as it was).
mkdir -p "$work/linked" "$work/elsewhere"
ln -s hist "$work/linked/.tavrinode_history"
echo 'speed 30' >"$work/linked/hist"
echo untouched >"$work/elsewhere/hist"
pushd "$work/elsewhere" >/dev/null
HOME=$work/linked console fourth 'speed 40\r' 'quit\r'
popd >/dev/null
expect_equal "the file beside the host" "$(cat "$work/elsewhere/hist")" untouched
expect_equal "the linked history" "$(cat "$work/linked/hist" 2>&1)" $'speed 30\nspeed 40\nquit'
finish
