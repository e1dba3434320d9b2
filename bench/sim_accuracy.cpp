#include "sim_accuracy.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <vector>

#include "bench_model.h"
#include "bench_report.h"
#include "pty_session.h"

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int SERVO = 1;

double round_trip_median_us = 0;

std::vector<std::uint8_t> instruction(int id, int ins, std::vector<std::uint8_t> params)
{
    std::vector<std::uint8_t> packet{0xFF, 0xFF, static_cast<std::uint8_t>(id),
                                     static_cast<std::uint8_t>(params.size() + 2),
                                     static_cast<std::uint8_t>(ins)};
    unsigned sum = packet[2] + packet[3] + packet[4];
    for (std::uint8_t p : params) {
        packet.push_back(p);
        sum += p;
    }
    packet.push_back(static_cast<std::uint8_t>(~sum & 0xFF));
    return packet;
}

// Sends the packet and waits in ppoll, as any client does, until `expect` bytes came
// back or `limit_us` passed; the microseconds from the write to the last byte, or -1.
// No library code runs: what this adds to the model is the simulator and the line.
double bare_exchange(int fd, const std::vector<std::uint8_t>& packet, std::size_t expect,
                     double limit_us)
{
    std::uint8_t scratch[256];
    while (::read(fd, scratch, sizeof scratch) > 0) {
    }
    const Clock::time_point start = Clock::now();
    if (::write(fd, packet.data(), packet.size()) != static_cast<ssize_t>(packet.size()))
        return -1;
    std::size_t got = 0;
    for (;;) {
        const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        if (us > limit_us)
            return -1;
        const double left = limit_us - us;
        struct pollfd watch = {fd, POLLIN, 0};
        struct timespec wait = {0, static_cast<long>(left * 1000)};
        if (::ppoll(&watch, 1, &wait, nullptr) <= 0)
            continue;
        const ssize_t n = ::read(fd, scratch, sizeof scratch);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            if (got >= expect)
                return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        }
    }
}

int open_client(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct termios mode;
    ::tcgetattr(fd, &mode);
    ::cfmakeraw(&mode);
    ::cfsetispeed(&mode, B1000000); // baud number 1
    ::cfsetospeed(&mode, B1000000);
    ::tcsetattr(fd, TCSANOW, &mode);
    return fd;
}

void timed_reads(int fd, int return_delay)
{
    bare_exchange(fd, instruction(SERVO, 3, {5, static_cast<std::uint8_t>(return_delay)}), 6,
                  100000);
    const std::vector<std::uint8_t> read = instruction(SERVO, 2, {36, 2});
    std::vector<double> samples;
    int lost = 0;
    for (int i = 0; i < 1500; ++i) {
        const double us = bare_exchange(fd, read, WORD_REPLY_BYTES, 20000);
        if (us < 0)
            ++lost;
        else if (i >= 50)
            samples.push_back(us);
    }
    const double model = wire_us(READ_PACKET_BYTES + WORD_REPLY_BYTES, 1) + 2.0 * return_delay;
    char figure[80];
    std::snprintf(figure, sizeof figure, "servosim alone, word read, delay %d us",
                  2 * return_delay);
    report_row(figure, median(samples), model, "us");
    char note[200];
    std::snprintf(note, sizeof note,
                  "servosim alone, delay %d us: p10 %.0f us, p90 %.0f us, p99 %.0f us, %d lost",
                  2 * return_delay, percentile(samples, 10), percentile(samples, 90),
                  percentile(samples, 99), lost);
    report_note(note);
}

// The line itself: eight bytes out and eight back over a bare pseudo-terminal whose far
// side echoes at once, both ends waiting in ppoll as the library and servosim do. What
// the kernel adds to every exchange, however fast the two programs are.
void pty_round_trip()
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return;
    struct termios mode;
    ::tcgetattr(master, &mode);
    ::cfmakeraw(&mode);
    ::tcsetattr(master, TCSANOW, &mode);
    const int client = open_client(::ptsname(master));
    if (client < 0) {
        ::close(master);
        return;
    }
    std::atomic<bool> stop{false};
    std::thread echo([&] {
        std::uint8_t bytes[256];
        while (!stop) {
            struct pollfd watch = {master, POLLIN, 0};
            struct timespec tick = {0, 20 * 1000000L};
            if (::ppoll(&watch, 1, &tick, nullptr) <= 0)
                continue;
            const ssize_t n = ::read(master, bytes, sizeof bytes);
            if (n > 0 && ::write(master, bytes, static_cast<std::size_t>(n)) < 0)
                break;
        }
    });
    const std::uint8_t packet[8] = {0xFF, 0xFF, 1, 4, 2, 36, 2, 0xD2};
    std::vector<double> samples;
    for (int i = 0; i < 2000; ++i) {
        const Clock::time_point start = Clock::now();
        if (::write(client, packet, sizeof packet) != static_cast<ssize_t>(sizeof packet))
            break;
        std::size_t got = 0;
        std::uint8_t reply[64];
        while (got < sizeof packet) {
            struct pollfd watch = {client, POLLIN, 0};
            struct timespec limit = {0, 100 * 1000000L};
            if (::ppoll(&watch, 1, &limit, nullptr) <= 0)
                break;
            const ssize_t n = ::read(client, reply, sizeof reply);
            if (n > 0)
                got += static_cast<std::size_t>(n);
        }
        if (got >= sizeof packet && i >= 50)
            samples.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    stop = true;
    echo.join();
    ::close(client);
    ::close(master);
    round_trip_median_us = median(samples);
    report_row("pseudo-terminal round trip, 8 bytes each way", round_trip_median_us, 0, "us");
    char note[160];
    std::snprintf(note, sizeof note,
                  "pseudo-terminal round trip: p10 %.0f us, p90 %.0f us, p99 %.0f us",
                  percentile(samples, 10), percentile(samples, 90), percentile(samples, 99));
    report_note(note);
}

} // namespace

double pty_round_trip_us() { return round_trip_median_us; }

void run_sim_accuracy()
{
    pty_round_trip();
    harness::Servosim sim("ids=1,baud=1,timing=wire");
    const int fd = sim.device().empty() ? -1 : open_client(sim.device());
    if (fd < 0) {
        std::fprintf(stderr, "bench: servosim did not start\n");
        return;
    }
    timed_reads(fd, 0);
    timed_reads(fd, 250);
    ::close(fd);
}

} // namespace bench
