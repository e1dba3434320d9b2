#include "fake_bus.h"

#include "kinetron.h"

namespace {
std::vector<FakeReply> script;
std::size_t next_reply = 0;
int reads = 0;
int result_code = 0;
bool last_byte = false;
bool opens = true;

int take_reply()
{
    ++reads;
    if (script.empty()) {
        result_code = 6;
        return -1;
    }
    const FakeReply& reply = script[next_reply < script.size() ? next_reply : script.size() - 1];
    ++next_reply;
    result_code = reply.code;
    return reply.value;
}
} // namespace

void fake_bus_script(const std::vector<FakeReply>& replies)
{
    script = replies;
    next_reply = 0;
    reads = 0;
}

void fake_bus_set_result(int code) { result_code = code; }
int fake_bus_reads() { return reads; }
bool fake_bus_last_was_byte() { return last_byte; }
void fake_bus_set_opens(bool will_open) { opens = will_open; }

extern "C" {
int bus_open(void) { return opens ? 1 : 0; }
int bus_result(void) { return result_code; }
const char* kinetron_device(void) { return "fake"; }
int bus_read_byte(int, int)
{
    last_byte = true;
    return take_reply();
}
int bus_read_word(int, int)
{
    last_byte = false;
    return take_reply();
}
}
