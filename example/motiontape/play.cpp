// motiontape play: check the whole file and the servos before anything moves, bring every
// servo gently from where it stands to the first frame, then send one SYNC_WRITE of speed
// and goal a frame, each frame's pause kept against one monotonic clock.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "console.h"
#include "motion_file.h"
#include "motiontape.h"
#include "registers.h"
#include "speeds.h"
#include "status_line.h"

namespace {

typedef std::chrono::steady_clock Clock;
enum { KEY_SPACE = 32, KEY_POLL_MS = 10, ARRIVAL_WAIT_MS = 5000, ARRIVAL_POLL_MS = 20 };
enum Outcome { PLAYED, STOPPED };

MotionFile motion;
const char* fileName;
int servos;
int frames;
bool readKeys;
int low[CHAIN_SERVOS_MAX];
int high[CHAIN_SERVOS_MAX];
int limit[CHAIN_SERVOS_MAX]; // the highest speed each servo may be sent
int present[CHAIN_SERVOS_MAX];
int goals[CHAIN_SERVOS_MAX];
int speeds[CHAIN_SERVOS_MAX];
bool send[CHAIN_SERVOS_MAX];
int gentle;
// Each servo's own units: models of one table may turn at different speeds a unit.
double degreesPerStep[CHAIN_SERVOS_MAX];
double rpmPerUnit[CHAIN_SERVOS_MAX];
// From each loop's first frame packet to the end of its last frame's pause, pauses left out.
double playedSeconds;

int position_at(int frame, int k) { return motion.positions[frame * servos + k]; }

bool servos_match_file(int bps)
{
    int missing[CHAIN_SERVOS_MAX];
    int missingCount = 0;
    chain_ping(motion.ids.data(), servos, motion.protocol, missing, &missingCount);
    if (missingCount > 0) {
        std::fprintf(stderr, "motiontape: no answer at %d bps (protocol %s) from servo", bps,
                     protocol_name(motion.protocol));
        for (int i = 0; i < missingCount; ++i)
            std::fprintf(stderr, "%s %d", i ? "," : "", missing[i]);
        std::fprintf(stderr, "\n");
        return false;
    }
    for (int k = 0; k < servos; ++k) {
        int model = chain.servos[k].model;
        const char* table = kinetron_model_table(model);
        bool same = motion.hasComment ? model == motion.comment.models[k]
                                      : table && std::string(table) == "protocol1_1024";
        if (!same) {
            if (motion.hasComment)
                std::fprintf(stderr,
                             "motiontape: servo %d is model %d; the file was recorded "
                             "on model %d\n",
                             chain.servos[k].id, model, motion.comment.models[k]);
            else
                std::fprintf(stderr,
                             "motiontape: servo %d is model %d; a file without the "
                             "motiontape comment line is for model 12's family\n",
                             chain.servos[k].id, model);
            return false;
        }
    }
    return chain_learn_registers("motiontape");
}

bool read_all(const kinetron_register* reg, int* values, const char* what)
{
    chain_read_each(reg, values);
    for (int k = 0; k < servos; ++k) {
        if (values[k] == VALUE_FAILED) {
            std::fprintf(stderr, "motiontape: cannot read the %s of servo %d\n", what,
                         chain.servos[k].id);
            return false;
        }
    }
    return true;
}

// Reads each servo's limits and where it stands, and checks every position of the file
// against the limits.
bool limits_allow_file()
{
    if (!read_all(chain.positionLow, low, chain.positionLow->name) ||
        !read_all(chain.positionHigh, high, chain.positionHigh->name) ||
        !read_all(chain.presentPosition, present, "present position"))
        return false;
    int speedMax = static_cast<int>(std::min<long long>(chain.goalSpeed->high, 32767));
    // A moving speed's bit 10 turns a wheel the other way: a joint takes 0..1023.
    if (chain.goalSpeed->signedness == KINETRON_DIRECTION_BIT)
        speedMax = std::min(speedMax, 1023);
    for (int k = 0; k < servos; ++k)
        limit[k] = speedMax;
    if (chain.velocityLimit) {
        if (!read_all(chain.velocityLimit, limit, chain.velocityLimit->name))
            return false;
        for (int k = 0; k < servos; ++k)
            limit[k] = limit[k] > 0 ? std::min(limit[k], speedMax) : speedMax;
    }
    gentle = gentle_speed(chain.protocol, *std::min_element(limit, limit + servos));
    for (int k = 0; k < servos; ++k) {
        int model = chain.servos[k].model;
        degreesPerStep[k] = kinetron_model_register(model, chain.goalPosition->name)->scale;
        rpmPerUnit[k] = kinetron_model_register(model, chain.goalSpeed->name)->scale;
    }
    for (int f = 0; f < frames; ++f) {
        for (int k = 0; k < servos; ++k) {
            int p = position_at(f, k);
            if (p != VALUE_FAILED && (p < low[k] || p > high[k])) {
                std::fprintf(stderr,
                             "motiontape: '%s' line %d: position %d of servo %d is outside "
                             "its limits %d..%d\n",
                             fileName, motion.lineNumbers[f], p, chain.servos[k].id, low[k],
                             high[k]);
                return false;
            }
        }
    }
    return true;
}

// Where each servo is to go in frame f: the frame's position, or its goal so far where the
// recording failed to read it.
void frame_goals(int f, int* out, bool* taken)
{
    for (int k = 0; k < servos; ++k) {
        int p = position_at(f, k);
        taken[k] = p != VALUE_FAILED;
        out[k] = taken[k] ? p : goals[k];
    }
}

// ESC holds every servo where it stands now.
void hold_where_they_stand()
{
    int readSpeeds[CHAIN_SERVOS_MAX], where[CHAIN_SERVOS_MAX], results[CHAIN_SERVOS_MAX];
    chain_read_motion(readSpeeds, where, results);
    for (int k = 0; k < servos; ++k) {
        send[k] = where[k] != VALUE_FAILED;
        speeds[k] = gentle;
    }
    chain_write_motion(speeds, where, send);
}

// Waits until the deadline; ESC ends the wait (STOPPED), space pauses until space again and
// moves *deadline on by the pause.
Outcome wait_until(Clock::time_point* deadline, Clock::time_point* base)
{
    for (Clock::time_point now = Clock::now(); now < *deadline; now = Clock::now()) {
        std::this_thread::sleep_until(
            std::min(*deadline, now + std::chrono::milliseconds(KEY_POLL_MS)));
        while (readKeys && _kbhit() > 0) {
            int key = _getch() & 0xFF;
            if (key == KEY_ESC)
                return STOPPED;
            if (key != KEY_SPACE)
                continue;
            status_show("paused: space resumes, ESC stops", true);
            Clock::time_point pausedAt = Clock::now();
            for (;;) {
                key = _getch() & 0xFF;
                if (key == KEY_ESC)
                    return STOPPED;
                if (key == KEY_SPACE)
                    break;
            }
            Clock::duration paused = Clock::now() - pausedAt;
            *deadline += paused;
            *base += paused;
        }
    }
    return PLAYED;
}

// Moves every servo from where it stands to the first frame at the gentle speed and waits
// until they are there, or 5 s; says which.
Outcome go_to_first_frame()
{
    frame_goals(0, goals, send);
    for (int k = 0; k < servos; ++k)
        speeds[k] = gentle;
    chain_write_motion(speeds, goals, nullptr);
    int tolerance = arrival_tolerance(chain.goalPosition->scale);
    Clock::time_point end = Clock::now() + std::chrono::milliseconds(ARRIVAL_WAIT_MS);
    int readSpeeds[CHAIN_SERVOS_MAX], where[CHAIN_SERVOS_MAX], results[CHAIN_SERVOS_MAX];
    while (Clock::now() < end) {
        chain_read_motion(readSpeeds, where, results);
        bool arrived = true;
        for (int k = 0; k < servos; ++k)
            arrived =
                arrived && where[k] != VALUE_FAILED && std::abs(where[k] - goals[k]) <= tolerance;
        if (arrived) {
            std::printf("The servos stand at the first frame.\n");
            std::fflush(stdout);
            return PLAYED;
        }
        Clock::time_point next = Clock::now() + std::chrono::milliseconds(ARRIVAL_POLL_MS);
        Clock::time_point base = next;
        if (wait_until(&next, &base) == STOPPED)
            return STOPPED;
    }
    std::printf("After 5 s not every servo stands at the first frame; playing on.\n");
    std::fflush(stdout);
    return PLAYED;
}

// Plays the frames once; the servos stand at the first frame.
Outcome play_frames(const MotionSettings& settings, int loop)
{
    char text[160];
    Clock::time_point base = Clock::now();
    double planned = 0.0; // milliseconds from the first frame's packet
    for (int f = 0; f < frames; ++f) {
        int before[CHAIN_SERVOS_MAX];
        std::copy(goals, goals + servos, before);
        frame_goals(f, goals, send);
        double ms = motion.delays[f] / settings.speed;
        for (int k = 0; k < servos; ++k)
            speeds[k] = f == 0 ? gentle
                               : frame_speed(goals[k] - before[k], ms, degreesPerStep[k],
                                             rpmPerUnit[k], limit[k]);
        chain_write_motion(speeds, goals, send);
        planned += ms;
        Clock::time_point deadline = base + std::chrono::duration_cast<Clock::duration>(
                                                std::chrono::duration<double, std::milli>(planned));
        double seconds = std::chrono::duration<double>(Clock::now() - base).count();
        std::snprintf(text, sizeof text, "loop %d/%d  frame %d/%d  %.1f frames/s  %.1f s", loop,
                      settings.loops, f + 1, frames, seconds > 0 ? (f + 1) / seconds : 0.0,
                      seconds);
        status_show(text, f + 1 == frames);
        if (wait_until(&deadline, &base) == STOPPED)
            return STOPPED;
    }
    playedSeconds += std::chrono::duration<double>(Clock::now() - base).count();
    return PLAYED;
}

} // namespace

