// How long bytes take on the line and how long to wait for a servo's reply.
#ifndef KINETRON_TIMING_H
#define KINETRON_TIMING_H

#include <cstdint>

namespace kinetron {

// Longest return delay a servo can be set to: 254 units of 2 microseconds.
constexpr std::int64_t LONGEST_RETURN_DELAY_US = 508;
// Latency above this is not waited for in full, so a read of a few bytes always gives up
// inside 90 ms and ten tries stay inside the one-second stall window of the tools.
constexpr int LATENCY_CAP_MS = 32;

// Microseconds that `bytes` take at `bits_per_second`, ten bits a byte (start, 8 data,
// stop), rounded up.
std::int64_t wire_time_us(int bytes, int bits_per_second);

// Time-out of one exchange, counted from the moment the instruction has been written:
// both packets on the wire, the longest return delay, twice the adapter latency, 1 ms,
// and 2 ms more for the frames of a USB adapter.
std::int64_t reply_timeout_us(int bits_per_second, int sent_bytes, int reply_bytes, int latency_ms,
                              bool usb_adapter);

// Time-out of a group read: as reply_timeout_us for all the replies together, with one
// longest return delay for every listed servo, since they answer one after another.
std::int64_t group_timeout_us(int bits_per_second, int sent_bytes, int reply_bytes, int servos,
                              int latency_ms, bool usb_adapter);

} // namespace kinetron

#endif
