// Frame files: the text that a recording leaves and a playback reads. One type line, one
// ID line, then one frame line per frame (a delay in milliseconds and the values of each
// column). The reader accepts four file types, comment lines before the type line, type
// text quoted or padded with commas as a spreadsheet saves it, a byte order mark, and
// several separators; the writer produces the recorded type only.
//
// Messages of the reader (header failures, bad tokens) go to standard output.
#ifndef POSETAPE_FRAME_FILE_H
#define POSETAPE_FRAME_FILE_H

#include <cstdio>

enum {
    // A file line holds at most this many characters, its line feed included; the rest of a
    // longer line is read as a line of its own. A CR right before the LF does not count.
    FRAME_LINE_CHARS_MAX = 999,
    // Ids the id list stores; further kept ids are only counted.
    FRAME_IDS_MAX = 256,
    // Columns of an ID line and values of a frame line: more tokens than this cannot fit
    // in one line of FRAME_LINE_CHARS_MAX characters.
    FRAME_TOKENS_MAX = 512,
    // A value token that is not a number; playback never sends it.
    FRAME_BAD_VALUE = -9999,
    // Delay of a frame line without tokens, and of one whose delay token is bad.
    FRAME_BLANK_DELAY = 500,
    FRAME_BAD_DELAY = 100,
    // Speeds scaled below this (but not negative) are raised to it.
    FRAME_SPEED_FLOOR = 15,
    FRAME_FILE_NAME_MAX = 399
};

// A buffer that holds one file line and its terminating NUL.
typedef char FrameText[FRAME_LINE_CHARS_MAX + 1];

struct FrameHeader {
    bool hasSpeeds;         // each column is a speed and a position
    bool relativePositions; // positions are offsets to the start positions
    int idList[FRAME_IDS_MAX];
    int idListSize;  // every kept id, also those beyond FRAME_IDS_MAX
    int columnCount; // ids on the ID line, kept or not
    bool columnKept[FRAME_TOKENS_MAX];
    char fileName[FRAME_FILE_NAME_MAX + 1]; // named in the reader's messages
};

struct FrameLine {
    int delay;
    int speeds[FRAME_TOKENS_MAX];    // by id-list entry; types with speeds only
    int positions[FRAME_TOKENS_MAX]; // by id-list entry, then values past the last column
    int posListSize;
};

enum FrameHeaderResult {
    FRAME_HEADER_OK = 0,
    FRAME_HEADER_NO_IDS, // empty file
    FRAME_HEADER_UNKNOWN_TYPE,
    FRAME_HEADER_BAD_ID
};

// Reads one file line into `line` (NUL-terminated, line feed kept when it was read):
// at most FRAME_LINE_CHARS_MAX characters; a CR right before a LF is dropped. False at the
// end of the file when nothing was read.
bool read_text_line(std::FILE* file, FrameText line);

// Opens a frame file for reading. Null when it does not open, and when it opens but cannot
// be read: a directory opens as a stream on some systems, yet every read of it fails.
std::FILE* open_frame_file(const char* fileName);

// Reads the type line (after a UTF-8 byte order mark at the very start of the file and any
// lines beginning with '/') and the ID line. Ids from
// idStart to idEnd are kept. Prints the recognised type line, or the failure message.
FrameHeaderResult read_frame_header(std::FILE* file, int idStart, int idEnd, const char* fileName,
                                    FrameHeader* header);

// Entries of the id list that hold an id: idListSize, capped at FRAME_IDS_MAX.
int stored_ids(const FrameHeader& header);

// Reads and parses the next frame line after the header (see read_frame_line). False at the
// end of the file, and where only blank lines remain: an editor or a spreadsheet often
// leaves some at the end. A blank line before more frames is handed out and reads past
// them: as it does not fit the id list (frame_line_fits), the file ends there. With an
// empty id list a blank line is a frame like any other.
bool next_frame_line(std::FILE* file, const FrameHeader& header, float speedScale,
                     const int* startPositions, FrameLine* frame);
// True when the frame holds one position per id-list entry; otherwise prints
// "ERROR: idListSize %d != posListSize %d\n" and the file is not to be played further.
bool frame_line_fits(const FrameHeader& header, const FrameLine& frame);
// Reads the frame lines from where the file stands to its end as next_frame_line does, but
// without a word, and stops at the first that does not fit (frame_line_fits prints why).
// True when every line fits. Holds one line at a time, however long the file.
bool frame_lines_fit(std::FILE* file, const FrameHeader& header);
// Goes back to the first frame line of a file whose header was read: to the start, then past
// the header's lines again without a word. Goes by the file's start, not by a position taken
// in text mode, which one C library miscounts in files whose lines end in a bare line feed.
// False when the file cannot seek (a pipe).
bool rewind_to_first_frame(std::FILE* file);

// Parses one frame line; prints a warning for each bad token. startPositions (one per
// id-list entry) is used by relative types only; an entry of -1 (not read) gives
// FRAME_BAD_VALUE positions.
void read_frame_line(const char* line, const FrameHeader& header, float speedScale,
                     const int* startPositions, FrameLine* frame);

// Writes the recorded type line and the ID line of `count` ids.
void write_frame_header(std::FILE* file, const int* ids, int count);
// Writes one recorded frame line and flushes the file. The texts are the servo values as
// the result printer shows them (a number or a three-letter failure code).
void write_frame_line(std::FILE* file, int delay, const char* const* speedTexts,
                      const char* const* positionTexts, int count);

// Opens a frame file that a recording will write, without changing it: an existing file
// keeps its content until start_recorded_file. Null when the file cannot be written.
std::FILE* open_frame_file_to_record(const char* fileName);
// Empties the file that open_frame_file_to_record opened, just before the first line is
// written, and gives it a buffer larger than any line, so that each line leaves in one
// write. Returns the stream to write; null on failure, and `file` is closed either way.
std::FILE* start_recorded_file(std::FILE* file, const char* fileName);

// Splits text into tokens at runs of separators; returns the number of tokens stored
// (at most maxTokens) and sets each to point into `text`, which it modifies.
int split_frame_tokens(char* text, char** tokens, int maxTokens);
// Converts a token: optional white space, optional sign, decimal digits, then nothing or a
// '.' and more digits (cut off); values beyond the int range saturate. False for any other
// token: without digits, or with anything else after them ("5OO", "2x", "5e2").
bool convert_frame_token(const char* token, int* value);

// The speed a recording stores for a present speed reading: bits 0 to 9 hold the speed, bit
// 10 the direction (set while turning toward lower positions), which the file does not keep.
int recorded_speed(int presentSpeed);

// The pause after a frame line: the delay times the delay factor in single precision, as
// the factor is kept, cut toward zero to whole milliseconds; 0 when not positive.
unsigned long frame_pause_ms(int delay, float delayFactor);

#endif
