// The model table as programs see it: registers by model and name, baud-rate maps, group
// reads by firmware, and raw bytes to units and back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kinetron.h"

TEST(ModelTable, RegistersByModelAndName)
{
    struct Row {
        int model;
        const char* name;
        int address; // -1: the model lacks the register
        int size;
        long long factory;
    };
    const Row rows[] = {
        {12, "present_position", 36, 2, -1},
        {29, "present_position", 36, 2, -1},
        {1060, "present_position", 132, 4, -1},
        {350, "present_position", 37, 2, -1},
        {12, "return_delay_time", 5, 1, 250},
        {18, "max_torque", 14, 2, 983},
        {310, "max_voltage", 13, 1, 240},
        {104, "p_gain", 28, 1, 8},
        {320, "drive_mode", 10, 1, 0},
        {29, "drive_mode", -1, 0, 0},
        {1060, "current_limit", -1, 0, 0},
        {1060, "present_load", 126, 2, -1},
        {1020, "present_current", 126, 2, -1},
        {1020, "present_load", -1, 0, 0},
        {1060, "velocity_limit", 44, 4, 415},
        {1200, "shutdown", 63, 1, 53},
        {1190, "indirect_address_21", -1, 0, 0},
        {1190, "indirect_data_1", 208, 1, 0},
        {1020, "indirect_address_21", 208, 2, 244},
        {1020, "indirect_data_56", 661, 1, 0},
        {350, "model_number", 0, 2, 350},
        {999, "model_number", -1, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.model) + " " + row.name);
        const kinetron_register* reg = kinetron_model_register(row.model, row.name);
        if (row.address < 0) {
            EXPECT_EQ(reg, nullptr);
            continue;
        }
        ASSERT_NE(reg, nullptr);
        EXPECT_EQ(reg->address, row.address);
        EXPECT_EQ(reg->size, row.size);
        EXPECT_EQ(reg->factory, row.factory);
    }
}

// What holds for every model: the names every table shares, factory values a write would
// accept, and the EEPROM area where the protocol puts it.
TEST(ModelTable, EveryModel)
{
    const char* shared[] = {"model_number",
                            "firmware_version",
                            "id",
                            "baud_rate",
                            "return_delay_time",
                            "torque_enable",
                            "goal_position",
                            "present_position",
                            "present_temperature",
                            "present_input_voltage",
                            "status_return_level"};
    int models = 0;
    for (int model; (model = kinetron_model_at(models)) != 0; ++models) {
        SCOPED_TRACE(model);
        for (const char* name : shared)
            EXPECT_NE(kinetron_model_register(model, name), nullptr) << name;
        const int eeprom_end = std::strcmp(kinetron_model_table(model), "protocol2_4096") ? 24 : 64;
        for (int i = 0; i < kinetron_model_register_count(model); ++i) {
            const kinetron_register* reg = kinetron_model_register_at(model, i);
            EXPECT_EQ(reg->eeprom, reg->address < eeprom_end) << reg->name;
            const bool no_factory = !reg->writable || reg->factory == -1;
            EXPECT_TRUE(no_factory || (reg->factory >= reg->low && reg->factory <= reg->high))
                << reg->name;
        }
        EXPECT_NE(
            kinetron_model_baud_bps(model, kinetron_model_register(model, "baud_rate")->factory),
            0);
    }
    EXPECT_EQ(models, 22);
    EXPECT_EQ(kinetron_model_register_at(12, kinetron_model_register_count(12)), nullptr);
}

