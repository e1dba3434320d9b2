// Finding a servo's status packet in the bytes that came back after an instruction.
// A pure function over the bytes received so far, so it can be tested on its own.
#ifndef KINETRON_REPLY_SCAN_H
#define KINETRON_REPLY_SCAN_H

#include <cstddef>
#include <cstdint>

namespace kinetron {

enum class ScanState {
    Nothing,   // no byte beyond the echo of our own packet
    Partial,   // bytes, but no complete packet among them (yet)
    BadPacket, // at least one complete packet, none of them the reply we wait for
    Good       // the reply: right id, right length, right checksum
};

struct ScanResult {
    ScanState state = ScanState::Nothing;
    std::size_t start = 0;                // Good: offset of the reply's first FF
    std::size_t end = 0;                  // Good: offset just past its last byte
    std::uint8_t error = 0;               // Good: the ERR byte
    const std::uint8_t* params = nullptr; // Good: the reply's parameters, inside the input
    int param_count = 0;
};

// `received`: every byte read since the packet `sent` went out (an adapter may echo it
// first; one leading copy is skipped). `expect_id`: the servo addressed. `expect_params`:
// parameter bytes the reply must carry. Scanning resumes after the first FF of every
// candidate that fails a check, so garbage and stray FF bytes are stepped over. An
// `expect_id` of ANY_ID takes a reply from any servo.
constexpr int ANY_ID = -1;
ScanResult scan_reply(const std::uint8_t* received, std::size_t count, const std::uint8_t* sent,
                      std::size_t sent_count, int expect_id, int expect_params);

// Bytes that the echo of `sent` takes at the start of `received` (0 when it does not begin
// with it); `pending` is set while a prefix of it is all there is.
std::size_t echo_length(const std::uint8_t* received, std::size_t count, const std::uint8_t* sent,
                        std::size_t sent_count, bool& pending);

} // namespace kinetron

#endif
