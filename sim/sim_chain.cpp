// The bus: bytes in at a line speed, packets of both protocols out of them, every addressed
// servo of that protocol at that speed acting and answering, the answers put on the line
// with their faults and times.
#include "sim_chain.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "registers.h"
#include "sim_chain_state.h"
#include "sim_protocol2.h"
#include "sim_trace.h"

namespace {

const double BITS_PER_BYTE = 10.0; // start bit, 8 data bits, stop bit
// The longest READ a servo can answer: its reply's length byte holds the count plus 2.
const int LONGEST_READ = 253;

std::int64_t steady_now_us()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

std::int64_t SimChain::now() const { return clock ? clock(clock_context) : steady_now_us(); }

namespace {

[[noreturn]] void stall_forever()
{
    // A sleep loop, not a wait on anything: the process may exit under it at any moment.
    for (;;)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

} // namespace

// Acts on the packet as one servo; true when the servo answers, with the reply in `reply`.
bool SimChain::answer(sim::SimServo& servo, const sim::InstructionPacket& packet,
                      std::int64_t at_us, std::vector<std::uint8_t>& reply)
{
    int old_id = servo.id(); // a new id or baud number counts from the next packet
    int level = servo.status_return_level();
    const std::vector<std::uint8_t>& p = packet.params;
    std::vector<std::uint8_t> data;
    int error = 0;
    if (!packet.checksum_ok) {
        error = ERRBIT_CHECKSUM;
    } else {
        switch (packet.instruction) {
        case INST_PING:
            break;
        case INST_READ:
            if (p.size() == 2 && p[1] <= LONGEST_READ)
                error = servo.read(p[0], p[1], at_us, data);
            else
                error = ERRBIT_INSTRUCTION;
            break;
        case INST_WRITE:
            if (p.size() >= 2)
                error = servo.write(p[0], p.data() + 1, static_cast<int>(p.size()) - 1, at_us);
            else
                error = ERRBIT_INSTRUCTION;
            break;
        case INST_RESET:
            servo.reset(at_us);
            break;
        case INST_SYNC_WRITE:
            if (p.size() >= 2) {
                std::size_t group = static_cast<std::size_t>(p[1]) + 1;
                for (std::size_t at = 2; p[1] > 0 && at + group <= p.size(); at += group)
                    if (p[at] == old_id)
                        servo.write(p[0], p.data() + at + 1, p[1], at_us);
            }
            return false; // a synchronized write is never answered
        default:
            error = ERRBIT_INSTRUCTION;
            break;
        }
    }
    if (packet.id == ID_BROADCAST)
        return false;
    error |= servo.alarms(at_us); // every status packet tells the alarms that stand
    bool answers = packet.checksum_ok && packet.instruction == INST_PING   ? true
                   : packet.checksum_ok && packet.instruction == INST_READ ? level >= 1
                                                                           : level >= 2;
    if (!answers)
        return false;
    reply = sim::build_status_packet(old_id, error, data);
    return true;
}

void SimChain::put_on_line(std::vector<std::uint8_t> bytes, std::int64_t start_us, long bps)
{
    if (!options.wire_timing) {
        // At once; through a USB chip, "at once" is the moment the chip has the bytes.
        const std::int64_t due = options.usb_latency_ms > 0 ? now() : 0;
        for (std::uint8_t byte : bytes)
            queue.push_back({byte, due});
        return;
    }
    double byte_us = BITS_PER_BYTE * 1e6 / static_cast<double>(bps);
    if (start_us < replying_until_us)
        start_us = replying_until_us;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        queue.push_back({bytes[i], start_us + static_cast<std::int64_t>(
                                                  byte_us * static_cast<double>(i + 1) + 0.5)});
    replying_until_us = queue.back().due_us;
}

sim::UsbDelivery SimChain::next_usb_packet() const
{
    std::int64_t arrival[sim::USB_PACKET_DATA];
    int count = 0;
    for (; count < sim::USB_PACKET_DATA && count < static_cast<int>(queue.size()); ++count)
        arrival[count] = queue[static_cast<std::size_t>(count)].due_us;
    return sim::next_usb_delivery(arrival, count, options.usb_latency_ms, frame_origin_us);
}

// Moves every USB packet that the host has by now from the chip to the host's side.
void SimChain::pass_usb_chip(std::int64_t now_us)
{
    while (!queue.empty()) {
        const sim::UsbDelivery packet = next_usb_packet();
        if (packet.at_us > now_us)
            return;
        for (int i = 0; i < packet.count; ++i) {
            host_bytes.push_back(queue.front().byte);
            queue.pop_front();
        }
    }
}

bool SimChain::lost(int id, const sim::InstructionPacket& packet)
{
    if (id == options.flaky_id && packet.instruction == INST_READ && ++flaky_reads % 2 == 1) {
        if (trace)
            sim::trace_line("<- id " + std::to_string(id) + "  lost (flaky)");
        return true;
    }
    if (random.chance(options.drop)) {
        if (trace)
            sim::trace_line("<- id " + std::to_string(id) + "  lost (drop)");
        return true;
    }
    return false;
}

void SimChain::handle(const sim::InstructionPacket& packet, long bps)
{
    if (trace)
        sim::trace_line(describe_instruction(packet, bps));
    if (packet.instruction == INST_READ && packet.id == options.stall_id) {
        if (trace)
            sim::trace_line("   stalled: this read never returns");
        stall_forever();
    }
    if (packet.checksum_ok && packet.id == ID_BROADCAST) {
        const int ins = packet.instruction;
        if (packet.protocol == 2 && ins == sim::P2_PING) {
            broadcast_ping(packet, bps);
            return;
        }
        if ((packet.protocol == 2 && (ins == sim::P2_SYNC_READ || ins == sim::P2_FAST_SYNC_READ ||
                                      ins == sim::P2_BULK_READ || ins == sim::P2_FAST_BULK_READ)) ||
            (packet.protocol == 1 && ins == sim::P1_BULK_READ)) {
            group_read(packet, bps);
            return;
        }
    }
    std::int64_t at_us = options.wire_timing ? packet.end_us : now();
    std::vector<sim::Reply> replies;
    int listeners = 0;
    for (sim::SimServo& servo : servos) {
        if (servo.protocol() != packet.protocol || servo.bps() != bps)
            continue;
        const bool own = servo.id() == packet.id || packet.id == ID_BROADCAST;
        const bool secondary = !own && packet.protocol == 2 && servo.secondary_id() == packet.id;
        if (!own && !secondary)
            continue;
        ++listeners;
        int old_id = servo.id();
        std::int64_t delay_us = servo.return_delay_us();
        std::vector<std::uint8_t> reply;
        const bool answers = packet.protocol == 2
                                 ? sim::answer_protocol2(servo, packet, at_us, reply, secondary)
                                 : answer(servo, packet, at_us, reply);
        if (!answers || lost(old_id, packet))
            continue;
        replies.push_back({reply, packet.end_us + delay_us});
    }
    if (trace && listeners == 0)
        sim::trace_line("   no servo listens at this speed and id");
    send_replies(replies, packet.protocol, bps);
}

void SimChain::send_replies(std::vector<sim::Reply>& replies, int protocol, long bps,
                            bool fast_part)
{
    if (replies.empty())
        return;
    sim::Reply line = replies.front();
    if (replies.size() > 1) {
        std::vector<std::vector<std::uint8_t>> all;
        for (const sim::Reply& reply : replies) {
            all.push_back(reply.bytes);
            if (reply.start_us < line.start_us)
                line.start_us = reply.start_us;
        }
        line.bytes = sim::collide(all, protocol);
        if (trace)
            sim::trace_line("   " + std::to_string(replies.size()) +
                            " servos answer at once: collision");
    }
    sim::apply_line_faults(line.bytes, {options.corrupt, options.partial, options.noise}, random);
    if (trace)
        sim::trace_line(fast_part ? sim::describe_fast_part(line.bytes)
                                  : sim::describe_reply(line.bytes));
    put_on_line(line.bytes, line.start_us, bps);
}

extern "C" {

SimChain* sim_chain_create(const char* options, char* err, int err_size)
{
    sim::SimOptions parsed;
    std::string error;
    if (!sim::parse_sim_options(options, parsed, error)) {
        // The explanation quotes what was typed; a control character in it (a line feed
        // pasted into KINETRON_DEVICE) must not break the one line it is.
        for (char& c : error)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                c = '?';
        if (err && err_size > 0) {
            std::snprintf(err, static_cast<std::size_t>(err_size), "simulated chain: %s",
                          error.c_str());
        }
        return nullptr;
    }
    SimChain* chain = new SimChain;
    chain->options = parsed;
    chain->random = sim::SeededRandom(parsed.seed);
    chain->trace = parsed.trace;
    std::int64_t now = chain->now();
    for (const sim::ServoPlace& place : parsed.servos) {
        sim::ServoSetup setup;
        setup.position = parsed.start_position;
        setup.return_delay = parsed.return_delay;
        setup.hand_wave = parsed.hand_wave;
        setup.hand_speed = parsed.hand_speed;
        setup.supply_decivolts = parsed.supply_decivolts;
        setup.hot = place.id == parsed.hot_id;
        setup.blocked = place.id == parsed.blocked_id;
        chain->servos.emplace_back(sim::find_servo_model(place.model), place.id, place.baud, setup,
                                   now);
    }
    return chain;
}

void sim_chain_destroy(SimChain* chain) { delete chain; }

void sim_chain_feed(SimChain* chain, const unsigned char* bytes, int count, long bps)
{
    if (!chain || !bytes || count <= 0 || bps <= 0)
        return;
    if (bps != chain->parser_bps) {
        // Bytes sent at another speed are noise to what follows.
        chain->parser.clear();
        chain->parser2.clear();
        chain->parser_bps = bps;
    }
    double byte_us = BITS_PER_BYTE * 1e6 / static_cast<double>(bps);
    std::int64_t start = chain->now();
    chain->frame_origin_us = start;
    if (start < chain->sending_until_us)
        start = chain->sending_until_us;
    for (int i = 0; i < count; ++i) {
        std::int64_t end = start + static_cast<std::int64_t>(byte_us * (i + 1) + 0.5);
        chain->sending_until_us = end;
        // Both protocols' packets share the line: a good packet of one is never part of a
        // packet of the other.
        sim::InstructionPacket packet;
        if (chain->parser.push(bytes[i], end, packet)) {
            if (packet.checksum_ok)
                chain->parser2.clear();
            chain->handle(packet, bps);
        }
        if (chain->parser2.push(bytes[i], end, packet)) {
            if (packet.checksum_ok)
                chain->parser.clear();
            chain->handle(packet, bps);
        }
    }
}

int sim_chain_take(SimChain* chain, unsigned char* buffer, int size)
{
    if (!chain || !buffer || size <= 0)
        return 0;
    if (chain->options.usb_latency_ms > 0) {
        chain->pass_usb_chip(chain->now());
        int count = 0;
        for (; count < size && !chain->host_bytes.empty(); ++count) {
            buffer[count] = chain->host_bytes.front();
            chain->host_bytes.pop_front();
        }
        return count;
    }
    if (chain->queue.empty())
        return 0;
    std::int64_t now = chain->options.wire_timing ? chain->now() : 0;
    int count = 0;
    while (count < size && !chain->queue.empty() && chain->queue.front().due_us <= now) {
        buffer[count++] = chain->queue.front().byte;
        chain->queue.pop_front();
    }
    return count;
}

long sim_chain_next_due_us(SimChain* chain)
{
    if (!chain)
        return -1;
    if (chain->options.usb_latency_ms > 0 && !chain->host_bytes.empty())
        return 0;
    if (chain->queue.empty())
        return -1;
    if (!chain->options.wire_timing && chain->options.usb_latency_ms == 0)
        return 0;
    const std::int64_t due = chain->options.usb_latency_ms > 0 ? chain->next_usb_packet().at_us
                                                               : chain->queue.front().due_us;
    std::int64_t wait = due - chain->now();
    return wait > 0 ? static_cast<long>(wait) : 0;
}

void sim_chain_discard(SimChain* chain)
{
    if (!chain)
        return;
    chain->queue.clear();
    chain->host_bytes.clear();
}

int sim_chain_usb_latency_ms(SimChain* chain) { return chain ? chain->options.usb_latency_ms : 0; }

void sim_chain_set_trace(SimChain* chain, int enabled)
{
    if (chain)
        chain->trace = enabled != 0;
}

void sim_chain_set_clock(SimChain* chain, SimClock clock, void* context)
{
    if (!chain)
        return;
    chain->clock = clock;
    chain->clock_context = context;
    std::int64_t now = chain->now();
    for (sim::SimServo& servo : chain->servos)
        servo.restart_clock(now);
    chain->sending_until_us = 0;
    chain->replying_until_us = 0;
}

} // extern "C"
