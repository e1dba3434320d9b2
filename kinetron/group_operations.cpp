// The operations of kinetron.h that reach several servos with one packet: the PING to all,
// the sync and bulk writes and the group reads.
#include <algorithm>
#include <cstring>
#include <set>

#include "exchange.h"
#include "kinetron.h"
#include "operations.h"
#include "packet_protocol2.h"

namespace {

using kinetron::g_bus;
using kinetron::ReplySlot;

// Protocol 1.0 BULK_READ (protocol 2.0 uses 0x92 too, with its own parameters).
constexpr int INST1_BULK_READ = 0x92;
// Most servos one group packet lists.
constexpr int MOST_SERVOS = 253;
// Most parameter bytes of a protocol 2.0 packet: stuffed (a third more at worst) with the
// instruction and CRC, its length still fits in two bytes.
constexpr std::size_t MOST_PARAMS2 = 49000;

int refuse()
{
    kinetron::refuse_packet();
    return RESULT_TX_ERROR;
}

// Every id a servo id of the protocol, none twice.
bool listed_ids(int protocol, int n, const int* ids)
{
    if (ids == nullptr || n < 1 || n > MOST_SERVOS)
        return false;
    const int highest = protocol == 1 ? ID_HIGHEST_SERVO : kinetron::ID2_HIGHEST_SERVO;
    std::set<int> seen;
    for (int k = 0; k < n; ++k)
        if (ids[k] < 0 || ids[k] > highest || !seen.insert(ids[k]).second)
            return false;
    return true;
}

bool valid_address(int protocol, int address)
{
    return address >= 0 && address <= (protocol == 1 ? 0xFF : 0xFFFF);
}

// Sends a packet without reply: sync and bulk writes. Code 0 once it left.
int send_only(int protocol, const std::vector<std::uint8_t>& bytes)
{
    if (bytes.empty())
        return refuse();
    kinetron::Exchange exchange;
    exchange.packet = &bytes;
    exchange.protocol = protocol;
    g_bus.result = kinetron::run_exchange(g_bus, exchange);
    return g_bus.result;
}

// A group read refused before anything was sent: every servo gets code 4.
int refuse_group(int n, int* results, int* errors)
{
    refuse();
    for (int k = 0; results && k < n && k < MOST_SERVOS; ++k)
        results[k] = RESULT_TX_ERROR;
    for (int k = 0; errors && k < n && k < MOST_SERVOS; ++k)
        errors[k] = -1;
    return 0;
}

// Runs the group read `bytes` for servo k reading counts[k] bytes into `out` one after the
// other; the number of servos read well.
int run_group_read(int protocol, kinetron::ReplyShape shape, const std::vector<std::uint8_t>& bytes,
                   int n, const int* ids, const std::vector<int>& counts, unsigned char* out,
                   int* results, int* errors)
{
    if (bytes.empty() || bytes.size() > MOST_PARAMS2)
        return refuse_group(n, results, errors);
    // The combined reply of a fast read counts all of its parts in one 2-byte length.
    long long combined_length = 1;
    for (int k = 0; k < n; ++k)
        combined_length += 4 + counts[k];
    if (shape == kinetron::ReplyShape::Combined && combined_length > 0xFFFF)
        return refuse_group(n, results, errors);
    std::vector<ReplySlot> slots(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k) {
        slots[k].id = ids[k];
        slots[k].params = counts[k];
    }
    kinetron::Exchange exchange;
    exchange.packet = &bytes;
    exchange.protocol = protocol;
    exchange.expect_reply = true;
    exchange.shape = shape;
    exchange.slots = &slots;
    g_bus.result = kinetron::run_exchange(g_bus, exchange);

    int good = 0;
    std::size_t offset = 0;
    for (int k = 0; k < n; ++k) {
        ReplySlot& slot = slots[k];
        // Nothing reached the line, or the line died: no servo was read.
        if (g_bus.result == RESULT_TX_FAIL || g_bus.result == RESULT_RX_FAIL)
            slot.result = g_bus.result;
        if (slot.result == RESULT_SUCCESS) {
            std::memcpy(out + offset, slot.data.data(), slot.data.size());
            ++good;
        }
        if (results)
            results[k] = slot.result;
        if (errors)
            errors[k] = slot.result == RESULT_SUCCESS ? slot.error : -1;
        offset += static_cast<std::size_t>(counts[k]);
    }
    return good;
}

} // namespace

