/* Routines every bus tool shares: reads with retry, the result printer, the watchdog
 * thread, and the command-line conventions. */
#ifndef BUS_TOOLS_H
#define BUS_TOOLS_H

#include <atomic>

/* True while a read with retry runs; written by the main thread, watched by the watchdog. */
extern std::atomic<bool> read_busy;
/* Reads with retry finished so far, success or not. */
extern std::atomic<int> reads_done;
/* Tries the most recent read with retry made, 1..10. */
extern int last_attempts;
/* What print_result printed last, without its trailing space. */
extern char result_text[8];

enum {
    READ_TRIES_MAX = 10,
    READ_FAILED = -1,
    WATCHDOG_POLL_MS = 10,
    WATCHDOG_WINDOW_MS = 1000,
    KEY_ESC = 27
};

/* Reads a register up to ten times until the bus reports success; -1 when it never does. */
int read_byte_retry(int id, int address);
int read_word_retry(int id, int address);

/* Prints the value (result code 1) or the text of the last result code, right-aligned in
 * three columns and followed by one space; returns result_text. */
const char* print_result(int value);

/* Ends the process with "\nTIMEOUT! Exiting now ...\n" and status 1 when a read with retry
 * has not finished within a second. Start it once: _beginthread(watchdog_thread, 0, NULL). */
void watchdog_thread(void* unused);

/* Opens the adapter with bus_open and says how it went: "Succeed to open USB2Kinetron!\n"
 * or "Failed to open USB2Kinetron!\n". False when it did not open. */
bool open_adapter(void);

/* Text of a result code as print_result shows it: "txF", "rxT", ..., "UNK". */
const char* result_code_text(int code);

/* Command-line conventions. */
/* Decimal conversion like atoi, but values beyond the int range saturate instead of
 * being undefined: leading white space, optional sign, digits; anything else ends it;
 * text that is no number gives 0. */
int arg_to_int(const char* text);
/* Argument k (counting from 1 after the program name) as a number, or fallback when the
 * command line has no argument k. */
int arg_int(int argc, char** argv, int k, int fallback);
/* A yes/no argument: true for "1", "YES" or "TRUE" in any case. */
bool arg_is_yes(const char* text);
/* lo <= value <= hi, compared the way an unsigned range check does, so any value below
 * lo (a negative one for a range that starts at 0) fails. */
bool in_range(int value, int lo, int hi);

#endif
