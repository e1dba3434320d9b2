/* Reads of any model's registers by name, with retry. */
#include "model_reads.h"

#include <cstdio>
#include <cstring>

#include "bus_tools.h"
#include "registers.h"

const kinetron_register* model_register_named(int model, const char* const* names)
{
    for (; *names != nullptr; ++names) {
        const kinetron_register* reg = kinetron_model_register(model, *names);
        if (reg != nullptr)
            return reg;
    }
    return nullptr;
}

bool read_bytes_retry(int protocol, int id, int address, int count, unsigned char* out)
{
    read_busy = true;
    int code = RESULT_SENT;
    int tries = 0;
    while (code != RESULT_SUCCESS && tries < READ_TRIES_MAX) {
        code = bus_read(protocol, id, address, count, out);
        ++tries;
        /* A gone line stays gone: no use trying ten times. */
        if (code == RESULT_TX_FAIL || code == RESULT_RX_FAIL)
            break;
    }
    last_attempts = tries;
    read_busy = false;
    reads_done.fetch_add(1);
    return code == RESULT_SUCCESS;
}

bool read_register_retry(int protocol, int id, const kinetron_register* reg, long long* raw)
{
    unsigned char bytes[4] = {0, 0, 0, 0};
    if (reg == nullptr || !read_bytes_retry(protocol, id, reg->address, reg->size, bytes))
        return false;
    *raw = kinetron_register_decode(reg, bytes);
    return true;
}

void format_in_units(const kinetron_register* reg, long long raw, char* text, int size)
{
    if (reg->unit == nullptr || reg->unit[0] == '\0') {
        std::snprintf(text, size, "%lld", raw);
        return;
    }
    std::snprintf(text, size, "%.*f%s", unit_decimals(reg), kinetron_to_units(reg, raw), reg->unit);
}

int unit_decimals(const kinetron_register* reg)
{
    /* As many as one step needs: 0.1 V shows one, 1 C none, 0.088 deg one. */
    if (reg->unit != nullptr && std::strcmp(reg->unit, "deg") == 0)
        return 1;
    return reg->scale >= 1.0 || reg->scale <= 0.0 ? 0 : reg->scale >= 0.1 ? 1 : 2;
}
