/* Numbers shared by the servos, the bus library and the tools: ids, control-table
 * addresses, instruction codes, result codes and baud numbers. */
#ifndef KINETRON_REGISTERS_H
#define KINETRON_REGISTERS_H

/* Servo ids: a servo takes 0..253 as its own; 254 reaches every servo at once and is the
 * highest id a packet carries; a tool's command line accepts 0..255 at most, and each tool
 * narrows that to its own range. */
enum { ID_HIGHEST_SERVO = 253, ID_BROADCAST = 254, ID_ARGUMENT_MAX = 255 };

/* Control-table addresses; the width is in the name's comment. */
enum {
    ADDR_MODEL_NUMBER = 0,         /* word */
    ADDR_FIRMWARE = 2,             /* byte */
    ADDR_ID = 3,                   /* byte */
    ADDR_BAUD = 4,                 /* byte */
    ADDR_RETURN_DELAY = 5,         /* byte, 2 us units */
    ADDR_CW_LIMIT = 6,             /* word */
    ADDR_CCW_LIMIT = 8,            /* word */
    ADDR_TEMPERATURE_LIMIT = 11,   /* byte */
    ADDR_LOW_VOLTAGE = 12,         /* byte */
    ADDR_HIGH_VOLTAGE = 13,        /* byte */
    ADDR_MAX_TORQUE = 14,          /* word */
    ADDR_STATUS_RETURN = 16,       /* byte */
    ADDR_ALARM_LED = 17,           /* byte */
    ADDR_ALARM_SHUTDOWN = 18,      /* byte */
    ADDR_TORQUE_ENABLE = 24,       /* byte */
    ADDR_LED = 25,                 /* byte */
    ADDR_CW_MARGIN = 26,           /* byte */
    ADDR_CCW_MARGIN = 27,          /* byte */
    ADDR_CW_SLOPE = 28,            /* byte */
    ADDR_CCW_SLOPE = 29,           /* byte */
    ADDR_GOAL_POSITION = 30,       /* word */
    ADDR_MOVING_SPEED = 32,        /* word */
    ADDR_TORQUE_LIMIT = 34,        /* word */
    ADDR_PRESENT_POSITION = 36,    /* word */
    ADDR_PRESENT_SPEED = 38,       /* word */
    ADDR_PRESENT_LOAD = 40,        /* word */
    ADDR_PRESENT_VOLTAGE = 42,     /* byte */
    ADDR_PRESENT_TEMPERATURE = 43, /* byte; swingtest reads a word here */
    ADDR_REGISTERED = 44,          /* byte */
    ADDR_MOVING = 46,              /* byte */
    ADDR_LOCK = 47,                /* byte */
    ADDR_PUNCH = 48,               /* word */
    CONTROL_TABLE_SIZE = 50
};

enum { POSITION_MAX = 1023 };

/* Present speed and present load: bits 0..9 the amount, bit 10 set when the servo turns (or
 * pushes) toward lower positions. */
enum { DIRECTION_BIT = 1 << 10, MAGNITUDE_MASK = DIRECTION_BIT - 1 };

/* Instruction codes. */
enum { INST_PING = 1, INST_READ = 2, INST_WRITE = 3, INST_RESET = 6, INST_SYNC_WRITE = 131 };
enum { SYNC_WRITE = INST_SYNC_WRITE, RESET = INST_RESET };

/* Status packet error bits. */
enum {
    ERRBIT_VOLTAGE = 1 << 0,
    ERRBIT_ANGLE = 1 << 1,
    ERRBIT_OVERHEAT = 1 << 2,
    ERRBIT_RANGE = 1 << 3,
    ERRBIT_CHECKSUM = 1 << 4,
    ERRBIT_OVERLOAD = 1 << 5,
    ERRBIT_INSTRUCTION = 1 << 6
};

/* Result codes of bus_result(). */
enum {
    RESULT_SENT = 0,       /* sent, no reply expected (broadcast, SYNC_WRITE) */
    RESULT_SUCCESS = 1,    /* a good status packet from the addressed servo */
    RESULT_TX_FAIL = 2,    /* could not send: line not open, write failed or short */
    RESULT_RX_FAIL = 3,    /* reading failed: device gone, hang-up, I/O error */
    RESULT_TX_ERROR = 4,   /* malformed packet, nothing sent */
    RESULT_RX_WAITING = 5, /* deadline: part of a packet, no good one */
    RESULT_RX_TIMEOUT = 6, /* deadline: nothing arrived */
    RESULT_RX_CORRUPT = 7  /* deadline: whole packets, none good */
};

enum { BAUDNUM_MAX = 255, BAUD_BASE_BPS = 2000000 };

/* Line speed of a baud number, bits per second: 2000000 / (n + 1), rounded down.
 * Only meaningful for 0..255. */
static inline int baudnum_to_bps(int baudnum) { return BAUD_BASE_BPS / (baudnum + 1); }

#endif
