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
    {0, 2, READ_ONLY, 0, 0},      // model number
    {2, 1, READ_ONLY, 0, 0},      // firmware version
    {3, 1, WRITABLE, 0, 253},     // id
    {4, 1, WRITABLE, 0, 254},     // baud number
    {5, 1, WRITABLE, 0, 254},     // return delay, 2 us units
    {6, 2, WRITABLE, 0, 1023},    // lowest angle
    {8, 2, WRITABLE, 0, 1023},    // highest angle
    {11, 1, WRITABLE, 0, 150},    // temperature limit
    {12, 1, WRITABLE, 50, 250},   // lowest voltage
    {13, 1, WRITABLE, 50, 250},   // highest voltage
    {14, 2, WRITABLE, 0, 1023},   // max torque
    {16, 1, WRITABLE, 0, 2},      // status-return level
    {17, 1, WRITABLE, 0, 127},    // alarm LED
    {18, 1, WRITABLE, 0, 127},    // alarm shutdown
    {24, 1, WRITABLE, 0, 1},      // torque enable
    {25, 1, WRITABLE, 0, 1},      // LED
    {26, 1, WRITABLE, 0, 255},    // compliance margins and slopes
    {27, 1, WRITABLE, 0, 255},
    {28, 1, WRITABLE, 0, 255},
    {29, 1, WRITABLE, 0, 255},
    {30, 2, WRITABLE, 0, 1023},   // goal position
    {32, 2, WRITABLE, 0, 1023},   // moving speed
    {34, 2, WRITABLE, 0, 1023},   // torque limit
    {36, 2, READ_ONLY, 0, 0},     // present position
    {38, 2, READ_ONLY, 0, 0},     // present speed
    {40, 2, READ_ONLY, 0, 0},     // present load
    {42, 1, READ_ONLY, 0, 0},     // present voltage
    {43, 1, READ_ONLY, 0, 0},     // present temperature
    {44, 1, READ_ONLY, 0, 0},     // registered
    {46, 1, READ_ONLY, 0, 0},     // moving
    {47, 1, WRITABLE, 0, 1},      // lock
    {48, 2, WRITABLE, 0, 1023},   // punch
};
// clang-format on

const Register* register_at(int address)
{
    for (const Register& reg : REGISTERS)
        if (address >= reg.address && address < reg.address + reg.width)
            return &reg;
    return nullptr;
}

const int ERR_RANGE = 1 << 3;
const int ERR_INSTRUCTION = 1 << 6;
const int DIRECTION_BIT = 1 << 10;

// Full speed, and the size of one speed unit, in revolutions per minute.
const double FULL_SPEED_RPM = 114.0;
const double RPM_PER_SPEED_UNIT = 0.111;
// Position units per revolution-per-minute-second: 1024 units span 300 degrees.
const double UNITS_PER_SECOND_PER_RPM = 360.0 / 60.0 * 1024.0 / 300.0;

const double ROOM_TEMPERATURE = 35.0;
const double WARMING_PER_SECOND = 0.05; // while it works
const double COOLING_PER_SECOND = 0.02; // while it rests
const double HOTTEST = 75.0;

int speed_register_value(double units_per_second)
{
    double rpm = std::fabs(units_per_second) / UNITS_PER_SECOND_PER_RPM;
    int value = static_cast<int>(std::lround(rpm / RPM_PER_SPEED_UNIT));
    value = std::min(value, 1023);
    return units_per_second < 0 && value > 0 ? value | DIRECTION_BIT : value;
}

} // namespace

SimServo::SimServo(int id, int baud, int position, bool hand_wave, std::int64_t now_us,
                   int hand_speed)
    : position_(position), hand_wave_(hand_wave), last_us_(now_us)
{
    factory_table();
    table_[3] = static_cast<std::uint8_t>(id);
    table_[4] = static_cast<std::uint8_t>(baud);
    set_word(30, position);
    // Each servo's hand moves at its own pace within about 60 units of where it started.
    hand_speed_ups_ = hand_speed > 0 ? units_per_second(hand_speed) : 25.0 + (id % 5) * 6.0;
    hand_low_ = std::max(0, position - 60);
    hand_high_ = std::min(1023, position + 60);
    hand_direction_ = id % 2 ? 1 : -1;
    publish_state();
}

