// Packets that several servos answer one after the other: protocol 2.0's broadcast PING,
// SYNC_READ, BULK_READ and their fast forms (one combined packet), and protocol 1.0's
// BULK_READ. Each servo starts its reply its return delay after the packet before it
// (the instruction, or the previous servo's reply) has left the line.
#include <algorithm>
#include <string>

#include "kinetron.h"
#include "registers.h"
#include "sim_chain_state.h"
#include "sim_protocol2.h"
#include "sim_trace.h"

namespace {

// The listed servos and what to read from each, in list order; an id counts once.
std::vector<sim::GroupEntry> group_entries(const sim::InstructionPacket& packet)
{
    const std::vector<std::uint8_t>& p = packet.params;
    std::vector<sim::GroupEntry> entries;
    auto add = [&entries](int id, int address, int count) {
        for (const sim::GroupEntry& entry : entries)
            if (entry.id == id)
                return;
        entries.push_back({id, address, count});
    };
    if (packet.protocol == 1) {
        // 00, then length, id, address per servo.
        for (std::size_t at = 1; !p.empty() && at + 3 <= p.size(); at += 3)
            add(p[at + 1], p[at + 2], p[at]);
    } else if (packet.instruction == sim::P2_SYNC_READ ||
               packet.instruction == sim::P2_FAST_SYNC_READ) {
        for (std::size_t at = 4; p.size() >= 4 && at < p.size(); ++at)
            add(p[at], sim::param_word(p, 0), sim::param_word(p, 2));
    } else {
        for (std::size_t at = 0; at + 5 <= p.size(); at += 5)
            add(p[at], sim::param_word(p, at + 1), sim::param_word(p, at + 3));
    }
    return entries;
}

bool fast(const sim::InstructionPacket& packet)
{
    return packet.protocol == 2 && (packet.instruction == sim::P2_FAST_SYNC_READ ||
                                    packet.instruction == sim::P2_FAST_BULK_READ);
}

// Whether the servo knows the group read at all (the others stay silent).
bool answers_group_read(const sim::SimServo& servo, const sim::InstructionPacket& packet)
{
    const int model = servo.model().model;
    const int ins = packet.instruction;
    const int which = packet.protocol == 1            ? KINETRON_BULK_READ_1
                      : ins == sim::P2_SYNC_READ      ? KINETRON_SYNC_READ
                      : ins == sim::P2_FAST_SYNC_READ ? KINETRON_FAST_SYNC_READ
                      : ins == sim::P2_BULK_READ      ? KINETRON_BULK_READ
                                                      : KINETRON_FAST_BULK_READ;
    return kinetron_model_has_instruction(model, servo.firmware(), which) != 0;
}

} // namespace

void SimChain::broadcast_ping(const sim::InstructionPacket& packet, long bps)
{
    const std::int64_t at_us = options.wire_timing ? packet.end_us : now();
    std::vector<sim::SimServo*> listening;
    for (sim::SimServo& servo : servos)
        if (servo.protocol() == 2 && servo.bps() == bps)
            listening.push_back(&servo);
    if (trace && listening.empty())
        sim::trace_line("   no servo listens at this speed");
    // Every servo answers, in ascending id order; servos sharing an id answer at once.
    std::stable_sort(
        listening.begin(), listening.end(),
        [](const sim::SimServo* a, const sim::SimServo* b) { return a->id() < b->id(); });
    std::int64_t after_us = packet.end_us;
    for (std::size_t i = 0; i < listening.size();) {
        std::vector<sim::Reply> replies;
        const int id = listening[i]->id();
        for (; i < listening.size() && listening[i]->id() == id; ++i) {
            std::vector<std::uint8_t> reply;
            sim::SimServo& servo = *listening[i];
            sim::InstructionPacket to_one = packet;
            to_one.id = id;
            if (sim::answer_protocol2(servo, to_one, at_us, reply) && !lost(id, packet))
                replies.push_back({reply, after_us + servo.return_delay_us()});
        }
        send_replies(replies, 2, bps);
        if (options.wire_timing && !replies.empty())
            after_us = replying_until_us;
    }
}

void SimChain::group_read(const sim::InstructionPacket& packet, long bps)
{
    const std::int64_t at_us = options.wire_timing ? packet.end_us : now();
    const std::vector<sim::GroupEntry> entries = group_entries(packet);
    int total = 0;
    for (const sim::GroupEntry& entry : entries)
        total += entry.count;
    sim::FastReply combined(total, static_cast<int>(entries.size()));
    std::int64_t after_us = packet.end_us;
    for (const sim::GroupEntry& entry : entries) {
        std::vector<sim::Reply> replies;
        for (sim::SimServo& servo : servos) {
            if (servo.protocol() != packet.protocol || servo.bps() != bps ||
                servo.id() != entry.id || !answers_group_read(servo, packet))
                continue;
            // Group reads count as reads: status return level 0 silences them.
            if (servo.status_return_level() < 1)
                continue;
            std::vector<std::uint8_t> data;
            int error = servo.read(entry.address, entry.count, at_us, data);
            error |= servo.alarms(at_us);
            if (lost(entry.id, packet))
                continue;
            std::vector<std::uint8_t> reply;
            if (fast(packet)) {
                data.resize(static_cast<std::size_t>(entry.count), 0);
                reply = combined.part(entry.id, error, data);
            } else if (packet.protocol == 2) {
                reply = sim::build_status_packet2(entry.id, error, data);
            } else {
                reply = sim::build_status_packet(entry.id, error, data);
            }
            replies.push_back({reply, after_us + servo.return_delay_us()});
        }
        if (trace && replies.empty())
            sim::trace_line("   id " + std::to_string(entry.id) + ": no answer");
        send_replies(replies, packet.protocol, bps, fast(packet));
        if (options.wire_timing && !replies.empty())
            after_us = replying_until_us;
    }
}
