#include "adapter_bench.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_model.h"
#include "bench_report.h"
#include "exchange_bench.h"
#include "group_read_bench.h"
#include "kinetron.h"
#include "posetape_bench.h"
#include "registers.h"

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr double FACTORY_RETURN_DELAY_US = 500;
constexpr double USB_FRAME_MS = 1;
constexpr int SERVOS = 18;
constexpr int TRIES = 10;             // as the tools' reads with retry
constexpr int POSITION_AND_SPEED = 4; // bytes from the present position on
constexpr int BLOCK_REPLY_BYTES = 6 + POSITION_AND_SPEED;
constexpr double BLOCK_RECORD_SECONDS = 3;

// The chain behind a modelled adapter: servos `ids` at baud number 1, wire timing.
std::string adapter_device(const std::string& ids, int latency_ms)
{
    return "sim:ids=" + ids + ",baud=1,timing=wire,latency=" + std::to_string(latency_ms);
}

// A read through the adapter: both packets on the wire, the servo's return delay and the
// chip's latency timer, then the host takes the reply at the next whole USB frame.
double exchange_model_ms(int latency_ms, int reply_bytes = WORD_REPLY_BYTES)
{
    const double us =
        wire_us(READ_PACKET_BYTES + reply_bytes, 1) + FACTORY_RETURN_DELAY_US + latency_ms * 1e3;
    return USB_FRAME_MS * std::ceil(us / 1e3 / USB_FRAME_MS);
}

// Opens the modelled adapter at baud number 1; false (and a line on standard error) if not.
bool open_adapter(const std::string& device)
{
    if (bus_open_device(device.c_str())) {
        bus_change_baud(1);
        return true;
    }
    std::fprintf(stderr, "bench: cannot open %s\n", device.c_str());
    return false;
}

void one_read(int latency_ms, int count)
{
    if (!open_adapter(adapter_device("1", latency_ms)))
        return;
    int failures = 0;
    std::vector<double> samples = time_word_reads(count, failures);
    for (double& sample : samples)
        sample /= 1000; // in ms
    bus_close();
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

// The loop of python/examples/record.py: per frame and servo one block read of present
// position and present speed, with up to ten tries, where REC reads the two words apart.
void block_recording(int latency_ms, double rec_fps)
{
    if (!open_adapter(adapter_device("1-" + std::to_string(SERVOS), latency_ms)))
        return;
    unsigned char bytes[POSITION_AND_SPEED];
    int frames = 0;
    int failed = 0;
    const Clock::time_point start = Clock::now();
    double seconds = 0;
    while (seconds < BLOCK_RECORD_SECONDS) {
        for (int id = 1; id <= SERVOS; ++id) {
            int tries = 0;
            while (bus_read_block(id, ADDR_PRESENT_POSITION, POSITION_AND_SPEED, bytes) == 0 &&
                   ++tries < TRIES) {
            }
            failed += tries == TRIES;
        }
        ++frames;
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
    }
    bus_close();
    const double fps = frames / seconds;
    const double limit = 1000.0 / (SERVOS * exchange_model_ms(latency_ms, BLOCK_REPLY_BYTES));
    char figure[80];
    std::snprintf(figure, sizeof figure, "block-read recorder 18 servos, latency %d ms",
                  latency_ms);
    report_row(figure, fps, limit, "frames/s");
    char note[200];
    std::snprintf(note, sizeof note, "%s: %d frames, %d reads failed, %.2f times REC's frames/s",
                  figure, frames, failed, rec_fps > 0 ? fps / rec_fps : 0.0);
    report_note(note);
    const std::string key = "usb" + std::to_string(latency_ms);
    report_summary("block_ratio_" + key, fps / limit, 3);
    report_summary("block_over_rec_" + key, rec_fps > 0 ? fps / rec_fps : 0, 2);
}

} // namespace

void run_adapter_bench()
{
    for (int latency_ms : {1, 16}) {
        one_read(latency_ms, latency_ms > 4 ? 100 : 500);
        const double rec_fps =
            run_adapter_recording_bench(latency_ms, exchange_model_ms(latency_ms));
        if (latency_ms == 1) {
            block_recording(latency_ms, rec_fps);
            run_group_read_bench(rec_fps);
        }
    }
}

} // namespace bench
