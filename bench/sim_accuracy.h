// How closely servosim keeps to the wire model on its own: a client that spins on the
// line (no poll, no sleep, so no wake-up delay of its own) times word reads.
#ifndef SIM_ACCURACY_H
#define SIM_ACCURACY_H

namespace bench {

void run_sim_accuracy();

// Median round trip of the bare pseudo-terminal measured by run_sim_accuracy; 0 before.
double pty_round_trip_us();

} // namespace bench

#endif
