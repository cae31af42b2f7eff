#!/usr/bin/env bash
# The frame decoder program on hex text (with times, split messages, noise),
# on a raw binary capture (named as such or recognised), on the common sniffer
# forms, and on the stand-in host's own trace; lines without bytes are counted.
source "$2/e2e_lib.sh"
decode=$bin/visca_decode

expect_equal "one frame from the arguments" "$("$decode" --hex '81 01 06 01 12 00 02 03 FF')" \
"  81 01 06 01 12 00 02 03 FF  pan-tilt drive: pan right at 0x12, tilt stop"

# A sniffer log: times, a message split over two lines, line noise, a reply.
cat >"$work/sniffed.log" <<'LOG'
[0.000] 81 01 06 01 05 00 02 03 FF
[0.069] 81 01 06 01 00 00
[0.070] 03 03 FF 00 81 01 04 3F 02 05 FF
[0.071] 90 41 FF
[0.100] 81 01 04 99 02 FF
[0.200] 81 01 04
LOG
expect_equal "sniffer log" "$("$decode" "$work/sniffed.log")" \
"   0.000000  81 01 06 01 05 00 02 03 FF  pan-tilt drive: pan right at 0x05, tilt stop
   0.070000  81 01 06 01 00 00 03 03 FF  pan-tilt stop
   0.070000  00  stray bytes outside a message
   0.070000  81 01 04 3F 02 05 FF  memory recall 5 (preset 6)
   0.071000  90 41 FF  acknowledge, socket 1
   0.100000  81 01 04 99 02 FF  unknown: 81 01 04 99 02 FF
  81 01 04  unterminated message at the end"

expect_equal "inquiries and their replies" \
  "$("$decode" --hex '81 09 04 48 FF 90 50 02 07 00 0F FF' '81 09 04 47 FF 90 50 00 03 0E 08 FF')" \
"  81 09 04 48 FF  inquiry: focus position
  90 50 02 07 00 0F FF  focus position 9999 (0x270F)
  81 09 04 47 FF  inquiry: zoom position
  90 50 00 03 0E 08 FF  zoom position 1000 (0x03E8)"

printf '\x81\x01\x06\x00\xb3\xff\x81\x01\x06\x00\xa2\xff\x81\x01\x04\x15\x03\xff' >"$work/capture.bin"
expect_equal "binary capture" "$("$decode" --binary "$work/capture.bin")" \
"  81 01 06 00 B3 FF  relay 2 off
  81 01 06 00 A2 FF  relay 1 on
  81 01 04 15 03 FF  menu close"

# The same capture without --binary is recognised as one.
rc=0
"$decode" "$work/capture.bin" >"$work/guessed.txt" 2>&1 || rc=$?
expect_equal "recognised capture exit status" "$rc" 0
expect_line "$work/guessed.txt" "capture.bin is not text; decoding it as a raw capture"
expect_count "$work/guessed.txt" "  81 01 04 15 03 FF  menu close" 1

# Sniffer forms: labels, direction marks, dates, dashes; a line of prose.
printf '%s\n' 'TX: 81 01 04 15 02 FF' '> 81 01 04 15 03 FF' '2024-05-01 12:00:02.000 81 01 06 00 B3 FF' \
  '81-01-04-15-02-FF' 'RX: [0.5] 90 41 FF' '# note' 'port opened' 'no data here' >"$work/forms.log"
rc=0
"$decode" "$work/forms.log" >"$work/forms.txt" 2>"$work/forms.err" || rc=$?
expect_equal "sniffer forms exit status" "$rc" 1
expect_equal "sniffer forms" "$(cat "$work/forms.txt")" \
"  81 01 04 15 02 FF  menu open
  81 01 04 15 03 FF  menu close
43202.000000  81 01 06 00 B3 FF  relay 2 off
  81 01 04 15 02 FF  menu open
   0.500000  90 41 FF  acknowledge, socket 1"
expect_line "$work/forms.err" "2 line(s) without VISCA bytes, the first: $work/forms.log:7: 'port opened'"

# Bad hex: reported with its line, the rest still decoded, exit status 1.
printf '81 01 04 15 02 FF\n81 0 04\n81 01 04 15 03 FF\n' >"$work/bad.log"
rc=0
"$decode" "$work/bad.log" >"$work/bad.txt" 2>&1 || rc=$?
expect_equal "bad hex exit status" "$rc" 1
expect_line "$work/bad.txt" "bad.log:2: odd number of hex digits in '0'"
expect_count "$work/bad.txt" "  menu " 2

# The host's trace decodes to the same frames the host printed; its other
# lines are counted as lines without bytes.
"$bin/tavrinode" 'rel pan 1' 'relay relay2:on' 'ircut day' 'move 0 -30' 'stop' >"$work/host.txt" 2>&1
host_frames=$(sed -nE 's/^ *[0-9]+\.[0-9]{6} -> (([0-9A-F]{2} )*FF)  (.*)$/\1  \3/p' "$work/host.txt")
decoded=$({ "$decode" "$work/host.txt" 2>"$work/host.err" || true; } | sed -E 's/^ *[0-9]+\.[0-9]{6}  //')
expect_line "$work/host.err" "without VISCA bytes, the first: $work/host.txt:1: 'tavrinode: driver"
expect_equal "host trace decoded again" "$decoded" "$host_frames"
[ "$(printf '%s\n' "$host_frames" | wc -l)" -ge 8 ] || fail "too few frames in the host trace"
finish