int run_play(const MotionSettings& settings)
{
    fileName = settings.fileName;
    if (!load_motion_file(settings.fileName, &motion))
        return 1;
    servos = static_cast<int>(motion.ids.size());
    frames = static_cast<int>(motion.delays.size());
    long long total = 0;
    for (int delay : motion.delays)
        total += delay;
    std::printf("'%s': %d servos, %d frames, %.1f s, protocol %s%s.\n", settings.fileName, servos,
                frames, total / 1000.0, protocol_name(motion.protocol),
                motion.hasComment ? "" : " (no motiontape comment: model 12's family)");

    int bps = settings.bps ? settings.bps : motion.hasComment ? motion.comment.bps : DEFAULT_BPS;
    if (!open_line(bps))
        return 1;
    if (!servos_match_file(bps) || !limits_allow_file())
        return 1;
    std::printf("The servos at %d bps are the file's models; every position lies within "
                "their limits.\n",
                bps);

    readKeys = keys_from_terminal() != 0;
    status_begin();
    // On protocol 1.0 a goal switches the torque on: each servo is first told to stay where
    // it stands, at the gentle speed.
    for (int k = 0; k < servos; ++k) {
        speeds[k] = gentle;
        goals[k] = present[k];
    }
    chain_write_motion(speeds, present, nullptr);
    chain_sync_write_each(chain.torqueEnable, 1);
    std::printf("Safe start: torque on, moving to the first frame at speed %d.\n", gentle);
    std::printf("Space pauses and resumes, ESC stops.\n");
    std::fflush(stdout);

    for (int loop = 1; loop <= settings.loops; ++loop) {
        if (loop > 1) {
            status_clear();
            std::printf("Loop %d of %d: back to the first frame.\n", loop, settings.loops);
            std::fflush(stdout);
        }
        if (go_to_first_frame() == STOPPED || play_frames(settings, loop) == STOPPED) {
            hold_where_they_stand();
            status_end("stopped");
            std::printf("Stopped: the servos hold where they stand.\n");
            return 0;
        }
    }
    char text[120];
    std::snprintf(text, sizeof text, "played %d frames x %d in %.3f s; their delays: %.3f s",
                  frames, settings.loops, playedSeconds,
                  total / 1000.0 / settings.speed * settings.loops);
    status_end(text);
    if (settings.loops > 1)
        std::printf("Played %d frames %d times.\n", frames, settings.loops);
    else
        std::printf("Played %d frames.\n", frames);
    return 0;
}
