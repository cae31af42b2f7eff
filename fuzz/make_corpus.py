#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz target into fuzz/corpus/.

Every seed is a small hand-written scenario in the target's input layout
(see driver_fuzzer.cpp); together they call every entry point. Values are
picked from the target's tables by index, so keep FLOATS, INTS and the
entry codes below in step with driver_fuzzer.cpp.
"""
import math
import os
import struct
import sys

FLOATS = [0.0, -0.0, 1.0, -1.0, 0.5, -0.5, 0.99, -0.99, 0.001, 0.01, 0.02, 0.1, 1.5, 2.5, -2.5,
          5.9, 6.0, -6.0, 10.0, -10.0, 45.0, 50.0, -50.0, 100.0, -100.0, 150.0, 623.9, 624.0,
          -624.0, 1000.0, -1000.0, 19998.0, 32764.0, -32764.0, 32765.0, -32765.0, 32766.0, 1e6, -1e6,
          4294967.0, 2147483520.0, 2147483648.0, -2147483648.0, -2147483904.0, 3e9, -3e9, 1e20, -1e20,
          'max', '-max', 'inf', '-inf', 'nan', '-nan', 'dmin', '-dmin', 'min', 1e-30, 13.0, -13.0, 12.0,
          0.4, 49.5, -49.5]
INTS = [0, 1, -1, 2, 3, 4, 5, 6, 7, 15, 16, 50, 51, 97, 98, 99, 100, 101, 102, 114, 115, 150, 227, 228,
        255, 256, 257, -255, 999, 1000, 1001, 1500, 5000, 10500, 107384, 107385, 150000, 4294967,
        4294968, 1000000, 0x40000000, 2**31 - 1, 2**31 - 2, -2**31, -2**31 + 1, -50, -100, -25, 690, 680,
        60, -1000, 300, 1499]
RELAYS = ["relay1:on", "relay1:off", "relay2:on", "relay2:off", "relay3:on", "relay3:off", None, "",
          "Relay1:on", "relay1:on ", "relay4:on", "relay1:o", "relay1:onx", "relay", " relay2:on",
          "relay3:OFF"]
KEYS = ["MoveSpeed", "PanMoveTimePerDegree", "TiltMoveTimePerDegree", "ZoomTime", "ZoomSpeed",
        "FocusTime", "FocusSpeed", "CurrentFieldAngle", "PanBarRange", "TiltBarRange",
        "MaxDevicePresetnbr", "PanSpeedCompensation", "TiltSpeedCompensation", "GoToPresetDelay",
        "Relay1OnTime", "Relay2OnTime", "FlipPan", "FlipTilt"]
(GET_INFO, SETUP, POLL, TEARDOWN, PARAM_CHANGED, MOVE_CONT, STOP, MOVE_REL, SET_PRESET, GOTO_PRESET,
 PRESET_RANGE, SET_SPEED, GET_SPEED, BAR_RANGES, PAN_FLIPPED, TILT_FLIPPED, ZOOM_COMP, FIELD_ANGLE,
 AUTOFOCUS, AUTOIRIS, BACKLIGHT, IRCUT, AUXILIARY, OSDMENU, H_CAMERAS, H_CAMERA_MAP, H_CONFIG,
 H_FAILING) = range(28)
KEEP = 0xFF  # camindex choice: keep the current one
CAMINDEX = [0, 1, 2, 3, 4, 5, -1, -2, -2**31, 2**31 - 1, 0x40000000, 7]


def f(value):
    """Selector byte of a float from the table (or a raw float)."""
    for i, v in enumerate(FLOATS):
        if v == value and (not isinstance(v, float) or math.copysign(1, v) == math.copysign(1, value)):
            return bytes([i])
    return bytes([200]) + struct.pack('<f', value)


def i(value):
    if value in INTS:
        return bytes([INTS.index(value)])
    return bytes([200]) + struct.pack('<i', value)


def relay(text):
    return bytes([RELAYS.index(text)])


def ci(value):
    return bytes([CAMINDEX.index(value)]) if value is not None else bytes([KEEP])


ABSENT = 32765.0


def header(cameras=1, camera_map=0xFF, overrides=(), failures=()):
    out = bytes([cameras, camera_map, len(overrides)])
    for slot, key, value in overrides:
        out += bytes([slot, KEYS.index(key)]) + i(value)
    out += bytes([len(failures)])
    for slot, key in failures:
        out += bytes([slot, KEYS.index(key)])
    return out


def host(write_fail=None, write_ok=0, cut_sleep=None, cut_keeps_suspended_clear=False,
         suspended=False, clock=None, all_writes_fail=False):
    """The host-behaviour byte and its details."""
    h = 0
    details = b''
    if write_fail is not None or write_ok:
        h |= 0x01
        mask = write_fail or 0
        details += bytes([mask & 0xFF, (mask >> 8) & 0xFF, write_ok])
    if cut_sleep is not None:
        h |= 0x02
        details += bytes([cut_sleep])
        if cut_keeps_suspended_clear:
            h |= 0x20
    if suspended:
        h |= 0x04
    if clock is not None:
        h |= 0x08 | (clock << 4)
    if all_writes_fail:
        h |= 0x40
    return bytes([h]) + details


def call(code, camindex=0, behaviour=None, args=b''):
    return bytes([code]) + ci(camindex) + (behaviour or host()) + args


def move(pan=ABSENT, tilt=ABSENT, zoom=ABSENT, focus=ABSENT, iris=ABSENT, null=False):
    return f(pan) + f(tilt) + f(zoom) + f(focus) + f(iris) + bytes([0x1F if null else 0])


def default_args(code):
    if code in (MOVE_CONT, MOVE_REL):
        return move(pan=10.0, iris=624.0)
    if code in (SET_PRESET, GOTO_PRESET, AUTOFOCUS, AUTOIRIS, BACKLIGHT, IRCUT, OSDMENU):
        return i(1)
    if code in (GET_INFO, SETUP, PRESET_RANGE, BAR_RANGES, FIELD_ANGLE):
        return b'\x00'
    if code == SET_SPEED:
        return f(50.0)
    if code == AUXILIARY:
        return relay('relay1:on')
    return b''


def each_entry(camindex=0, behaviour=None):
    return b''.join(call(c, camindex, behaviour, default_args(c)) for c in range(5, 24))


SEEDS = {
    # one call of every entry point on the default configuration
    'get_info': header() + call(GET_INFO, args=b'\x00') + call(GET_INFO, args=b'\xff'),
    'setup_again': header(2, 0b11) + call(SETUP, args=b'\x01\x03') + call(SETUP, args=b'\x00'),
    'poll': header() + call(POLL),
    'teardown_twice': header() + call(TEARDOWN) + call(TEARDOWN) + call(STOP),
    'param_changed': header() + call(PARAM_CHANGED) + call(H_FAILING, args=b'\x00\x05')
    + call(PARAM_CHANGED),
    'move_cont_pan_then_stop': header() + call(MOVE_CONT, args=move(pan=50.0)) + call(STOP),
    'move_cont_all_axes': header() + call(MOVE_CONT, args=move(20.0, -50.0, 10.0, -10.0, 13.0))
    + call(MOVE_CONT, args=move(0.0, 45.0, 0.5, ABSENT, -13.0)) + call(STOP),
    'move_rel_default_example': header() + call(MOVE_REL, args=move(pan=10.0, zoom=1000.0, focus=0.0)),
    'move_rel_every_axis': header() + call(MOVE_REL, args=move(-10.0, 1.0, -2.5, 0.5, 1000.0)),
    'move_rel_short_moves': header() + call(MOVE_REL, args=move(0.1, 0.02, 0.01))
    + call(MOVE_REL, args=move(0.01)),
    'move_rel_suspended_in_pan': header()
    + call(MOVE_REL, behaviour=host(cut_sleep=1), args=move(pan=10.0, zoom=1000.0)),
    'move_rel_huge_iris': header() + call(MOVE_REL, args=move(iris=-1e20))
    + call(MOVE_REL, args=move(iris=-2147483648.0)),
    'move_rel_after_cont_zoom': header() + call(MOVE_CONT, args=move(zoom=100.0))
    + call(MOVE_REL, args=move(tilt=1.0)),
    'move_rel_bad_config': header(overrides=[(0, 'MoveSpeed', 0), (0, 'ZoomSpeed', -1),
                                             (0, 'FocusTime', 2**31 - 1), (0, 'PanMoveTimePerDegree', 50000)])
    + call(MOVE_REL, args=move(1e6, 10.0, 19998.0, 19998.0)),
    'move_rel_null_and_bad_camindex': header() + call(MOVE_REL, args=move(null=True))
    + call(MOVE_REL, camindex=-1, args=move(pan=10.0)) + call(MOVE_CONT, args=move(null=True)),
    'move_rel_nan_inf': header() + call(MOVE_REL, args=move('nan', 'inf', '-inf', -0.0, 'dmin'))
    + call(MOVE_REL, args=move(32764.0, -32765.0, 'max', '-max', 623.9)),
    'presets': header(overrides=[(0, 'GoToPresetDelay', 0)]) + call(SET_PRESET, args=i(1))
    + call(SET_PRESET, args=i(255)) + call(SET_PRESET, args=i(0)) + call(SET_PRESET, args=i(256))
    + call(GOTO_PRESET, args=i(6)) + call(GOTO_PRESET, args=i(-1))
    + call(GOTO_PRESET, args=i(-2**31)),
    'goto_during_pan': header() + call(MOVE_CONT, args=move(pan=-50.0))
    + call(GOTO_PRESET, behaviour=host(write_fail=0b10), args=i(2)),
    'preset_range': header(overrides=[(0, 'MaxDevicePresetnbr', 255)])
    + call(PRESET_RANGE, args=b'\x00') + call(PRESET_RANGE, args=b'\x03'),
    'speed': header() + call(SET_SPEED, args=f(49.5)) + call(GET_SPEED) + call(SET_SPEED, args=f('nan'))
    + call(SET_SPEED, args=f(3e9)) + call(SET_SPEED, args=f(-2147483648.0)) + call(GET_SPEED)
    + call(SET_SPEED, args=f(0.4)) + call(MOVE_REL, args=move(pan=10.0)),
    'queries': header(overrides=[(0, 'FlipPan', 7), (0, 'CurrentFieldAngle', 455),
                                 (0, 'PanBarRange', -2**31)])
    + call(BAR_RANGES, args=b'\x00') + call(BAR_RANGES, args=b'\x01') + call(PAN_FLIPPED)
    + call(TILT_FLIPPED) + call(ZOOM_COMP) + call(FIELD_ANGLE, args=b'\x00')
    + call(FIELD_ANGLE, args=b'\x01'),
    'modes': header() + call(AUTOFOCUS, args=i(1)) + call(AUTOFOCUS, args=i(1))
    + call(AUTOFOCUS, args=i(0)) + call(AUTOFOCUS, args=i(2)) + call(AUTOIRIS, args=i(1))
    + call(AUTOIRIS, behaviour=host(write_fail=1), args=i(0)) + call(BACKLIGHT, args=i(5))
    + call(BACKLIGHT, args=i(0)) + call(IRCUT, args=i(0)) + call(IRCUT, args=i(1))
    + call(IRCUT, args=i(2)) + call(IRCUT, args=i(-1)),
    'modes_while_moving': header() + call(MOVE_CONT, args=move(focus=-10.0)) + call(AUTOFOCUS, args=i(1))
    + call(BACKLIGHT, args=i(1)) + call(MOVE_CONT, args=move(iris=-13.0)) + call(STOP),
    'relays': header(overrides=[(0, 'Relay1OnTime', 0), (0, 'Relay2OnTime', 300)])
    + call(AUXILIARY, args=relay('relay1:on')) + call(AUXILIARY, args=relay('relay3:on'))
    + call(AUXILIARY, args=relay('relay2:on')) + call(AUXILIARY, args=relay('relay3:off'))
    + call(AUXILIARY, args=relay('relay2:off')) + call(AUXILIARY, args=relay('relay1:off')),
    'relay_pulse_cut': header(overrides=[(0, 'Relay2OnTime', 5000)])
    + call(AUXILIARY, behaviour=host(cut_sleep=3), args=relay('relay2:on'))
    + call(AUXILIARY, behaviour=host(clock=3), args=relay('relay2:on'))
    + call(AUXILIARY, behaviour=host(clock=1), args=relay('relay2:on')),
    'relay_pulse_huge': header(overrides=[(0, 'Relay1OnTime', 2**31 - 1)])
    + call(AUXILIARY, args=relay('relay1:on')),
    'relay_failures': header() + call(AUXILIARY, args=relay('relay2:on'))
    + call(AUXILIARY, behaviour=host(write_fail=1), args=relay('relay1:on'))
    + call(AUXILIARY, behaviour=host(write_fail=0b10), args=relay('relay3:on')),
    'relay_texts': header() + b''.join(call(AUXILIARY, args=relay(t)) for t in RELAYS[6:])
    + call(AUXILIARY, args=bytes([200, 3, ord('X')]))
    + call(AUXILIARY, args=bytes([230, 9]) + b'relay1:on'),
    'osdmenu': header() + b''.join(call(OSDMENU, args=i(c)) for c in (0, 1, 2, 3, 4, 5, 6, 7, 1000, -1))
    + call(OSDMENU, behaviour=host(all_writes_fail=True), args=i(1)),
    'four_slots': header(4, 0b1011, overrides=[(1, 'MoveSpeed', 51), (3, 'ZoomSpeed', 228)],
                         failures=[(3, 'FlipTilt')])
    + call(MOVE_CONT, camindex=1, args=move(pan=30.0)) + call(MOVE_REL, camindex=3, args=move(zoom=-5.0))
    + call(MOVE_REL, camindex=2, args=move(tilt=-3.0)) + call(MOVE_CONT, camindex=3, args=move(zoom=100.0))
    + call(TEARDOWN, camindex=0),
    'cameras_changed': header(2, 0b11) + call(H_CAMERAS, args=b'\x07') + call(PARAM_CHANGED)
    + call(MOVE_REL, camindex=4, args=move(pan=1.0)) + call(H_CAMERAS, args=b'\x00')
    + call(MOVE_CONT, camindex=1, args=move(tilt=40.0)) + call(H_CAMERA_MAP, args=b'\x01')
    + call(TEARDOWN),
    'no_records': header(0) + call(MOVE_CONT, args=move(pan=10.0)) + call(TEARDOWN)
    + each_entry(),
    'refused_camindex': header(2, 0b11) + each_entry(2**31 - 1) + each_entry(-2**31) + each_entry(2),
    'config_changed': header() + call(H_CONFIG, args=bytes([0, KEYS.index('ZoomTime')]) + i(150000))
    + call(PARAM_CHANGED) + call(MOVE_REL, args=move(zoom=19998.0)),
    'all_writes_fail': header() + each_entry(0, host(all_writes_fail=True)),
    'suspended_at_start': header() + call(MOVE_REL, behaviour=host(suspended=True),
                                          args=move(10.0, 10.0)),
}


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), 'corpus')
    os.makedirs(out, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(out, 'seed_' + name), 'wb') as fh:
            fh.write(data)
    print(f'{len(SEEDS)} seeds written to {out}')


if __name__ == '__main__':
    main()
