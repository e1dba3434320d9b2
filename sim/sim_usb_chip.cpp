#include "sim_usb_chip.h"

namespace sim {

UsbDelivery next_usb_delivery(const std::int64_t* arrival_us, int count, int latency_ms,
                              std::int64_t frame_origin_us)
{
    if (count <= 0)
        return {0, 0};
    const std::int64_t timer_end = arrival_us[0] + static_cast<std::int64_t>(latency_ms) * 1000;
    int taken = 0;
    while (taken < count && taken < USB_PACKET_DATA && arrival_us[taken] <= timer_end)
        ++taken;
    // A full packet leaves as soon as its last byte is in; otherwise the timer sends it.
    const std::int64_t sent = taken == USB_PACKET_DATA ? arrival_us[taken - 1] : timer_end;
    // The host takes it at the first frame boundary at or after that moment.
    std::int64_t since_origin = sent - frame_origin_us;
    std::int64_t frames = since_origin / USB_FRAME_US;
    if (frames * USB_FRAME_US < since_origin)
        ++frames;
    return {taken, frame_origin_us + frames * USB_FRAME_US};
}

} // namespace sim
