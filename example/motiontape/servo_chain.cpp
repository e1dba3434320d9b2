// The listed servos, their registers by name, and the frame's group read and write.
#include "servo_chain.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "bus_tools.h"
#include "registers.h"
#include "status_line.h"

Chain chain;

namespace {

enum { READ_TRIES = 3, REGISTER_BYTES_MAX = 4, PROTOCOL1_PARAMS = 253 };

int servo_protocol[CHAIN_SERVOS_MAX];
int ids[CHAIN_SERVOS_MAX];
// Room for every servo's block of a frame (at most 8 bytes on these tables).
unsigned char block[CHAIN_SERVOS_MAX * 16];
int addresses[CHAIN_SERVOS_MAX];
int counts[CHAIN_SERVOS_MAX];
int errors[CHAIN_SERVOS_MAX];

bool is_gone(int code) { return code == RESULT_TX_FAIL || code == RESULT_RX_FAIL; }

const kinetron_register* either(int model, const char* name, const char* otherName)
{
    const kinetron_register* reg = kinetron_model_register(model, name);
    return reg ? reg : kinetron_model_register(model, otherName);
}

int end_of(const kinetron_register* reg) { return reg->address + reg->size; }

void list_models(const char* tool, const char* what)
{
    std::fprintf(stderr, "%s: %s:", tool, what);
    for (int k = 0; k < chain.count; ++k)
        std::fprintf(stderr, "%s servo %d model %d", k ? "," : "", chain.servos[k].id,
                     chain.servos[k].model);
    std::fprintf(stderr, "\n");
}

bool all_have(int which)
{
    for (int k = 0; k < chain.count; ++k) {
        if (!kinetron_model_has_instruction(chain.servos[k].model, chain.servos[k].firmware, which))
            return false;
    }
    return true;
}

// In a fast read one silent servo loses the parts of every servo after it: those are read
// again with a plain SYNC_READ, where each servo answers on its own.
void reread_lost_parts(int* results)
{
    static int lost[CHAIN_SERVOS_MAX], where[CHAIN_SERVOS_MAX], again[CHAIN_SERVOS_MAX];
    static unsigned char bytes[CHAIN_SERVOS_MAX * 16];
    const int size = chain.readCount;
    int count = 0;
    for (int k = 0; k < chain.count; ++k) {
        if (results[k] != RESULT_SUCCESS) {
            where[count] = k;
            lost[count++] = ids[k];
        }
    }
    bus_sync_read(0, count, lost, chain.readAddress, size, bytes, again, errors);
    chain_exit_if_gone(bus_result());
    for (int i = 0; i < count; ++i) {
        results[where[i]] = again[i];
        if (again[i] == RESULT_SUCCESS)
            std::memcpy(block + where[i] * size, bytes + i * size, static_cast<size_t>(size));
    }
}

} // namespace

const char* protocol_name(int protocol) { return protocol == 2 ? "2.0" : "1.0"; }

void chain_exit_if_gone(int code)
{
    if (!is_gone(code))
        return;
    status_clear();
    exit_if_code_says_gone(code);
}

int chain_ping(const int* wanted, int count, int protocol, int* missing, int* missingCount)
{
    static ChainServo found[CHAIN_SERVOS_MAX];
    static int foundProtocol[CHAIN_SERVOS_MAX];
    for (int i = 0; i < count; ++i)
        foundProtocol[i] = 0;
    // A reply lost on a busy line must not turn a servo away: the ids still silent are asked
    // again in later passes, so a chain that answers at once is pinged once.
    for (int pass = 0; pass < READ_TRIES; ++pass) {
        for (int i = 0; i < count; ++i) {
            for (int p = 2; p >= 1 && !foundProtocol[i]; --p) {
                if (protocol != 0 && p != protocol)
                    continue;
                int model = 0, firmware = 0;
                int code = bus_ping(p, wanted[i], &model, &firmware);
                chain_exit_if_gone(code);
                if (code == RESULT_SUCCESS) {
                    foundProtocol[i] = p;
                    found[i] = {wanted[i], model, firmware};
                }
            }
        }
    }
    chain.count = 0;
    *missingCount = 0;
    for (int i = 0; i < count; ++i) {
        if (!foundProtocol[i]) {
            missing[(*missingCount)++] = wanted[i];
            continue;
        }
        servo_protocol[chain.count] = foundProtocol[i];
        chain.servos[chain.count++] = found[i];
    }
    chain.protocol = chain.count > 0 ? servo_protocol[0] : protocol;
    return chain.count;
}

