// The simulated chain's packet parser and servos fed arbitrary bytes at arbitrary speeds,
// with faults switched on, as a misbehaving client would.
#include <cstddef>
#include <cstdint>

#include "sim_chain.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static SimChain* chain = nullptr;
    if (!chain) {
        char err[256];
        chain = sim_chain_create(
            "ids=1-5+7@1+250+8-9#1060+10#350+11#29,drop=0.1,corrupt=0.1,partial=0.1,noise=0.1,"
            "seed=7",
            err, sizeof err);
        if (!chain)
            __builtin_trap();
    }
    if (size < 1)
        return 0;
    // The first byte picks the line speed: the baud numbers the chain uses, or a stray one.
    static const long speeds[] = {55555, 1000000, 9615, 2000000, 57600, 1};
    long bps = speeds[data[0] % 6];
    sim_chain_feed(chain, data + 1, static_cast<int>(size - 1), bps);
    unsigned char out[512];
    while (sim_chain_take(chain, out, sizeof out) > 0) {
    }
    sim_chain_discard(chain);
    return 0;
}
