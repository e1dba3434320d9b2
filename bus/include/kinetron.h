/* The servo bus library: one open line, one instruction packet under construction and the
 * result code of the last exchange, for the whole process. Only one thread may call it at a
 * time.
 *
 * The operations every tool has used from the start, bus_open to bus_high_byte, take and
 * give 32-bit ints only. The others serve programs built on the library: the device as an
 * argument, several bytes in one exchange, the error byte of a servo's reply, the adapter's
 * latency timer, and failures kept without printing. */
#ifndef KINETRON_H
#define KINETRON_H

#if defined(_WIN32)
#if defined(KINETRON_BUILDING_LIBRARY)
#define KINETRON_API __declspec(dllexport)
#elif defined(KINETRON_STATIC)
/* A program that links the library's parts statically (the simulator: the model table). */
#define KINETRON_API
#else
#define KINETRON_API __declspec(dllimport)
#endif
#else
#define KINETRON_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the line that KINETRON_DEVICE names (a serial port, "sim", "sim:OPTIONS"), or the
 * first USB serial adapter when it is unset. Nonzero on success; on failure 0 and one line
 * on standard error. */
KINETRON_API int bus_open(void);
/* bus_open with the device given: the values KINETRON_DEVICE takes; NULL or "" finds the
 * first USB serial adapter. The variable is not read. */
KINETRON_API int bus_open_device(const char* device);
/* Lets the last packet leave the line, then closes it. Safe when nothing is open. */
KINETRON_API void bus_close(void);
/* Sets the line speed to 2000000 / (baudnum + 1) bits per second; 0..255. */
KINETRON_API void bus_change_baud(int baudnum);
/* Why the last bus_open or bus_change_baud failed: the text of the line it printed, without
 * "kinetron: " and the line end; "" when that last call succeeded. */
KINETRON_API const char* kinetron_last_error(void);
/* Nonzero: failed opens and speed changes are kept for kinetron_last_error() without the
 * line on standard error. 0 (the default) prints them. */
KINETRON_API void kinetron_set_quiet(int quiet);
/* Result code of the last exchange: 1 success, 0 nothing expected, 2..7 failures. */
KINETRON_API int bus_result(void);
/* The device the line was last opened as ("/dev/ttyUSB0", "sim:ids=1-3"), for messages; ""
 * before the first successful open. */
KINETRON_API const char* kinetron_device(void);

KINETRON_API int bus_read_byte(int id, int address);
KINETRON_API int bus_read_word(int id, int address);
KINETRON_API void bus_write_byte(int id, int address, int value);
KINETRON_API void bus_write_word(int id, int address, int value);

/* count consecutive bytes from address in one READ (1..253) into out: the number read, or 0
 * without a good reply. A count outside 1..253, or an id outside 0..254, sends nothing, gives
 * code 4 and 0. */
KINETRON_API int bus_read_block(int id, int address, int count, unsigned char* out);
/* count bytes of data written from address in one WRITE (1..252); other counts, or an id
 * outside 0..254, send nothing and give code 4. */
KINETRON_API void bus_write_block(int id, int address, int count, const unsigned char* data);
/* The error byte of the last good status packet (ERRBIT_* of registers.h, 0 for none); -1
 * when the last exchange had no good reply or expected none. */
KINETRON_API int kinetron_last_status(void);
/* The adapter's latency timer in milliseconds that the open line works with: the timer in
 * force on a USB adapter (16 where it cannot be read), MS for "sim:latency=MS", 0 for a line
 * that is no USB adapter; -1 when nothing is open. */
KINETRON_API int kinetron_latency_ms(void);

KINETRON_API void bus_packet_set_id(int id);
KINETRON_API void bus_packet_set_instruction(int instruction);
KINETRON_API void bus_packet_set_param(int index, int value);
KINETRON_API void bus_packet_set_length(int length);
KINETRON_API void bus_packet_transfer(void);

KINETRON_API int bus_low_byte(int value);
KINETRON_API int bus_high_byte(int value);

