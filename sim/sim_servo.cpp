#include "sim_servo.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sim {

namespace {

enum Access { RESERVED, READ_ONLY, WRITABLE };

struct Register {
    int address, width;
    Access access;
    int low, high; // accepted values when writable
};

// The control table. Addresses missing here are reserved: they read 0 and refuse writes.
// clang-format off
const Register REGISTERS[] = {
    {ADDR_MODEL_NUMBER, 2, READ_ONLY, 0, 0},
    {ADDR_FIRMWARE, 1, READ_ONLY, 0, 0},
    {ADDR_ID, 1, WRITABLE, 0, ID_HIGHEST_SERVO},
    {ADDR_BAUD, 1, WRITABLE, 0, 254},
    {ADDR_RETURN_DELAY, 1, WRITABLE, 0, 254},
    {ADDR_CW_LIMIT, 2, WRITABLE, 0, POSITION_MAX},
    {ADDR_CCW_LIMIT, 2, WRITABLE, 0, POSITION_MAX},
    {ADDR_TEMPERATURE_LIMIT, 1, WRITABLE, 0, 150},
    {ADDR_LOW_VOLTAGE, 1, WRITABLE, 50, 250},
    {ADDR_HIGH_VOLTAGE, 1, WRITABLE, 50, 250},
    {ADDR_MAX_TORQUE, 2, WRITABLE, 0, 1023},
    {ADDR_STATUS_RETURN, 1, WRITABLE, 0, 2},
    {ADDR_ALARM_LED, 1, WRITABLE, 0, 127},
    {ADDR_ALARM_SHUTDOWN, 1, WRITABLE, 0, 127},
    {ADDR_TORQUE_ENABLE, 1, WRITABLE, 0, 1},
    {ADDR_LED, 1, WRITABLE, 0, 1},
    {ADDR_CW_MARGIN, 1, WRITABLE, 0, 255},
    {ADDR_CCW_MARGIN, 1, WRITABLE, 0, 255},
    {ADDR_CW_SLOPE, 1, WRITABLE, 0, 255},
    {ADDR_CCW_SLOPE, 1, WRITABLE, 0, 255},
    {ADDR_GOAL_POSITION, 2, WRITABLE, 0, POSITION_MAX},
    {ADDR_MOVING_SPEED, 2, WRITABLE, 0, 1023},
    {ADDR_TORQUE_LIMIT, 2, WRITABLE, 0, 1023},
    {ADDR_PRESENT_POSITION, 2, READ_ONLY, 0, 0},
    {ADDR_PRESENT_SPEED, 2, READ_ONLY, 0, 0},
    {ADDR_PRESENT_LOAD, 2, READ_ONLY, 0, 0},
    {ADDR_PRESENT_VOLTAGE, 1, READ_ONLY, 0, 0},
    {ADDR_PRESENT_TEMPERATURE, 1, READ_ONLY, 0, 0},
    {ADDR_REGISTERED, 1, READ_ONLY, 0, 0},
    {ADDR_MOVING, 1, READ_ONLY, 0, 0},
    {ADDR_LOCK, 1, WRITABLE, 0, 1},
    {ADDR_PUNCH, 2, WRITABLE, 0, 1023},
};
// clang-format on

const Register* register_at(int address)
{
    for (const Register& reg : REGISTERS)
        if (address >= reg.address && address < reg.address + reg.width)
            return &reg;
    return nullptr;
}

// True when a write of `count` bytes from `address` touches the register at `reg`.
bool covers(int address, int count, int reg, int width)
{
    return address < reg + width && address + count > reg;
}

// Full speed, and the size of one speed unit, in revolutions per minute.
const double FULL_SPEED_RPM = 114.0;
const double RPM_PER_SPEED_UNIT = 0.111;
// Position units per revolution-per-minute-second: 1024 units span 300 degrees.
const double UNITS_PER_SECOND_PER_RPM = 360.0 / 60.0 * 1024.0 / 300.0;

const double ROOM_TEMPERATURE = 35.0;
const double HOT_START = 80.0;          // hot=ID: above the factory limit of 70
const double WARMING_PER_SECOND = 0.05; // while it works
const double COOLING_PER_SECOND = 0.02; // while it rests
const double WORK_HOTTEST = 65.0;       // ordinary work never reaches the factory limit

// A held limb: the load climbs from nothing to the torque limit in this time.
const double LOAD_RISE_SECONDS = 0.1;

int speed_register_value(double units_per_second)
{
    double rpm = std::fabs(units_per_second) / UNITS_PER_SECOND_PER_RPM;
    int value = static_cast<int>(std::lround(rpm / RPM_PER_SPEED_UNIT));
    value = std::min(value, static_cast<int>(MAGNITUDE_MASK));
    return units_per_second < 0 && value > 0 ? value | DIRECTION_BIT : value;
}

// A goal lies within the angle limits; limits of 0 and 0 (a wheel) check nothing.
bool goal_within_limits(const std::uint8_t* table)
{
    int cw = table_word(table, ADDR_CW_LIMIT);
    int ccw = table_word(table, ADDR_CCW_LIMIT);
    int goal = table_word(table, ADDR_GOAL_POSITION);
    return (cw == 0 && ccw == 0) || (goal >= cw && goal <= ccw);
}

} // namespace

