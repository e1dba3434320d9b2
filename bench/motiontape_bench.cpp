#include "motiontape_bench.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_model.h"
#include "bench_report.h"
#include "pty_session.h"

namespace bench {

namespace {

constexpr int SERVOS = 18;
constexpr int RECORD_SECONDS = 3;
constexpr int LATENCY_MS = 1;
constexpr int DRIFT_SECONDS = 60;
constexpr int DRIFT_DELAY_MS = 20;
// FAST_SYNC_READ of 8 bytes from 18 servos: the instruction (header, id, length, instruction,
// address, count, the ids, CRC) and the one combined reply (header, id, length, instruction,
// then per servo error, id, 8 bytes and CRC).
constexpr int FAST_READ_BYTES = 10 + 4 + SERVOS;
constexpr int FAST_REPLY_BYTES = 8 + SERVOS * (1 + 1 + 8 + 2);

const char* const RECORD_CHAIN = "sim:ids=1-18#1060@3,latency=1,timing=wire,delay=0";
const char* const PLAY_CHAIN = "sim:ids=1-18#1060@3,timing=wire,delay=0";

// A frame through the adapter: both packets on the wire at 1 Mbps (baud number 1), no
// return delay, the chip's latency timer, then the host takes the reply at the next whole
// USB frame.
double record_model_fps()
{
    const double us = wire_us(FAST_READ_BYTES + FAST_REPLY_BYTES, 1) + LATENCY_MS * 1e3;
    return 1000.0 / std::ceil(us / 1e3);
}

void record_row(const std::string& dir)
{
    const std::string file = dir + "/record.csv";
    harness::PtySession session;
    if (!session.start({harness::bin_path("motiontape"), "record", file, "1-18"},
                       {std::string("KINETRON_DEVICE=") + RECORD_CHAIN}) ||
        !session.wait_for("ESC to stop.\n", 20000)) {
        std::fprintf(stderr, "bench: motiontape record did not start:\n%s\n",
                     session.output().c_str());
        return;
    }
    session.send(" ");
    // A measuring window, not a wait for an event: the frame lines carry their own times.
    std::this_thread::sleep_for(std::chrono::seconds(RECORD_SECONDS));
    session.send(harness::KEY_ESC);
    session.wait_exit(10000);

    std::ifstream in(file);
    std::string line;
    int number = 0, frames = 0, failed = 0;
    long ms = 0;
    std::vector<double> delays;
    while (std::getline(in, line)) {
        if (++number <= 3)
            continue;       // the comment, type and ID lines
        if (++frames > 1) { // the first frame's delay is the wait for the key
            ms += std::atol(line.c_str());
            delays.push_back(std::atof(line.c_str()));
        }
        for (std::size_t at = line.find("rx"); at != std::string::npos;
             at = line.find("rx", at + 2))
            ++failed;
    }
    if (frames < 2 || ms <= 0)
        return;
    const double fps = (frames - 1) * 1000.0 / ms;
    report_row("motiontape record 18 x 1060, 1 ms adapter", fps, record_model_fps(), "frames/s");
    char note[300];
    // The delays are whole milliseconds: the median shows a frame undisturbed by the rest of
    // the machine, the mean (the row) what the frames took on average.
    std::snprintf(note, sizeof note,
                  "motiontape record: %d frames, %d values failed, frame median %.0f ms, p90 %.0f "
                  "ms; one FAST_SYNC_READ a frame (posetape REC reads each servo twice: 13.9 "
                  "frames/s through this adapter)",
                  frames, failed, median(delays), percentile(delays, 90));
    report_note(note);
    report_summary("motiontape_rec_fps", fps, 1);
}

bool write_drift_file(const std::string& path)
{
    std::ofstream out(path);
    out << "// motiontape protocol 2 bps 1000000 models";
    for (int k = 0; k < SERVOS; ++k)
        out << " 1060";
    out << "\nFILETYPE: AbsolutePositions\n";
    for (int k = 1; k <= SERVOS; ++k)
        out << k << (k < SERVOS ? "," : "\n");
    const int frames = DRIFT_SECONDS * 1000 / DRIFT_DELAY_MS;
    for (int f = 0; f < frames; ++f) {
        out << DRIFT_DELAY_MS;
        for (int k = 0; k < SERVOS; ++k)
            out << "," << 2048 + static_cast<int>(600 * std::sin(f / 50.0 + k));
        out << "\n";
    }
    return static_cast<bool>(out);
}

void drift_row(const std::string& dir)
{
    const std::string file = dir + "/drift.csv";
    if (!write_drift_file(file))
        return;
    harness::Process play;
    if (!play.start({harness::bin_path("motiontape"), "play", file},
                    {std::string("KINETRON_DEVICE=") + PLAY_CHAIN}) ||
        play.wait_exit((DRIFT_SECONDS + 60) * 1000) != 0) {
        std::fprintf(stderr, "bench: motiontape play failed:\n%s\n", play.stderr_text().c_str());
        return;
    }
    // "played N frames x 1 in T s; their delays: D s"
    const std::string err = play.stderr_text();
    const std::size_t in = err.rfind(" in "), delays = err.rfind("delays: ");
    if (in == std::string::npos || delays == std::string::npos)
        return;
    const double played = std::atof(err.c_str() + in + 4);
    const double model = std::atof(err.c_str() + delays + 8);
    report_row("motiontape play 60 s, 18 x 1060, first packet to last pause", played, model, "s");
    report_summary("motiontape_play_drift", model > 0 ? played / model : 0, 4);
}

} // namespace

void run_motiontape_bench()
{
    const std::string dir = harness::temp_dir();
    record_row(dir);
    drift_row(dir);
}

} // namespace bench
