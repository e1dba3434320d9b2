// Group reads through a modelled USB adapter: a recorder's frame of 18 servos read in one
// exchange (SYNC_READ, FAST_SYNC_READ, protocol 1.0 BULK_READ) against the wire's model.
#ifndef GROUP_READ_BENCH_H
#define GROUP_READ_BENCH_H

namespace bench {

// `rec_fps`: REC's frames per second through the same adapter, for the ratios; 0 if unknown.
void run_group_read_bench(double rec_fps);

} // namespace bench

#endif