SimServo::SimServo(int id, int baud, const ServoSetup& setup, std::int64_t now_us)
    : position_(setup.position), temperature_(setup.hot ? HOT_START : ROOM_TEMPERATURE),
      hand_wave_(setup.hand_wave), supply_decivolts_(setup.supply_decivolts),
      blocked_(setup.blocked), last_us_(now_us)
{
    factory_table();
    table_[ADDR_ID] = static_cast<std::uint8_t>(id);
    table_[ADDR_BAUD] = static_cast<std::uint8_t>(baud);
    set_word(ADDR_GOAL_POSITION, setup.position);
    // Each servo's hand moves at its own pace within about 60 units of where it started.
    hand_speed_ups_ =
        setup.hand_speed > 0 ? units_per_second(setup.hand_speed) : 25.0 + (id % 5) * 6.0;
    hand_direction_ = id % 2 ? 1 : -1;
    let_go();
    publish_state();
    shut_down_on_alarm(); // a servo powered up hot shuts down at once
}

void SimServo::factory_table()
{
    std::memset(table_, 0, sizeof table_);
    set_word(ADDR_MODEL_NUMBER, 12);
    table_[ADDR_FIRMWARE] = 24;
    table_[ADDR_ID] = 1;
    table_[ADDR_BAUD] = 1;
    table_[ADDR_RETURN_DELAY] = 250;
    set_word(ADDR_CW_LIMIT, 0);
    set_word(ADDR_CCW_LIMIT, POSITION_MAX);
    table_[ADDR_TEMPERATURE_LIMIT] = 70;
    table_[ADDR_LOW_VOLTAGE] = 60;
    table_[ADDR_HIGH_VOLTAGE] = 140;
    set_word(ADDR_MAX_TORQUE, 1023);
    table_[ADDR_STATUS_RETURN] = 2;
    table_[ADDR_ALARM_LED] = ERRBIT_OVERHEAT | ERRBIT_OVERLOAD;
    table_[ADDR_ALARM_SHUTDOWN] = ERRBIT_OVERHEAT | ERRBIT_OVERLOAD;
    table_[ADDR_CW_MARGIN] = 1;
    table_[ADDR_CCW_MARGIN] = 1;
    table_[ADDR_CW_SLOPE] = 32;
    table_[ADDR_CCW_SLOPE] = 32;
    set_word(ADDR_TORQUE_LIMIT, 1023);
    set_word(ADDR_PUNCH, 32);
}