bool chain_learn_registers(const char* tool)
{
    for (int k = 0; k < chain.count; ++k) {
        if (!kinetron_model_table(chain.servos[k].model)) {
            std::fprintf(stderr, "%s: servo %d is model %d, which the model table does not know\n",
                         tool, chain.servos[k].id, chain.servos[k].model);
            return false;
        }
    }
    const char* table = kinetron_model_table(chain.servos[0].model);
    for (int k = 1; k < chain.count; ++k) {
        if (std::strcmp(kinetron_model_table(chain.servos[k].model), table) != 0 ||
            servo_protocol[k] != servo_protocol[0]) {
            list_models(tool, "the servos do not share one control table");
            return false;
        }
    }
    int model = chain.servos[0].model;
    chain.presentPosition = kinetron_model_register(model, "present_position");
    chain.presentSpeed = either(model, "present_velocity", "present_speed");
    chain.goalPosition = kinetron_model_register(model, "goal_position");
    chain.goalSpeed = either(model, "profile_velocity", "moving_speed");
    chain.torqueEnable = kinetron_model_register(model, "torque_enable");
    chain.positionLow = either(model, "min_position_limit", "cw_angle_limit");
    chain.positionHigh = either(model, "max_position_limit", "ccw_angle_limit");
    chain.velocityLimit = kinetron_model_register(model, "velocity_limit");
    if (!chain.presentPosition || !chain.presentSpeed || !chain.goalPosition || !chain.goalSpeed ||
        !chain.torqueEnable || !chain.positionLow || !chain.positionHigh) {
        std::fprintf(stderr, "%s: model %d lacks a register a motion needs\n", tool, model);
        return false;
    }
    const kinetron_register* first = chain.presentPosition;
    const kinetron_register* second = chain.presentSpeed;
    if (second->address < first->address)
        std::swap(first, second);
    chain.readAddress = first->address;
    chain.readCount = end_of(second) - first->address;
    first = chain.goalPosition;
    second = chain.goalSpeed;
    if (second->address < first->address)
        std::swap(first, second);
    chain.writeAddress = first->address;
    chain.writeCount = end_of(second) - first->address;
    if (chain.readCount > 16 || chain.writeCount != first->size + second->size) {
        std::fprintf(stderr, "%s: model %d keeps speed and position apart\n", tool, model);
        return false;
    }

    // A protocol 1.0 packet holds 253 parameters: the address, the count, then an id and the
    // block for each servo.
    int most =
        chain.protocol == 2 ? CHAIN_SERVOS_MAX : (PROTOCOL1_PARAMS - 2) / (1 + chain.writeCount);
    if (chain.count > most) {
        std::fprintf(stderr, "%s: one SYNC_WRITE of protocol %s carries at most %d servos\n", tool,
                     protocol_name(chain.protocol), most);
        return false;
    }
    if (chain.protocol == 2)
        chain.readWay = all_have(KINETRON_FAST_SYNC_READ) ? READ_FAST_SYNC
                        : all_have(KINETRON_SYNC_READ)    ? READ_SYNC
                                                          : READ_EACH;
    else
        chain.readWay = all_have(KINETRON_BULK_READ_1) ? READ_BULK : READ_EACH;
    for (int k = 0; k < chain.count; ++k)
        ids[k] = chain.servos[k].id;
    return true;
}

const char* chain_read_name(void)
{
    switch (chain.readWay) {
    case READ_FAST_SYNC:
        return "FAST_SYNC_READ";
    case READ_SYNC:
        return "SYNC_READ";
    case READ_BULK:
        return "BULK_READ";
    default:
        return "a READ per servo";
    }
}

