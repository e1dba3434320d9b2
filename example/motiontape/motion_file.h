// A frame file read whole and checked before anything is sent: the comment line, the ids,
// and every frame's delay and positions. Recorded speeds are not kept: playback computes its
// own from the positions and the delays.
#ifndef MOTIONTAPE_MOTION_FILE_H
#define MOTIONTAPE_MOTION_FILE_H

#include <vector>

#include "comment_line.h"

struct MotionFile {
    bool hasComment; // without it the file is one of model 12's family, protocol 1.0
    MotionComment comment;
    int protocol;
    std::vector<int> ids;
    std::vector<int> delays;      // per frame, milliseconds
    std::vector<int> positions;   // frame after frame, one per id; VALUE_FAILED where the
                                  // recording failed to read it
    std::vector<int> lineNumbers; // per frame, the file line it came from
};

// Reads and checks the file; false, with one line on standard error naming the file and the
// line, when it cannot be played: not absolute, a line incomplete, a value that is neither a
// number nor a recorded failure, ids or models that cannot be one chain, no frame at all.
bool load_motion_file(const char* name, MotionFile* file);

// Reads a value token: a whole number, also written as a spreadsheet saves it (512.0), gives
// 1 and *value; a recorded failure (rxT and the like) gives 0; anything else -1.
int read_value_token(const char* token, int* value);

#endif
