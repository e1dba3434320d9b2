// servosim: the simulated servo chain behind a pseudo-terminal. A tool opens the slave side
// as its serial port; the speed it sets there is the bus speed the servos hear.
//
//   servosim [OPTIONS] [--link PATH] [--trace]
//
// The first line of standard output is the slave's path. Serves until SIGINT or SIGTERM.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "arguments.h"
#include "pty_speed.h"
#include "sim_chain.h"

#if defined(__linux__) && defined(EXTPROC) && defined(TIOCPKT_IOCTL)
#define SPEED_CHANGES_REPORTED 1
#endif

static volatile sig_atomic_t stop_requested = 0;
static std::string link_path;
static int master_fd = -1;
static int slave_keeper_fd = -1;
// Longest wait between two looks at the line, also how soon a departed client's exclusive
// mode is cleared for the next one.
static const long IDLE_TICK_US = 5000;

static void on_stop_signal(int) { stop_requested = 1; }

static void print_usage()
{
    std::fprintf(stderr,
                 "usage: servosim [OPTIONS] [--link PATH] [--trace]\n"
                 "  OPTIONS: comma-separated, e.g. ids=1-3@35+7@1+8-9#1060,timing=wire,drop=0.1\n");
}

static bool open_pty(std::string& slave_path)
{
    master_fd = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_fd < 0 || grantpt(master_fd) != 0 || unlockpt(master_fd) != 0) {
        std::fprintf(stderr, "servosim: cannot open a pseudo-terminal: %s\n", std::strerror(errno));
        return false;
    }
    const char* name = ptsname(master_fd);
    if (!name) {
        std::fprintf(stderr, "servosim: no slave side: %s\n", std::strerror(errno));
        return false;
    }
    slave_path = name;
    // Raw both ways, so every byte passes unchanged even before a client sets its mode.
    struct termios mode;
    if (tcgetattr(master_fd, &mode) == 0) {
        cfmakeraw(&mode);
#if defined(SPEED_CHANGES_REPORTED)
        // Every change of the client's settings is then reported in packet mode, ahead of
        // the bytes sent after it (a client's raw mode keeps this flag).
        mode.c_lflag |= EXTPROC;
#endif
        tcsetattr(master_fd, TCSANOW, &mode);
    }
#if defined(SPEED_CHANGES_REPORTED)
    int on = 1;
    ioctl(master_fd, TIOCPKT, &on);
#endif
    // Holding the slave open keeps the master readable between clients: tools open and
    // close the line one after another against one servosim.
    slave_keeper_fd = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave_keeper_fd < 0) {
        std::fprintf(stderr, "servosim: cannot open %s: %s\n", name, std::strerror(errno));
        return false;
    }
    fcntl(master_fd, F_SETFL, fcntl(master_fd, F_GETFL) | O_NONBLOCK);
    return true;
}

// Where the symbolic link at link_path points; "" when it is none or cannot be read.
static std::string link_target()
{
    char target[4096];
    const ssize_t length = readlink(link_path.c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}

// True when path is a terminal that some process holds open: a pseudo-terminal's slave
// opens only while its master side is open (another servosim, or any program's terminal).
static bool terminal_in_use(const std::string& path)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode))
        return false;
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return errno == EBUSY; // held in exclusive mode by its user
    const bool terminal = isatty(fd) != 0;
    close(fd);
    return terminal;
}

// Points link_path at the slave. A link to an open terminal other than ours belongs to a
// server still running: taking it over would cut that server's clients off, and its exit
// would remove our link. A stale link (to nothing, or to our own slave) is replaced.
// Returns 0 on success, otherwise the exit status.
static int make_link(const std::string& slave_path)
{
    struct stat info;
    if (lstat(link_path.c_str(), &info) == 0) {
        if (!S_ISLNK(info.st_mode)) {
            std::fprintf(stderr, "servosim: %s exists and is no symbolic link\n",
                         link_path.c_str());
            return 1;
        }
        const std::string target = link_target();
        if (target != slave_path && terminal_in_use(link_path)) {
            std::fprintf(stderr,
                         "servosim: %s already links to %s, a terminal in use (another servosim "
                         "serves it?)\n",
                         link_path.c_str(), target.c_str());
            return 2;
        }
        unlink(link_path.c_str());
    }
    if (symlink(slave_path.c_str(), link_path.c_str()) != 0) {
        std::fprintf(stderr, "servosim: cannot link %s: %s\n", link_path.c_str(),
                     std::strerror(errno));
        return 1;
    }
    return 0;
}

