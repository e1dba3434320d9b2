#include "exchange_bench.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_model.h"
#include "bench_report.h"
#include "bus_tools.h"
#include "kinetron.h"
#include "pty_session.h"

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int SERVO = 1;
constexpr int ABSENT_SERVO = 100;
constexpr int ADDR_RETURN_DELAY = 5;
constexpr int ADDR_PRESENT_POSITION = 36;
constexpr int FACTORY_RETURN_DELAY = 250; // 2 us units: 500 us

double elapsed_us(Clock::time_point since)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - since).count();
}

bool set_return_delay(int value)
{
    for (int attempt = 0; attempt < 10; ++attempt) {
        bus_write_byte(SERVO, ADDR_RETURN_DELAY, value);
        if (bus_read_byte(SERVO, ADDR_RETURN_DELAY) == value && bus_result() == 1)
            return true;
    }
    std::fprintf(stderr, "bench: the servo does not take return delay %d\n", value);
    return false;
}

void present_reads(int return_delay, int count, const char* figure, double* median_out)
{
    if (!set_return_delay(return_delay))
        return;
    int failures = 0;
    time_word_reads(50, failures); // warm the caches and the scheduler
    const std::vector<double> samples = time_word_reads(count, failures);
    const double model = wire_us(READ_PACKET_BYTES + WORD_REPLY_BYTES, 1) + return_delay * 2.0;
    const double med = median(samples);
    report_row(figure, med, model, "us");
    char note[160];
    std::snprintf(note, sizeof note,
                  "%s: %zu reads, %d failed, p10 %.0f us, p90 %.0f us, p99 %.0f us", figure,
                  samples.size() + failures, failures, percentile(samples, 10),
                  percentile(samples, 90), percentile(samples, 99));
    report_note(note);
    *median_out = med;
}

double absent_reads(int baudnum, int count)
{
    bus_change_baud(baudnum);
    std::vector<double> samples;
    for (int i = 0; i < count; ++i) {
        const Clock::time_point start = Clock::now();
        read_word_retry(ABSENT_SERVO, ADDR_PRESENT_POSITION);
        samples.push_back(elapsed_us(start) / 1000.0);
    }
    const double med = median(samples);
    report_row("absent read with retry, baud " + std::to_string(baudnum), med,
               10 * absent_try_us(baudnum) / 1000.0, "ms");
    return med;
}

} // namespace

std::vector<double> time_word_reads(int count, int& failures)
{
    std::vector<double> samples;
    failures = 0;
    for (int i = 0; i < count; ++i) {
        const Clock::time_point start = Clock::now();
        bus_read_word(SERVO, ADDR_PRESENT_POSITION);
        const double us = elapsed_us(start);
        if (bus_result() != 1)
            ++failures;
        else
            samples.push_back(us);
    }
    return samples;
}

void run_exchange_bench()
{
    harness::Servosim sim("ids=1,baud=1,timing=wire");
    if (sim.device().empty()) {
        std::fprintf(stderr, "bench: servosim did not start\n");
        return;
    }
    setenv("KINETRON_DEVICE", sim.device().c_str(), 1);
    if (!bus_open()) {
        std::fprintf(stderr, "bench: cannot open %s\n", sim.device().c_str());
        return;
    }
    bus_change_baud(1);

    double rd0 = 0, factory = 0;
    present_reads(0, 3000, "word read, baud 1, return delay 0", &rd0);
    present_reads(FACTORY_RETURN_DELAY, 1500, "word read, baud 1, return delay 500 us", &factory);
    const double model_rd0 = wire_us(READ_PACKET_BYTES + WORD_REPLY_BYTES, 1);
    report_summary("exchange_overhead_us", rd0 - model_rd0, 1);
    report_summary("exchange_ratio", factory / (model_rd0 + FACTORY_RETURN_DELAY * 2.0), 3);

    report_summary("absent_read_ms", absent_reads(1, 21), 2);
    report_summary("absent_read_ms_35", absent_reads(35, 11), 2);
    report_summary("absent_read_ms_207", absent_reads(207, 5), 2);
    bus_close();
    unsetenv("KINETRON_DEVICE");
}

} // namespace bench
