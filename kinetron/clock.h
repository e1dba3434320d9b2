// Pauses on the monotonic clock of line.h (monotonic_us).
#ifndef KINETRON_CLOCK_H
#define KINETRON_CLOCK_H

#include <cstdint>

namespace kinetron {

void sleep_until_us(std::int64_t deadline_us);
void sleep_for_us(std::int64_t duration_us);

} // namespace kinetron

#endif
