// The comment line that motiontape writes before a frame file's type line, naming what the
// numbers of the file mean: the protocol, the line speed and each column's model, e.g.
//
//   // motiontape protocol 2 bps 1000000 models 1060 1060 1020
//
// Every reader of frame files skips lines that begin with '/', so the file stays a frame
// file; the readers that care (posetape PLAY, frameplot, servocheck motion) look for it.
#ifndef MOTIONTAPE_COMMENT_LINE_H
#define MOTIONTAPE_COMMENT_LINE_H

#include <cstdio>

enum { MOTION_COMMENT_MODELS_MAX = 256 };

struct MotionComment {
    int protocol; // 1 or 2
    int bps;
    int models[MOTION_COMMENT_MODELS_MAX]; // one per column of the ID line
    int modelCount;
};

// True when the line (its line end may be there) begins with "// motiontape".
bool is_motion_comment(const char* line);
// Reads a comment line; false when it is one but not in the form above (a protocol other
// than 1 or 2, a rate or a model that is not a whole positive number, words missing).
bool parse_motion_comment(const char* line, MotionComment* comment);
// Writes the comment line with its line feed.
void write_motion_comment(std::FILE* file, const MotionComment& comment);

// Looks through the lines before the type line (those beginning with '/', after a byte order
// mark) of a file open at its start, for the first comment line; leaves the file at its start
// again. 1 found and read, 0 none, -1 found but unreadable; *lineNumber (1 for the file's
// first line) says where. A file that cannot go back (a pipe, a FIFO) is not read: 0.
int find_motion_comment(std::FILE* file, MotionComment* comment, int* lineNumber);

// Degrees of one position step of a model: 360/4096 for the 4096-step models, 300/1024 for
// the others; 0 for a model number the kit does not know.
double model_degrees_per_step(int model);

#endif
