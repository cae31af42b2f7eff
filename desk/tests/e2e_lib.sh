# Helpers for the end-to-end tests. Usage: source it with the build folder
# and this folder as $1 and $2.
set -euo pipefail
bin=$1
here=$2
work=$(mktemp -d)
failures=0
background=()

cleanup() {
  for pid in "${background[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# expect_line FILE TEXT: FILE has a line containing TEXT.
expect_line() {
  grep -qF -- "$2" "$1" || fail "$(basename "$1") has no line with: $2"
}

# expect_no_line FILE TEXT
expect_no_line() {
  if grep -qF -- "$2" "$1"; then fail "$(basename "$1") has a line with: $2"; fi
}

# expect_count FILE TEXT N: exactly N lines contain TEXT.
expect_count() {
  local n
  n=$(grep -cF -- "$2" "$1" || true)
  [ "$n" -eq "$3" ] || fail "$(basename "$1"): $n lines with '$2', expected $3"
}

# expect_between NAME VALUE LOW HIGH (numbers)
expect_between() {
  awk -v v="$2" -v lo="$3" -v hi="$4" 'BEGIN { exit !(v >= lo && v <= hi) }' ||
    fail "$1 = $2, expected $3 .. $4"
}

# expect_equal NAME ACTUAL EXPECTED
expect_equal() {
  if [ "$2" != "$3" ]; then
    fail "$1 differs"
    diff <(printf '%s\n' "$3") <(printf '%s\n' "$2") | sed 's/^/    /' || true
  fi
}

# end_camera PID: ends a virtual camera with SIGTERM; its status must say so
# (128 + 15), as every desk program's does.
end_camera() {
  local rc=0
  kill -TERM "$1"
  wait "$1" || rc=$?
  [ "$rc" -eq 143 ] || fail "the camera ended by SIGTERM exited with $rc, expected 143"
}

# wait_for FILE TEXT: until FILE has a line containing TEXT (at most 20 s).
wait_for() {
  for _ in $(seq 400); do
    grep -qsF -- "$2" "$1" && return 0
    sleep 0.05
  done
  fail "no line with '$2' appeared in $(basename "$1")"
  return 1
}

# announced FILE WORD: waits for a line "WORD VALUE" in FILE (a program saying
# where it listens: "pty /dev/pts/N", "listen udp:...") and prints VALUE.
announced() {
  wait_for "$1" "$2 " >&2 || return 1
  awk -v w="$2" '$1 == w { print $2; exit }' "$1"
}

# console NAME KEYS...: tavrinode on a terminal (under script). Each KEYS is
# typed once the next prompt shows, or, when it starts with ~, 0.3 s after
# the one before. Output in $work/NAME.txt, exit status in $rc. Give it a
# HOME of the test's own: the console keeps its history there.
console() {
  local name=$1 keys prompts=0
  shift
  rm -f "$work/keys" && mkfifo "$work/keys"
  script -qfec "$bin/tavrinode" /dev/null <"$work/keys" >"$work/$name.txt" 2>&1 &
  background+=($!)
  exec 3>"$work/keys"
  for keys in "$@"; do
    if [ "${keys:0:1}" = "~" ]; then sleep 0.3; keys=${keys:1}; else prompts=$((prompts + 1)); fi
    for _ in $(seq 400); do
      [ "$(grep -o 'tavrinode\[[0-9]*\]> ' "$work/$name.txt" | wc -l)" -ge "$prompts" ] && break || sleep 0.05
    done
    printf "$keys" >&3
  done
  rc=0
  wait "${background[-1]}" || rc=$?
  exec 3>&-
  background=()
}

finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed; outputs were:"
    for f in "$work"/*.txt; do echo "--- $(basename "$f")"; cat "$f"; done
    exit 1
  fi
  echo "all checks passed"
}

# browse LOG OPTION... URL: headless Chromium ($CHROMIUM, else chromium) on
# URL with OPTIONs (--dump-dom, --screenshot=...); its log, console messages
# included, is added to LOG.
browse() {
  local log=$1
  shift
  timeout 60 "${CHROMIUM:-chromium}" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$(mktemp -d -p "$work")" --enable-logging=stderr --log-level=0 "$@" 2>>"$log"
}
