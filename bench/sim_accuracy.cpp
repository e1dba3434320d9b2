#include "sim_accuracy.h"

#include <fcntl.h>
#include <sched.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "bench_model.h"
#include "bench_report.h"
#include "pty_session.h"

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int SERVO = 1;

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

// Sends the packet and spins until `expect` bytes came back or `limit_us` passed; the
// microseconds from the write to the last byte, or -1.
double exchange_spinning(int fd, const std::vector<std::uint8_t>& packet, std::size_t expect,
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
        const ssize_t n = ::read(fd, scratch, sizeof scratch);
        const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            if (got >= expect)
                return us;
        }
        if (us > limit_us)
            return -1;
        sched_yield();  // on a busy machine the simulator needs the core more than we do
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
    ::cfsetispeed(&mode, B1000000);  // baud number 1
    ::cfsetospeed(&mode, B1000000);
    ::tcsetattr(fd, TCSANOW, &mode);
    return fd;
}

void timed_reads(int fd, int return_delay)
{
    exchange_spinning(fd, instruction(SERVO, 3, {5, static_cast<std::uint8_t>(return_delay)}), 6,
                      100000);
    const std::vector<std::uint8_t> read = instruction(SERVO, 2, {36, 2});
    std::vector<double> samples;
    int lost = 0;
    for (int i = 0; i < 1500; ++i) {
        const double us = exchange_spinning(fd, read, WORD_REPLY_BYTES, 20000);
        if (us < 0)
            ++lost;
        else if (i >= 50)
            samples.push_back(us);
    }
    const double model = wire_us(READ_PACKET_BYTES + WORD_REPLY_BYTES, 1) + 2.0 * return_delay;
    char figure[80];
    std::snprintf(figure, sizeof figure, "servosim alone, word read, delay %d us", 2 * return_delay);
    report_row(figure, median(samples), model, "us");
    char note[200];
    std::snprintf(note, sizeof note,
                  "servosim alone, delay %d us: p10 %.0f us, p90 %.0f us, p99 %.0f us, %d lost",
                  2 * return_delay, percentile(samples, 10), percentile(samples, 90),
                  percentile(samples, 99), lost);
    report_note(note);
}

} // namespace

void run_sim_accuracy()
{
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
