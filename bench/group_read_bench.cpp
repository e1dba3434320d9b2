#include "group_read_bench.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_report.h"
#include "kinetron.h"

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int SERVOS = 18;
constexpr int BPS = 1000000;
constexpr int LATENCY_MS = 1;
constexpr double SECONDS = 2;
// The adapter's chip: data bytes of one USB packet, and the host's USB frame.
constexpr int USB_PACKET_DATA = 62;
constexpr double USB_FRAME_US = 1000;
// Protocol 2.0 models: present velocity and present position, 8 bytes from 128. Protocol
// 1.0 model 29: present position and present speed, 4 bytes from 36.
constexpr int ADDRESS2 = 128, COUNT2 = 8;
constexpr int ADDRESS1 = 36, COUNT1 = 4;

enum Kind { SYNC_READ, FAST_SYNC_READ, BULK_READ_1 };

struct Case {
    Kind kind;
    int return_delay; // register value, 2 us units
    const char* name;
    const char* key;
};

double byte_us() { return 10.0 * 1e6 / BPS; }

// Bytes of the instruction and of each servo's reply on the wire (a fast read's first part
// carries the combined packet's header, its last the end).
int instruction_bytes(Kind kind)
{
    return kind == BULK_READ_1 ? 6 + 1 + 3 * SERVOS : 10 + 4 + SERVOS;
}
int reply_bytes(Kind kind, int k)
{
    switch (kind) {
    case SYNC_READ:
        return 11 + COUNT2;
    case FAST_SYNC_READ:
        return (k == 0 ? 8 : 0) + 4 + COUNT2;
    case BULK_READ_1:
        break;
    }
    return 6 + COUNT1;
}

// Microseconds of one frame: the instruction, then each servo's return delay and reply one
// after the other; the adapter's chip sends what it gathered when 62 bytes wait or its
// latency timer (started by the first byte) runs out, and the host takes it at the next
// USB frame counted from its write.
double frame_model_us(const Case& c)
{
    std::vector<double> arrival;
    double t = instruction_bytes(c.kind) * byte_us();
    for (int k = 0; k < SERVOS; ++k) {
        t += c.return_delay * 2.0;
        for (int b = 0; b < reply_bytes(c.kind, k); ++b)
            arrival.push_back(t += byte_us());
    }
    double host_has = 0;
    for (std::size_t at = 0; at < arrival.size();) {
        const double timer_end = arrival[at] + LATENCY_MS * 1000.0;
        std::size_t taken = 0;
        while (at + taken < arrival.size() && taken < USB_PACKET_DATA &&
               arrival[at + taken] <= timer_end)
            ++taken;
        const double sent = taken == USB_PACKET_DATA ? arrival[at + taken - 1] : timer_end;
        host_has = USB_FRAME_US * static_cast<long long>((sent + USB_FRAME_US - 1) / USB_FRAME_US);
        at += taken;
    }
    return host_has;
}

std::string device(const Case& c)
{
    const std::string model = c.kind == BULK_READ_1 ? "#29@1" : "#1060";
    return "sim:ids=1-" + std::to_string(SERVOS) + model +
           ",timing=wire,latency=" + std::to_string(LATENCY_MS) +
           ",delay=" + std::to_string(c.return_delay);
}

void measure(const Case& c, double rec_fps)
{
    const std::string line = device(c);
    if (!bus_open_device(line.c_str()) || !bus_set_bps(BPS)) {
        std::fprintf(stderr, "bench: cannot open %s\n", line.c_str());
        return;
    }
    std::vector<int> ids, addresses(SERVOS, ADDRESS1), counts(SERVOS, COUNT1);
    for (int id = 1; id <= SERVOS; ++id)
        ids.push_back(id);
    unsigned char out[SERVOS * COUNT2];
    int frames = 0, failed = 0;
    double seconds = 0;
    const Clock::time_point start = Clock::now();
    while (seconds < SECONDS) {
        const int good = c.kind == BULK_READ_1
                             ? bus_bulk_read(1, 0, SERVOS, ids.data(), addresses.data(),
                                             counts.data(), out, nullptr, nullptr)
                             : bus_sync_read(c.kind == FAST_SYNC_READ, SERVOS, ids.data(), ADDRESS2,
                                             COUNT2, out, nullptr, nullptr);
        failed += SERVOS - good;
        ++frames;
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
    }
    bus_close();
    const double fps = frames / seconds;
    const double model = 1e6 / frame_model_us(c);
    report_row(c.name, fps, model, "frames/s");
    char note[240];
    std::snprintf(note, sizeof note,
                  "%s: %d frames, %d servo reads failed, %.2f times REC's frames/s", c.name, frames,
                  failed, rec_fps > 0 ? fps / rec_fps : 0.0);
    report_note(note);
    report_summary(std::string(c.key) + "_fps", fps, 1);
    report_summary(std::string(c.key) + "_ratio", fps / model, 3);
    report_summary(std::string(c.key) + "_over_rec", rec_fps > 0 ? fps / rec_fps : 0, 2);
}

} // namespace

void run_group_read_bench(double rec_fps)
{
    const Case cases[] = {
        {SYNC_READ, 250, "SYNC_READ 18 servos of 1060, delay 250", "sync_read_delay250"},
        {FAST_SYNC_READ, 250, "FAST_SYNC_READ 18 of 1060, delay 250", "fast_sync_read_delay250"},
        {SYNC_READ, 0, "SYNC_READ 18 servos of 1060, delay 0", "sync_read_delay0"},
        {FAST_SYNC_READ, 0, "FAST_SYNC_READ 18 of 1060, delay 0", "fast_sync_read_delay0"},
        {BULK_READ_1, 250, "protocol 1.0 BULK_READ 18 servos of 29", "bulk_read1"},
    };
    for (const Case& c : cases)
        measure(c, rec_fps);
}

} // namespace bench
