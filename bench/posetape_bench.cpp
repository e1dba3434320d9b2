#include "posetape_bench.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_model.h"
#include "bench_report.h"
#include "bus_tools.h"
#include "kinetron.h"
#include "pty_session.h"
#include "sim_accuracy.h"

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

// No servo listens at any baud number the scans use: one servo at baud number 0, which
// hears nothing sent at another speed.
const char* const EMPTY_BUS = "ids=253@0,timing=wire";
constexpr int SERVOS = 18;
constexpr int RECORD_SECONDS = 3;
constexpr int STILL_POSITION = 512; // servosim's starting position; with torque off it stays
constexpr int BYTE_READ_REPLY_BYTES = 7;
constexpr int PING_BYTES = 6;
// A protocol 2.0 PING (10 bytes) and one status packet with model and firmware (14 bytes).
constexpr int PING_ALL_BYTES = 24;

double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Removes a file the bench wrote and the temporary directory it lay in.
void remove_with_dir(const std::string& path)
{
    std::remove(path.c_str());
    ::rmdir(path.substr(0, path.rfind('/')).c_str());
}

struct Recording {
    int frames = 0;             // frame lines in the file
    long timed_ms = 0;          // sum of the delays of every frame but the first
    int failed_values = 0;      // values written as result codes
    int wrong_values = 0;       // numbers other than the still chain's speed 0 and position 512
    std::vector<double> delays; // of every frame but the first
};

// Counts the values of one frame line ("[speed]position," per servo) that a still chain
// cannot have given: a reply taken for the answer to another read.
int wrong_values(const std::string& line)
{
    int wrong = 0;
    for (std::size_t open = line.find('['); open != std::string::npos;
         open = line.find('[', open + 1)) {
        const std::size_t close = line.find(']', open);
        if (close == std::string::npos)
            break;
        const std::string speed = line.substr(open + 1, close - open - 1);
        const std::string position = line.substr(close + 1, line.find(',', close) - close - 1);
        if (speed.find("rx") == std::string::npos && std::atoi(speed.c_str()) != 0)
            ++wrong;
        if (position.find("rx") == std::string::npos &&
            std::atoi(position.c_str()) != STILL_POSITION)
            ++wrong;
    }
    return wrong;
}

Recording read_recording(const std::string& path)
{
    Recording rec;
    std::ifstream in(path);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        if (++number <= 2 || line.empty())
            continue; // the type line and the ID line
        ++rec.frames;
        if (rec.frames > 1) {
            rec.timed_ms += std::atol(line.c_str());
            rec.delays.push_back(std::atof(line.c_str()));
        }
        for (std::size_t at = line.find("rx"); at != std::string::npos;
             at = line.find("rx", at + 2))
            ++rec.failed_values;
        rec.wrong_values += wrong_values(line);
    }
    return rec;
}

// Sets the return delay of every servo of the chain through a broadcast write.
bool set_chain_return_delay(const harness::Servosim& sim, int value)
{
    setenv("KINETRON_DEVICE", sim.device().c_str(), 1);
    bool ok = bus_open() != 0;
    if (ok) {
        bus_change_baud(1);
        bus_write_byte(254, 5, value);
        ok = bus_read_byte(SERVOS, 5) == value && bus_result() == 1;
        bus_close();
    }
    unsetenv("KINETRON_DEVICE");
    return ok;
}

// The reads of a recording frame (present speed, then position, of every servo) through
// the library alone, without the tool's printing and file: the median frame in ms.
double library_frame_ms(const harness::Servosim& sim)
{
    setenv("KINETRON_DEVICE", sim.device().c_str(), 1);
    std::vector<double> frames;
    if (bus_open() != 0) {
        bus_change_baud(1);
        for (int f = 0; f < 100; ++f) {
            const Clock::time_point start = Clock::now();
            for (int id = 1; id <= SERVOS; ++id) {
                read_word_retry(id, 38);
                read_word_retry(id, 36);
            }
            frames.push_back(seconds_since(start) * 1000.0);
        }
        bus_close();
    }
    unsetenv("KINETRON_DEVICE");
    return median(frames);
}

// Records the chain behind `env` (KINETRON_DEVICE=...) for some seconds; frames per second,
// 0 on failure.
double record_fps(const std::string& env, const std::string& file, Recording& rec,
                  int seconds = RECORD_SECONDS)
{
    harness::PtySession session;
    if (!session.start(
            {harness::bin_path("posetape"), "REC", file, "1", std::to_string(SERVOS), "1", "0"},
            {env}) ||
        !session.wait_for("Found 18 Kinetron motors", 20000)) {
        std::fprintf(stderr, "bench: posetape REC did not find the servos:\n%s\n",
                     session.output().c_str());
        return 0;
    }
    // A measuring window, not a wait for an event: the frame lines carry their own times.
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    session.send(harness::KEY_ESC);
    session.wait_exit(10000);
    rec = read_recording(file);
    if (rec.frames < 2 || rec.timed_ms <= 0)
        return 0;
    return (rec.frames - 1) * 1000.0 / static_cast<double>(rec.timed_ms);
}

