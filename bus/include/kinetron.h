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

#ifdef __cplusplus
}
#endif

#endif
