#include "sim_protocol2.h"

#include "registers.h"
#include "sim_packet2.h"

namespace sim {

namespace {

// The servo's part of a SYNC_WRITE (address, size, then id and data per servo) or a
// BULK_WRITE (id, address, size and data per servo): written, never answered.
void group_write(SimServo& servo, int old_id, const InstructionPacket& packet, std::int64_t at_us)
{
    const std::vector<std::uint8_t>& p = packet.params;
    if (packet.instruction == P2_SYNC_WRITE) {
        if (p.size() < 4)
            return;
        const int address = param_word(p, 0), size = param_word(p, 2);
        const std::size_t group = static_cast<std::size_t>(size) + 1;
        for (std::size_t at = 4; size > 0 && at + group <= p.size(); at += group)
            if (p[at] == old_id)
                servo.write(address, p.data() + at + 1, size, at_us);
        return;
    }
    for (std::size_t at = 0; at + 5 <= p.size();) {
        const int id = p[at], address = param_word(p, at + 1), size = param_word(p, at + 3);
        if (at + 5 + static_cast<std::size_t>(size) > p.size())
            return; // a servo's share cut short: nothing of it is written
        if (id == old_id) {
            servo.write(address, p.data() + at + 5, size, at_us);
            return; // an id counts once
        }
        at += 5 + static_cast<std::size_t>(size);
    }
}

} // namespace

bool answer_protocol2(SimServo& servo, const InstructionPacket& packet, std::int64_t at_us,
                      std::vector<std::uint8_t>& reply, bool secondary)
{
    const int old_id = servo.id(); // a new id counts from the next packet
    const bool broadcast = packet.id == ID_BROADCAST;
    const std::vector<std::uint8_t>& p = packet.params;
    std::vector<std::uint8_t> data;
    int error = 0;
    int alert = -1; // the alert bit as it stood before a restart
    if (!packet.checksum_ok) {
        error = P2_ERR_CRC;
    } else {
        switch (packet.instruction) {
        case P2_PING:
            data = {static_cast<std::uint8_t>(servo.model().model & 0xFF),
                    static_cast<std::uint8_t>(servo.model().model >> 8),
                    static_cast<std::uint8_t>(servo.firmware())};
            break;
        case P2_READ:
            if (broadcast)
                return false; // not executed at all
            if (p.size() == 4)
                error = servo.read(param_word(p, 0), param_word(p, 2), at_us, data);
            else
                error = P2_ERR_DATA_LENGTH;
            break;
        case P2_WRITE:
            if (p.size() >= 3)
                error = servo.write(param_word(p, 0), p.data() + 2, static_cast<int>(p.size()) - 2,
                                    at_us, !secondary);
            else
                error = P2_ERR_DATA_LENGTH;
            break;
        case P2_REG_WRITE:
            if (p.size() >= 3)
                servo.hold_write(param_word(p, 0), p.data() + 2, static_cast<int>(p.size()) - 2);
            else
                error = P2_ERR_DATA_LENGTH;
            break;
        case P2_ACTION:
            error = servo.action(at_us);
            break;
        case P2_FACTORY_RESET:
            if (secondary)
                return false; // it would change the EEPROM area
            if (p.size() != 1)
                error = P2_ERR_DATA_LENGTH;
            else if (broadcast && p[0] == 0xFF)
                return false; // a bus cannot lose all its ids at once
            else
                error = servo.factory_reset(p[0], at_us);
            break;
        case P2_REBOOT:
            alert = servo.alarms(at_us); // the reply goes out before the restart
            servo.reboot(at_us);
            break;
        case P2_SYNC_WRITE:
        case P2_BULK_WRITE:
            if (broadcast)
                group_write(servo, old_id, packet, at_us);
            return false;
        case P2_SYNC_READ:
        case P2_FAST_SYNC_READ:
        case P2_BULK_READ:
        case P2_FAST_BULK_READ:
            return false; // only to the broadcast id, and answered by the chain
        default:
            error = P2_ERR_INSTRUCTION;
            break;
        }
    }
    if (broadcast || secondary)
        return false;
    const int level = servo.status_return_level(); // a level just written governs already
    const int ins = packet.instruction;
    const bool answers = packet.checksum_ok && ins == P2_PING   ? true
                         : packet.checksum_ok && ins == P2_READ ? level >= 1
                                                                : level >= 2;
    if (!answers)
        return false;
    reply = build_status_packet2(old_id, error | (alert >= 0 ? alert : servo.alarms(at_us)), data);
    return true;
}

} // namespace sim
