// A frame file read whole, the way playback would read it, for summaries and plots.
#ifndef FRAMEPLOT_MOTION_H
#define FRAMEPLOT_MOTION_H

#include <cstdio>
#include <vector>

#include "frame_file.h"

struct Motion {
    FrameHeader header;
    std::vector<int> delays;                 // per frame, milliseconds
    std::vector<std::vector<int>> positions; // per frame, per id-list entry
    // Per id-list entry, the degrees of one position step of its model, from the motiontape
    // comment line; empty for a file without it.
    std::vector<double> degreesPerStep;
};

enum MotionResult {
    MOTION_COMPLETE = 0, // read to the end of the file
    MOTION_BAD_HEADER,   // the reader refused the header; no frame read
    MOTION_BAD_LINE      // a frame line did not match the ID line; frames before it kept
};

struct ServoSummary {
    int lowest; // lowest position that converted; FRAME_BAD_VALUE when none did
    int highest;
    int largestStep; // largest change between two neighbouring frames that both converted
    int unread;      // values that did not convert
};

// Reads header and frame lines, printing the reader's messages as playback does. For
// relative files the positions are the offsets themselves (start positions of 0).
MotionResult load_motion(std::FILE* file, const char* fileName, int idStart, int idEnd,
                         Motion* motion);

// Total of the delays of every frame, milliseconds.
long long motion_duration_ms(const Motion& motion);
// Time at which frame `index` is sent: the sum of the delays before it.
long long frame_time_ms(const Motion& motion, std::size_t index);
ServoSummary summarise_servo(const Motion& motion, int entry);

void print_summary(const Motion& motion);

#endif
