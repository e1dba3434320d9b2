#include "play_bench.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "bench_model.h"
#include "bench_report.h"
#include "play_peer.h"
#include "pty_session.h"

extern char** environ;

namespace bench {

namespace {

constexpr int SERVOS = 18;
constexpr int OVERHEAD_FRAMES = 1000;
constexpr int DRIFT_FRAMES = 200;
constexpr int DRIFT_DELAY_MS = 20;

// A recorded file of `frames` frames of 18 servos, every delay `delay_ms`.
bool write_frame_file(const std::string& path, int frames, int delay_ms)
{
    FILE* out = std::fopen(path.c_str(), "w");
    if (out == nullptr)
        return false;
    std::fprintf(out, "FILETYPE: AbsoluteSpeeds; AbsolutePositions\n      ");
    for (int id = 1; id <= SERVOS; ++id)
        std::fprintf(out, "%3d,", id);
    std::fprintf(out, "\n");
    for (int f = 0; f < frames; ++f) {
        std::fprintf(out, "%4d, ", delay_ms);
        for (int id = 1; id <= SERVOS; ++id)
            std::fprintf(out, "[%3d]%d,", 20 + (f + id) % 40, 400 + (f * 7 + id * 13) % 200);
        std::fprintf(out, "\n");
    }
    return std::fclose(out) == 0;
}

// Runs posetape PLAY on the peer with standard output to /dev/null and standard input on a
// pseudo-terminal where nobody types, so that it looks for keys as it does at a console;
// its exit status.
int play(const PlayPeer& peer, const std::string& file)
{
    const int keyboard = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (keyboard < 0 || ::grantpt(keyboard) != 0 || ::unlockpt(keyboard) != 0) {
        if (keyboard >= 0)
            ::close(keyboard);
        return -1;
    }
    const std::string keyboard_path = ::ptsname(keyboard);
    std::vector<std::string> args{harness::bin_path("posetape"),
                                  "PLAY",
                                  file,
                                  "1",
                                  std::to_string(SERVOS),
                                  "1",
                                  "1",
                                  "50",
                                  "1"};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    std::vector<std::string> env_text{"KINETRON_DEVICE=" + peer.device()};
    for (char** e = environ; *e != nullptr; ++e)
        if (std::string(*e).compare(0, 16, "KINETRON_DEVICE=") != 0)
            env_text.push_back(*e);
    std::vector<char*> envp;
    for (std::string& e : env_text)
        envp.push_back(&e[0]);
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, keyboard_path.c_str(), O_RDWR | O_NOCTTY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        ::close(keyboard);
        return -1;
    }
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > give_up) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            ::close(keyboard);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::close(keyboard);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Move-packet times of one playback, or none when it failed.
std::vector<double> played_moves(const std::string& file, int frames)
{
    PlayPeer peer;
    if (!peer.start()) {
        std::fprintf(stderr, "bench: cannot open a pseudo-terminal\n");
        return {};
    }
    const int status = play(peer, file);
    std::vector<double> moves = peer.move_times();
    // The first write of goal positions is the start hold, before the 1 s settling pause.
    if (!moves.empty())
        moves.erase(moves.begin());
    if (status != 0 || static_cast<int>(moves.size()) != frames) {
        std::fprintf(stderr, "bench: PLAY of %s ended with %d after %zu of %d move packets\n",
                     file.c_str(), status, moves.size(), frames);
        return {};
    }
    return moves;
}

// Time of each frame from the move-packet times. Packets that the peer read together
// share one time stamp; they share the time since the previous read evenly too, so the
// sum stays exact and a slow reader cannot make frames look free.
std::vector<double> frame_times(const std::vector<double>& moves)
{
    std::vector<double> frames;
    std::size_t group = 1; // the first packet only starts the clock
    while (group < moves.size()) {
        std::size_t end = group;
        while (end < moves.size() && moves[end] == moves[group])
            ++end;
        const double share = (moves[group] - moves[group - 1]) / static_cast<double>(end - group);
        frames.insert(frames.end(), end - group, share);
        group = end;
    }
    return frames;
}

} // namespace

void run_play_bench()
{
    const std::string dir = harness::temp_dir();
    const std::string fast = dir + "/play_fast.csv";
    const std::string timed = dir + "/play_20ms.csv";
    if (!write_frame_file(fast, OVERHEAD_FRAMES, 0) ||
        !write_frame_file(timed, DRIFT_FRAMES, DRIFT_DELAY_MS)) {
        std::fprintf(stderr, "bench: cannot write frame files in %s\n", dir.c_str());
        return;
    }

    std::vector<double> moves = played_moves(fast, OVERHEAD_FRAMES);
    if (!moves.empty()) {
        const std::vector<double> frame_us = frame_times(moves);
        // What the two packets of a frame take on a real line at baud number 1.
        const int packet_bytes = 3 * SERVOS + 4 + 4;
        const double model = wire_us(2 * packet_bytes, 1);
        const double med = median(frame_us);
        report_row("PLAY frame, delay 0, vs wire time of its packets", med, model, "us");
        char note[160];
        std::snprintf(note, sizeof note, "PLAY frame, delay 0: p90 %.0f us, p99 %.0f us",
                      percentile(frame_us, 90), percentile(frame_us, 99));
        report_note(note);
        report_summary("play_overhead_us", med, 1);
    }

    moves = played_moves(timed, DRIFT_FRAMES);
    if (!moves.empty()) {
        const double span_ms = (moves.back() - moves.front()) / 1000.0;
        const double model_ms = (DRIFT_FRAMES - 1) * DRIFT_DELAY_MS;
        report_row("PLAY 200 frames of 20 ms, first to last move", span_ms, model_ms, "ms");
        report_summary("play_drift", span_ms / model_ms, 4);
    }
    std::remove(fast.c_str());
    std::remove(timed.c_str());
    ::rmdir(dir.c_str());
}

} // namespace bench