extern "C" {

int bus_ping_all(int* ids, int* models, int* firmwares, int max)
{
    const std::vector<std::uint8_t> bytes =
        kinetron::encode_packet2(ID_BROADCAST, kinetron::INST2_PING, {});
    std::vector<ReplySlot> slots;
    kinetron::Exchange exchange;
    exchange.packet = &bytes;
    exchange.protocol = 2;
    exchange.expect_reply = true;
    exchange.shape = kinetron::ReplyShape::Everyone;
    exchange.expect_params = 3;
    exchange.slots = &slots;
    g_bus.result = kinetron::run_exchange(g_bus, exchange);
    for (int k = 0; k < static_cast<int>(slots.size()) && k < max; ++k) {
        if (ids)
            ids[k] = slots[k].id;
        if (models)
            models[k] = slots[k].data[0] | slots[k].data[1] << 8;
        if (firmwares)
            firmwares[k] = slots[k].data[2];
    }
    return static_cast<int>(slots.size());
}

int bus_sync_write(int protocol, int address, int count, int n, const int* ids,
                   const unsigned char* data)
{
    if ((protocol != 1 && protocol != 2) || !listed_ids(protocol, n, ids) || data == nullptr ||
        !valid_address(protocol, address) || count < 1 ||
        static_cast<std::size_t>(count) > MOST_PARAMS2)
        return refuse();
    std::vector<std::uint8_t> params;
    if (protocol == 1) {
        params = {static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(count)};
    } else {
        kinetron::append_word(params, address);
        kinetron::append_word(params, count);
    }
    for (int k = 0; k < n; ++k) {
        if (params.size() > MOST_PARAMS2)
            return refuse();
        params.push_back(static_cast<std::uint8_t>(ids[k]));
        params.insert(params.end(), data + static_cast<std::size_t>(k) * count,
                      data + static_cast<std::size_t>(k + 1) * count);
    }
    if (protocol == 1)
        return send_only(1, kinetron::encode_packet1(ID_BROADCAST, INST_SYNC_WRITE, params));
    if (params.size() > MOST_PARAMS2)
        return refuse();
    return send_only(2, kinetron::encode_packet2(ID_BROADCAST, kinetron::INST2_SYNC_WRITE, params));
}

int bus_bulk_write(int n, const int* ids, const int* addresses, const int* counts,
                   const unsigned char* data)
{
    if (!listed_ids(2, n, ids) || addresses == nullptr || counts == nullptr || data == nullptr)
        return refuse();
    std::vector<std::uint8_t> params;
    std::size_t offset = 0;
    for (int k = 0; k < n; ++k) {
        if (!valid_address(2, addresses[k]) || counts[k] < 1 ||
            params.size() + static_cast<std::size_t>(counts[k]) > MOST_PARAMS2)
            return refuse();
        params.push_back(static_cast<std::uint8_t>(ids[k]));
        kinetron::append_word(params, addresses[k]);
        kinetron::append_word(params, counts[k]);
        params.insert(params.end(), data + offset, data + offset + counts[k]);
        offset += static_cast<std::size_t>(counts[k]);
    }
    return send_only(2, kinetron::encode_packet2(ID_BROADCAST, kinetron::INST2_BULK_WRITE, params));
}

int bus_sync_read(int fast, int n, const int* ids, int address, int count, unsigned char* out,
                  int* results, int* errors)
{
    if (!listed_ids(2, n, ids) || out == nullptr || !valid_address(2, address) || count < 1 ||
        count > kinetron::MAX_READ_BYTES2)
        return refuse_group(n, results, errors);
    std::vector<std::uint8_t> params;
    kinetron::append_word(params, address);
    kinetron::append_word(params, count);
    for (int k = 0; k < n; ++k)
        params.push_back(static_cast<std::uint8_t>(ids[k]));
    const std::vector<std::uint8_t> bytes = kinetron::encode_packet2(
        ID_BROADCAST, fast ? kinetron::INST2_FAST_SYNC_READ : kinetron::INST2_SYNC_READ, params);
    const std::vector<int> counts(static_cast<std::size_t>(n), count);
    return run_group_read(2,
                          fast ? kinetron::ReplyShape::Combined : kinetron::ReplyShape::EachListed,
                          bytes, n, ids, counts, out, results, errors);
}

int bus_bulk_read(int protocol, int fast, int n, const int* ids, const int* addresses,
                  const int* counts, unsigned char* out, int* results, int* errors)
{
    if ((protocol != 1 && protocol != 2) || (protocol == 1 && fast) ||
        !listed_ids(protocol, n, ids) || addresses == nullptr || counts == nullptr ||
        out == nullptr)
        return refuse_group(n, results, errors);
    const int most = protocol == 1 ? kinetron::MAX_REPLY_PARAMS : kinetron::MAX_READ_BYTES2;
    std::vector<int> wanted(static_cast<std::size_t>(n));
    std::vector<std::uint8_t> params;
    if (protocol == 1)
        params.push_back(0x00);
    for (int k = 0; k < n; ++k) {
        if (!valid_address(protocol, addresses[k]) || counts[k] < 1 || counts[k] > most)
            return refuse_group(n, results, errors);
        wanted[k] = counts[k];
        if (protocol == 1) {
            // Length, id, address: protocol 1.0's own order.
            params.push_back(static_cast<std::uint8_t>(counts[k]));
            params.push_back(static_cast<std::uint8_t>(ids[k]));
            params.push_back(static_cast<std::uint8_t>(addresses[k]));
        } else {
            params.push_back(static_cast<std::uint8_t>(ids[k]));
            kinetron::append_word(params, addresses[k]);
            kinetron::append_word(params, counts[k]);
        }
    }
    const std::vector<std::uint8_t> bytes =
        protocol == 1
            ? kinetron::encode_packet1(ID_BROADCAST, INST1_BULK_READ, params)
            : kinetron::encode_packet2(
                  ID_BROADCAST, fast ? kinetron::INST2_FAST_BULK_READ : kinetron::INST2_BULK_READ,
                  params);
    return run_group_read(protocol,
                          fast ? kinetron::ReplyShape::Combined : kinetron::ReplyShape::EachListed,
                          bytes, n, ids, wanted, out, results, errors);
}

} // extern "C"