/* ---- Every model: protocol 2.0, group reads, line speed in bits per second ----------------
 *
 * These take the protocol (1 or 2) where both protocols have the instruction, and return the
 * exchange's result code (the codes of bus_result(), which they also set): 1 a good reply,
 * 0 sent with no reply expected, 2..7 failures, 4 for bad arguments (nothing sent). The error
 * byte of the last good status packet is kinetron_last_status(): protocol 1.0's ERRBIT_*
 * bits, or protocol 2.0's alert bit (0x80) and error number (bits 0..6). Ids: protocol 1.0
 * 0..253 (254 broadcast), protocol 2.0 0..252 (254 broadcast). */

/* Sets the line speed to bits_per_second exactly (any rate of the servos' baud-rate maps:
 * 9600 .. 4500000). Nonzero on success; 0 and one line (kinetron_last_error) otherwise. */
KINETRON_API int bus_set_bps(int bits_per_second);
/* The line speed in bits per second; 0 when nothing is open. */
KINETRON_API int bus_bps(void);

/* PING id: on a good reply *model and *firmware (either may be NULL) hold the servo's model
 * number and firmware version, otherwise -1. Protocol 2.0 carries them in the reply; protocol
 * 1.0 reads them from the control table (address 0, 3 bytes) after the PING, and a failed
 * read gives its code. */
KINETRON_API int bus_ping(int protocol, int id, int* model, int* firmware);
/* Protocol 2.0 PING to every servo: each answers. Up to max replies are stored in ascending
 * id order (ids, models, firmwares; any array may be NULL); returns how many servos answered
 * (0 when none). The wait ends once the line has been quiet for longer than one reply and
 * the longest return delay after the last reply. */
KINETRON_API int bus_ping_all(int* ids, int* models, int* firmwares, int max);

/* READ count bytes from address (protocol 1.0: address 0..255, count 1..253; protocol 2.0:
 * address 0..65535, count 1..1000) into out. */
KINETRON_API int bus_read(int protocol, int id, int address, int count, unsigned char* out);
/* WRITE count data bytes from address (protocol 1.0: 1..252; protocol 2.0: 1..1000). */
KINETRON_API int bus_write(int protocol, int id, int address, int count, const unsigned char* data);

/* SYNC_WRITE of count bytes from address to n servos: data holds count bytes for ids[0],
 * then count bytes for ids[1], ... Broadcast, no reply (code 0). */
KINETRON_API int bus_sync_write(int protocol, int address, int count, int n, const int* ids,
                                const unsigned char* data);
/* Protocol 2.0 BULK_WRITE: servo k gets counts[k] bytes at addresses[k]; data holds them one
 * servo after the other. An id at most once. */
KINETRON_API int bus_bulk_write(int n, const int* ids, const int* addresses, const int* counts,
                                const unsigned char* data);

/* Group reads: one exchange for n servos (1..253). Servo k's bytes go to out at the offset of
 * the counts before it (sync read: k * count); results[k] gets its own result code (1 good,
 * 5, 6 or 7 as for a single read) and errors[k] its error byte (-1 without a good reply);
 * results and errors may be NULL. Returns the number of servos read well. A silent servo
 * does not spoil the others (in a fast read, the parts before it). */

/* Protocol 2.0 SYNC_READ (fast 0) or FAST_SYNC_READ (fast 1) of count bytes from address. */
KINETRON_API int bus_sync_read(int fast, int n, const int* ids, int address, int count,
                               unsigned char* out, int* results, int* errors);
/* BULK_READ: protocol 2.0 (fast 1: FAST_BULK_READ) or protocol 1.0 (fast must be 0; the
 * 4096-step models answer it). An id at most once. */
KINETRON_API int bus_bulk_read(int protocol, int fast, int n, const int* ids, const int* addresses,
                               const int* counts, unsigned char* out, int* results, int* errors);

/* Protocol 2.0 REBOOT: the servo answers, then restarts (the only way back from an alarm
 * shutdown). */
KINETRON_API int bus_reboot(int id);
/* Factory reset: protocol 1.0 RESET (option must be 0), or protocol 2.0 FACTORY_RESET with
 * option 0xFF (everything), 0x01 (all but the id) or 0x02 (all but the id and baud rate). */
