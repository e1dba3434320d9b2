// How closely servosim keeps to the wire model on its own: a bare client (no library)
// times word reads, and a bare pseudo-terminal with an instant echo shows what the line
// alone adds to each of them.
#ifndef SIM_ACCURACY_H
#define SIM_ACCURACY_H

namespace bench {

void run_sim_accuracy();

// Median round trip of the bare pseudo-terminal measured by run_sim_accuracy; 0 before.
double pty_round_trip_us();

} // namespace bench

#endif
