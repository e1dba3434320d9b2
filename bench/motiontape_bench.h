// motiontape on 18 servos of model 1060: frames a second of a recording (one group read a
// frame) against the wire model, and how far a 60-second playback drifts from its delays.
#ifndef MOTIONTAPE_BENCH_H
#define MOTIONTAPE_BENCH_H

namespace bench {

void run_motiontape_bench();

} // namespace bench

#endif