KINETRON_API int bus_factory_reset(int protocol, int id, int option);

/* ---- The model table ------------------------------------------------------------------ */

/* How a register's raw bytes read as a number. */
enum {
    KINETRON_UNSIGNED = 0,     /* little-endian unsigned */
    KINETRON_SIGNED = 1,       /* two's complement of the register's size */
    KINETRON_DIRECTION_BIT = 2 /* bits 0..9 the amount, bit 10 the direction (reads negative) */
};

/* One register of a model's control table. */
typedef struct kinetron_register {
    const char* name; /* lower_snake_case: "present_position" */
    int address;      /* first byte */
    int size;         /* 1, 2 or 4 bytes */
    int writable;     /* 0 read only, 1 read and write */
    int eeprom;       /* 1 in the EEPROM area */
    long long low;    /* raw range for a write (for read-only registers: what it reads) */
    long long high;
    int signedness;    /* KINETRON_UNSIGNED, KINETRON_SIGNED or KINETRON_DIRECTION_BIT */
    const char* unit;  /* "deg", "rpm", "V", "C", "%", "mA", "ms", "us" or "" (raw only) */
    double scale;      /* one raw step in unit: 360/4096 deg, 0.229 rpm, 0.1 V, ... */
    long long factory; /* the model's factory value; -1 where it has none */
} kinetron_register;

/* The model's protocol (1 or 2), or 0 for a model number the table does not know. */
KINETRON_API int kinetron_model_protocol(int model);
/* The name of the control table the model uses ("protocol1_1024", "protocol1_4096",
 * "protocol2_4096", "protocol2_350"); NULL for an unknown model. Models of one table can
 * share a group read. */
KINETRON_API const char* kinetron_model_table(int model);
/* The number of registers the model has (0 for an unknown model) and the one at index
 * (0 ..count-1, in address order); NULL outside. */
KINETRON_API int kinetron_model_register_count(int model);
KINETRON_API const kinetron_register* kinetron_model_register_at(int model, int index);
/* The model's register by name; NULL when the model lacks it. */
KINETRON_API const kinetron_register* kinetron_model_register(int model, const char* name);
/* Bits per second of a value of the model's baud-rate register; 0 for a value it lacks. */
KINETRON_API int kinetron_model_baud_bps(int model, int value);
/* The group reads, for kinetron_model_has_instruction. */
enum {
    KINETRON_SYNC_READ = 1,      /* protocol 2.0 */
    KINETRON_FAST_SYNC_READ = 2, /* protocol 2.0 */
    KINETRON_BULK_READ = 3,      /* protocol 2.0 */
    KINETRON_FAST_BULK_READ = 4, /* protocol 2.0 */
    KINETRON_BULK_READ_1 = 5     /* protocol 1.0 */
};
/* Nonzero when the model, at that firmware version, answers the group read `which`. */
KINETRON_API int kinetron_model_has_instruction(int model, int firmware, int which);
/* The count-th model number the table knows (0..), for listing; 0 past the end. */
KINETRON_API int kinetron_model_at(int index);

/* A register's raw bytes (size of them, little-endian) as a number, by its signedness: a
 * signed register's two's complement read as negative, a direction-bit register as stored
 * (0..2047; kinetron_to_units applies the direction). */
KINETRON_API long long kinetron_register_decode(const kinetron_register* reg,
                                                const unsigned char* bytes);
/* A number as the register's raw bytes (size of them). */
KINETRON_API void kinetron_register_encode(const kinetron_register* reg, long long value,
                                           unsigned char* bytes);
/* A raw value in the register's unit (a direction bit set reads negative); the raw value
 * itself for a register without a unit. */
KINETRON_API double kinetron_to_units(const kinetron_register* reg, long long raw);
/* A value in the register's unit back to the nearest raw value (a negative value of a
 * direction-bit register sets bit 10). */
KINETRON_API long long kinetron_from_units(const kinetron_register* reg, double value);

#ifdef __cplusplus
}
#endif

#endif
