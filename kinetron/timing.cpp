#include "timing.h"

namespace kinetron {

std::int64_t wire_time_us(int bytes, int bits_per_second)
{
    if (bytes <= 0 || bits_per_second <= 0)
        return 0;
    const std::int64_t bits = static_cast<std::int64_t>(bytes) * 10 * 1000000;
    return (bits + bits_per_second - 1) / bits_per_second;
}

std::int64_t reply_timeout_us(int bits_per_second, int sent_bytes, int reply_bytes, int latency_ms,
                              bool usb_adapter)
{
    if (latency_ms < 0)
        latency_ms = 0;
    if (latency_ms > LATENCY_CAP_MS)
        latency_ms = LATENCY_CAP_MS;
    std::int64_t timeout = wire_time_us(sent_bytes, bits_per_second) +
                           wire_time_us(reply_bytes, bits_per_second) + LONGEST_RETURN_DELAY_US +
                           2 * static_cast<std::int64_t>(latency_ms) * 1000 + 1000;
    if (usb_adapter)
        timeout += 2000;
    return timeout;
}

std::int64_t group_timeout_us(int bits_per_second, int sent_bytes, int reply_bytes, int servos,
                              int latency_ms, bool usb_adapter)
{
    const std::int64_t more_servos = servos > 1 ? servos - 1 : 0;
    return reply_timeout_us(bits_per_second, sent_bytes, reply_bytes, latency_ms, usb_adapter) +
           more_servos * LONGEST_RETURN_DELAY_US;
}

} // namespace kinetron
