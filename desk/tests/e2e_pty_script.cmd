# Driven by e2e_pty_script.sh over a pseudo-terminal.
rel pan 10
rel tilt -5
rel zoom 2000
preset set 2
rel pan -5
preset goto 2
# the recall takes 5 degrees at full speed, about 345 ms
wait 700
autofocus on
relay relay3:on
menu open
menu close
# A zoom below one step: driven, and stopped at once rather than left running.
rel zoom 0.5
# Preset 0 would put the terminator byte into the frame: refused, nothing sent.
preset goto 0
