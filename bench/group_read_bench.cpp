#include "group_read_bench.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_report.h"
#include "kinetron.h"
#include "registers.h"

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int SERVOS = 18;
constexpr int BPS = 1000000;
constexpr double USB_FRAME_MS = 1;
constexpr double SECONDS = 3;
constexpr double RETURN_DELAY_UNIT_US = 2;
// What a recorder reads of a protocol 2.0 servo: present velocity and present position.
constexpr int VELOCITY_AND_POSITION_ADDRESS = 128;
constexpr int VELOCITY_AND_POSITION = 8;
// Of a protocol 1.0 servo: present position and present speed.
constexpr int POSITION_AND_SPEED = 4;

double wire_us(int bytes) { return bytes * 10.0 * 1e6 / BPS; }

// Protocol 2.0: header 4, id, length 2, instruction, CRC 2; a status packet adds its error
// byte. Protocol 1.0: FF FF, id, length, instruction or error, checksum.
constexpr int P2_INSTRUCTION_BYTES = 10;
constexpr int P2_STATUS_BYTES = 11;
constexpr int P1_PACKET_BYTES = 6;

// The adapter hands the last reply to the host when its latency timer runs out after the
// last byte, at the next whole USB frame.
double delivered_ms(double wire_and_delays_us, int latency_ms)
{
    return USB_FRAME_MS * std::ceil((wire_and_delays_us + latency_ms * 1e3) / 1e3 / USB_FRAME_MS);
}

// SYNC_READ: the instruction (address 2, length 2, one byte an id), then every servo's own
// status packet, each after its return delay.
double sync_read_model_ms(int delay, int latency_ms)
{
    const double us =
        wire_us(P2_INSTRUCTION_BYTES + 4 + SERVOS) +
        SERVOS * (delay * RETURN_DELAY_UNIT_US + wire_us(P2_STATUS_BYTES + VELOCITY_AND_POSITION));
    return delivered_ms(us, latency_ms);
}

// FAST_SYNC_READ: the same instruction, one packet back: its header, then per servo its
// error, id, data and running CRC, each part after that servo's return delay.
double fast_sync_read_model_ms(int delay, int latency_ms)
{
    const double us = wire_us(P2_INSTRUCTION_BYTES + 4 + SERVOS) +
                      SERVOS * delay * RETURN_DELAY_UNIT_US +
                      wire_us(8 + SERVOS * (4 + VELOCITY_AND_POSITION));
    return delivered_ms(us, latency_ms);
}

// Protocol 1.0 BULK_READ: 00, then length, id, address per servo; every servo answers with
// its own status packet after its return delay.
double bulk_read_1_model_ms(int delay, int latency_ms)
{
    const double us =
        wire_us(P1_PACKET_BYTES + 1 + 3 * SERVOS) +
        SERVOS * (delay * RETURN_DELAY_UNIT_US + wire_us(P1_PACKET_BYTES + POSITION_AND_SPEED));
    return delivered_ms(us, latency_ms);
}

struct GroupRow {
    const char* figure;
    const char* key;
    std::string device;
    int protocol;
    int fast;
    double model_ms;
};

// Frames a second of a recorder's loop: one group read a frame for SECONDS.
void run_row(const GroupRow& row, double rec_fps)
{
    if (!bus_open_device(row.device.c_str()) || !bus_set_bps(BPS)) {
        std::fprintf(stderr, "bench: cannot open %s\n", row.device.c_str());
        bus_close();
        return;
    }
    std::vector<int> ids;
    std::vector<int> addresses;
    std::vector<int> counts;
    const int count = row.protocol == 2 ? VELOCITY_AND_POSITION : POSITION_AND_SPEED;
    for (int id = 1; id <= SERVOS; ++id) {
        ids.push_back(id);
        addresses.push_back(ADDR_PRESENT_POSITION);
        counts.push_back(count);
    }
    std::vector<unsigned char> out(SERVOS * count);
    int frames = 0;
    int missed = 0;
    const Clock::time_point start = Clock::now();
    double seconds = 0;
    while (seconds < SECONDS) {
        const int good =
            row.protocol == 2
                ? bus_sync_read(row.fast, SERVOS, ids.data(), VELOCITY_AND_POSITION_ADDRESS, count,
                                out.data(), nullptr, nullptr)
                : bus_bulk_read(1, 0, SERVOS, ids.data(), addresses.data(), counts.data(),
                                out.data(), nullptr, nullptr);
        missed += SERVOS - good;
        ++frames;
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
    }
    bus_close();
    const double fps = frames / seconds;
    report_row(row.figure, fps, 1000.0 / row.model_ms, "frames/s");
    char note[240];
    std::snprintf(note, sizeof note, "%s: %d frames, %d servo reads missed, %.2f times REC's",
                  row.figure, frames, missed, rec_fps > 0 ? fps / rec_fps : 0.0);
    report_note(note);
    report_summary(std::string(row.key) + "_ratio", fps * row.model_ms / 1000.0, 3);
    report_summary(std::string(row.key) + "_over_rec", rec_fps > 0 ? fps / rec_fps : 0, 2);
}

} // namespace

void run_group_read_bench(int latency_ms, double rec_fps)
{
    const std::string chain = "sim:ids=1-18#1060,timing=wire,latency=" + std::to_string(latency_ms);
    const std::string chain29 =
        "sim:ids=1-18#29@1,timing=wire,latency=" + std::to_string(latency_ms);
    const GroupRow rows[] = {
        {"SYNC_READ 18 x 1060, return delay 250", "sync_read_1060_delay250", chain, 2, 0,
         sync_read_model_ms(250, latency_ms)},
        {"SYNC_READ 18 x 1060, return delay 0", "sync_read_1060_delay0", chain + ",delay=0", 2, 0,
         sync_read_model_ms(0, latency_ms)},
        {"FAST_SYNC_READ 18 x 1060, return delay 250", "fast_sync_read_1060_delay250", chain, 2, 1,
         fast_sync_read_model_ms(250, latency_ms)},
        {"FAST_SYNC_READ 18 x 1060, return delay 0", "fast_sync_read_1060_delay0",
         chain + ",delay=0", 2, 1, fast_sync_read_model_ms(0, latency_ms)},
        {"BULK_READ (1.0) 18 x 29, return delay 250", "bulk_read_29_delay250", chain29, 1, 0,
         bulk_read_1_model_ms(250, latency_ms)},
    };
    for (const GroupRow& row : rows)
        run_row(row, rec_fps);
}

} // namespace bench
