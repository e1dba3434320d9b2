#include "adapter_bench.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_model.h"
#include "bench_report.h"
#include "exchange_bench.h"
#include "kinetron.h"
#include "posetape_bench.h"

namespace bench {

namespace {

constexpr double FACTORY_RETURN_DELAY_US = 500;
constexpr double USB_FRAME_MS = 1;

// A word read through the adapter: both packets on the wire, the servo's return delay and
// the chip's latency timer, then the host takes the reply at the next whole USB frame.
double exchange_model_ms(int latency_ms)
{
    const double us = wire_us(READ_PACKET_BYTES + WORD_REPLY_BYTES, 1) + FACTORY_RETURN_DELAY_US +
                      latency_ms * 1e3;
    return USB_FRAME_MS * std::ceil(us / 1e3 / USB_FRAME_MS);
}

void one_read(int latency_ms, int count)
{
    const std::string device = "sim:ids=1,baud=1,timing=wire,latency=" + std::to_string(latency_ms);
    setenv("KINETRON_DEVICE", device.c_str(), 1);
    if (!bus_open()) {
        std::fprintf(stderr, "bench: cannot open %s\n", device.c_str());
        unsetenv("KINETRON_DEVICE");
        return;
    }
    bus_change_baud(1);
    int failures = 0;
    std::vector<double> samples = time_word_reads(count, failures);
    for (double& sample : samples)
        sample /= 1000; // in ms
    bus_close();
    unsetenv("KINETRON_DEVICE");
    char figure[80];
    std::snprintf(figure, sizeof figure, "word read, adapter latency %d ms", latency_ms);
    const double med = median(samples);
    report_row(figure, med, exchange_model_ms(latency_ms), "ms");
    char note[160];
    std::snprintf(note, sizeof note, "%s: %d reads, %d failed, p10 %.2f ms, p90 %.2f ms", figure,
                  count, failures, percentile(samples, 10), percentile(samples, 90));
    report_note(note);
    report_summary("read_ms_usb" + std::to_string(latency_ms), med, 2);
}

} // namespace

void run_adapter_bench()
{
    for (int latency_ms : {1, 16}) {
        one_read(latency_ms, latency_ms > 4 ? 100 : 500);
        run_adapter_recording_bench(latency_ms, exchange_model_ms(latency_ms));
    }
}

} // namespace bench
