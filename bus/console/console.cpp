/* The console, timing and thread calls of the tools, for POSIX systems.
 *
 * When standard input is a terminal, it is switched to key-at-a-time input without echo
 * before main runs, and given back as it was on every way out: return from main, exit
 * from any thread, the ending signals (a closed output pipe among them), and a stop (Ctrl-Z) until the program continues. */
#include "console.h"

#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "key_decoder.h"

namespace {

const int STDIN = 0;
const int KEY_AT_END_OF_INPUT = 27;

bool stdin_is_terminal = false;
bool terminal_saved = false;
struct termios saved_mode;
struct termios key_mode;

KeyDecoder decoder;
/* Keys decoded but not yet handed out. */
int queue[64];
int queue_head = 0;
int queue_count = 0;
bool input_ended = false;
/* A byte read ahead from piped input by _kbhit. */
int lookahead = -1;

/* SIGPIPE: the reader of a piped standard output went away (`jointwatch | head`) while the
 * keys still come from the terminal. */
const int ENDING_SIGNALS[] = {SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGPIPE};

void set_key_mode()
{
    if (terminal_saved)
        tcsetattr(STDIN, TCSANOW, &key_mode);
}

void restore_mode()
{
    if (terminal_saved)
        tcsetattr(STDIN, TCSANOW, &saved_mode);
}

void restore_at_exit() { restore_mode(); }

/* Gives the terminal back and lets the signal's default action take over. */
void restore_and_default(int signal_number)
{
    restore_mode();
    struct sigaction plain {};
    plain.sa_handler = SIG_DFL;
    sigemptyset(&plain.sa_mask);
    sigaction(signal_number, &plain, nullptr);
}

void on_ending_signal(int signal_number)
{
    int saved_errno = errno;
    restore_and_default(signal_number);
    /* Delivered by the default action as soon as this handler returns and the signal
     * is unblocked again. */
    raise(signal_number);
    errno = saved_errno;
}

void on_stop_signal(int signal_number);

void install(int signal_number, void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal_number, &action, nullptr);
}

void on_stop_signal(int signal_number)
{
    int saved_errno = errno;
    restore_and_default(signal_number);
    sigset_t just_this;
    sigemptyset(&just_this);
    sigaddset(&just_this, signal_number);
    pthread_sigmask(SIG_UNBLOCK, &just_this, nullptr);
    raise(signal_number); /* stops here until SIGCONT */
    install(signal_number, on_stop_signal);
    /* Continued, or never stopped (an orphaned process group ignores the stop). */
    if (terminal_saved && tcgetpgrp(STDIN) == getpgrp())
        set_key_mode();
    errno = saved_errno;
}

void on_continue(int)
{
    int saved_errno = errno;
    /* Only in the foreground: a program continued in the background leaves the
     * terminal to the shell. */
    if (terminal_saved && tcgetpgrp(STDIN) == getpgrp())
        set_key_mode();
    errno = saved_errno;
}

