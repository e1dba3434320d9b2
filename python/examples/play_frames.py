#!/usr/bin/env python3
"""Plays a frame file on the servos, one synchronized write per register and frame.

    play_frames.py FILE [ID_START ID_END [BAUDNUM [DELAY_FACTOR]]]

The servos are those of KINETRON_DEVICE (try KINETRON_DEVICE=sim). DELAY_FACTOR stretches
every pause (0: no pauses) and slows the recorded speeds by the same factor.
"""

import sys
import time

import kinetron
from kinetron import frames


def present_position(bus, id):
    try:
        return bus.read_word(id, kinetron.ADDR_PRESENT_POSITION, tries=10)
    except kinetron.BusError:
        return None  # this servo's relative goals are left out


def scaled_speed(speed, factor):
    """A recorded speed slowed by the delay factor; a servo takes 0 for full speed, so a
    slow speed is never cut to 0."""
    if speed == frames.BAD_VALUE or not factor:
        return speed
    return max(15, int(speed / factor)) if speed >= 0 else speed


def main(argv):
    if len(argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    id_start, id_end = (int(argv[2]), int(argv[3])) if len(argv) > 3 else (0, 253)
    baudnum = int(argv[4]) if len(argv) > 4 else 35
    factor = float(argv[5]) if len(argv) > 5 else 1.0
    try:
        motion = frames.read(argv[1], id_start, id_end)
    except (OSError, kinetron.FrameFileError) as error:
        print(error, file=sys.stderr)
        return 1
    for warning in motion.warnings:
        print(warning, file=sys.stderr)
    # As posetape PLAY: a file that would stop partway through the motion is refused whole.
    for number, frame in enumerate(motion.frames, 1):
        if len(frame.positions) != len(motion.ids):
            print(f"frame {number} does not fit the {len(motion.ids)} servos: nothing played")
            return 1

    with kinetron.Bus() as bus:
        bus.change_baud(baudnum)
        # Relative positions are offsets to where each servo stands now.
        start = [present_position(bus, id) for id in motion.ids]
        for number, frame in enumerate(motion.frames, 1):
            if frame.speeds is not None:
                speeds = [(id, scaled_speed(s, factor)) for id, s in zip(motion.ids, frame.speeds)]
                speeds = [(id, s) for id, s in speeds if 0 <= s <= 1023]
                bus.sync_write(kinetron.ADDR_MOVING_SPEED, speeds)
            goals = {}
            for id, base, position in zip(motion.ids, start, frame.positions):
                if motion.relative:
                    if base is None or position == frames.BAD_VALUE:
                        continue
                    position += base
                if 1 <= position <= kinetron.POSITION_MAX:
                    goals[id] = position
            bus.sync_write(kinetron.ADDR_GOAL_POSITION, goals)
            print(f"frame {number}: {goals}", flush=True)
            time.sleep(frame.delay * factor / 1000)
        bus.sync_write(kinetron.ADDR_MOVING_SPEED, {id: 0 for id in motion.ids})
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
