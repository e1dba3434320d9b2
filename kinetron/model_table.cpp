// The model table: every model's protocol, control table and baud-rate map, generated from
// models/*.txt (model_table_data.inc), and the conversions between a register's raw bytes,
// its raw value and its unit.
#include <cmath>
#include <cstring>

#include "kinetron.h"

namespace {

struct model_baud {
    int value;
    int bps;
};

struct model_entry {
    int model;
    int protocol;
    const char* table;
    const kinetron_register* registers;
    int register_count;
    const model_baud* bauds;
    int baud_count;
    int fast_from;   // firmware version from which the fast group reads work; 0 never
    int bulk_read_1; // nonzero: answers protocol 1.0 BULK_READ
};

#include "model_table_data.inc"

const int DIRECTION_BIT = 0x400;
const int DIRECTION_AMOUNT = 0x3FF;

const model_entry* find_model(int model)
{
    for (const model_entry& entry : MODELS)
        if (entry.model == model)
            return &entry;
    return nullptr;
}

} // namespace

extern "C" {

int kinetron_model_protocol(int model)
{
    const model_entry* entry = find_model(model);
    return entry ? entry->protocol : 0;
}

const char* kinetron_model_table(int model)
{
    const model_entry* entry = find_model(model);
    return entry ? entry->table : nullptr;
}

int kinetron_model_register_count(int model)
{
    const model_entry* entry = find_model(model);
    return entry ? entry->register_count : 0;
}

const kinetron_register* kinetron_model_register_at(int model, int index)
{
    const model_entry* entry = find_model(model);
    if (!entry || index < 0 || index >= entry->register_count)
        return nullptr;
    return &entry->registers[index];
}

const kinetron_register* kinetron_model_register(int model, const char* name)
{
    const model_entry* entry = find_model(model);
    if (!entry || !name)
        return nullptr;
    for (int i = 0; i < entry->register_count; ++i)
        if (std::strcmp(entry->registers[i].name, name) == 0)
            return &entry->registers[i];
    return nullptr;
}

int kinetron_model_baud_bps(int model, int value)
{
    const model_entry* entry = find_model(model);
    if (!entry)
        return 0;
    for (int i = 0; i < entry->baud_count; ++i)
        if (entry->bauds[i].value == value)
            return entry->bauds[i].bps;
    return 0;
}

int kinetron_model_has_instruction(int model, int firmware, int which)
{
    const model_entry* entry = find_model(model);
    if (!entry)
        return 0;
    switch (which) {
    case KINETRON_SYNC_READ:
    case KINETRON_BULK_READ:
        return entry->protocol == 2;
    case KINETRON_FAST_SYNC_READ:
    case KINETRON_FAST_BULK_READ:
        return entry->protocol == 2 && entry->fast_from > 0 && firmware >= entry->fast_from;
    case KINETRON_BULK_READ_1:
        return entry->protocol == 1 && entry->bulk_read_1;
    default:
        return 0;
    }
}

int kinetron_model_at(int index)
{
    const int count = static_cast<int>(sizeof MODELS / sizeof MODELS[0]);
    return index >= 0 && index < count ? MODELS[index].model : 0;
}

long long kinetron_register_decode(const kinetron_register* reg, const unsigned char* bytes)
{
    if (!reg || !bytes || reg->size < 1 || reg->size > 4)
        return 0;
    unsigned long long value = 0;
    for (int i = reg->size - 1; i >= 0; --i)
        value = (value << 8) | bytes[i];
    if (reg->signedness == KINETRON_SIGNED) {
        const unsigned long long sign = 1ULL << (8 * reg->size - 1);
        return static_cast<long long>(value ^ sign) - static_cast<long long>(sign);
    }
    return static_cast<long long>(value);
}

void kinetron_register_encode(const kinetron_register* reg, long long value, unsigned char* bytes)
{
    if (!reg || !bytes || reg->size < 1 || reg->size > 4)
        return;
    const unsigned long long bits = static_cast<unsigned long long>(value);
    for (int i = 0; i < reg->size; ++i)
        bytes[i] = static_cast<unsigned char>(bits >> (8 * i));
}

double kinetron_to_units(const kinetron_register* reg, long long raw)
{
    if (!reg)
        return 0;
    if (reg->signedness == KINETRON_DIRECTION_BIT) {
        const long long amount = raw & DIRECTION_AMOUNT;
        raw = (raw & DIRECTION_BIT) ? -amount : amount;
    }
    if (!reg->unit || !reg->unit[0])
        return static_cast<double>(raw);
    return static_cast<double>(raw) * reg->scale;
}

long long kinetron_from_units(const kinetron_register* reg, double value)
{
    if (!reg || std::isnan(value))
        return 0;
    const double scale = reg->unit && reg->unit[0] && reg->scale > 0 ? reg->scale : 1.0;
    const double steps = value / scale;
    if (reg->signedness == KINETRON_DIRECTION_BIT) {
        // The amount has 10 bits: a larger one is the most the register holds, not a
        // flipped direction.
        double amount = std::round(std::fabs(steps));
        if (amount > DIRECTION_AMOUNT)
            amount = DIRECTION_AMOUNT;
        const long long raw = static_cast<long long>(amount);
        return steps < 0 && raw > 0 ? (raw | DIRECTION_BIT) : raw;
    }
    // Far outside any register: keep the conversion defined.
    const double limit = 9.0e18;
    if (steps > limit)
        return static_cast<long long>(limit);
    if (steps < -limit)
        return static_cast<long long>(-limit);
    return std::llround(steps);
}

} // extern "C"
