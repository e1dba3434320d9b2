// The settings of one posetape run and the two modes that use them.
#ifndef POSETAPE_RUN_SETTINGS_H
#define POSETAPE_RUN_SETTINGS_H

#include "frame_file.h"

enum RunMode { MODE_NONE, MODE_REC, MODE_PLAY };

struct RunSettings {
    RunMode mode;
    char frameFileName[FRAME_FILE_NAME_MAX + 1];
    int idStart;
    int idEnd;
    int baudnum;
    bool waitToRecord; // REC
    int idStart2;      // REC: second id range; none while idEnd2 is negative
    int idEnd2;
    float delayFactor;      // PLAY: stretches every pause
    float speedScale;       // PLAY: 1 / delayFactor, applied to recorded speeds
    int motorSpeed;         // PLAY: moving speed before and after playback
    bool useRecordedSpeeds; // PLAY
};

// Each opens the frame file that settings name, works with it and closes it, and returns the
// exit status: 0 for a normal end, 1 when the frame file did not open, was refused, or (REC)
// no servo answered. The closing follows either way.
int run_recording(const RunSettings& settings);
int run_playback(const RunSettings& settings);

#endif
