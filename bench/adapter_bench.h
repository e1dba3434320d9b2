// What a real USB adapter gives: one read and a recording of 18 servos, in the process,
// through the simulated chain's model of the adapter's chip at latency timers of 1 and 16 ms;
// at 1 ms also a recording that reads position and speed in one block read per servo, and
// the group reads of every model.
#ifndef ADAPTER_BENCH_H
#define ADAPTER_BENCH_H

namespace bench {

void run_adapter_bench();

} // namespace bench

#endif
