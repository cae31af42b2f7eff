#!/usr/bin/env bash
# The pictures in a real browser. tavrinode writes a verification plot and a
# session timeline; headless Chromium renders each. Checked per picture: the
# screenshot is not blank and shows the legend's colours, the rendered DOM
# holds the titles and labels, no tick label is unrounded, the file parsed, and
# the page wrote nothing to the console. The timeline fits a 1200 x 900
# window and no two of its frame labels overlap. Usage: e2e_pictures.sh BIN
# HERE PNG_CHECK
source "$2/e2e_lib.sh"
png_check=$3
browser=${CHROMIUM:-chromium}
command -v "$browser" >/dev/null || { echo "no $browser (scripts/deps test installs chromium)"; exit 1; }

# (the menu frames and the pan drive after them come at one moment)
printf '%s\n' 'rel tilt -5 zoom 2000' "verify quick $work/verify.svg" 'rel focus -1500' 'menu open' 'menu close' \
  'move 50' 'wait 300' 'stop' >"$work/commands"
"$bin/tavrinode" --timeline "$work/timeline.svg" <"$work/commands" >"$work/host.txt" 2>&1 ||
  fail "tavrinode exited with $?"

# render NAME: NAME.png (screenshot at the picture's size), NAME.dom (the
# rendered DOM) and NAME.log (the browser's log, console messages included).
render() {
  local svg=$work/$1.svg size what
  size=$(sed -n '1s/.* width="\([0-9]*\)[0-9.]*" height="\([0-9]*\)[0-9.]*".*/\1,\2/p' "$svg")
  for what in "--screenshot=$work/$1.png --window-size=${size:-1000,1000}" --dump-dom; do
    # shellcheck disable=SC2086  # $what is two options or one
    browse "$work/$1.log" $what "file://$svg" >"$work/$1.out" || fail "chromium on $1.svg exited with $?"
  done
  mv "$work/$1.out" "$work/$1.dom"
}

# check NAME COLOUR... -- LABEL...: the checks above; a LABEL is the whole
# text of one element.
check() {
  local name=$1 colours=() ink n c
  shift
  while [ "$1" != -- ]; do colours+=("$1"); shift; done
  shift
  render "$name"
  "$png_check" "$work/$name.png" "${colours[@]}" >"$work/$name.pixels.txt" || fail "$name.png unreadable"
  read -r _ n _ ink <"$work/$name.pixels.txt"
  expect_between "$name colours" "${n:-0}" 3 1e9
  expect_between "$name ink" "${ink:-0}" 0.01 0.9
  for c in "${colours[@]}"; do expect_line "$work/$name.pixels.txt" "$c present"; done
  grep -o '>[^<>]*</text>' "$work/$name.dom" | sed 's/^>//; s/<\/text>$//' >"$work/$name.labels.txt" || true
  for label in "$@"; do
    grep -qxF -- "$label" "$work/$name.labels.txt" || fail "$name: no label '$label'"
  done
  # A number alone (ticks) has at most three significant digits.
  awk '{ n = $0; sub(/ (%|s)$/, "", n) }
       n ~ /^-?[0-9.]+$/ { gsub(/[-.]/, "", n); sub(/^0+/, "", n); sub(/0+$/, "", n); if (length(n) > 3) print }' \
    "$work/$name.labels.txt" >"$work/$name.unrounded.txt"
  [ ! -s "$work/$name.unrounded.txt" ] || fail "$name: unrounded labels $(tr '\n' ' ' <"$work/$name.unrounded.txt")"
  expect_no_line "$work/$name.dom" parsererror
  expect_no_line "$work/$name.log" CONSOLE
}

check verify 1f77b4 333333 -- 'Where pan and tilt moves landed' 'requested (degrees)' 'reached (degrees)' \
  'Error of every move against its size' 'move size (degrees for pan and tilt, steps for zoom and focus)' \
  'error (%, log scale)' '0.1 %' '1 %' '10 %' '100 %' pan 'perfect landing' 'goal: median' 'goal: worst move'
# The error axis is logarithmic: its decade ticks stand evenly spaced.
for label in '0.1 %' '1 %' '10 %' '100 %'; do
  sed -n "s/.* y=\"\([0-9.]*\)\"[^>]*>$label<\/text>.*/\1/p" "$work/verify.dom"
done >"$work/decades.txt"
awk 'NR > 1 { d[NR] = $1 - last } { last = $1 } END {
       exit !(NR == 4 && d[2] < -10 && d[3] - d[2] < 0.5 && d[2] - d[3] < 0.5 && d[4] - d[2] < 0.5 && d[2] - d[4] < 0.5) }' \
  "$work/decades.txt" || fail "error ticks not evenly spaced upwards: $(tr '\n' ' ' <"$work/decades.txt")"
check timeline 2471a3 1e8449 c0392b -- 'Session: where each axis was, and every frame the camera received' \
  pan tilt zoom focus degrees steps '0 s' 'session time (s)' position 'drive frame' 'stop frame' 'other frame'
expect_line "$work/timeline.labels.txt" 'focus far, speed 7'
read -r _ w h < <(grep '^size ' "$work/timeline.pixels.txt")
expect_between "timeline width" "${w:-0}" 600 1200
expect_between "timeline height" "${h:-0}" 400 900
# Frame labels stand upright from one baseline: two overlap when their x
# positions are less than a line (1.2 times the font size) apart.
sed -n 's/.*translate(\([0-9.]*\),[0-9.]*) rotate(-90)" font-size="\([0-9.]*\)".*/\1 \2/p' "$work/timeline.svg" |
  sort -n >"$work/label-x.txt"
expect_between "timeline frame labels" "$(wc -l <"$work/label-x.txt")" 12 1e9
awk -v w="${w:-0}" 'NR > 1 && $1 - last < 1.2 * $2 { print "labels at " last " and " $1 " overlap" }
     $1 + $2 > w { print "label at " $1 " runs off the picture" } { last = $1 }' "$work/label-x.txt" >"$work/overlaps.txt"
[ ! -s "$work/overlaps.txt" ] || fail "timeline: $(tr '\n' ';' <"$work/overlaps.txt")"
finish
