// The library's reply scanner over whatever a line may bring back: echoes, noise, cut
// packets, stray FF bytes. The first bytes choose the packet sent and the reply expected.
#include <cstddef>
#include <cstdint>

#include "reply_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    int expect_id = data[0];
    int expect_params = data[1] % 8;
    std::size_t sent_count = data[2] % 16;
    data += 3;
    size -= 3;
    if (sent_count > size)
        sent_count = size;
    const std::uint8_t* sent = data;
    const std::uint8_t* received = data + sent_count;
    std::size_t count = size - sent_count;
    kinetron::ScanResult r =
        kinetron::scan_reply(received, count, sent, sent_count, expect_id, expect_params);
    if (r.state == kinetron::ScanState::Good) {
        // A good reply lies wholly inside what was received and carries what was asked.
        if (r.start >= count || r.param_count != expect_params)
            __builtin_trap();
        if (r.params < received || r.params + r.param_count > received + count)
            __builtin_trap();
        if (received[r.start] != 0xFF || received[r.start + 2] != expect_id)
            __builtin_trap();
    }
    return 0;
}