TEST(ModelTable, ProtocolsBaudMapsAndGroupReads)
{
    EXPECT_EQ(kinetron_model_protocol(12), 1);
    EXPECT_EQ(kinetron_model_protocol(350), 2);
    EXPECT_EQ(kinetron_model_protocol(999), 0);
    EXPECT_STREQ(kinetron_model_table(104), "protocol1_4096");
    EXPECT_EQ(kinetron_model_table(999), nullptr);

    const int bauds[][3] = {{12, 1, 1000000},   {12, 34, 57142},    {29, 252, 3000000},
                            {29, 253, 0},       {1060, 7, 4500000}, {1190, 7, 0},
                            {1190, 6, 4000000}, {350, 3, 1000000},  {350, 4, 0}};
    for (const auto& b : bauds)
        EXPECT_EQ(kinetron_model_baud_bps(b[0], b[1]), b[2]) << b[0] << " value " << b[1];

    const int reads[][4] = {
        {1060, 44, KINETRON_FAST_SYNC_READ, 0}, {1060, 45, KINETRON_FAST_SYNC_READ, 1},
        {1190, 45, KINETRON_FAST_BULK_READ, 0}, {1190, 46, KINETRON_FAST_BULK_READ, 1},
        {350, 99, KINETRON_FAST_SYNC_READ, 0},  {350, 1, KINETRON_SYNC_READ, 1},
        {1020, 0, KINETRON_BULK_READ, 1},       {1060, 99, KINETRON_BULK_READ_1, 0},
        {29, 0, KINETRON_BULK_READ_1, 1},       {12, 99, KINETRON_BULK_READ_1, 0},
        {12, 99, KINETRON_SYNC_READ, 0},        {999, 99, KINETRON_SYNC_READ, 0}};
    for (const auto& r : reads)
        EXPECT_EQ(kinetron_model_has_instruction(r[0], r[1], r[2]), r[3])
            << r[0] << " firmware " << r[1] << " read " << r[2];
}

TEST(ModelTable, RawBytesToUnitsAndBack)
{
    struct Row {
        int model;
        const char* name;
        std::vector<unsigned char> bytes;
        long long raw;
        double units;
    };
    const Row rows[] = {
        {12, "present_position", {0xFF, 0x03}, 1023, 1023 * 300.0 / 1024},
        {12, "present_speed", {0x0A, 0x04}, 1034, -1.11},
        {350, "moving_speed", {0xFF, 0x07}, 2047, -1023 * 0.111},
        {29, "present_position", {0x00, 0x90}, -28672, -2520.0},
        {104, "present_speed", {0x02, 0x00}, 2, 1.832},
        {1060, "present_position", {0xFF, 0xFF, 0xFF, 0xFF}, -1, -360.0 / 4096},
        {1060, "present_velocity", {0x00, 0x00, 0x00, 0x80}, -2147483648LL, -2147483648.0 * 0.229},
        {1060, "present_load", {0x18, 0xFC}, -1000, -100.0},
        {1060, "present_input_voltage", {0x78, 0x00}, 120, 12.0},
        {1060, "present_temperature", {40}, 40, 40.0},
        {12, "return_delay_time", {250}, 250, 500.0},
        {1060, "hardware_error_status", {0xA4}, 164, 164.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.model) + " " + row.name);
        const kinetron_register* reg = kinetron_model_register(row.model, row.name);
        ASSERT_NE(reg, nullptr);
        ASSERT_EQ(static_cast<size_t>(reg->size), row.bytes.size());
        EXPECT_EQ(kinetron_register_decode(reg, row.bytes.data()), row.raw);
        std::vector<unsigned char> encoded(row.bytes.size());
        kinetron_register_encode(reg, row.raw, encoded.data());
        EXPECT_EQ(encoded, row.bytes);
        EXPECT_NEAR(kinetron_to_units(reg, row.raw), row.units, 1e-6);
        EXPECT_EQ(kinetron_from_units(reg, row.units), row.raw);
    }
    // A direction-bit amount saturates instead of flipping the direction; a tiny negative
    // value is no motion, not "backwards 0".
    const kinetron_register* speed = kinetron_model_register(12, "moving_speed");
    EXPECT_EQ(kinetron_from_units(speed, -1000.0), 2047);
    EXPECT_EQ(kinetron_from_units(speed, -0.01), 0);
    EXPECT_EQ(kinetron_from_units(kinetron_model_register(1060, "goal_position"), -90.0), -1024);
}
