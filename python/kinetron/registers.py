"""Numbers the servos, the bus library and scripts share: ids, control-table addresses,
instruction codes, result codes and baud numbers. The names are those of the C header
``kinetron/registers.h``."""

import enum

#: The broadcast id: a packet sent to it reaches every servo, and none replies.
ID_BROADCAST = 254
#: The highest id a servo can answer to.
ID_HIGHEST_SERVO = 253

# Control-table addresses; the width is in the comment.
ADDR_MODEL_NUMBER = 0  #: word
ADDR_FIRMWARE = 2  #: byte
ADDR_ID = 3  #: byte
ADDR_BAUD = 4  #: byte
ADDR_RETURN_DELAY = 5  #: byte, 2 us units
ADDR_CW_LIMIT = 6  #: word
ADDR_CCW_LIMIT = 8  #: word
ADDR_TEMPERATURE_LIMIT = 11  #: byte
ADDR_LOW_VOLTAGE = 12  #: byte
ADDR_HIGH_VOLTAGE = 13  #: byte
ADDR_MAX_TORQUE = 14  #: word
ADDR_STATUS_RETURN = 16  #: byte
ADDR_ALARM_LED = 17  #: byte
ADDR_ALARM_SHUTDOWN = 18  #: byte
ADDR_TORQUE_ENABLE = 24  #: byte
ADDR_LED = 25  #: byte
ADDR_CW_MARGIN = 26  #: byte
ADDR_CCW_MARGIN = 27  #: byte
ADDR_CW_SLOPE = 28  #: byte
ADDR_CCW_SLOPE = 29  #: byte
ADDR_GOAL_POSITION = 30  #: word
ADDR_MOVING_SPEED = 32  #: word
ADDR_TORQUE_LIMIT = 34  #: word
ADDR_PRESENT_POSITION = 36  #: word
ADDR_PRESENT_SPEED = 38  #: word
ADDR_PRESENT_LOAD = 40  #: word
ADDR_PRESENT_VOLTAGE = 42  #: byte
ADDR_PRESENT_TEMPERATURE = 43  #: byte
ADDR_REGISTERED = 44  #: byte
ADDR_MOVING = 46  #: byte
ADDR_LOCK = 47  #: byte
ADDR_PUNCH = 48  #: word
#: Bytes in a servo's control table.
CONTROL_TABLE_SIZE = 50

#: Highest goal or present position.
POSITION_MAX = 1023

# Instruction codes.
INST_PING = 1  #: PING
INST_READ = 2  #: READ
INST_WRITE = 3  #: WRITE
INST_RESET = 6  #: RESET: back to the factory table (id 1, baud number 1)
INST_SYNC_WRITE = 131  #: SYNC_WRITE: one register in several servos at once

#: Parameters one instruction packet holds: its length byte is the count plus 2, at most 255.
PACKET_PARAMS_MAX = 253
#: Bytes one READ brings back, and one WRITE carries (after its address), at most.
READ_BLOCK_MAX = 253
WRITE_BLOCK_MAX = 252

# Error bits of a servo's status packet.
ERRBIT_VOLTAGE = 1 << 0  #: input voltage outside the voltage limits
ERRBIT_ANGLE = 1 << 1  #: a goal outside the angle limits
ERRBIT_OVERHEAT = 1 << 2  #: hotter than the temperature limit
ERRBIT_RANGE = 1 << 3  #: a value out of range (or a read past the table)
ERRBIT_CHECKSUM = 1 << 4  #: the instruction's checksum was wrong
ERRBIT_OVERLOAD = 1 << 5  #: the load exceeds the torque limit
ERRBIT_INSTRUCTION = 1 << 6  #: an unknown instruction, or a write the servo refuses

_ALARM_NAMES = ("voltage", "angle", "overheat", "range", "checksum", "overload", "instruction")


def alarm_names(bits):
    """The names of the alarms set in an error byte, in bit order: ``alarm_names(0x24)`` is
    ``["overheat", "overload"]``; ``[]`` for none."""
    return [name for bit, name in enumerate(_ALARM_NAMES) if bits & (1 << bit)]


class Result(enum.IntEnum):
    """Result code of an exchange, as the bus library's ``bus_result`` gives it."""

    SENT = 0  #: sent, no reply expected (broadcast, SYNC_WRITE)
    SUCCESS = 1  #: a good status packet came from the addressed servo
    TX_FAIL = 2  #: could not send: line not open, write failed or short
    RX_FAIL = 3  #: reading failed: device gone, hang-up, I/O error
    TX_ERROR = 4  #: malformed packet, nothing sent
    RX_WAITING = 5  #: at the deadline, part of a packet and no good one
    RX_TIMEOUT = 6  #: at the deadline, nothing had arrived
    RX_CORRUPT = 7  #: at the deadline, whole packets, none good


RESULT_SENT = Result.SENT  #: see :class:`Result`
RESULT_SUCCESS = Result.SUCCESS  #: see :class:`Result`
RESULT_TX_FAIL = Result.TX_FAIL  #: see :class:`Result`
RESULT_RX_FAIL = Result.RX_FAIL  #: see :class:`Result`
RESULT_TX_ERROR = Result.TX_ERROR  #: see :class:`Result`
RESULT_RX_WAITING = Result.RX_WAITING  #: see :class:`Result`
RESULT_RX_TIMEOUT = Result.RX_TIMEOUT  #: see :class:`Result`
RESULT_RX_CORRUPT = Result.RX_CORRUPT  #: see :class:`Result`

_RESULT_TEXTS = {2: "txF", 3: "rxF", 4: "txE", 5: "rxW", 6: "rxT", 7: "rxC"}


def result_name(code):
    """The name of a result code ("RX_TIMEOUT"), or "UNKNOWN" for a code the library never gives."""
    try:
        return Result(code).name
    except ValueError:
        return "UNKNOWN"


def result_text(code):
    """The three-letter text the console tools print for a failed read ("rxT"); "UNK" for
    codes 0, 1 and any other."""
    return _RESULT_TEXTS.get(code, "UNK")


#: Highest baud number.
BAUDNUM_MAX = 255


def baudnum_to_bps(baudnum):
    """Line speed of a baud number in bits per second: 2000000 / (baudnum + 1), rounded down."""
    if not 0 <= baudnum <= BAUDNUM_MAX:
        raise ValueError(f"baud number {baudnum} is outside 0..{BAUDNUM_MAX}")
    return 2000000 // (baudnum + 1)


__all__ = [name for name in dir() if name.isupper() and not name.startswith("_")] + [
    "Result",
    "alarm_names",
    "result_name",
    "result_text",
    "baudnum_to_bps",
]
