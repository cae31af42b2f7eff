#!/usr/bin/env bash
# Lines that misbehave: a pseudo-terminal nobody reads (writes time out, the
# program stays responsive and ends on Ctrl-C at once, status 130) and a line whose other
# side goes away (said once, later frames fail quietly, exit status 1), and
# comes back with --reconnect.
source "$2/e2e_lib.sh"

# Stalled: every move and stop writes a frame; the kernel's buffer fills.
for _ in $(seq 20000); do printf 'move 10\nstop\n'; done >"$work/stall.cmd"
"$bin/tavrinode" --pty --pty-wait 0 --script "$work/stall.cmd" >"$work/stall.txt" 2>&1 &
pid=$!
background+=("$pid")
wait_for "$work/stall.txt" "write failed: pseudo-terminal"
before=$(wc -l <"$work/stall.txt")
sleep 0.5
[ "$(wc -l <"$work/stall.txt")" -gt "$before" ] || fail "no progress while the line was stalled"
start=$(date +%s.%N)
kill -INT "$pid"
status=0
wait "$pid" || status=$?
background=()
expect_between "seconds from Ctrl-C to exit" "$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')" 0 1
expect_equal "stalled line exit status" "$status" 130
expect_line "$work/stall.txt" "bytes in time (nothing reads it?)"
expect_line "$work/stall.txt" "teardown"

