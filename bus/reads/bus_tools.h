/* Reads with retry, the result printer and the watchdog thread, with the variables they
 * share. The tools that poll servos take these; the argument conventions, the console and
 * the opening of the adapter are libraries of their own. */
#ifndef BUS_TOOLS_H
#define BUS_TOOLS_H

#include <atomic>

/* True while a read with retry runs; written by the main thread, watched by the watchdog. */
extern std::atomic<bool> read_busy;
/* Reads with retry finished so far, success or not. */
extern std::atomic<int> reads_done;
/* Tries the most recent read with retry made, 1..10. */
extern int last_attempts;
/* Room for one printed result: at most 7 characters and the terminating NUL. */
enum { RESULT_TEXT_SIZE = 8 };
/* What print_result printed last, without its trailing space. */
extern char result_text[RESULT_TEXT_SIZE];

enum { READ_TRIES_MAX = 10, READ_FAILED = -1, WATCHDOG_POLL_MS = 10, WATCHDOG_WINDOW_MS = 1000 };

/* Reads a register up to ten times until the bus reports success; -1 when it never does. */
int read_byte_retry(int id, int address);
int read_word_retry(int id, int address);

/* Prints the value (result code 1) or the text of the last result code, right-aligned in
 * three columns and followed by one space; returns result_text. */
const char* print_result(int value);

/* Ends the process with "\nTIMEOUT! Exiting now ...\n" and status 1 when a read with retry
 * has not finished within a second. Start it once: _beginthread(watchdog_thread, 0, NULL). */
void watchdog_thread(void* unused);

/* When the last exchange found the line gone (result code 2: the packet could not be sent;
 * 3: reading the line failed), says so on standard error with the device's name and ends
 * the process with status 1; the terminal is restored on the way out. A time-out (5, 6, 7)
 * is an absent or silent servo, not a gone line, and returns like success. */
void exit_if_line_gone(void);
/* The same for a result code of the tool's own: a group read's code for one servo may say
 * what the exchange's code does not. */
void exit_if_code_says_gone(int code);

/* Text of a result code as print_result shows it: "txF", "rxT", ..., "UNK". */
const char* result_code_text(int code);

#endif
