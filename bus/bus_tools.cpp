/* Reads with retry, the result printer, the watchdog and the argument conventions that
 * every bus tool shares. */
#include "bus_tools.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "console.h"
#include "kinetron.h"
#include "registers.h"

std::atomic<bool> read_busy{false};
std::atomic<int> reads_done{0};
int last_attempts = 0;
char result_text[8];

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

int arg_to_int(const char* text)
{
    if (text == nullptr)
        return 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (std::isspace(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = (*p == '-');
        ++p;
    }
    /* Accumulate as a negative number: its range holds INT_MIN too. */
    long long total = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        total = total * 10 - (*p - '0');
        if (total < static_cast<long long>(INT_MIN))
            return negative ? INT_MIN : INT_MAX;
    }
    if (negative)
        return static_cast<int>(total);
    return total < -static_cast<long long>(INT_MAX) ? INT_MAX : static_cast<int>(-total);
}

int arg_int(int argc, char** argv, int k, int fallback)
{
    if (k < 0 || argc <= k || argv == nullptr)
        return fallback;
    return arg_to_int(argv[k]);
}

static bool equals_ignoring_case(const char* text, const char* upper)
{
    for (; *text != '\0' && *upper != '\0'; ++text, ++upper) {
        if (std::toupper(static_cast<unsigned char>(*text)) != *upper)
            return false;
    }
    return *text == '\0' && *upper == '\0';
}

bool arg_is_yes(const char* text)
{
    if (text == nullptr)
        return false;
    return equals_ignoring_case(text, "1") || equals_ignoring_case(text, "YES") ||
           equals_ignoring_case(text, "TRUE");
}

bool in_range(int value, int lo, int hi)
{
    // Shifted so the range starts at 0, one unsigned comparison covers both ends: a value
    // below lo wraps around to a large number. Works for ranges that start below 0 too.
    return static_cast<unsigned>(value) - static_cast<unsigned>(lo) <=
           static_cast<unsigned>(hi) - static_cast<unsigned>(lo);
}

bool open_adapter(void)
{
    if (!bus_open()) {
        std::printf("Failed to open USB2Kinetron!\n");
        return false;
    }
    std::printf("Succeed to open USB2Kinetron!\n");
    return true;
}
