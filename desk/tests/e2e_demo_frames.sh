#!/usr/bin/env bash
# The demo script against the built-in camera sends exactly the frames of
# demo_frames.txt, in order (times left out: they differ between runs).
# It runs with the packaged example configuration, whose values are the
# defaults: so it also proves that the example loads and says what the
# driver's descriptor says. Words after the two folders run the program
# (qemu-arm on a cross build).
source "$2/e2e_lib.sh"
run=("${@:3}" "$bin/tavrinode")

"${run[@]}" --config "$here/../../packaging/cameras.ini" --script "$here/../demo/demo.cmd" \
  >"$work/demo.txt" 2>"$work/stderr.txt" ||
  fail "the demo script ended with status $?"
sed -n 's/^ *[0-9.]* -> \([0-9A-F ]*[0-9A-F]\)  .*/\1/p' "$work/demo.txt" >"$work/frames.txt"
expect_equal "frames of the demo script" "$(cat "$work/frames.txt")" "$(cat "$here/demo_frames.txt")"

# --version names the version the linked driver reports.
reported=$(sed -n 's/^tavrinode: driver [^ ]* \([^,]*\),.*/\1/p' "$work/demo.txt")
expect_equal "--version" "$("${run[@]}" --version)" "tavrinode ${reported:-(none reported)}"
finish
