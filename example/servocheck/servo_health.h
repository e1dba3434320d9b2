// What servocheck's three modes share: the alarm names of both protocols, the problem lines
// they print, the commands those lines give, and one servo's health from its table.
#ifndef SERVOCHECK_SERVO_HEALTH_H
#define SERVOCHECK_SERVO_HEALTH_H

#include "servo_image.h"

// The line the servos were found on: the protocol, its speed, and the baud number that gives
// that speed (-1 for a speed no baud number gives exactly).
struct LineSetting {
    int protocol;
    int bps;
    int baudnum;
};

// The baud number that gives bps exactly, or -1.
int baudnum_of(int bps);

// An exchange with its tries between these two is watched: the watchdog ends the tool when
// it has not finished within its window (a stalled line).
void watched_exchange_begin();
void watched_exchange_end();

// Protocol 1.0's alarms set in bits (an error byte, or the alarm shutdown register), by name
// in bit order, joined by ","; "-" for none.
const char* alarm_list(int bits);
// The alarms of the image's servo in words: protocol 1.0 as alarm_list of its reply's error
// byte; protocol 2.0 the alert bit and its hardware error status.
const char* image_alarms(const ServoImage& image);

// Prints "servo ID: " and the rest (printf-style) as one problem line and counts it.
void report(int id, const char* format, ...);
// The same for a line that begins with its own subject ("adapter: ", "bus: ").
void report_line(const char* format, ...);
// A line of advice or a warning: printed as a problem line is, but not counted.
void advise(int id, const char* format, ...);
// Problem lines printed so far.
int problems_reported();

// The command that undoes a shutdown of servo id on that line, exactly as it runs.
const char* fix_command(int id, const LineSetting& line);

// The problem lines of one servo whose table was read: a shutdown, heat, the supply
// voltage, overload, position limits that leave no range. A return delay that group reads
// wait for is kept for advise_return_delays.
void report_servo_health(int id, const LineSetting& line, const ServoImage& image);

// The advice about return delays that report_servo_health collected: one line per rate.
void advise_return_delays();

// The hardware error status bits a protocol 2.0 servo holds, 0 for protocol 1.0.
int hardware_errors(const ServoImage& image);

// servocheck motion FILE [idStart idEnd [baudnum]]: the status of the run. line: as given
// on the command line; given: which of its parts were given (a file's own comment line
// fills the others).
enum { GIVEN_PROTOCOL = 1, GIVEN_BPS = 2 };
int check_motion(const char* fileName, int idStart, int idEnd, LineSetting line, unsigned given);

// The lines in words for a message: "baud number 35 (protocol 1.0) nor at 1000000 bps
// (protocol 2.0)".
const char* describe_lines(const LineSetting* lines, int count);

// Sets the line to that speed; false when the library refused it (its line on standard
// error says why).
bool set_line(const LineSetting& line);

#endif
