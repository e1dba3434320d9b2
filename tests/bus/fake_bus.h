// A scripted stand-in for the bus library's read operations: each read takes the next
// scripted reply (a value and the result code it leaves), so a test can produce any
// result code at any try.
#ifndef FAKE_BUS_H
#define FAKE_BUS_H

#include <vector>

struct FakeReply {
    int value;
    int code;
};

// Replaces the script; once it runs out, every read repeats the last reply.
void fake_bus_script(const std::vector<FakeReply>& replies);
// Sets the code bus_result() gives without a read, as after a write.
void fake_bus_set_result(int code);
// Reads made since the last fake_bus_script(), and whether the last was a byte read.
int fake_bus_reads();
bool fake_bus_last_was_byte();
// Whether bus_open() succeeds.
void fake_bus_set_opens(bool will_open);

#endif