// Servos answer within microseconds whatever else the computer does. On a busy machine a
// plain process may wait milliseconds for the processor and miss the client's time-out, so
// ask for real-time scheduling (it sleeps in pselect between packets and spins only through
// the last SIM_SPIN_US before a reply byte is due), or at least a better nice value; without
// the privilege it runs as it is.
static void ask_for_prompt_scheduling()
{
#if defined(__linux__)
    struct sched_param priority;
    std::memset(&priority, 0, sizeof priority);
    priority.sched_priority = 1;
    if (sched_setscheduler(0, SCHED_FIFO, &priority) == 0)
        return;
#endif
    if (nice(-5) == -1) {
        // Not permitted: stay as we are.
    }
}

static void send_due_replies(SimChain* chain)
{
    unsigned char buffer[512];
    int count;
    while ((count = sim_chain_take(chain, buffer, sizeof buffer)) > 0) {
        int done = 0;
        while (done < count) {
            ssize_t written = write(master_fd, buffer + done, static_cast<size_t>(count - done));
            if (written > 0) {
                done += static_cast<int>(written);
            } else if (written < 0 && errno == EINTR) {
                continue;
            } else {
                // Nobody reads the slave and its queue is full: the bytes are lost, as on a line.
                done = count;
            }
        }
    }
}

static void spin_until_due(SimChain* chain)
{
    while (!stop_requested) {
        long due = sim_chain_next_due_us(chain);
        if (due <= 0)
            return;
    }
}

// The speed at which the bytes not yet read were sent. A client on a USB adapter changes
// speed as soon as its last packet has had its wire time, which can be before this process
// is scheduled to read it; so the speed counts as changed where the client changed it in
// the stream (reported in packet mode), not when the bytes happen to be read.
static long sent_bps = -1;
// False once a client cleared the flag that reports its changes: the speed is then taken
// as it is when the bytes are read.
static bool changes_reported = false;

static void feed_read_bytes(SimChain* chain, unsigned char* buffer, int size, int count)
{
#if defined(SPEED_CHANGES_REPORTED)
    if (count == 1 && buffer[0] != TIOCPKT_DATA) {
        // A report of changed settings may follow another one at once: take each.
        while (count == 1 && (buffer[0] & TIOCPKT_IOCTL)) {
            const long before = sent_bps;
            sent_bps = pty_line_speed(master_fd);
            struct termios mode;
            changes_reported = tcgetattr(master_fd, &mode) == 0 && (mode.c_lflag & EXTPROC);
            // Bytes still queued were sent just before the change or just after it. A
            // client waits for the answer (or its time-out) to every packet but one sent to
            // the broadcast id before it changes speed, so only such a packet can be left
            // from before; anything else went out after the change.
            const ssize_t queued = read(master_fd, buffer, static_cast<size_t>(size));
            count = queued > 0 ? static_cast<int>(queued) : 0;
            if (count > 1 && buffer[0] == TIOCPKT_DATA) {
                const bool broadcast =
                    (count >= 4 && buffer[1] == 0xFF && buffer[2] == 0xFF && buffer[3] == 0xFE) ||
                    (count >= 6 && buffer[1] == 0xFF && buffer[2] == 0xFF && buffer[3] == 0xFD &&
                     buffer[4] == 0x00 && buffer[5] == 0xFE);
                sim_chain_feed(chain, buffer + 1, count - 1, broadcast ? before : sent_bps);
            }
        }
        return;
    }
    ++buffer;
    --count;
#else
    (void)size;
#endif
    if (!changes_reported)
        sent_bps = pty_line_speed(master_fd);
    sim_chain_feed(chain, buffer, count, sent_bps);
}

