// posetape and servoscan run as a person runs them, under a pseudo-terminal against
// servosim: discovery on an empty bus, recording of 18 servos, the default servoscan.
#ifndef POSETAPE_BENCH_H
#define POSETAPE_BENCH_H

namespace bench {

void run_scan_bench();
void run_recording_bench();
void run_servoscan_bench();
// posetape REC of 18 servos in the process, through a modelled USB adapter with this latency
// timer, against 36 exchanges of `exchange_ms` a frame. Returns the frames a second.
double run_adapter_recording_bench(int latency_ms, double exchange_ms);

} // namespace bench

#endif