int chain_read_motion(int* speeds, int* positions, int* results)
{
    const int n = chain.count;
    const int size = chain.readCount;
    switch (chain.readWay) {
    case READ_FAST_SYNC:
    case READ_SYNC: {
        bool fast = chain.readWay == READ_FAST_SYNC;
        int good = bus_sync_read(fast, n, ids, chain.readAddress, size, block, results, errors);
        chain_exit_if_gone(bus_result());
        if (fast && good < n)
            reread_lost_parts(results);
        break;
    }
    case READ_BULK:
        for (int k = 0; k < n; ++k) {
            addresses[k] = chain.readAddress;
            counts[k] = size;
        }
        bus_bulk_read(1, 0, n, ids, addresses, counts, block, results, errors);
        chain_exit_if_gone(bus_result());
        break;
    case READ_EACH:
        for (int k = 0; k < n; ++k) {
            results[k] =
                bus_read(chain.protocol, ids[k], chain.readAddress, size, block + k * size);
            chain_exit_if_gone(results[k]);
        }
        break;
    }
    int good = 0;
    for (int k = 0; k < n; ++k) {
        chain_exit_if_gone(results[k]);
        if (results[k] != RESULT_SUCCESS) {
            speeds[k] = positions[k] = VALUE_FAILED;
            continue;
        }
        const unsigned char* bytes = block + k * size;
        long long speed = kinetron_register_decode(
            chain.presentSpeed, bytes + chain.presentSpeed->address - chain.readAddress);
        if (chain.presentSpeed->signedness == KINETRON_DIRECTION_BIT)
            speed &= MAGNITUDE_MASK; // the raw word: bit 10 is the direction
        speeds[k] = static_cast<int>(speed < 0 ? -speed : speed);
        positions[k] = static_cast<int>(kinetron_register_decode(
            chain.presentPosition, bytes + chain.presentPosition->address - chain.readAddress));
        ++good;
    }
    return good;
}

void chain_read_each(const kinetron_register* reg, int* values)
{
    unsigned char bytes[REGISTER_BYTES_MAX];
    for (int k = 0; k < chain.count; ++k) {
        int code = RESULT_RX_TIMEOUT;
        for (int tries = 0; tries < READ_TRIES && code != RESULT_SUCCESS; ++tries) {
            code = bus_read(chain.protocol, ids[k], reg->address, reg->size, bytes);
            chain_exit_if_gone(code);
        }
        values[k] = code == RESULT_SUCCESS ? static_cast<int>(kinetron_register_decode(reg, bytes))
                                           : VALUE_FAILED;
    }
}

void chain_write_each(const kinetron_register* reg, int value)
{
    unsigned char bytes[REGISTER_BYTES_MAX];
    kinetron_register_encode(reg, value, bytes);
    for (int k = 0; k < chain.count; ++k)
        chain_exit_if_gone(bus_write(chain.protocol, ids[k], reg->address, reg->size, bytes));
}

void chain_write_motion(const int* speeds, const int* goals, const bool* send)
{
    static int sendIds[CHAIN_SERVOS_MAX];
    const int size = chain.writeCount;
    int n = 0;
    for (int k = 0; k < chain.count; ++k) {
        if (send && !send[k])
            continue;
        unsigned char* bytes = block + n * size;
        kinetron_register_encode(chain.goalSpeed, speeds[k],
                                 bytes + chain.goalSpeed->address - chain.writeAddress);
        kinetron_register_encode(chain.goalPosition, goals[k],
                                 bytes + chain.goalPosition->address - chain.writeAddress);
        sendIds[n++] = ids[k];
    }
    if (n > 0)
        chain_exit_if_gone(
            bus_sync_write(chain.protocol, chain.writeAddress, size, n, sendIds, block));
}

void chain_sync_write_each(const kinetron_register* reg, int value)
{
    for (int k = 0; k < chain.count; ++k)
        kinetron_register_encode(reg, value, block + k * reg->size);
    chain_exit_if_gone(
        bus_sync_write(chain.protocol, reg->address, reg->size, chain.count, ids, block));
}