double recording_row(const harness::Servosim& sim, const std::string& file, int return_delay)
{
    const double library_ms = library_frame_ms(sim);
    Recording rec;
    const double fps = record_fps(sim.env(), file, rec);
    const double exchange_us =
        wire_us(READ_PACKET_BYTES + WORD_REPLY_BYTES, 1) + 2.0 * return_delay;
    const double limit = 1e6 / (2 * SERVOS * exchange_us);
    char figure[80];
    std::snprintf(figure, sizeof figure, "REC 18 servos, baud 1, delay %d us", 2 * return_delay);
    report_row(figure, fps, limit, "frames/s");
    char note[256];
    // The frame times are whole milliseconds: the median shows what a frame takes when
    // nothing else on the machine gets in the way, the mean what it took on average.
    std::snprintf(note, sizeof note,
                  "%s: %d frames, %d values failed, %d wrong, frame median %.0f ms, p90 %.0f ms; "
                  "the same reads through the library alone: median %.2f ms",
                  figure, rec.frames, rec.failed_values, rec.wrong_values, median(rec.delays),
                  percentile(rec.delays, 90), library_ms);
    report_note(note);
    if (pty_round_trip_us() > 0) {
        // Every exchange crosses the pseudo-terminal twice: the best this line allows.
        std::snprintf(note, sizeof note,
                      "%s: a pseudo-terminal round trip per exchange caps the ratio at %.3f",
                      figure, exchange_us / (exchange_us + pty_round_trip_us()));
        report_note(note);
    }
    return limit > 0 ? fps / limit : 0;
}

} // namespace

void run_scan_bench()
{
    harness::Servosim sim(EMPTY_BUS);
    if (sim.device().empty())
        return; // an empty KINETRON_DEVICE would send the tool to a real adapter
    const std::string file = harness::temp_dir() + "/scan.csv";
    harness::PtySession session;
    const Clock::time_point start = Clock::now();
    if (!session.start({harness::bin_path("posetape"), "REC", file, "0", "253", "1", "0"},
                       {sim.env()}) ||
        !session.wait_for("Found 0", 60000)) {
        std::fprintf(stderr, "bench: posetape REC discovery did not end:\n%s\n",
                     session.output().c_str());
        return;
    }
    const double seconds = seconds_since(start);
    session.wait_exit(10000);
    remove_with_dir(file);
    // Five torque-off broadcasts with two 10 ms pauses each, then ten tries of 254 ids.
    const double model = 0.1 + 254 * 10 *
                                   (wire_us(READ_PACKET_BYTES + BYTE_READ_REPLY_BYTES, 1) +
                                    LONGEST_RETURN_DELAY_US + 1000) /
                                   1e6;
    report_row("REC discovery of ids 0-253, empty bus", seconds, model, "s");
    report_summary("scan_s", seconds, 2);
}

void run_recording_bench()
{
    harness::Servosim sim("ids=1-18,baud=1,timing=wire");
    if (sim.device().empty())
        return;
    const std::string dir = harness::temp_dir();
    report_summary("rec_ratio", recording_row(sim, dir + "/rec.csv", 250), 3);
    if (!set_chain_return_delay(sim, 0)) {
        std::fprintf(stderr, "bench: the chain does not take return delay 0\n");
        return;
    }
    report_summary("rec_ratio_rd0", recording_row(sim, dir + "/rec_rd0.csv", 0), 3);
    std::remove((dir + "/rec.csv").c_str());
    remove_with_dir(dir + "/rec_rd0.csv");
}

double run_adapter_recording_bench(int latency_ms, double exchange_ms)
{
    const std::string device =
        "sim:ids=1-18,baud=1,timing=wire,latency=" + std::to_string(latency_ms);
    const std::string file = harness::temp_dir() + "/rec_usb.csv";
    Recording rec;
    // Long enough for some ten frames through a slow adapter.
    const double fps = record_fps("KINETRON_DEVICE=" + device, file, rec, latency_ms > 4 ? 7 : 3);
    remove_with_dir(file);
    const double limit = 1000.0 / (2 * SERVOS * exchange_ms);
    char figure[80];
    std::snprintf(figure, sizeof figure, "REC 18 servos, adapter latency %d ms", latency_ms);
    report_row(figure, fps, limit, "frames/s");
    char note[200];
    std::snprintf(note, sizeof note,
                  "%s: %d frames, %d values failed, %d wrong, frame median %.0f ms", figure,
                  rec.frames, rec.failed_values, rec.wrong_values, median(rec.delays));
    report_note(note);
    report_summary("rec_ratio_usb" + std::to_string(latency_ms), limit > 0 ? fps / limit : 0, 3);
    return fps;
}

void run_servoscan_bench()
{
    harness::Servosim sim(EMPTY_BUS);
    if (sim.device().empty())
        return;
    harness::PtySession session;
    const Clock::time_point start = Clock::now();
    if (!session.start({harness::bin_path("servoscan")}, {sim.env()}) ||
        session.wait_exit(60000) < 0) {
        std::fprintf(stderr, "bench: servoscan did not end\n");
        return;
    }
    const double seconds = seconds_since(start);
    // Protocol 1.0: one ping an id, no retry, at each of the ten baud numbers, 10 ms after
    // each change. Protocol 2.0: one PING to all at each of its rates, waited for as one
    // reply; 1 Mbps is visited once for both.
    double model = 0;
    for (int baudnum : {1, 3, 4, 7, 9, 16, 34, 35, 103, 207})
        model +=
            0.01 + 254 * (wire_us(2 * PING_BYTES, baudnum) + LONGEST_RETURN_DELAY_US + 1000) / 1e6;
    for (double bps :
         {4500000.0, 4000000.0, 3000000.0, 2000000.0, 1000000.0, 115200.0, 57600.0, 9600.0})
        model += (bps == 1000000.0 ? 0 : 0.01) +
                 (PING_ALL_BYTES * 10.0 * 1e6 / bps + LONGEST_RETURN_DELAY_US + 1000) / 1e6;
    report_row("servoscan, default scan of both protocols, empty bus", seconds, model, "s");
    report_summary("servoscan_s", seconds, 2);
}

} // namespace bench
