// The serial-port calls that differ between POSIX systems: an exact line speed, and the
// driver's low-latency mode.
#ifndef KINETRON_LINE_SPEED_H
#define KINETRON_LINE_SPEED_H

#include <string>

namespace kinetron {

// Sets input and output speed of the open port `fd` to exactly `bits_per_second`.
bool set_exact_speed(int fd, int bits_per_second, std::string& error);
// Asks the driver to hand received bytes over at once; failure is not an error.
void request_low_latency(int fd);

} // namespace kinetron

#endif
