// The USB serial chip between the bus and the host, as the host sees its replies: the chip
// gathers the bytes it receives and sends them on in one USB packet when its latency timer
// runs out or when a packet's worth waits; the host takes the packet at a USB frame.
#ifndef SIM_USB_CHIP_H
#define SIM_USB_CHIP_H

#include <cstdint>

namespace sim {

// Data bytes in one USB packet of the chip (64 bytes less its two status bytes).
constexpr int USB_PACKET_DATA = 62;
// A full-speed USB frame.
constexpr std::int64_t USB_FRAME_US = 1000;

struct UsbDelivery {
    int count;          // bytes of the front that go in the next USB packet
    std::int64_t at_us; // when the host has them
};

// The next USB packet of the chip, given when the waiting bytes reached the chip from the
// wire (`count` of them, in order; only the first USB_PACKET_DATA matter). The chip's timer
// starts with the first byte in its empty buffer. Frames are counted from `frame_origin_us`,
// the moment the host wrote its last packet.
UsbDelivery next_usb_delivery(const std::int64_t* arrival_us, int count, int latency_ms,
                              std::int64_t frame_origin_us);

} // namespace sim

#endif
