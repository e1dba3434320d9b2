// Inside the chain: its servos, the line both ways, the faults. Shared by the files that
// handle packets (sim_chain.cpp) and the group reads (sim_group_reads.cpp).
#ifndef SIM_CHAIN_STATE_H
#define SIM_CHAIN_STATE_H

#include <cstdint>
#include <deque>
#include <vector>

#include "sim_chain.h"
#include "sim_faults.h"
#include "sim_options.h"
#include "sim_packet.h"
#include "sim_packet2.h"
#include "sim_servo.h"
#include "sim_usb_chip.h"

namespace sim {

struct QueuedByte {
    std::uint8_t byte;
    std::int64_t due_us;
};

struct Reply {
    std::vector<std::uint8_t> bytes;
    std::int64_t start_us;
};

// One listed servo of a group read: which, and what to read from it.
struct GroupEntry {
    int id, address, count;
};

} // namespace sim

struct SimChain {
    sim::SimOptions options;
    std::vector<sim::SimServo> servos;
    sim::SeededRandom random{1};
    sim::PacketParser parser;   // protocol 1.0 packets
    sim::Packet2Parser parser2; // protocol 2.0 packets, from the same bytes
    long parser_bps = -1;
    std::deque<sim::QueuedByte> queue;   // on the wire, or (latency=) waiting in the USB chip
    std::deque<std::uint8_t> host_bytes; // latency=: sent on by the USB chip, not yet taken
    std::int64_t frame_origin_us = 0;    // latency=: the host's last write starts a USB frame
    std::int64_t sending_until_us = 0;   // the client's bytes still on the wire
    std::int64_t replying_until_us = 0;  // the servos' bytes still on the wire
    long flaky_reads = 0;
    bool trace = false;
    SimClock clock = nullptr;
    void* clock_context = nullptr;

    std::int64_t now() const;
    void handle(const sim::InstructionPacket& packet, long bps);
    bool answer(sim::SimServo& servo, const sim::InstructionPacket& packet, std::int64_t at_us,
                std::vector<std::uint8_t>& reply);
    // True when the reply is lost on the way (flaky=, drop=); traced.
    bool lost(int id, const sim::InstructionPacket& packet);
    // Several replies to one packet: one, or the garble of their collision; faults applied;
    // put on the line.
    void send_replies(std::vector<sim::Reply>& replies, int protocol, long bps,
                      bool fast_part = false);
    void put_on_line(std::vector<std::uint8_t> bytes, std::int64_t start_us, long bps);
    void pass_usb_chip(std::int64_t now_us);
    sim::UsbDelivery next_usb_packet() const;

    // sim_group_reads.cpp: servos answering one after the other.
    void broadcast_ping(const sim::InstructionPacket& packet, long bps);
    void group_read(const sim::InstructionPacket& packet, long bps);
};

#endif
