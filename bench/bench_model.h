// What the wire allows: byte times at a baud number and the library's time-out of a try,
// computed here from the line's rules so that the bench does not grade the library by
// the library's own arithmetic.
#ifndef BENCH_MODEL_H
#define BENCH_MODEL_H

namespace bench {

// Bits per second of a baud number: 2000000 / (n + 1), rounded down.
inline double line_bps(int baudnum) { return 2000000 / (baudnum + 1); }

// Microseconds that `bytes` take on the wire: ten bits a byte.
inline double wire_us(int bytes, int baudnum) { return bytes * 10.0 * 1e6 / line_bps(baudnum); }

// Bytes of a READ instruction and of the status packet that answers a word read.
constexpr int READ_PACKET_BYTES = 8;
constexpr int WORD_REPLY_BYTES = 8;
// The longest return delay a servo can be set to, which every try waits out.
constexpr double LONGEST_RETURN_DELAY_US = 508;

// One try of a word read that gets no answer, on a line without adapter latency (a
// pseudo-terminal): both packets, the longest return delay, and 1 ms of grace.
inline double absent_try_us(int baudnum)
{
    return wire_us(READ_PACKET_BYTES + WORD_REPLY_BYTES, baudnum) + LONGEST_RETURN_DELAY_US + 1000;
}

} // namespace bench

#endif
