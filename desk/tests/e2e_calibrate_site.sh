#!/usr/bin/env bash
# visca_calibrate --config FILE --all: four virtual camera programs on four
# pseudo-terminals and two cameras on a line nobody answers, in one run.
# Every camera with its own port gets its values in its own section, nothing
# else in the file changes, a failure stops nobody else, and the lines run in
# parallel: the run takes less than twice one camera's. Each stop signal
# reaches the cameras and writes nothing. A file the values cannot go to is
# refused before any camera moves; a SIGCHLD ignored by the caller loses no
# result; the table fits 80 columns and a failed camera shows its last lines.
# The site's page (--report) has every camera's row, the ones to look at on
# top, and renders in headless Chromium within 1280 pixels.
source "$2/e2e_lib.sh"
export TMPDIR=$work  # the failed cameras' logs are kept there

ptys=()
for n in 1 2 3 4; do
  "$bin/virtual_camera" --pty --profile proportional --quiet >"$work/camera$n.txt" 2>&1 &
  background+=($!)
  ptys+=("$(announced "$work/camera$n.txt" pty)")
done
# A network camera that is gone: its inquiries go unanswered.
"$bin/virtual_camera" --listen udp:127.0.0.1:0 --profile proportional --quiet >"$work/camera-gone.txt" 2>&1 &
gone_pid=$!
gone=$(announced "$work/camera-gone.txt" listen)
kill -TERM "$gone_pid"
wait "$gone_pid" || true

cat >"$work/site.ini" <<EOF
; site file
[host]
cameras = 8
[camera1]
port = ${ptys[0]}
MoveSpeed = 100   ; full speed
[camera2]
port = ${ptys[1]}
[camera3]
configured = false
port = /dev/belongs-to-another-driver
[camera4]
PanMoveTimePerDegree = 1000
port = ${ptys[2]}
[camera5]
ZoomTime = 1
[camera6]
port = ${ptys[3]}
[camera7]
port = $gone
[camera8]
port = $gone
EOF
cp "$work/site.ini" "$work/before.ini"
options=(--profile proportional --quick --axes pan)

# Refused before anything runs.
for bad in "--all" "--all --config $work/site.ini --port ${ptys[0]}" "--all --config $work/site.ini --camera 2"; do
  status=0
  # shellcheck disable=SC2086
  timeout 30 "$bin/visca_calibrate" $bad "${options[@]}" >"$work/refused.txt" 2>&1 || status=$?
  [ "$status" -eq 2 ] || fail "'$bad' ended with $status"
  expect_no_line "$work/refused.txt" "calibrating"
done
# A file with no camera to calibrate is a bad option value too (the third: a
# long comment whose tail the INI library would read as a port).
for file in '[camera1]\nMoveSpeed = 50\n|no camera has its own port' '[camera1]\nport =\n|noport.ini:2: [camera1] port = needs a line' \
            '[camera1]\n;%0199d port = /dev/null\n|noport.ini:2: line longer than 199 characters'; do
  printf "${file%|*}" >"$work/noport.ini"
  status=0
  timeout 30 "$bin/visca_calibrate" --config "$work/noport.ini" --all "${options[@]}" >"$work/noport.txt" 2>&1 ||
    status=$?
  [ "$status" -eq 2 ] || fail "'${file%|*}' ended with $status"
  expect_line "$work/noport.txt" "${file#*|}"
done

# Refused before any camera moves: a camera beyond [host] cameras, and a
# file that cannot be written (as an unprivileged user when run as root).
sed 's/^cameras = 8/cameras = 6/' "$work/before.ini" >"$work/beyond.ini"
mkdir -m 755 "$work/ro"
cp "$work/before.ini" "$work/ro/site.ini"
chmod 755 "$work"
chmod 444 "$work/ro/site.ini"
as_user=()
[ "$(id -u)" -ne 0 ] || as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
for case in "beyond.ini|camera 7 has a port but is beyond [host] cameras = 6" "ro/site.ini|cannot write"; do
  user=()
  [ "${case%|*}" != ro/site.ini ] || user=("${as_user[@]}")
  status=0
  timeout 30 "${user[@]}" "$bin/visca_calibrate" --config "$work/${case%|*}" --all "${options[@]}" \
    >"$work/refused.txt" 2>&1 || status=$?
  [ "$status" -eq 2 ] || fail "${case%|*} ended with $status"
  expect_line "$work/refused.txt" "${case#*|}"
  expect_line "$work/refused.txt" "no camera was moved"
  expect_no_line "$work/refused.txt" "calibrating"
