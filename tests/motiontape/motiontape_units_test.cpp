// The parts of motiontape that decide numbers: speeds, the comment line, value tokens, and the
// checks a frame file passes before it plays.
#include <gtest/gtest.h>

#include <fstream>

#include "comment_line.h"
#include "motion_file.h"
#include "pty_session.h"
#include "speeds.h"

namespace {

const double STEP_4096 = 360.0 / 4096, STEP_1024 = 300.0 / 1024;

TEST(MotiontapeSpeeds, FrameSpeedBringsTheServoThereInTime)
{
    struct Row {
        int steps;
        double ms, degreesPerStep, rpmPerUnit;
        int limit, expected;
    } rows[] = {
        {0, 20, STEP_4096, 0.229, 415, 1},        // standing still is 1, never 0 (no limit)
        {4096, 60000, STEP_4096, 0.229, 415, 5},  // 1 rpm: 4.37 units, rounded up
        {-4096, 60000, STEP_4096, 0.229, 415, 5}, // either direction
        {1, 20, STEP_1024, 0.111, 1023, 22},      // 2.44 rpm: 21.99 units
        {1000, 10, STEP_4096, 0.229, 415, 415},   // beyond the velocity limit
        {100, 0, STEP_1024, 0.111, 1023, 1023},   // no time at all: as fast as allowed
        {100, -5, STEP_1024, 0.111, 0, 1},        // a limit below 1 still sends 1
    };
    for (const Row& r : rows)
        EXPECT_EQ(frame_speed(r.steps, r.ms, r.degreesPerStep, r.rpmPerUnit, r.limit), r.expected)
            << r.steps << " steps in " << r.ms << " ms";
}

TEST(MotiontapeSpeeds, GentleSpeedIsAQuarterOfTheLimitAndNeverZero)
{
    EXPECT_EQ(gentle_speed(2, 415), 103);
    EXPECT_EQ(gentle_speed(2, 3), 1);
    EXPECT_EQ(gentle_speed(2, 0), 1);
    EXPECT_EQ(gentle_speed(1, 1023), 255);
    EXPECT_EQ(gentle_speed(1, 100), 100);
}

TEST(MotiontapeComment, ReadsWhatItWritesAndRefusesTheRest)
{
    MotionComment c{};
    ASSERT_TRUE(
        parse_motion_comment("// motiontape protocol 2 bps 1000000 models 1060 1020\r\n", &c));
    EXPECT_EQ(c.protocol, 2);
    EXPECT_EQ(c.bps, 1000000);
    ASSERT_EQ(c.modelCount, 2);
    EXPECT_EQ(c.models[1], 1020);
    const char* bad[] = {
        "// motiontape protocol 3 bps 1000000 models 12",
        "// motiontape protocol 1 bps 1e6 models 12",
        "// motiontape protocol 1 bps 1000000 models",
        "// motiontape protocol 1 bps 1000000 models 12x",
        "// motiontapeX protocol 1 bps 1000000 models 12",
    };
    for (const char* line : bad)
        EXPECT_FALSE(parse_motion_comment(line, &c)) << line;
    EXPECT_DOUBLE_EQ(model_degrees_per_step(1060), STEP_4096);
    EXPECT_DOUBLE_EQ(model_degrees_per_step(12), STEP_1024);
    EXPECT_EQ(model_degrees_per_step(9999), 0.0);
}

TEST(MotiontapeFile, ValueTokens)
{
    struct Row {
        const char* token;
        int kind, value;
    } rows[] = {{"512", 1, 512}, {"-20", 1, -20}, {"512.0", 1, 512}, {"500.7", 1, 500},
                {"rxT", 0, 0},   {"txF", 0, 0},   {"5OO", -1, 0},    {"2x", -1, 0},
                {"5e2", -1, 0},  {"", -1, 0},     {"RXT", -1, 0},    {"99999999999", -1, 0}};
    for (const Row& r : rows) {
        int value = 0;
        EXPECT_EQ(read_value_token(r.token, &value), r.kind) << r.token;
        if (r.kind == 1) {
            EXPECT_EQ(value, r.value) << r.token;
        }
    }
}

TEST(MotiontapeFile, WhatPlaysAndWhatIsRefusedFromTheFileAlone)
{
    const std::string COMMENT = "// motiontape protocol 2 bps 1000000 models 1060 1060\n";
    const std::string TYPE = "FILETYPE: AbsoluteSpeeds; AbsolutePositions\n";
    struct Row {
        std::string text;
        bool plays;
        int frames;
    } rows[] = {
        {COMMENT + TYPE + "1, 2\n 16, [ 0]2048,[ 1]rxT,\n 20, [0]2050,[0]1000,\n\n", true, 2},
        {"\xEF\xBB\xBF" + COMMENT + "\"FILETYPE: AbsolutePositions\",,\n1,2\n10,5,6\n", true, 1},
        {TYPE + "1, 2\n 16, [ 0]512,[ 1]500,\n", true, 1}, // no comment: model 12's family
        {COMMENT + "FILETYPE: RelativePositions\n1,2\n10,5,6\n", false, 0},
        {COMMENT + TYPE + "1, 2\n 16, [ 0]2048,[ 1]\n", false, 0},     // a position missing
        {COMMENT + TYPE + "1, 2\n 16, [ 0]2048,[ 1]5OO,\n", false, 0}, // not a number
        {COMMENT + TYPE + "1, 2\n 1O, [ 0]2048,[ 1]500,\n", false, 0}, // nor is the delay
        {COMMENT + TYPE + "1, 2\n 1, [0]1,[0]1,\n\n 1, [0]1,[0]1,\n", false, 0}, // blank between
        {COMMENT + TYPE + "1, 1\n", false, 0},                                   // an id twice
        {COMMENT + TYPE + "1, 2, 3\n 1, [0]1,[0]1,[0]1,\n", false, 0}, // three ids, two models
        {"// motiontape protocol 2 bps 1000000 models 1060 29\n" + TYPE + "1,2\n", false, 0},
        {"// motiontape protocol 2 bps 1000000 models 1060 350\n" + TYPE + "1,2\n", false, 0},
        {"// motiontape protocol 2 bps 1000000 models 1060 1060\n" + TYPE + "1,253\n", false, 0},
        {"// motiontape protocol two\n" + TYPE + "1,2\n 1, [0]1,[0]1,\n", false, 0},
        {COMMENT + TYPE + "1, 2\n", false, 0}, // no frame
    };
    std::string path = harness::temp_dir() + "/file.csv";
    for (const Row& r : rows) {
        std::ofstream(path, std::ios::binary) << r.text;
        MotionFile file;
        EXPECT_EQ(load_motion_file(path.c_str(), &file), r.plays) << r.text;
        if (r.plays) {
            EXPECT_EQ(static_cast<int>(file.delays.size()), r.frames) << r.text;
        }
    }
}

} // namespace
