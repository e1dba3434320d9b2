#include "sim_model.h"

#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>

#include "kinetron.h"
#include "registers.h"

namespace sim {

namespace {

// Model 12's control table as the chain has always simulated it. Addresses missing here
// are reserved: they read 0 and refuse writes.
// clang-format off
const RegisterInfo MODEL_12_REGISTERS[] = {
    // address, size, writable, eeprom, signed, low, high, factory
    {ADDR_MODEL_NUMBER, 2, false, true, false, 0, 0, 12},
    {ADDR_FIRMWARE, 1, false, true, false, 0, 0, 24},
    {ADDR_ID, 1, true, true, false, 0, ID_HIGHEST_SERVO, 1},
    {ADDR_BAUD, 1, true, true, false, 0, 254, 1},
    {ADDR_RETURN_DELAY, 1, true, true, false, 0, 254, 250},
    {ADDR_CW_LIMIT, 2, true, true, false, 0, POSITION_MAX, 0},
    {ADDR_CCW_LIMIT, 2, true, true, false, 0, POSITION_MAX, POSITION_MAX},
    {ADDR_TEMPERATURE_LIMIT, 1, true, true, false, 0, 150, 70},
    {ADDR_LOW_VOLTAGE, 1, true, true, false, 50, 250, 60},
    {ADDR_HIGH_VOLTAGE, 1, true, true, false, 50, 250, 140},
    {ADDR_MAX_TORQUE, 2, true, true, false, 0, 1023, 1023},
    {ADDR_STATUS_RETURN, 1, true, true, false, 0, 2, 2},
    {ADDR_ALARM_LED, 1, true, true, false, 0, 127, ERRBIT_OVERHEAT | ERRBIT_OVERLOAD},
    {ADDR_ALARM_SHUTDOWN, 1, true, true, false, 0, 127, ERRBIT_OVERHEAT | ERRBIT_OVERLOAD},
    {ADDR_TORQUE_ENABLE, 1, true, false, false, 0, 1, 0},
    {ADDR_LED, 1, true, false, false, 0, 1, 0},
    {ADDR_CW_MARGIN, 1, true, false, false, 0, 255, 1},
    {ADDR_CCW_MARGIN, 1, true, false, false, 0, 255, 1},
    {ADDR_CW_SLOPE, 1, true, false, false, 0, 255, 32},
    {ADDR_CCW_SLOPE, 1, true, false, false, 0, 255, 32},
    {ADDR_GOAL_POSITION, 2, true, false, false, 0, POSITION_MAX, -1},
    {ADDR_MOVING_SPEED, 2, true, false, false, 0, 1023, 0},
    {ADDR_TORQUE_LIMIT, 2, true, false, false, 0, 1023, 1023},
    {ADDR_PRESENT_POSITION, 2, false, false, false, 0, 0, -1},
    {ADDR_PRESENT_SPEED, 2, false, false, false, 0, 0, -1},
    {ADDR_PRESENT_LOAD, 2, false, false, false, 0, 0, -1},
    {ADDR_PRESENT_VOLTAGE, 1, false, false, false, 0, 0, -1},
    {ADDR_PRESENT_TEMPERATURE, 1, false, false, false, 0, 0, -1},
    {ADDR_REGISTERED, 1, false, false, false, 0, 0, 0},
    {ADDR_MOVING, 1, false, false, false, 0, 0, 0},
    {ADDR_LOCK, 1, true, false, false, 0, 1, 0},
    {ADDR_PUNCH, 2, true, false, false, 0, 1023, 32},
};
// clang-format on

ServoModel model_12()
{
    ServoModel m;
    m.registers.assign(std::begin(MODEL_12_REGISTERS), std::end(MODEL_12_REGISTERS));
    return m;
}

TableKind kind_of(int model, const char* table)
{
    if (std::strcmp(table, "protocol1_4096") == 0)
        return TableKind::Steps4096Protocol1;
    if (std::strcmp(table, "protocol2_4096") == 0)
        return TableKind::Steps4096Protocol2;
    if (std::strcmp(table, "protocol2_350") == 0 || model == 350)
        return TableKind::Model350;
    return TableKind::Steps1024Protocol1;
}

// Where the simulated registers live in tables other than model 12's.
void place_registers(ServoModel& m)
{
    switch (m.kind) {
    case TableKind::Steps1024Protocol1:
        break;
    case TableKind::Steps4096Protocol1:
        m.position_max = 4095;
        m.firmware = 41;
        break;
    case TableKind::Steps4096Protocol2:
        m.position_max = 4095;
        m.firmware = 46; // has every instruction, the fast group reads among them
        m.id = 7, m.baud = 8, m.return_delay = 9, m.status_return = 68;
        m.low_limit = 52, m.high_limit = 48;
        m.temperature_limit = 31, m.max_voltage = 32, m.min_voltage = 34, m.voltage_size = 2;
        m.shutdown = 63, m.hardware_error = 70, m.lock = -1, m.registered = 69;
        m.torque_enable = 64, m.goal_position = 116, m.goal_size = 4;
        m.moving_speed = 112; // profile velocity
        m.torque_limit = -1, m.operating_mode = 11, m.velocity_limit = 44;
        m.drive_mode = 10, m.secondary_id = 12;
        m.present_position = 132, m.present_speed = 128, m.present_load = 126;
        m.present_voltage = 144, m.present_temperature = 146, m.moving = 122;
        m.ram_start = 64;
        break;
    case TableKind::Model350:
        m.firmware = 42;
        m.status_return = 17;
        m.temperature_limit = 12, m.min_voltage = 13, m.max_voltage = 14;
        m.hardware_error = 50, m.lock = -1, m.registered = 47;
        m.torque_limit = 35, m.operating_mode = 11;
        m.present_position = 37, m.present_speed = 39, m.present_load = 41;
        m.present_voltage = 45, m.present_temperature = 46, m.moving = 49;
        break;
    }
}

std::unique_ptr<ServoModel> from_model_table(int model)
{
    const char* table = kinetron_model_table(model);
    if (!table || kinetron_model_protocol(model) == 0)
        return nullptr;
    std::unique_ptr<ServoModel> m(new ServoModel);
    m->model = model;
    m->protocol = kinetron_model_protocol(model);
    m->kind = kind_of(model, table);
    place_registers(*m);
    m->table_size = 0;
    const int count = kinetron_model_register_count(model);
    for (int i = 0; i < count; ++i) {
        const kinetron_register* reg = kinetron_model_register_at(model, i);
        if (!reg)
            continue;
        RegisterInfo info{reg->address,
                          reg->size,
                          reg->writable != 0,
                          reg->eeprom != 0,
                          reg->signedness == KINETRON_SIGNED,
                          reg->low,
                          reg->high,
                          reg->factory};
        m->registers.push_back(info);
        if (reg->address + reg->size > m->table_size)
            m->table_size = reg->address + reg->size;
        if (reg->address == 2 && m->protocol == 1 && reg->factory > 0)
            m->firmware = static_cast<int>(reg->factory);
    }
    if (m->kind != TableKind::Steps4096Protocol2)
        m->ram_start = 24;
    return m;
}

} // namespace

int ServoModel::cause_bits(int causes) const
{
    if (kind == TableKind::Model350)
        return (causes & CAUSE_OVERLOAD ? 0x01 : 0) | (causes & CAUSE_OVERHEAT ? 0x02 : 0) |
               (causes & CAUSE_VOLTAGE ? 0x04 : 0);
    return (causes & CAUSE_VOLTAGE ? ERRBIT_VOLTAGE : 0) |
           (causes & CAUSE_OVERHEAT ? ERRBIT_OVERHEAT : 0) |
           (causes & CAUSE_OVERLOAD ? ERRBIT_OVERLOAD : 0);
}

int ServoModel::causes_of(int bits) const
{
    int causes = 0;
    for (int cause : {CAUSE_VOLTAGE, CAUSE_OVERHEAT, CAUSE_OVERLOAD})
        if (bits & cause_bits(cause))
            causes |= cause;
    return causes;
}

long ServoModel::baud_bps(int value) const
{
    if (protocol == 2)
        return kinetron_model_baud_bps(model, value);
    if (kind == TableKind::Steps4096Protocol1 && value >= 250 && value <= 252)
        return value == 250 ? 2250000 : value == 251 ? 2500000 : 3000000;
    return value >= 0 && value <= BAUDNUM_MAX ? baudnum_to_bps(value) : 0;
}

double ServoModel::rpm_per_speed_unit() const
{
    switch (kind) {
    case TableKind::Steps4096Protocol1:
        return model == 104 ? 0.916 : 0.114;
    case TableKind::Steps4096Protocol2:
        return 0.229;
    default:
        return 0.111;
    }
}

double ServoModel::steps_per_second_per_rpm() const
{
    // 4096 steps make a turn; 1024 steps span 300 degrees.
    return position_max == 4095 ? 4096.0 / 60.0 : 360.0 / 60.0 * 1024.0 / 300.0;
}

void ServoModel::index_registers()
{
    owner_.assign(static_cast<std::size_t>(table_size), -1);
    for (std::size_t i = 0; i < registers.size(); ++i)
        for (int at = registers[i].address;
             at < registers[i].address + registers[i].size && at < table_size; ++at)
            owner_[static_cast<std::size_t>(at)] = static_cast<int>(i);
}

const RegisterInfo* ServoModel::register_at(int address) const
{
    if (address < 0 || address >= static_cast<int>(owner_.size()) ||
        owner_[static_cast<std::size_t>(address)] < 0)
        return nullptr;
    return &registers[static_cast<std::size_t>(owner_[static_cast<std::size_t>(address)])];
}

const ServoModel* find_servo_model(int model)
{
    static std::mutex lock;
    static std::map<int, std::unique_ptr<ServoModel>> known;
    std::lock_guard<std::mutex> hold(lock);
    auto found = known.find(model);
    if (found != known.end())
        return found->second.get();
    std::unique_ptr<ServoModel> built =
        model == 12 ? std::unique_ptr<ServoModel>(new ServoModel(model_12()))
                    : from_model_table(model);
    if (built)
        built->index_registers();
    const ServoModel* result = built.get();
    known[model] = std::move(built);
    return result;
}

} // namespace sim
