// The status line on standard error.
#include "status_line.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <io.h>
#define stderr_is_terminal() _isatty(2)
#else
#include <unistd.h>
#define stderr_is_terminal() isatty(2)
#endif

namespace {

typedef std::chrono::steady_clock Clock;
const Clock::duration EVERY = std::chrono::milliseconds(200);

bool onTerminal;
bool shown;
int shownLength; // spaces that wipe what the last showing left on the row
Clock::time_point lastShown;

void show(const char* text, const char* end)
{
    int length = static_cast<int>(std::strlen(text));
    std::fprintf(stderr, "\r%s", text);
    if (length < shownLength)
        std::fprintf(stderr, "%*s\r%s", shownLength - length, "", text);
    shownLength = length;
    std::fputs(end, stderr);
}

} // namespace

void status_begin(void)
{
    onTerminal = stderr_is_terminal() != 0;
    shown = false;
    shownLength = 0;
}

void status_show(const char* text, bool force)
{
    if (!onTerminal)
        return;
    Clock::time_point now = Clock::now();
    if (!force && shown && now - lastShown < EVERY)
        return;
    std::fflush(stdout);
    show(text, "");
    std::fflush(stderr);
    shown = true;
    lastShown = now;
}

void status_end(const char* text)
{
    std::fflush(stdout);
    if (onTerminal)
        show(text, "\n");
    else
        std::fprintf(stderr, "%s\n", text);
    shownLength = 0;
    std::fflush(stderr);
    shown = false;
}

void status_clear(void)
{
    if (!onTerminal || shownLength == 0)
        return;
    std::fprintf(stderr, "\r%*s\r", shownLength, "");
    std::fflush(stderr);
    shownLength = 0;
    shown = false;
}
