#!/usr/bin/env bash
# Where relative pans end on each camera profile with the driver's default
# calibration: tavrinode drives its built-in virtual camera running the
# profile, waits until the camera has come to rest, and reads the pan angle
# from the camera's closing line. Each run is a fresh process starting at pan
# 0; run i first waits i * 40 / RUNS ms, so the drive frame lands at a
# different point of the camera's video frame (40 ms or shorter) each time.
# It prints the median, lowest and highest angle reached.
# Usage: scripts/measure_profile_pans.sh [BUILD_DIR [RUNS [PROFILE...]]]
#   BUILD_DIR holds tavrinode (default build/native), RUNS per angle
#   (default 5), PROFILE names or files (default the four shipped ones).
set -euo pipefail
bin=${1:-build/native}
runs=${2:-5}
shift $(($# > 2 ? 2 : $#))
profiles=("$@")
[ ${#profiles[@]} -gt 0 ] || profiles=(proportional linear geometric stepped)

printf '| Profile | 1 deg: median | lowest .. highest | 10 deg: median | lowest .. highest | 90 deg: median | lowest .. highest |\n'
printf '|---|---|---|---|---|---|---|\n'
for profile in "${profiles[@]}"; do
  row="| $profile"
  for angle in 1 10 90; do
    reached=()
    for i in $(seq 0 $((runs - 1))); do
      out=$("$bin/tavrinode" --profile "$profile" "wait $((i * 40 / runs))" "rel pan $angle" "wait 1000" 2>&1) || {
        echo "tavrinode failed on profile $profile:" >&2
        echo "$out" >&2
        exit 1
      }
      pan=$(printf '%s\n' "$out" | sed -nE 's/^virtual camera: pan (-?[0-9.]+),.*/\1/p')
      [ -n "$pan" ] || { echo "no final camera line for profile $profile" >&2; exit 1; }
      reached+=("$pan")
    done
    row+=$(printf '%s\n' "${reached[@]}" | sort -g | awk '
      { v[NR] = $1 }
      END {
        m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        printf " | %.3f deg | %.3f .. %.3f deg", m, v[1], v[NR]
      }')
  done
  printf '%s |\n' "$row"
done