bool handler_is_default(int signal_number)
{
    struct sigaction current {};
    if (sigaction(signal_number, nullptr, &current) != 0)
        return false;
    return (current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_DFL;
}

__attribute__((constructor)) void start_console()
{
    stdin_is_terminal = isatty(STDIN) != 0;
    key_decoder_reset(&decoder);
    if (!stdin_is_terminal || tcgetattr(STDIN, &saved_mode) != 0)
        return;
    key_mode = saved_mode;
    key_mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    key_mode.c_iflag &= ~static_cast<tcflag_t>(ICRNL | IXON);
    key_mode.c_cc[VMIN] = 1;
    key_mode.c_cc[VTIME] = 0;
    /* TCSANOW: keys typed ahead of the program stay in the queue. */
    if (tcsetattr(STDIN, TCSANOW, &key_mode) != 0)
        return;
    terminal_saved = true;
    std::atexit(restore_at_exit);
    /* A signal the caller chose to ignore (nohup) stays ignored. */
    for (int signal_number : ENDING_SIGNALS) {
        if (handler_is_default(signal_number))
            install(signal_number, on_ending_signal);
    }
    if (handler_is_default(SIGTSTP))
        install(SIGTSTP, on_stop_signal);
    install(SIGCONT, on_continue);
}

void push_key(int key)
{
    if (queue_count == static_cast<int>(sizeof queue / sizeof queue[0]))
        return; /* more keys typed ahead than anybody reads: the newest are dropped */
    queue[(queue_head + queue_count) % (sizeof queue / sizeof queue[0])] = key;
    ++queue_count;
}

int pop_key()
{
    int key = queue[queue_head];
    queue_head = (queue_head + 1) % static_cast<int>(sizeof queue / sizeof queue[0]);
    --queue_count;
    return key;
}

/* Waits up to timeout_ms (-1: for ever) for standard input to become readable. */
bool wait_readable(int timeout_ms)
{
    struct pollfd pfd {};
    pfd.fd = STDIN;
    pfd.events = POLLIN;
    for (;;) {
        int ready = poll(&pfd, 1, timeout_ms);
        if (ready > 0)
            return true;
        if (ready == 0)
            return false;
        if (errno != EINTR)
            return true; /* let read() report the failure */
    }
}

/* Reads what the terminal has and decodes it. False at end of input. */
bool read_terminal()
{
    unsigned char bytes[32];
    ssize_t got;
    do {
        got = read(STDIN, bytes, sizeof bytes);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        input_ended = true;
        return false;
    }
    for (ssize_t i = 0; i < got; ++i) {
        int keys[KEY_DECODER_MAX_OUT];
        int n = key_decoder_feed(&decoder, bytes[i], keys);
        for (int k = 0; k < n; ++k)
            push_key(keys[k]);
    }
    return true;
}

void expire_escape()
{
    int keys[KEY_DECODER_MAX_OUT];
    int n = key_decoder_expire(&decoder, keys);
    for (int k = 0; k < n; ++k)
        push_key(keys[k]);
}

/* Brings in what has arrived; with a sequence begun, waits up to the escape window
 * for its rest. With block set, waits for at least one key. */
void gather_terminal_keys(bool block)
{
    for (;;) {
        if (queue_count > 0 && !key_decoder_pending(&decoder))
            return;
        if (input_ended) {
            expire_escape();
            return;
        }
        int timeout = key_decoder_pending(&decoder) ? KEY_ESCAPE_WAIT_MS : (block ? -1 : 0);
        if (!wait_readable(timeout)) {
            if (key_decoder_pending(&decoder))
                expire_escape();
            if (queue_count > 0 || !block)
                return;
            continue;
        }
        read_terminal();
    }
}

/* Piped input: one byte is one key. */
int read_piped_byte()
{
    if (input_ended)
        return -1;
    unsigned char byte;
    ssize_t got;
    do {
        got = read(STDIN, &byte, 1);
    } while (got < 0 && errno == EINTR);
    if (got != 1) {
        input_ended = true;
        return -1;
    }
    return byte;
}

} // namespace

int keys_from_terminal(void) { return stdin_is_terminal ? 1 : 0; }

int _kbhit(void)
{
    if (!stdin_is_terminal) {
        if (lookahead >= 0)
            return 1;
        if (input_ended || !wait_readable(0))
            return 0;
        lookahead = read_piped_byte();
        return lookahead >= 0 ? 1 : 0;
    }
    if (queue_count == 0)
        gather_terminal_keys(false);
    return queue_count > 0 ? 1 : 0;
}

int _getch(void)
{
    std::fflush(stdout);
    if (!stdin_is_terminal) {
        int key = lookahead >= 0 ? lookahead : read_piped_byte();
        lookahead = -1;
        return key >= 0 ? key : KEY_AT_END_OF_INPUT;
    }
    if (queue_count == 0)
        gather_terminal_keys(true);
    return queue_count > 0 ? pop_key() : KEY_AT_END_OF_INPUT;
}

void Sleep(unsigned long milliseconds)
{
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    struct timespec rest;
    rest.tv_sec = static_cast<time_t>(milliseconds / 1000);
    rest.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

std::uint32_t GetTickCount(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                       static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

namespace {

struct ThreadStart {
    void (*fn)(void*);
    void* arg;
};

void* run_thread(void* raw)
{
    ThreadStart start = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    start.fn(start.arg);
    return nullptr;
}

} // namespace

std::uintptr_t _beginthread(void (*fn)(void*), unsigned stack_size, void* arg)
{
    if (fn == nullptr)
        return 0;
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0)
        return 0;
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (stack_size != 0) {
        std::size_t size = stack_size;
        if (size < static_cast<std::size_t>(PTHREAD_STACK_MIN))
            size = static_cast<std::size_t>(PTHREAD_STACK_MIN);
        pthread_attr_setstacksize(&attributes, size);
    }
    ThreadStart* start = new (std::nothrow) ThreadStart{fn, arg};
    if (start == nullptr) {
        pthread_attr_destroy(&attributes);
        return 0;
    }
    pthread_t thread;
    int failed = pthread_create(&thread, &attributes, run_thread, start);
    pthread_attr_destroy(&attributes);
    if (failed != 0) {
        delete start;
        return 0;
    }
    return 1;
}
