// Single exchanges through the servo bus library and the real serial path to servosim.
#ifndef EXCHANGE_BENCH_H
#define EXCHANGE_BENCH_H

namespace bench {

// Word reads of a present servo (return delay 0 and factory) and reads with retry of an
// absent one at baud numbers 1, 35 and 207. Adds rows and summary keys.
void run_exchange_bench();

} // namespace bench

#endif
