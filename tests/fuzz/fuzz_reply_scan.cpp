// The library's reply scanners, of both protocols and of the fast reads' combined reply,
// over whatever a line may bring back: echoes, noise, cut packets, stray FF bytes, stuffing.
// The first bytes choose the packet sent and the reply expected.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "reply_scan.h"
#include "reply_scan_protocol2.h"

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

    std::vector<std::uint8_t> unstuffed;
    r = kinetron::scan_reply2(received, count, sent, sent_count, expect_id, expect_params,
                              unstuffed);
    if (r.state == kinetron::ScanState::Good &&
        (r.end > count || r.start + 11 + expect_params > r.end || r.param_count != expect_params ||
         received[r.start + 4] != expect_id))
        __builtin_trap();

    // Listed servos 1.., each with its own count; a good part's data lies inside the input.
    std::vector<kinetron::FastPart> parts(static_cast<std::size_t>(expect_id % 4 + 1));
    for (std::size_t k = 0; k < parts.size(); ++k) {
        parts[k].id = static_cast<int>(k) + 1;
        parts[k].count = expect_params + static_cast<int>(k);
    }
    kinetron::scan_fast_reply(received, count, sent, sent_count, parts);
    for (const kinetron::FastPart& part : parts)
        if (part.good &&
            (part.data < received + 10 || part.data + part.count + 2 > received + count))
            __builtin_trap();
    return 0;
}