void SimServo::factory_table()
{
    std::memset(table_, 0, sizeof table_);
    set_word(0, 12);
    table_[2] = 24;
    table_[3] = 1;
    table_[4] = 1;
    table_[5] = 250;
    set_word(6, 0);
    set_word(8, 1023);
    table_[11] = 70;
    table_[12] = 60;
    table_[13] = 140;
    set_word(14, 1023);
    table_[16] = 2;
    table_[17] = 36;
    table_[18] = 36;
    table_[26] = 1;
    table_[27] = 1;
    table_[28] = 32;
    table_[29] = 32;
    set_word(34, 1023);
    table_[42] = 110;
    set_word(48, 32);
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
    if (table_[24]) {
        double goal = word(30);
        double step = units_per_second(word(32)) * seconds;
        double distance = goal - position_;
        if (std::fabs(distance) <= step) {
            speed_ups_ = 0;
            working = distance != 0;
            position_ = goal;
        } else {
            speed_ups_ = distance > 0 ? units_per_second(word(32)) : -units_per_second(word(32));
            position_ += distance > 0 ? step : -step;
            working = true;
        }
    } else if (hand_wave_) {
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
    temperature_ += working ? WARMING_PER_SECOND * seconds : -COOLING_PER_SECOND * seconds;
    temperature_ = std::min(HOTTEST, std::max(ROOM_TEMPERATURE, temperature_));
    publish_state();
}

void SimServo::publish_state()
{
    int present = static_cast<int>(std::lround(position_));
    present = std::min(1023, std::max(0, present));
    set_word(36, present);
    int speed = speed_register_value(speed_ups_);
    set_word(38, speed);
    // The load follows the effort: a working servo pushes in its direction of travel.
    int load = 0;
    if (table_[24] && speed_ups_ != 0) {
        int magnitude = std::min(1023, 80 + (speed & 0x3FF) / 3);
        load = magnitude | (speed & DIRECTION_BIT);
    }
    set_word(40, load);
    table_[43] = static_cast<std::uint8_t>(std::lround(temperature_));
    bool moving = table_[24] && present != word(30);
    table_[46] = moving ? 1 : 0;
}

int SimServo::read(int address, int count, std::int64_t now_us, std::vector<std::uint8_t>& out)
{
    advance(now_us);
    out.assign(static_cast<std::size_t>(count > 0 ? count : 0), 0);
    int error = 0;
    for (int i = 0; i < count; ++i) {
        int at = address + i;
        if (at >= TABLE_SIZE) {
            error = ERR_RANGE;
            continue;
        }
        out[static_cast<std::size_t>(i)] = register_at(at) ? table_[at] : 0;
    }
    return error;
}

int SimServo::write(int address, const std::uint8_t* data, int count, std::int64_t now_us)
{
    if (count <= 0)
        return ERR_INSTRUCTION;
    if (address + count > TABLE_SIZE)
        return ERR_RANGE;
    advance(now_us);
    std::uint8_t next[TABLE_SIZE];
    std::memcpy(next, table_, sizeof next);
    std::memcpy(next + address, data, static_cast<std::size_t>(count));
    for (int at = address; at < address + count; ++at) {
        const Register* reg = register_at(at);
        if (!reg || reg->access != WRITABLE)
            return ERR_INSTRUCTION;
        if (table_[47] && reg->address < 24)
            return ERR_INSTRUCTION; // settings locked
        int value = reg->width == 2 ? next[reg->address] | (next[reg->address + 1] << 8)
                                    : next[reg->address];
        if (value < reg->low || value > reg->high)
            return ERR_RANGE;
    }
    bool goal_written = address <= 31 && address + count > 30;
    std::memcpy(table_, next, sizeof table_);
    if (goal_written)
        table_[24] = 1; // a new goal switches the torque on
    if (!table_[24]) {
        // Let go here: the hand takes it from where it stands.
        hand_low_ = std::max(0.0, position_ - 60);
        hand_high_ = std::min(1023.0, position_ + 60);
    }
    publish_state();
    return 0;
}

void SimServo::reset(std::int64_t now_us)
{
    advance(now_us);
    factory_table();
    set_word(30, static_cast<int>(std::lround(position_)));
    speed_ups_ = 0;
    publish_state();
}

} // namespace sim