static void serve(SimChain* chain)
{
    unsigned char buffer[4096];
    sent_bps = pty_line_speed(master_fd);
#if defined(SPEED_CHANGES_REPORTED)
    changes_reported = true;
#endif
    while (!stop_requested) {
        // A client's exclusive mode would outlive it while we hold the slave open, and lock
        // out the next tool; the client's own lock on the file still keeps two tools apart.
        ioctl(slave_keeper_fd, TIOCNXCL);
        long due = sim_chain_next_due_us(chain);
        if (due > 0 && due <= SIM_SPIN_US) {
            // A sleep overshoots by tens of microseconds: spin through the last stretch so
            // the byte leaves when the model says.
            spin_until_due(chain);
            send_due_replies(chain);
            continue;
        }
        long wait_us = due < 0 || due > IDLE_TICK_US ? IDLE_TICK_US
                                                     : due - (due > SIM_SPIN_US ? SIM_SPIN_US : 0);
        struct timespec timeout = {0, wait_us * 1000L};
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(master_fd, &readable);
        if (pselect(master_fd + 1, &readable, nullptr, nullptr, &timeout, nullptr) > 0) {
            ssize_t count = read(master_fd, buffer, sizeof buffer);
            if (count > 0) {
                feed_read_bytes(chain, buffer, sizeof buffer, static_cast<int>(count));
            } else if (count == 0 || (errno != EAGAIN && errno != EINTR)) {
                // A hang-up or error: do not spin on it.
                struct timespec pause = {0, 1000000L};
                nanosleep(&pause, nullptr);
            }
        }
        send_due_replies(chain);
    }
}

int main(int argc, char** argv)
{
    std::string options;
    bool trace = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--trace") {
            trace = true;
        } else if (arg == "--link") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "servosim: --link needs a path\n");
                return 2;
            }
            link_path = argv[++i];
        } else if (arg == "--version") {
            arg_answer_help(argv[i], "servosim", "");
            return 0;
        } else if (arg == "-h" || arg == "--help") {
            print_usage();
            return 0;
        } else if (arg.compare(0, 2, "--") == 0) {
            std::fprintf(stderr, "servosim: unknown argument %s\n", arg.c_str());
            print_usage();
            return 2;
        } else {
            if (!options.empty())
                options += ',';
            options += arg;
        }
    }
    // A stall would hang the server, and a modelled USB chip belongs to the client's side.
    for (const char* in_process_only : {"stall=", "latency="}) {
        if (options.find(in_process_only) != std::string::npos) {
            std::fprintf(stderr,
                         "servosim: %s works only in the process (KINETRON_DEVICE=sim:%s...)\n",
                         in_process_only, in_process_only);
            return 2;
        }
    }
    char reason[512] = "";
    SimChain* chain = sim_chain_create(options.c_str(), reason, sizeof reason);
    if (!chain) {
        std::fprintf(stderr, "servosim: %s\n", reason);
        return 2;
    }
    if (trace)
        sim_chain_set_trace(chain, 1);

    std::string slave_path;
    if (!open_pty(slave_path)) {
        sim_chain_destroy(chain);
        return 1;
    }
    if (!link_path.empty()) {
        const int status = make_link(slave_path);
        if (status != 0) {
            sim_chain_destroy(chain);
            return status;
        }
    }

    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::printf("%s\n", slave_path.c_str());
    std::fflush(stdout);

    ask_for_prompt_scheduling();
    serve(chain);

    // Another server may have taken the link over since (after ours looked dead to it).
    if (!link_path.empty() && link_target() == slave_path)
        unlink(link_path.c_str());
    close(slave_keeper_fd);
    close(master_fd);
    sim_chain_destroy(chain);
    return 0;
}