void SimServo::set_word(int address, int value)
{
    table_[address] = static_cast<std::uint8_t>(value & 0xFF);
    table_[address + 1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

double SimServo::units_per_second(int moving_speed)
{
    double rpm = moving_speed == 0 ? FULL_SPEED_RPM
                                   : std::min(moving_speed * RPM_PER_SPEED_UNIT, FULL_SPEED_RPM);
    return rpm * UNITS_PER_SECOND_PER_RPM;
}

void SimServo::advance(std::int64_t now_us)
{
    if (now_us <= last_us_)
        return;
    double seconds = (now_us - last_us_) / 1e6;
    last_us_ = now_us;
    bool working = false;
    const double goal = word(ADDR_GOAL_POSITION);
    if (driven() && blocked_) {
        // Held: it cannot move, and pushes ever harder toward a goal away from where it stands.
        speed_ups_ = 0;
        working = std::lround(position_) != goal;
        const double limit = word(ADDR_TORQUE_LIMIT);
        effort_ = working ? std::min(limit, effort_ + limit * seconds / LOAD_RISE_SECONDS) : 0;
    } else if (driven()) {
        double step = units_per_second(word(ADDR_MOVING_SPEED)) * seconds;
        double distance = goal - position_;
        if (std::fabs(distance) <= step) {
            speed_ups_ = 0;
            working = distance != 0;
            position_ = goal;
        } else {
            speed_ups_ = distance > 0 ? units_per_second(word(ADDR_MOVING_SPEED))
                                      : -units_per_second(word(ADDR_MOVING_SPEED));
            position_ += distance > 0 ? step : -step;
            working = true;
        }
    } else if (hand_wave_ && !blocked_) {
        // Posed by hand: back and forth between two bounds around where it was let go.
        double left = hand_speed_ups_ * seconds;
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
        speed_ups_ = hand_direction_ * hand_speed_ups_;
    } else {
        speed_ups_ = 0;
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
    present = std::min(static_cast<int>(POSITION_MAX), std::max(0, present));
    set_word(ADDR_PRESENT_POSITION, present);
    int speed = speed_register_value(speed_ups_);
    set_word(ADDR_PRESENT_SPEED, speed);
    // The load follows the effort: a working servo pushes in its direction of travel, a held
    // one toward its goal.
    int load = 0;
    if (driven() && effort_ > 0) {
        load = static_cast<int>(std::lround(effort_)) |
               (word(ADDR_GOAL_POSITION) < present ? DIRECTION_BIT : 0);
    } else if (driven() && speed_ups_ != 0) {
        int magnitude =
            std::min(static_cast<int>(MAGNITUDE_MASK), 80 + (speed & MAGNITUDE_MASK) / 3);
        load = magnitude | (speed & DIRECTION_BIT);
    }
    set_word(ADDR_PRESENT_LOAD, load);
    table_[ADDR_PRESENT_VOLTAGE] = static_cast<std::uint8_t>(supply_decivolts_);
    table_[ADDR_PRESENT_TEMPERATURE] = static_cast<std::uint8_t>(std::lround(temperature_));
    bool moving = driven() && present != word(ADDR_GOAL_POSITION);
    table_[ADDR_MOVING] = moving ? 1 : 0;
}

// What is wrong right now, as alarm bits.
int SimServo::causes() const
{
    int bits = 0;
    const int volts = table_[ADDR_PRESENT_VOLTAGE];
    if (volts < table_[ADDR_LOW_VOLTAGE] || volts > table_[ADDR_HIGH_VOLTAGE])
        bits |= ERRBIT_VOLTAGE;
    if (table_[ADDR_PRESENT_TEMPERATURE] > table_[ADDR_TEMPERATURE_LIMIT])
        bits |= ERRBIT_OVERHEAT;
    if (driven() && effort_ > 0 && effort_ >= word(ADDR_TORQUE_LIMIT))
        bits |= ERRBIT_OVERLOAD;
    return bits;
}

// An alarm that the alarm-shutdown register selects switches the torque off and drops the
// torque limit to 0, and stays on record until the limit is written back.
void SimServo::shut_down_on_alarm()
{
    const int bits = causes() & table_[ADDR_ALARM_SHUTDOWN];
    if (!bits)
        return;
    shut_down_ |= bits;
    table_[ADDR_TORQUE_ENABLE] = 0;
    set_word(ADDR_TORQUE_LIMIT, 0);
    effort_ = 0;
    let_go();
    publish_state();
}

// Torque off here: the hand takes it from where it stands.
void SimServo::let_go()
{
    hand_low_ = std::max(0.0, position_ - 60);
    hand_high_ = std::min(static_cast<double>(POSITION_MAX), position_ + 60);
}

int SimServo::alarms(std::int64_t now_us)
{
    advance(now_us);
    return causes() | shut_down_;
}

int SimServo::read(int address, int count, std::int64_t now_us, std::vector<std::uint8_t>& out)
{
    advance(now_us);
    out.assign(static_cast<std::size_t>(count > 0 ? count : 0), 0);
    int error = 0;
    for (int i = 0; i < count; ++i) {
        int at = address + i;
        if (at >= CONTROL_TABLE_SIZE) {
            error = ERRBIT_RANGE;
            continue;
        }
        out[static_cast<std::size_t>(i)] = register_at(at) ? table_[at] : 0;
    }
    return error;
}

int SimServo::write(int address, const std::uint8_t* data, int count, std::int64_t now_us)
{
    if (count <= 0)
        return ERRBIT_INSTRUCTION;
    if (address + count > CONTROL_TABLE_SIZE)
        return ERRBIT_RANGE;
    advance(now_us);
    std::uint8_t next[CONTROL_TABLE_SIZE];
    std::memcpy(next, table_, sizeof next);
    std::memcpy(next + address, data, static_cast<std::size_t>(count));
    for (int at = address; at < address + count; ++at) {
        const Register* reg = register_at(at);
        if (!reg || reg->access != WRITABLE)
            return ERRBIT_INSTRUCTION;
        if (table_[ADDR_LOCK] && reg->address < ADDR_TORQUE_ENABLE)
            return ERRBIT_INSTRUCTION; // settings locked
        int value = reg->width == 2 ? next[reg->address] | (next[reg->address + 1] << 8)
                                    : next[reg->address];
        if (value < reg->low || value > reg->high)
            return ERRBIT_RANGE;
    }
    const bool goal_written = covers(address, count, ADDR_GOAL_POSITION, 2);
    if (goal_written && !goal_within_limits(next))
        return ERRBIT_ANGLE; // ignored whole, the torque as it was
    std::memcpy(table_, next, sizeof table_);
    if (goal_written)
        table_[ADDR_TORQUE_ENABLE] = 1; // a new goal switches the torque on
    if (covers(address, count, ADDR_TORQUE_LIMIT, 2) && word(ADDR_TORQUE_LIMIT) > 0)
        shut_down_ &= causes(); // back in service, unless the cause is still there
    if (!table_[ADDR_TORQUE_ENABLE])
        let_go();
    publish_state();
    shut_down_on_alarm();
    return 0;
}

void SimServo::reset(std::int64_t now_us)
{
    advance(now_us);
    factory_table();
    set_word(ADDR_GOAL_POSITION, static_cast<int>(std::lround(position_)));
    speed_ups_ = 0;
    effort_ = 0;
    shut_down_ = 0;
    publish_state();
    shut_down_on_alarm();
}

} // namespace sim