# The camera's side: its line takes nothing (output stopped with tcflow on a
# pseudo-terminal made here). Replies are dropped and counted, messages still
# come in, and SIGTERM ends the camera at once.
mkfifo "$work/to-camera"
perl -MPOSIX -e '
  sysopen(my $m, "/dev/ptmx", O_RDWR | O_NOCTTY) or die "ptmx: $!";
  my $zero = pack("i", 0); ioctl($m, 0x40045431, $zero) or die "unlock: $!";  # TIOCSPTLCK
  my $n = pack("i", 0); ioctl($m, 0x80045430, $n) or die "number: $!";  # TIOCGPTN
  my $path = "/dev/pts/" . unpack("i", $n);
  sysopen(my $s, $path, O_RDWR | O_NOCTTY) or die "$path: $!";
  tcflow(fileno($s), TCOOFF) or die "tcflow: $!";
  $| = 1; print "pty $path\n";
  while (my $hex = <STDIN>) { $hex =~ s/\s//g; syswrite($m, pack("H*", $hex)); }
  sleep 30;' <"$work/to-camera" >"$work/stopped-pty.txt" 2>&1 &
background+=($!)
exec 4>"$work/to-camera"
stopped=$(announced "$work/stopped-pty.txt" pty)
"$bin/virtual_camera" --port "$stopped" --replies >"$work/mute.txt" 2>&1 &
cam=$!
background+=("$cam")
wait_for "$work/mute.txt" "port $stopped" || true  # (a stuck camera ignores SIGTERM: go on)
for _ in $(seq 10); do echo 81090612FF >&4; done
wait_for "$work/mute.txt" "replies dropped:" || true
echo 8101060100000303FF >&4
wait_for "$work/mute.txt" "pan-tilt stop" || true
kill -TERM "$cam"
sleep 1
kill -KILL "$cam" 2>/dev/null && fail "the camera did not end within 1 s of SIGTERM while its line took nothing"
rc=0
wait "$cam" || rc=$?
expect_equal "status of the camera with a stopped line, ended by SIGTERM" "$rc" 143
exec 4>&-
expect_line "$work/mute.txt" "reply bytes dropped: "

# Output stopped in the middle of a reply: the rest of it goes first when the
# line takes bytes again, so the other side sees whole replies only.
mkfifo "$work/go"
perl -MPOSIX -e '
  sysopen(my $m, "/dev/ptmx", O_RDWR | O_NOCTTY) or die "ptmx: $!";
  my $zero = pack("i", 0); ioctl($m, 0x40045431, $zero) or die "unlock: $!";  # TIOCSPTLCK
  my $n = pack("i", 0); ioctl($m, 0x80045430, $n) or die "number: $!";  # TIOCGPTN
  my $path = "/dev/pts/" . unpack("i", $n);
  sysopen(my $s, $path, O_RDWR | O_NOCTTY) or die "$path: $!";
  $| = 1; print "pty $path\n";
  <STDIN>;
  my ($got, $rin) = ("", "");
  vec($rin, fileno($m), 1) = 1;
  my $rest = sub { while (select(my $r = $rin, undef, undef, 0.5)) { sysread($m, my $b, 256) or last; $got .= $b } };
  for my $try (1 .. 10) {
    $got = "";
    syswrite($m, pack("H*", "81090612FF"));
    sysread($m, $got, 64) or die "read: $!";
    tcflow(fileno($s), TCOOFF) or die "tcflow: $!";
    last if index($got, "\xff") < 0;
    tcflow(fileno($s), TCOON);  # the reply came whole before the stop: again
    $rest->();
  }
  print "stopped after ", length($got), " bytes\n";
  select(undef, undef, undef, 0.6);
  tcflow(fileno($s), TCOON);
  syswrite($m, pack("H*", "81090612FF"));
  $rest->();
  print "line ", unpack("H*", $got), "\n";
  sleep 30;' <"$work/go" >"$work/cut-pty.txt" 2>&1 &
background+=($!)
exec 5>"$work/go"
cutpty=$(announced "$work/cut-pty.txt" pty)
"$bin/virtual_camera" --port "$cutpty" >"$work/cut.txt" 2>&1 &
cam=$!
background+=("$cam")
wait_for "$work/cut.txt" "port $cutpty" || true
echo go >&5
wait_for "$work/cut-pty.txt" "line " || true
end_camera "$cam"
exec 5>&-
grep -qE '^stopped after ([1-9]|10) bytes$' "$work/cut-pty.txt" || fail "the line was not stopped inside a reply"
grep -qE '^line (9050(0[0-9a-f]){8}ff){2}$' "$work/cut-pty.txt" || fail "the line did not get two whole replies"
expect_line "$work/cut.txt" "the line stopped inside a reply"
expect_no_line "$work/cut.txt" "reply bytes dropped"
expect_no_line "$work/cut.txt" "reply cut"

# --pty waits for a program to open the other side, and says when none did.
rc=0
"$bin/tavrinode" --pty --pty-wait 0.5 'rel pan 1' >"$work/nobody.txt" 2>&1 || rc=$?
expect_equal "exit status when nobody opened the pseudo-terminal" "$rc" 1
expect_line "$work/nobody.txt" "within 0.5 s (--pty-wait 0 does not wait)"
expect_no_line "$work/nobody.txt" "->"

# Lost: the camera program holding the pseudo-terminal ends mid-session.
"$bin/virtual_camera" --pty >"$work/camera.txt" 2>&1 &
cam=$!
background+=("$cam")
pty=$(announced "$work/camera.txt" pty)
mkfifo "$work/commands"
"$bin/tavrinode" --port "$pty" <"$work/commands" >"$work/lost.txt" 2>&1 &
pid=$!
background+=("$pid")
exec 3>"$work/commands"
printf 'move 10\nstop\n' >&3
wait_for "$work/lost.txt" "pan-tilt stop"
kill -TERM "$cam"
wait "$cam" || true
printf 'move 10\nstop\nmove -10\nstatus\n' >&3
exec 3>&-
status=0
wait "$pid" || status=$?
background=()
expect_equal "lost line exit status" "$status" 1
expect_count "$work/lost.txt" "write failed: line lost: $pty: Input/output error" 1
expect_count "$work/lost.txt" "[not sent: line lost]" 3
expect_line "$work/lost.txt" "camera 1: frames go to $pty (lost: Input/output error)"

# --reconnect: the device (a link, as udev makes for an adapter) comes back
# on another camera program; the session goes on there.
start_camera() {
  "$bin/virtual_camera" --pty >"$work/$1.txt" 2>&1 &
  background+=($!)
  ln -sfn "$(announced "$work/$1.txt" pty)" "$work/adapter"
}
start_camera first
{ printf 'move 10\nstop\n'; sleep 0.5; printf 'move 10\nstop\n'; sleep 4; printf 'move -10\nstop\nstatus\n'; } |
  "$bin/tavrinode" --port "$work/adapter" --reconnect >"$work/back.txt" 2>&1 &
pid=$!
background+=("$pid")
sleep 0.25
kill -TERM "${background[0]}"
wait "${background[0]}" || true
wait_for "$work/back.txt" "line lost: $work/adapter"
start_camera second
# Reopened beside the writes (none come for seconds), and locked again.
sleep 1.5
rc=0
"$bin/tavrinode" --port "$work/adapter" status >"$work/probe.txt" 2>&1 || rc=$?
expect_equal "exit status of a program on the line reopened" "$rc" 1
expect_line "$work/probe.txt" "the line is in use by another program"
status=0
wait "$pid" || status=$?
expect_equal "reconnected line exit status" "$status" 1
expect_count "$work/back.txt" "[line back: $work/adapter reopened]" 1
expect_line "$work/back.txt" "camera 1: frames go to $work/adapter"
expect_line "$work/second.txt" "pan-tilt drive: pan left at 0x02"
finish
