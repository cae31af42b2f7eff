# The driver under the stand-in host, against the built-in virtual camera.
# Lines with "->" are the frames on the line, with their meaning; the others
# are what the driver asked of the host. After each relative move: requested
# and reached amount, the drive time the driver slept and the interval
# between its drive and stop frames.
#
# Relative pan of 10 degrees to the right, and back.
rel pan 10
rel pan -10
# Tilt up 5 degrees, zoom in by 2000 steps.
rel tilt 5
rel zoom 2000
# Store preset 1 here, pan away, recall it and give the camera time to return.
preset set 1
rel pan 20
preset goto 1
wait 1500
# Automatic focus on.
autofocus on
# Relay 1 pulse (Relay1OnTime: 1000 ms by default).
relay relay1:on
# The camera's on-screen menu, opened and closed.
menu open
menu close
# A continuous pan at speed 50 for half a second, then stop.
move 50
wait 500
stop
status
