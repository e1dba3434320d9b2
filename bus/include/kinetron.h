/* The servo bus library: one open line, one instruction packet under construction and the
 * result code of the last exchange, for the whole process. Every argument and every result
 * is a 32-bit int. Only one thread may call it. */
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
/* Lets the last packet leave the line, then closes it. Safe when nothing is open. */
KINETRON_API void bus_close(void);
/* Sets the line speed to 2000000 / (baudnum + 1) bits per second; 0..255. */
KINETRON_API void bus_change_baud(int baudnum);
/* Why the last bus_open or bus_change_baud failed: the text of the line it printed, without
 * "kinetron: " and the line end; "" when that last call succeeded. */
KINETRON_API const char* kinetron_last_error(void);
/* Result code of the last exchange: 1 success, 0 nothing expected, 2..7 failures. */
KINETRON_API int bus_result(void);

KINETRON_API int bus_read_byte(int id, int address);
KINETRON_API int bus_read_word(int id, int address);
KINETRON_API void bus_write_byte(int id, int address, int value);
KINETRON_API void bus_write_word(int id, int address, int value);

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
