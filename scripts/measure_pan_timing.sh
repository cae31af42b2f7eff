#!/usr/bin/env bash
# Measures open-loop relative pans over a pseudo-terminal: tavrinode (under
# the stand-in host) drives the virtual camera program, which timestamps the
# frames as they arrive. For pans of 1, 10 and 90 degrees (each run out and
# back, so every run gives two moves) it prints the drive time the driver
# intended (its sleep), the interval between drive and stop frames at the
# camera (median and worst: furthest from the intended time), and the
# requested against the reached angle (median, lowest and highest).
# Usage: scripts/measure_pan_timing.sh [BUILD_DIR [RUNS [ANGLES...]]]
#   BUILD_DIR holds tavrinode and virtual_camera (default: the folder
#   scripts/demo builds, else build/native),
#   RUNS out-and-back runs per angle (default 5), ANGLES (default 1 10 90).
# TAVRINODE_OPTIONS adds options to tavrinode (for instance --realtime).
set -euo pipefail
root=${PTZ_BUILD_ROOT:-build}
bin=${1:-}
if [ -z "$bin" ]; then
  for candidate in "$root/demo" "$root/native"; do
    [ -x "$candidate/tavrinode" ] && [ -x "$candidate/virtual_camera" ] && { bin=$candidate; break; }
  done
  [ -n "$bin" ] || { echo "no tavrinode and virtual_camera in $root/demo or $root/native: run scripts/demo first, or give the build folder" >&2; exit 2; }
fi
for program in tavrinode virtual_camera; do
  [ -x "$bin/$program" ] || { echo "$bin/$program is missing: build it first (scripts/demo builds both)" >&2; exit 2; }
done
runs=${2:-5}
case "$runs" in '' | *[!0-9]* | 0) echo "RUNS must be a positive whole number, not '$runs'" >&2; exit 2 ;; esac
shift $(($# > 2 ? 2 : $#))
angles=("$@")
[ ${#angles[@]} -gt 0 ] || angles=(1 10 90)
work=$(mktemp -d)
cam_pid=
trap '[ -n "$cam_pid" ] && kill "$cam_pid" 2>/dev/null; rm -rf "$work"' EXIT

printf '| Requested | Intended drive time | Drive to stop at the camera: median | worst | Reached: median | lowest .. highest | Moves |\n'
printf '|---|---|---|---|---|---|---|\n'
for angle in "${angles[@]}"; do
  "$bin/virtual_camera" --pty --positions >"$work/camera.txt" 2>&1 &
  cam_pid=$!
  for _ in $(seq 200); do grep -q '^pty ' "$work/camera.txt" && break; sleep 0.05; done
  pty=$(awk '/^pty /{print $2; exit}' "$work/camera.txt")
  [ -n "$pty" ] || { echo "virtual_camera printed no pseudo-terminal:" >&2; cat "$work/camera.txt" >&2; exit 1; }
  : >"$work/script.cmd"
  for _ in $(seq "$runs"); do printf 'rel pan %s\nrel pan -%s\n' "$angle" "$angle" >>"$work/script.cmd"; done
  "$bin/tavrinode" --port "$pty" --script "$work/script.cmd" ${TAVRINODE_OPTIONS:-} >"$work/host.txt" 2>&1 ||
    { echo "tavrinode failed:" >&2; tail -5 "$work/host.txt" >&2; exit 1; }
  sleep 0.2
  kill -TERM "$cam_pid"
  wait "$cam_pid" || true
  cam_pid=
  intended=$(sed -nE 's/.*drive time ([0-9]+) ms intended.*/\1/p' "$work/host.txt" | sort -u | paste -sd/)
  # Pair each pan drive frame with the next pan-tilt stop; the line after
  # each frame tells where the pan stood.
  awk -v angle="$angle" -v intended="$intended" '
    BEGIN { n = 0 }
    function pan_at(line,   f) { split(line, f, " "); return f[3] }
    /pan-tilt drive: pan/ { t0 = $1; want_start = 1; next }
    /pan-tilt stop/ && t0 != "" { dt[n] = ($1 - t0) * 1000; want_stop = 1; next }
    / at pan / {
      if (want_start) { p0 = pan_at($0); want_start = 0 }
      else if (want_stop) { d = pan_at($0) - p0; reached[n] = d < 0 ? -d : d; n++; want_stop = 0; t0 = "" }
    }
    function median(a, k,   i, j, t, b) {
      for (i = 0; i < k; i++) b[i] = a[i]
      for (i = 0; i < k; i++) for (j = i + 1; j < k; j++) if (b[j] < b[i]) { t = b[i]; b[i] = b[j]; b[j] = t }
      return k % 2 ? b[(k - 1) / 2] : (b[k / 2 - 1] + b[k / 2]) / 2
    }
    END {
      worst_dt = dt[0]; low = reached[0]; high = reached[0]
      for (i = 0; i < n; i++) {
        e = dt[i] - intended; w = worst_dt - intended
        if ((e < 0 ? -e : e) > (w < 0 ? -w : w)) worst_dt = dt[i]
        if (reached[i] < low) low = reached[i]
        if (reached[i] > high) high = reached[i]
      }
      printf "| %s deg | %s ms | %.1f ms | %.1f ms | %.3f deg | %.3f .. %.3f deg | %d |\n",
             angle, intended, median(dt, n), worst_dt, median(reached, n), low, high, n
    }' "$work/camera.txt"
done
