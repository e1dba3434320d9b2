// Group reads through a modelled USB adapter: a recorder's read of 18 servos a frame in one
// exchange (protocol 2.0 SYNC_READ and FAST_SYNC_READ of model 1060 at return delay 250 and
// 0; protocol 1.0 BULK_READ of model 29), against the wire model and REC's frames a second.
#ifndef GROUP_READ_BENCH_H
#define GROUP_READ_BENCH_H

namespace bench {

void run_group_read_bench(int latency_ms, double rec_fps);

} // namespace bench

#endif
