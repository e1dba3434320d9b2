// Single exchanges through the servo bus library and the real serial path to servosim.
#ifndef EXCHANGE_BENCH_H
#define EXCHANGE_BENCH_H

#include <vector>

namespace bench {

// Word reads of a present servo (return delay 0 and factory) and reads with retry of an
// absent one at baud numbers 1, 35 and 207. Adds rows and summary keys.
void run_exchange_bench();

// Times `count` single word reads of servo 1's present position on the open line, in
// microseconds; failed reads are counted apart.
std::vector<double> time_word_reads(int count, int& failures);

} // namespace bench

#endif
