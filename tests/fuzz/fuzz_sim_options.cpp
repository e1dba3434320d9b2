// The option list of KINETRON_DEVICE=sim:OPTIONS and of servosim: any text is either a
// chain or one line of explanation, never a crash.
#include <cstdint>
#include <cstring>
#include <string>

#include "sim_chain.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.c_str(); // options arrive as a C string
    char err[256];
    err[0] = '\0';
    SimChain* chain = sim_chain_create(text.c_str(), err, sizeof err);
    if (chain) {
        sim_chain_destroy(chain);
    } else if (err[0] == '\0' || std::strchr(err, '\n')) {
        __builtin_trap(); // a refusal says why, in one line
    }
    return 0;
}
