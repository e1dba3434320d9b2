/* The console, timing and thread calls the tools use, with Windows' names and meaning.
 * Windows has them natively; elsewhere console.cpp provides them. */
#ifndef BUS_CONSOLE_H
#define BUS_CONSOLE_H

/* The key that ends or stops the work in every tool that reads keys. */
enum { KEY_ESC = 27 };

#if defined(_WIN32)
#include <conio.h>
#include <io.h>
#include <process.h>
#include <windows.h>

/* Nonzero when standard input is the console, where keys are typed. */
static inline int keys_from_terminal(void) { return _isatty(0); }
#else
#include <cstdint>

/* Nonzero when standard input is a terminal, where keys are typed; otherwise its bytes
 * stand for the keys. */
int keys_from_terminal(void);
/* Nonzero when a key is waiting. */
int _kbhit(void);
/* One key, without echo and without Enter; flushes standard output first. Arrow keys
 * arrive as 224 followed by a second code, F1..F4 as 0 followed by one. At the end of
 * piped input it returns 27 (ESC). */
int _getch(void);
/* Pauses the calling thread; 0 yields the rest of the time slice. */
void Sleep(unsigned long milliseconds);
/* Milliseconds from a monotonic clock, wrapping at 32 bits. */
std::uint32_t GetTickCount(void);
/* Starts fn(arg) on a detached thread; returns nonzero on success. */
std::uintptr_t _beginthread(void (*fn)(void*), unsigned stack_size, void* arg);
#endif

/* Reads every key waiting; nonzero when ESC was among them. The others are dropped. */
static inline int esc_among_waiting_keys(void)
{
    while (_kbhit() > 0) {
        if ((_getch() & 0xFF) == KEY_ESC)
            return 1;
    }
    return 0;
}

#endif
