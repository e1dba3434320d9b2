/* Reads with retry, the result printer and the watchdog. */
#include "bus_tools.h"

#include <cstdio>
#include <cstdlib>

#include "console.h"
#include "kinetron.h"
#include "registers.h"

std::atomic<bool> read_busy{false};
std::atomic<int> reads_done{0};
int last_attempts = 0;
char result_text[RESULT_TEXT_SIZE];

/* The retry loop both reads share; only the bus operation differs. */
static int read_with_retry(int (*bus_read)(int, int), int id, int address)
{
    read_busy = true;
    int value = READ_FAILED;
    int tries = 0;
    int code = RESULT_SENT;
    while (code != RESULT_SUCCESS && tries < READ_TRIES_MAX) {
        value = bus_read(id, address);
        code = bus_result();
        ++tries;
    }
    if (code != RESULT_SUCCESS)
        value = READ_FAILED;
    last_attempts = tries;
    /* The flag falls before the count rises: the watchdog relies on this order. */
    read_busy = false;
    reads_done.fetch_add(1);
    return value;
}

int read_byte_retry(int id, int address) { return read_with_retry(bus_read_byte, id, address); }

int read_word_retry(int id, int address) { return read_with_retry(bus_read_word, id, address); }

const char* result_code_text(int code)
{
    switch (code) {
    case RESULT_TX_FAIL:
        return "txF";
    case RESULT_RX_FAIL:
        return "rxF";
    case RESULT_TX_ERROR:
        return "txE";
    case RESULT_RX_WAITING:
        return "rxW";
    case RESULT_RX_TIMEOUT:
        return "rxT";
    case RESULT_RX_CORRUPT:
        return "rxC";
    default:
        return "UNK";
    }
}

/* A value needs at most 7 characters to fit the 8-character texts. One that needs more
 * (beyond -999999..9999999, which no register reaches) shows as a row of '#' rather than
 * as a cut, wrong number. */
enum { VALUE_TEXT_MIN = -999999, VALUE_TEXT_MAX = 9999999 };

const char* print_result(int value)
{
    char scratch[sizeof result_text];
    int code = bus_result();
    if (code != RESULT_SUCCESS)
        std::snprintf(scratch, sizeof scratch, "%s", result_code_text(code));
    else if (value < VALUE_TEXT_MIN || value > VALUE_TEXT_MAX)
        std::snprintf(scratch, sizeof scratch, "%s", "#######");
    else
        std::snprintf(scratch, sizeof scratch, "%d", value);
    std::snprintf(result_text, sizeof result_text, "%3s", scratch);
    std::printf("%s ", result_text);
    return result_text;
}

void exit_if_line_gone(void) { exit_if_code_says_gone(bus_result()); }

void exit_if_code_says_gone(int code)
{
    if (code != RESULT_TX_FAIL && code != RESULT_RX_FAIL)
        return;
    /* Whatever the tool printed so far leaves before the line on standard error. */
    std::fflush(stdout);
    std::fprintf(stderr, "%s: the line to the servos is gone\n", kinetron_device());
    /* exit runs the console's handler that gives the terminal its mode back. */
    std::exit(1);
}

void watchdog_thread(void* unused)
{
    (void)unused;
    for (;;) {
        Sleep(WATCHDOG_POLL_MS);
        /* Snapshot first, flag second: a read that ends between the two can only raise
         * the count past the snapshot, never be taken for a stall. */
        int snapshot = reads_done.load();
        if (!read_busy.load())
            continue;
        Sleep(WATCHDOG_WINDOW_MS);
        if (reads_done.load() != snapshot || !read_busy.load())
            continue;
        std::printf("\nTIMEOUT! Exiting now ...\n");
        std::exit(1);
    }
}
