// motiontape: records a motion on servos of any model into a frame file, and plays one back.
#ifndef MOTIONTAPE_H
#define MOTIONTAPE_H

#include "servo_chain.h"

enum { DEFAULT_BPS = 1000000 };

struct MotionSettings {
    const char* fileName;
    int ids[CHAIN_SERVOS_MAX]; // record: the columns, in the order given
    int idCount;
    int bps;      // 0: not given
    int protocol; // record: 0 to find by PING
    double speed; // play: the factor every delay is divided by
    int loops;    // play
};

// Each returns the exit status: 0 for a finished run or ESC, 1 for a refusal.
int run_record(const MotionSettings& settings);
int run_play(const MotionSettings& settings);

// Opens the line and sets its speed; false, with the library's line on standard error,
// when either fails.
bool open_line(int bps);

#endif
