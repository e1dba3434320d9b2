#include "sim_servo.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "registers.h"
#include "sim_packet2.h"

namespace sim {

namespace {

// True when a write of `count` bytes from `address` touches the register at `reg`.
bool covers(int address, int count, int reg, int width)
{
    return reg >= 0 && address < reg + width && address + count > reg;
}

// A register's value in a table by its size and signedness.
long long decode(const std::vector<std::uint8_t>& table, const RegisterInfo& reg)
{
    unsigned long long raw = 0;
    for (int i = reg.size - 1; i >= 0; --i)
        raw = (raw << 8) | table[static_cast<std::size_t>(reg.address + i)];
    const int bits = reg.size * 8;
    if (reg.is_signed && bits < 64 && (raw >> (bits - 1)) & 1)
        return static_cast<long long>(raw) - (1LL << bits);
    return static_cast<long long>(raw);
}

// Model 12 and its kind turn at about 114 rpm at full speed.
const double FULL_SPEED_RPM = 114.0;

const double ROOM_TEMPERATURE = 35.0;
const double HOT_START = 80.0;          // hot=ID: above model 12's factory limit of 70
const double WARMING_PER_SECOND = 0.05; // while it works
const double COOLING_PER_SECOND = 0.02; // while it rests
const double WORK_HOTTEST = 65.0;       // ordinary work never reaches a factory limit

// A held limb: the load climbs from nothing to the torque limit in this time.
const double LOAD_RISE_SECONDS = 0.1;

// The supply of a servo when volts= is not given: model 12's 11 V, or the middle of the
// model's own voltage limits when 11 V lies outside them.
int default_supply(const ServoModel& m)
{
    long long low = 0, high = 0;
    for (const RegisterInfo& reg : m.registers) {
        if (reg.address == m.min_voltage)
            low = reg.factory;
        if (reg.address == m.max_voltage)
            high = reg.factory;
    }
    const int usual = 110;
    if (low <= 0 || high <= 0 || (usual >= low && usual <= high))
        return usual;
    return static_cast<int>((low + high) / 2);
}

} // namespace

SimServo::SimServo(const ServoModel* model, int id, int baud, const ServoSetup& setup,
                   std::int64_t now_us)
    : m_(model), table_(static_cast<std::size_t>(model->table_size), 0),
      position_(setup.position >= 0 ? setup.position : (model->position_max + 1) / 2),
      hand_wave_(setup.hand_wave),
      supply_decivolts_(setup.supply_decivolts >= 0 ? setup.supply_decivolts
                                                    : default_supply(*model)),
      blocked_(setup.blocked), last_us_(now_us)
{
    factory_table();
    table_[static_cast<std::size_t>(m_->id)] = static_cast<std::uint8_t>(id);
    table_[static_cast<std::size_t>(m_->baud)] = static_cast<std::uint8_t>(baud);
    if (setup.return_delay >= 0)
        table_[static_cast<std::size_t>(m_->return_delay)] =
            static_cast<std::uint8_t>(setup.return_delay);
    put(m_->goal_position, std::lround(position_));
    const double scale = (m_->position_max + 1) / 1024.0;
    if (setup.hot)
        temperature_ = std::max(HOT_START, static_cast<double>(get(m_->temperature_limit)) + 10);
    else
        temperature_ = ROOM_TEMPERATURE;
    // Each servo's hand moves at its own pace within about 60 units (of 1024) of where it
    // started.
    hand_speed_sps_ =
        setup.hand_speed > 0 ? steps_per_second(setup.hand_speed) : (25.0 + (id % 5) * 6.0) * scale;
    hand_reach_ = 60 * scale;
    hand_direction_ = id % 2 ? 1 : -1;
    let_go();
    publish_state();
    shut_down_on_alarm(); // a servo powered up hot shuts down at once
}

long long SimServo::get(int address) const
{
    if (address < 0)
        return 0;
    const RegisterInfo* reg = m_->register_at(address);
    if (!reg || reg->address != address)
        return table_[static_cast<std::size_t>(address)];
    return decode(table_, *reg);
}

void SimServo::put(int address, long long value)
{
    if (address < 0)
        return;
    const RegisterInfo* reg = m_->register_at(address);
    const int size = reg && reg->address == address ? reg->size : 1;
    for (int i = 0; i < size; ++i)
        table_[static_cast<std::size_t>(address + i)] =
            static_cast<std::uint8_t>((static_cast<unsigned long long>(value) >> (8 * i)) & 0xFF);
}

void SimServo::factory_table()
{
    std::fill(table_.begin(), table_.end(), 0);
    for (const RegisterInfo& reg : m_->registers)
        if (reg.factory >= 0)
            put(reg.address, reg.factory);
    put(0, m_->model);
    put(m_->kind == TableKind::Steps4096Protocol2 ? 6 : 2, m_->firmware);
}

double SimServo::steps_per_second(int speed_value) const
{
    const double unit = m_->rpm_per_speed_unit();
    double full_rpm = FULL_SPEED_RPM;
    if (m_->kind == TableKind::Steps4096Protocol1)
        full_rpm = 1023 * unit;
    if (m_->kind == TableKind::Steps4096Protocol2) {
        // Profile velocity 0 is no limit but the velocity limit.
        const long long limit = get(m_->velocity_limit);
        full_rpm = (limit > 0 ? limit : 1023) * unit;
    }
    double rpm = speed_value == 0 ? full_rpm : std::min(speed_value * unit, full_rpm);
    return rpm * m_->steps_per_second_per_rpm();
}

int SimServo::speed_register_value(double steps_per_second) const
{
    double rpm = std::fabs(steps_per_second) / m_->steps_per_second_per_rpm();
    int value = static_cast<int>(std::lround(rpm / m_->rpm_per_speed_unit()));
    if (!m_->direction_bit_speeds())
        return steps_per_second < 0 ? -value : value;
    value = std::min(value, static_cast<int>(MAGNITUDE_MASK));
    return steps_per_second < 0 && value > 0 ? value | DIRECTION_BIT : value;
}

void SimServo::advance(std::int64_t now_us)
{
    if (now_us <= last_us_)
        return;
    double seconds = (now_us - last_us_) / 1e6;
    last_us_ = now_us;
    bool working = false;
    const double goal = static_cast<double>(get(m_->goal_position));
    const double effort_limit =
        m_->torque_limit >= 0 ? static_cast<double>(get(m_->torque_limit)) : m_->load_max();
    const double pace = steps_per_second(static_cast<int>(get(m_->moving_speed)));
    if (driven() && blocked_) {
        // Held: it cannot move, and pushes ever harder toward a goal away from where it stands.
        speed_sps_ = 0;
        working = std::lround(position_) != goal;
        effort_ = working
                      ? std::min(effort_limit, effort_ + effort_limit * seconds / LOAD_RISE_SECONDS)
                      : 0;
    } else if (driven()) {
        double step = pace * seconds;
        double distance = goal - position_;
        if (std::fabs(distance) <= step) {
            speed_sps_ = 0;
            working = distance != 0;
            position_ = goal;
        } else {
            speed_sps_ = distance > 0 ? pace : -pace;
            position_ += distance > 0 ? step : -step;
            working = true;
        }
    } else if (hand_wave_ && !blocked_) {
        // Posed by hand: back and forth between two bounds around where it was let go.
        double left = hand_speed_sps_ * seconds;
        while (left > 0) {
            double bound = hand_direction_ > 0 ? hand_high_ : hand_low_;
            double room = std::fabs(bound - position_);
            if (room > left) {
                position_ += hand_direction_ * left;
                left = 0;
            } else {
                position_ = bound;
                left -= room;
                hand_direction_ = -hand_direction_;
                if (hand_high_ <= hand_low_)
                    break;
            }
        }
        speed_sps_ = hand_direction_ * hand_speed_sps_;
    } else {
        speed_sps_ = 0;
    }
    if (!driven() || !blocked_)
        effort_ = 0;
    // Work warms it up to a point; rest cools it toward the room, however hot it started.
    if (working)
        temperature_ = std::max(
            temperature_, std::min(WORK_HOTTEST, temperature_ + WARMING_PER_SECOND * seconds));
    else
        temperature_ = std::max(ROOM_TEMPERATURE, temperature_ - COOLING_PER_SECOND * seconds);
    publish_state();
    shut_down_on_alarm();
}

void SimServo::publish_state()
{
    int present = static_cast<int>(std::lround(position_));
    present = std::min(m_->position_max, std::max(0, present));
    put(m_->present_position, present);
    int speed = speed_register_value(speed_sps_);
    put(m_->present_speed, speed);
    // The load follows the effort: a working servo pushes in its direction of travel, a held
    // one toward its goal.
    const bool toward_lower = get(m_->goal_position) < present;
    int load = 0;
    if (m_->direction_bit_speeds()) {
        if (driven() && effort_ > 0) {
            load = static_cast<int>(std::lround(effort_)) | (toward_lower ? DIRECTION_BIT : 0);
        } else if (driven() && speed_sps_ != 0) {
            int magnitude =
                std::min(static_cast<int>(MAGNITUDE_MASK), 80 + (speed & MAGNITUDE_MASK) / 3);
            load = magnitude | (speed & DIRECTION_BIT);
        }
    } else {
        if (driven() && effort_ > 0)
            load = static_cast<int>(std::lround(effort_)) * (toward_lower ? -1 : 1);
        else if (driven() && speed_sps_ != 0)
            load = std::min(m_->load_max(), 80 + std::abs(speed) / 3) * (speed < 0 ? -1 : 1);
    }
    put(m_->present_load, load);
    put(m_->present_voltage, supply_decivolts_);
    put(m_->present_temperature, std::lround(temperature_));
    bool moving = driven() && present != get(m_->goal_position);
    put(m_->moving, moving ? 1 : 0);
    // Protocol 2.0: the causes that shut it down stay until a restart; one its shutdown
    // register does not select shows while it stands, and leaves the torque alone.
    if (m_->hardware_error >= 0)
        put(m_->hardware_error, shut_down_ | m_->cause_bits(causes()));
}

// What is wrong right now, as CAUSE_* bits.
int SimServo::causes() const
{
    int found = 0;
    const long long volts = get(m_->present_voltage);
    if (volts < get(m_->min_voltage) || volts > get(m_->max_voltage))
        found |= CAUSE_VOLTAGE;
    if (get(m_->present_temperature) > get(m_->temperature_limit))
        found |= CAUSE_OVERHEAT;
    const double effort_limit =
        m_->torque_limit >= 0 ? static_cast<double>(get(m_->torque_limit)) : m_->load_max();
    if (driven() && effort_ > 0 && effort_ >= effort_limit)
        found |= CAUSE_OVERLOAD;
    return found;
}

// An alarm that the shutdown register selects switches the torque off (protocol 1.0: and
// drops the torque limit to 0) and stays on record until the limit is written back
// (protocol 1.0) or the servo restarts (protocol 2.0).
void SimServo::shut_down_on_alarm()
{
    const int bits = m_->cause_bits(causes()) & static_cast<int>(get(m_->shutdown));
    if (!bits)
        return;
    shut_down_ |= bits;
    put(m_->torque_enable, 0);
    if (m_->protocol == 1)
        put(m_->torque_limit, 0);
    effort_ = 0;
    let_go();
    publish_state();
}

// Torque off here: the hand takes it from where it stands.
void SimServo::let_go()
{
    hand_low_ = std::max(0.0, position_ - hand_reach_);
    hand_high_ = std::min(static_cast<double>(m_->position_max), position_ + hand_reach_);
}

int SimServo::alarms(std::int64_t now_us)
{
    advance(now_us);
    if (m_->protocol == 2)
        return get(m_->hardware_error) ? P2_ALERT : 0;
    return m_->cause_bits(causes()) | shut_down_;
}

int SimServo::read(int address, int count, std::int64_t now_us, std::vector<std::uint8_t>& out)
{
    advance(now_us);
    if (m_->protocol == 2 && address + count > m_->table_size) {
        out.clear();
        return P2_ERR_ACCESS;
    }
    out.assign(static_cast<std::size_t>(count > 0 ? count : 0), 0);
    int error = 0;
    for (int i = 0; i < count; ++i) {
        int at = address + i;
        if (at >= m_->table_size) {
            error = ERRBIT_RANGE;
            continue;
        }
        out[static_cast<std::size_t>(i)] =
            m_->register_at(at) ? table_[static_cast<std::size_t>(at)] : 0;
    }
    return error;
}

// A goal lies within the limits. Protocol 1.0 and model 350: angle limits of 0 and 0 (a
// wheel) check nothing. Protocol 2.0's 4096-step models check in position control alone.
bool SimServo::goal_within_limits(const std::vector<std::uint8_t>& table) const
{
    const RegisterInfo* low = m_->register_at(m_->low_limit);
    const RegisterInfo* high = m_->register_at(m_->high_limit);
    const RegisterInfo* goal = m_->register_at(m_->goal_position);
    if (!low || !high || !goal)
        return true;
    const long long lo = decode(table, *low), hi = decode(table, *high), at = decode(table, *goal);
    if (m_->kind == TableKind::Steps4096Protocol2) {
        const RegisterInfo* mode = m_->register_at(m_->operating_mode);
        if (mode && decode(table, *mode) != 3)
            return true;
    } else if (lo == 0 && hi == 0) {
        return true;
    }
    return at >= lo && at <= hi;
}

int SimServo::write(int address, const std::uint8_t* data, int count, std::int64_t now_us,
                    bool eeprom_open)
{
    if (m_->protocol == 1 && count <= 0)
        return ERRBIT_INSTRUCTION;
    if (m_->protocol == 1 && address + count > m_->table_size)
        return ERRBIT_RANGE;
    advance(now_us);
    const int error = m_->protocol == 2 ? write_protocol2(address, data, count, eeprom_open)
                                        : write_protocol1(address, data, count);
    if (error)
        return error;
    if (!torque_on())
        let_go();
    publish_state();
    shut_down_on_alarm();
    return 0;
}

int SimServo::write_protocol1(int address, const std::uint8_t* data, int count)
{
    std::vector<std::uint8_t> next = table_;
    std::memcpy(next.data() + address, data, static_cast<std::size_t>(count));
    for (int at = address; at < address + count; ++at) {
        const RegisterInfo* reg = m_->register_at(at);
        if (!reg || !reg->writable)
            return ERRBIT_INSTRUCTION;
        if (m_->lock >= 0 && table_[static_cast<std::size_t>(m_->lock)] && reg->eeprom)
            return ERRBIT_INSTRUCTION; // settings locked
        long long value = decode(next, *reg);
        if (value < reg->low || value > reg->high)
            return ERRBIT_RANGE;
    }
    const bool goal_written = covers(address, count, m_->goal_position, m_->goal_size);
    if (goal_written && !goal_within_limits(next))
        return ERRBIT_ANGLE; // ignored whole, the torque as it was
    table_ = next;
    if (goal_written)
        put(m_->torque_enable, 1); // a new goal switches the torque on
    if (covers(address, count, m_->torque_limit, 2) && get(m_->torque_limit) > 0)
        shut_down_ &= m_->cause_bits(causes()); // back in service, unless the cause stands
    return 0;
}

int SimServo::write_protocol2(int address, const std::uint8_t* data, int count, bool eeprom_open)
{
    if (count <= 0)
        return P2_ERR_DATA_LENGTH;
    if (address < 0 || address + count > m_->table_size)
        return P2_ERR_ACCESS;
    std::vector<std::uint8_t> next = table_;
    std::memcpy(next.data() + address, data, static_cast<std::size_t>(count));
    for (int at = address; at < address + count; ++at) {
        const RegisterInfo* reg = m_->register_at(at);
        if (!reg || !reg->writable)
            return P2_ERR_ACCESS;
        if (reg->address < address || reg->address + reg->size > address + count)
            return P2_ERR_DATA_LENGTH; // part of a register: nothing is written
        if (reg->eeprom && (torque_on() || !eeprom_open))
            return P2_ERR_ACCESS; // the EEPROM area is locked while the torque is on
        long long value = decode(next, *reg);
        if (value < reg->low || value > reg->high)
            return P2_ERR_DATA_RANGE;
    }
    const bool goal_written = covers(address, count, m_->goal_position, m_->goal_size);
    if (goal_written && !goal_within_limits(next))
        return P2_ERR_DATA_LIMIT;
    const bool was_on = torque_on();
    table_ = next;
    if (goal_written && (get(m_->drive_mode) & 0x08))
        put(m_->torque_enable, 1); // drive mode bit 3: a new goal switches the torque on
    if (!was_on && torque_on()) {
        if (shut_down_) {
            put(m_->torque_enable, 0); // accepted, but only a restart lifts a shutdown
        } else if (!goal_written) {
            // Torque on never makes the servo jump: the goal is where it stands.
            put(m_->goal_position, std::lround(position_));
        }
    }
    return 0;
}

void SimServo::hold_write(int address, const std::uint8_t* data, int count)
{
    held_address_ = address;
    held_.assign(data, data + (count > 0 ? count : 0));
    put(m_->registered, 1);
}

int SimServo::action(std::int64_t now_us)
{
    if (held_address_ < 0)
        return P2_ERR_INSTRUCTION;
    const int address = held_address_;
    std::vector<std::uint8_t> data;
    data.swap(held_);
    held_address_ = -1;
    put(m_->registered, 0);
    return write(address, data.data(), static_cast<int>(data.size()), now_us);
}

void SimServo::reset(std::int64_t now_us)
{
    advance(now_us);
    factory_table();
    put(m_->goal_position, std::lround(position_));
    speed_sps_ = 0;
    effort_ = 0;
    shut_down_ = 0;
    publish_state();
    shut_down_on_alarm();
}

int SimServo::factory_reset(int option, std::int64_t now_us)
{
    if (option != 0xFF && option != 0x01 && option != 0x02)
        return P2_ERR_DATA_RANGE;
    const int id_kept = id(), baud_kept = baud();
    reset(now_us);
    if (option != 0xFF)
        table_[static_cast<std::size_t>(m_->id)] = static_cast<std::uint8_t>(id_kept);
    if (option == 0x02)
        table_[static_cast<std::size_t>(m_->baud)] = static_cast<std::uint8_t>(baud_kept);
    reboot(now_us);
    return 0;
}

void SimServo::reboot(std::int64_t now_us)
{
    advance(now_us);
    for (const RegisterInfo& reg : m_->registers)
        if (reg.address >= m_->ram_start && reg.factory >= 0)
            put(reg.address, reg.factory);
    put(m_->torque_enable, 0);
    put(m_->goal_position, std::lround(position_));
    held_.clear();
    held_address_ = -1;
    speed_sps_ = 0;
    effort_ = 0;
    shut_down_ = 0;
    let_go();
    publish_state();
    shut_down_on_alarm();
}

} // namespace sim
