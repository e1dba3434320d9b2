#!/usr/bin/env python3
"""Records a motion posed by hand into a frame file, as posetape REC does; Ctrl-C ends it.

    record.py FRAMEFILE ID_START ID_END [BAUDNUM]

The servos are those of KINETRON_DEVICE (try KINETRON_DEVICE=sim:hand=wave,timing=wire).
Their torque goes off so that the limbs can be moved by hand. Each frame line holds the
milliseconds since the frame before and, per servo found in ID_START..ID_END, its present
speed (its size, 0..1023) and position: one block read per servo brings both, where REC reads
them apart, so a frame takes half REC's exchanges. A read that fails ten times writes its
three-letter text for both values. Every line is on disk before the next frame is read.
"""

import sys
import time

import kinetron

TRIES = 10  # as posetape's reads with retry
TORQUE_OFF_PASSES = 5  # as posetape REC
SPEED_BITS = 0x3FF  # the direction bit (10) is not recorded
TYPE_LINE = "FILETYPE: AbsoluteSpeeds; AbsolutePositions\n"


def ticks_ms():
    return int(time.monotonic() * 1000)


def answers(bus, id):
    """True when servo ``id`` reads back its own id, as REC finds its servos."""
    try:
        return bus.read_byte(id, kinetron.ADDR_ID, tries=TRIES) == id
    except kinetron.BusError:
        return False


def frame_line(bus, ids, delay):
    line = f"{delay:4d}, "
    for id in ids:
        try:
            data = bus.read_block(id, kinetron.ADDR_PRESENT_POSITION, 4, tries=TRIES)
            position = data[0] | data[1] << 8
            speed = (data[2] | data[3] << 8) & SPEED_BITS
            line += f"[{speed:3d}]{position:3d},"
        except kinetron.BusError as error:
            line += f"[{error.text:>3}]{error.text:>3},"
    return line + "\n"


def record(path, id_start, id_end, baudnum):
    with kinetron.Bus(None, baudnum) as bus:
        for _ in range(TORQUE_OFF_PASSES):
            bus.write_byte(kinetron.ID_BROADCAST, kinetron.ADDR_TORQUE_ENABLE, 0)
        ids = [id for id in range(id_start, id_end + 1) if answers(bus, id)]
        print(f"found {len(ids)} servos at baud number {baudnum}: {ids}", flush=True)
        if not ids:
            return 1
        frames = 0
        with open(path, "w", encoding="ascii") as file:
            file.write(TYPE_LINE + "      " + "".join(f"{id:3d}," for id in ids) + "\n")
            file.flush()
            last = ticks_ms()
            try:
                while True:
                    now = ticks_ms()
                    file.write(frame_line(bus, ids, now - last))
                    file.flush()
                    last = now
                    frames += 1
                    print(f"\r{frames} frames", end="", flush=True)
            except KeyboardInterrupt:
                pass
        print(f"\nrecorded {frames} frames of {len(ids)} servos into {path}")
    return 0


def main(argv):
    try:
        path = argv[1]
        id_start, id_end = int(argv[2]), int(argv[3])
        baudnum = int(argv[4]) if len(argv) > 4 else 35
        highest = kinetron.ID_HIGHEST_SERVO
        in_range = 0 <= id_start <= highest and 0 <= id_end <= highest
        if len(argv) > 5 or not in_range or not 0 <= baudnum <= kinetron.BAUDNUM_MAX:
            raise ValueError
    except (IndexError, ValueError):
        print("usage: record.py FRAMEFILE ID_START ID_END [BAUDNUM]", file=sys.stderr)
        return 1
    try:
        return record(path, id_start, id_end, baudnum)
    except kinetron.BusError as error:
        print(f"record.py: {error}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:  # before the first frame
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