done

seconds() { date +%s.%N; }
began=$(seconds)
status=0
timeout 60 "$bin/visca_calibrate" --port "${ptys[0]}" "${options[@]}" >"$work/one.txt" 2>&1 || status=$?
one=$(awk -v a="$began" -v b="$(seconds)" 'BEGIN { print b - a }')
[ "$status" -eq 0 ] || fail "one camera's calibration exited with $status"

began=$(seconds)
status=0
timeout 120 "$bin/visca_calibrate" --config "$work/site.ini" --all "${options[@]}" --report "$work/calibration.html" \
  >"$work/site.txt" 2>"$work/site-progress.txt" || status=$?
site=$(awk -v a="$began" -v b="$(seconds)" 'BEGIN { print b - a }')
[ "$status" -eq 1 ] || fail "the site run with a camera gone exited with $status"
echo "one camera ${one} s, the site ${site} s"
expect_between "the site's time over one camera's" "$(awk -v a="$site" -v b="$one" 'BEGIN { print a / b }')" 0 2

# section_value FILE N KEY
section_value() {
  awk -v s="[camera$2]" -v k="$3" '/^\[/ { inside = ($1 == s) } inside && $1 == k { print $3 }' "$1"
}
# row N LINE REST [FILE]: camera N's row of the table in FILE (site.txt),
# its result lines joined, is "N LINE REST".
row() {
  local got
  got=$(awk -v n="$1" '/^camera  *line/ { table = 1; next } /^[^ ]/ { inside = table && $1 == n && /^[0-9]+  / }
                       inside { $1 = $1; printf "%s ", $0 }' "${4:-$work/site.txt}" | tr -s ' ' ' ')
  grep -qE "^$1 +$2 +$3 ?\$" <<<"$got" || fail "the table's row of camera $1 is '$got', not '$1 $2 $3'"
}
declare -A line_of=([1]=${ptys[0]} [2]=${ptys[1]} [4]=${ptys[2]} [6]=${ptys[3]})
for n in 1 2 4 6; do
  expect_between "camera $n PanMoveTimePerDegree" "$(section_value "$work/site.ini" $n PanMoveTimePerDegree)" 640 740
  expect_equal "camera $n PanSpeedCompensation" "$(section_value "$work/site.ini" $n PanSpeedCompensation)" -50
  row $n "${line_of[$n]}" "[0-9.]+ s pan [0-9.]+ % \(worst [0-9.]+ %\) PanMoveTimePerDegree = [0-9]+, PanSpeedCompensation = -50"
done
# The table's camera time counts the landing check, as a single run does.
one_total=$(sed -nE 's/^camera time with the landing check: ([0-9.]+) s$/\1/p' "$work/one.txt")
row_time=$(awk '$1 == 1 && $3 ~ /^[0-9.]+$/ && $4 == "s" { print $3; exit }' "$work/site.txt")
expect_between "camera 1's table time over one camera's with its check" \
  "$(awk -v a="$row_time" -v b="$one_total" 'BEGIN { print (b > 0 ? a / b : 0) }')" 0.8 1.25
# Two cameras on one line take turns: the second runs after the first failed.
for n in 7 8; do row $n "$gone" "- failed: no answer to the inquiry 81 09 00 02 FF on $gone.*"; done
wide=$(awk 'length > 80' "$work/site.txt")
[ -z "$wide" ] || fail "lines wider than 80 columns: $wide"
# One update: the file as it was, with the chosen keys set.
expected=$(grep -v '^PanMoveTimePerDegree' "$work/before.ini")
expect_equal "the rest of the file" \
  "$(grep -v '^PanMoveTimePerDegree\|^PanSpeedCompensation\|^; calibrated' "$work/site.ini")" "$expected"
expect_count "$work/site.ini" "; calibrated pan: predicted" 4
expect_count "$work/site.ini" "PanSpeedCompensation = -50" 4
expect_line "$work/site.txt" "camera 8 on $gone failed; its last lines:"
expect_line "$work/site.txt" "4 of 6 camera(s) calibrated"
expect_no_line "$work/site.txt" "belongs-to-another-driver"
# rows FILE.html: each row's class and camera, in the page's order.
rows() { grep -o "<tr class='[a-z]*' id='row[0-9]*'" "$1" | sed "s/<tr class='\([a-z]*\)' id='row\([0-9]*\)'/\1 \2/" | tr '\n' ' '; }
expect_equal "the calibration page's rows" "$(rows "$work/calibration.html")" \
  "failed 7 failed 8 calibrated 1 calibrated 2 calibrated 4 calibrated 6 "

# The site checked with the values just written: camera 6 swapped for a copy
# 5 % slower is drifted and on top; the calibrated ones are ok; the gone
# line's two cameras failed; nothing is written; one camera's time at most twice.
"$bin/virtual_camera" --pty --profile proportional --wear 5 --quiet >"$work/camera-worn.txt" 2>&1 &
background+=($!)
worn=$(announced "$work/camera-worn.txt" pty)
sed "s|^port = ${ptys[3]}\$|port = $worn|" "$work/site.ini" >"$work/check.ini"
cp "$work/check.ini" "$work/check-before.ini"
began=$(seconds)
status=0
timeout 60 "$bin/visca_calibrate" --port "${ptys[0]}" --config "$work/check.ini" --check "${options[@]}" \
  --report "$work/one.html" >"$work/check-one.txt" 2>&1 || status=$?
one=$(awk -v a="$began" -v b="$(seconds)" 'BEGIN { print b - a }')
expect_equal "one camera's check: exit status" "$status" 0
began=$(seconds)
status=0
timeout 120 "$bin/visca_calibrate" --config "$work/check.ini" --all --check "${options[@]}" --report "$work/site.html" \
  >"$work/check.txt" 2>"$work/check-progress.txt" || status=$?
site=$(awk -v a="$began" -v b="$(seconds)" 'BEGIN { print b - a }')
expect_equal "the site check: exit status" "$status" 1
echo "one camera's check ${one} s, the site's ${site} s"
expect_between "the site check's time over one camera's" "$(awk -v a="$site" -v b="$one" 'BEGIN { print a / b }')" 0 2
verdicts=$(grep -E '^(ok|drifted|failed)' "$work/check.txt" | sed 's/ (no answer.*)//')
expect_equal "the verdicts, drifted on top" "$verdicts" "$(printf '%s\n' "drifted (pan)  camera 6 on $worn" \
  "failed  camera 7 on $gone" "failed  camera 8 on $gone" "ok  camera 1 on ${ptys[0]}" "ok  camera 2 on ${ptys[1]}" \
  "ok  camera 4 on ${ptys[2]}")"
expect_line "$work/check.txt" "3 of 6 camera(s) ok"
expect_equal "the file after the site check" "$(cat "$work/check.ini")" "$(cat "$work/check-before.ini")"
expect_equal "one camera's page" "$(rows "$work/one.html")" "ok 1 "
expect_equal "one camera's pictures" "$(grep -c '^<svg ' "$work/one.html")" 1
expect_equal "the check page's rows" "$(rows "$work/site.html")" "drifted 6 failed 7 failed 8 ok 1 ok 2 ok 4 "
expect_line "$work/check.txt" "page written to $work/site.html"
echo "the check page: $(wc -c <"$work/site.html") bytes"
# In Chromium: no console message, the table and the four cameras' pictures in
# the DOM, and at 1280 x 800 nothing wider than the window (a copy of the page
# measures itself; the page has no script of its own).
browse "$work/page.log" --window-size=1280,800 --dump-dom "file://$work/site.html" >"$work/page.dom" ||
  fail "chromium on the page exited with $?"
expect_no_line "$work/page.log" CONSOLE
expect_line "$work/page.dom" '<table id="cameras">'
expect_count "$work/page.dom" '<tr class="drifted" id="row6">' 1
expect_equal "pictures in the page" "$(grep -o '<svg ' "$work/page.dom" | wc -l)" 4
expect_line "$work/page.dom" 'Where pan and tilt moves landed'
sed 's|</body>|<script>document.body.dataset.width = document.documentElement.scrollWidth</script></body>|' \
  "$work/site.html" >"$work/measured.html"
browse "$work/measured.log" --window-size=1280,800 --dump-dom "file://$work/measured.html" >"$work/measured.dom" || true
width=$(sed -n 's/.*data-width="\([0-9]*\)".*/\1/p' "$work/measured.dom")
echo "the check page is ${width:-?} pixels wide at 1280 x 800"
expect_between "the page's width at 1280 x 800" "${width:-0}" 600 1280
# A page that cannot be written is refused before any camera moves.
for run in "--config $work/check.ini --all" "--port ${ptys[0]} --config $work/check.ini"; do
  status=0
  # shellcheck disable=SC2086
  timeout 30 "$bin/visca_calibrate" $run --check "${options[@]}" --report "$work/nofolder/site.html" \
    >"$work/no-page.txt" 2>&1 || status=$?
  expect_equal "'$run --report nofolder/...': exit status" "$status" 2
  expect_line "$work/no-page.txt" "cannot write $work/nofolder/site.html"
  expect_no_line "$work/no-page.txt" "checking"
done
# Ctrl-C during the site check: the cameras stop, exit 130, the file untouched.
perl -e '$SIG{INT} = "DEFAULT"; exec @ARGV or die "$!"' \
  "$bin/visca_calibrate" --config "$work/check.ini" --all --check "${options[@]}" --report "$work/int.html" \
  >"$work/check-int.txt" 2>"$work/check-int-progress.txt" &
site_pid=$!
wait_for "$work/check-int-progress.txt" "camera 6 on $worn: checking" || true
sleep 1
kill -INT "$site_pid"
status=0
wait "$site_pid" || status=$?
expect_equal "the interrupted site check's exit status" "$status" 130
expect_equal "the file after the interrupted check" "$(cat "$work/check.ini")" "$(cat "$work/check-before.ini")"
[ ! -e "$work/int.html" ] || fail "the interrupted check wrote a page"

# Each stop signal while the second camera of a shared line runs: passed on,
# it stops that camera, and the file stays as it was although the cameras
# before it were calibrated. The stopped camera shows its last lines.
{ sed '/^\[camera7\]/,$d' "$work/before.ini"; printf '[camera8]\nport = %s\n' "${ptys[0]}"; } >"$work/site2.ini"
cp "$work/site2.ini" "$work/before2.ini"
for signal in INT:2 TERM:15 HUP:1 QUIT:3; do
  rm -f "$work/interrupted.txt" "$work/interrupted-progress.txt"
  # (each stop signal as a terminal would deliver it, even if this test's
  # caller ignores some: a background job ignores SIGINT and SIGQUIT)
  perl -e '$SIG{$_} = "DEFAULT" for qw(INT TERM HUP QUIT); exec @ARGV or die "$!"' \
    "$bin/visca_calibrate" --config "$work/site2.ini" --all "${options[@]}" >"$work/interrupted.txt" \
    2>"$work/interrupted-progress.txt" &
  site_pid=$!
  wait_for "$work/interrupted-progress.txt" "camera 8 on ${ptys[0]}: calibrating" || true
  sleep 1
  kill -"${signal%:*}" "$site_pid"
  status=0
  wait "$site_pid" || status=$?
  expect_equal "the site run's exit status after SIG${signal%:*}" "$status" $((128 + ${signal#*:}))
  row 1 "${ptys[0]}" "[0-9.]+ s pan .*" "$work/interrupted.txt"
  row 8 "${ptys[0]}" "- failed: interrupted \(SIG${signal%:*}\)" "$work/interrupted.txt"
  expect_line "$work/interrupted-progress.txt" "interrupted; the configuration file was left as it was"
  expect_equal "the interrupted run's file" "$(cat "$work/site2.ini")" "$(cat "$work/before2.ini")"
  # Its last lines, at most five, the last one its own last, and its log whole.
  log=$(sed -n 's/^  full log: \(.*camera8.log\)$/\1/p' "$work/interrupted.txt")
  [ -f "$log" ] || fail "camera 8's log '$log' was not kept"
  shown=$(sed -n '/^camera 8 on .* failed; its last lines:/,/^  full log: /p' "$work/interrupted.txt" | grep -c '^  | ' || true)
  expect_between "camera 8's lines shown" "$shown" 1 5
  expect_equal "camera 8's last line" "$(grep -B1 '^  full log: .*camera8.log' "$work/interrupted.txt" | head -1)" \
    "  | $(tail -1 "$log")"
  expect_line "$log" "measuring pan byte"
done

# Started by a program that ignores SIGCHLD (inherited through exec): every
# result still counts.
sed '/^\[camera4\]/,$d' "$work/before.ini" >"$work/site3.ini"
status=0
timeout 60 perl -e '$SIG{CHLD} = "IGNORE"; exec @ARGV or die "$!"' "$bin/visca_calibrate" --config "$work/site3.ini" \
  --all "${options[@]}" >"$work/ignored.txt" 2>&1 || status=$?
expect_equal "the exit status with SIGCHLD ignored" "$status" 0
expect_line "$work/ignored.txt" "2 of 2 camera(s) calibrated"
expect_count "$work/site3.ini" "PanSpeedCompensation = -50" 2
finish
