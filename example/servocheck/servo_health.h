// What servocheck's three modes share: one servo's control table read in one exchange, the
// alarm names of a status packet's error byte, and the problem lines they print.
#ifndef SERVOCHECK_SERVO_HEALTH_H
#define SERVOCHECK_SERVO_HEALTH_H

#include "registers.h"

struct ServoTable {
    unsigned char bytes[CONTROL_TABLE_SIZE];
    int status; // the error byte of the reply that brought the table
    int code;   // bus_result() of the last try
};

// An exchange with its tries between these two is watched: the watchdog ends the tool when
// it has not finished within its window (a stalled line).
void watched_exchange_begin();
void watched_exchange_end();

// Reads servo id's whole table in one block read, up to ten tries; false without a good
// reply (then table->code tells why).
bool read_servo_table(int id, ServoTable* table);
int table_byte(const ServoTable& table, int address);
int table_word(const ServoTable& table, int address);

// The alarms set in bits, by name in bit order, joined by ","; "-" for none.
const char* alarm_list(int bits);

// Prints "servo ID: " and the rest (printf-style) as one problem line and counts it.
void report(int id, const char* format, ...);
// The same for a line that begins with its own subject ("adapter: ", "bus: ").
void report_line(const char* format, ...);
// Problem lines printed so far.
int problems_reported();

// The problem lines of one servo whose table was read: a shutdown, heat, the supply
// voltage, overload, angle limits that leave no range. baudnum goes into the commands it
// gives.
void report_servo_health(int id, int baudnum, const ServoTable& table);

// servocheck motion FILE [idStart idEnd [baudnum]]: the status of the run.
int check_motion(const char* fileName, int idStart, int idEnd, int baudnum);

#endif
