#!/usr/bin/env python3
"""Shows the present positions of a range of servos as a live table; Ctrl-C ends it.

    watch_positions.py [ID_START ID_END [BAUDNUM [ROWS]]]

The servos are those of KINETRON_DEVICE (try KINETRON_DEVICE=sim). A read that fails ten
times shows the failure's three-letter text. ROWS ends the table after that many rows.
"""

import sys
import time

import kinetron

RULE = "|" + "-" * 66


def main(argv):
    id_start, id_end = (int(argv[1]), int(argv[2])) if len(argv) > 2 else (0, 18)
    baudnum = int(argv[3]) if len(argv) > 3 else 35
    rows = int(argv[4]) if len(argv) > 4 else None
    ids = range(id_start, id_end + 1)
    with kinetron.Bus() as bus:
        bus.change_baud(baudnum)
        row = 0
        try:
            while rows is None or row < rows:
                if row % 60 == 0:
                    print(RULE, "|" + "".join(f"{id:3d} " for id in ids), RULE, sep="\n")
                cells = []
                for id in ids:
                    try:
                        position = bus.read_word(id, kinetron.ADDR_PRESENT_POSITION, tries=10)
                        cells.append(f"{position:3d} ")
                    except kinetron.BusError as error:
                        cells.append(f"{error.text:>3} ")
                print("|" + "".join(cells), flush=True)
                row += 1
                time.sleep(0.05)
        except KeyboardInterrupt:
            print()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
