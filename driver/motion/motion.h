// Motion operations: continuous (joystick) moves and stop, and timed open-loop
// relative moves. Each takes the validated slot of the current camera.
#ifndef TAVRINODE_MOTION_H
#define TAVRINODE_MOTION_H

#include "ptz_host.h"

// Always 1.
int move_continuous(int slot, const move_request &request);
// Always 1.
int stop_motion(int slot);
// 1, or 0 when suspended, when the iris steps were cut short, or when an axis
// was refused.
int move_relative(int slot, const move_request &request);

#endif
