#include <chrono>
#include <thread>

#include "clock.h"
#include "line.h"

namespace kinetron {

std::int64_t monotonic_us()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void sleep_until_us(std::int64_t deadline_us)
{
    for (;;) {
        const std::int64_t left = deadline_us - monotonic_us();
        if (left <= 0)
            return;
        std::this_thread::sleep_for(std::chrono::microseconds(left));
    }
}

void sleep_for_us(std::int64_t duration_us) { sleep_until_us(monotonic_us() + duration_us); }

} // namespace kinetron
