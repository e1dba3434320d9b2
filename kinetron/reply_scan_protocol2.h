// Finding protocol 2.0 status packets in the bytes that came back after an instruction:
// one servo's reply, and the combined reply of FAST_SYNC_READ and FAST_BULK_READ. Pure
// functions over the bytes received so far, as scan_reply is for protocol 1.0.
#ifndef KINETRON_REPLY_SCAN_PROTOCOL2_H
#define KINETRON_REPLY_SCAN_PROTOCOL2_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "reply_scan.h"

namespace kinetron {

// Finds the status packet of `expect_id` (or ANY_ID) with `expect_params` parameters once
// unstuffed. A candidate starts at FF FF FD not followed by FD; its CRC is checked over
// the bytes as received, then its error byte and parameters are unstuffed into `unstuffed`,
// where result.params points. A failed candidate resumes the scan after its first FF, so
// garbage and protocol 1.0 packets are stepped over. One leading copy of `sent` is skipped.
ScanResult scan_reply2(const std::uint8_t* received, std::size_t count, const std::uint8_t* sent,
                       std::size_t sent_count, int expect_id, int expect_params,
                       std::vector<std::uint8_t>& unstuffed);

// One servo's part of a combined fast reply: what the instruction asked of it, and what
// came back.
struct FastPart {
    int id = 0;
    int count = 0; // data bytes asked for
    bool good = false;
    std::uint8_t error = 0;
    const std::uint8_t* data = nullptr; // inside the received bytes (never stuffed)
};

// Scans for the combined reply (FF FF FD 00 FE LEN 55, then error, id, data and running
// CRC per servo, in list order). Each part whose id and running CRC check is good; a part
// that is not there (a silent servo) is skipped and the next servo's part looked for in its
// place. Good when every part is good; otherwise Nothing, Partial (a reply cut short or
// still arriving) or BadPacket (whole packets, not this reply or with a failed part).
ScanState scan_fast_reply(const std::uint8_t* received, std::size_t count, const std::uint8_t* sent,
                          std::size_t sent_count, std::vector<FastPart>& parts);

} // namespace kinetron

#endif
