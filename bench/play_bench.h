// posetape PLAY against a timestamping peer: the time a frame takes, and how far a
// played sequence stretches beyond the sum of its delays.
#ifndef PLAY_BENCH_H
#define PLAY_BENCH_H

namespace bench {

void run_play_bench();

} // namespace bench

#endif
