// The simulated chain as the tools meet it: through the bus library, once inside the
// process (KINETRON_DEVICE=sim:OPTIONS) and once over servosim's pseudo-terminal.
//
// In the process the chain answers synchronously, so every check is exact. Over the
// pseudo-terminal a reply must cross two processes within the library's time-out, which a
// busy machine sometimes misses; a scenario there passes when one of three fresh runs is
// exact, so a real fault (which spoils every run) still fails it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bus_tools.h"
#include "kinetron.h"
#include "pty_session.h"
#include "registers.h"

namespace {

enum Way { IN_PROCESS, OVER_PTY };

// Collects the first mismatch of a scenario run.
class Check {
public:
    template <typename A, typename B>
    void equal(const A& actual, const B& expected, const std::string& what)
    {
        if (failure_.empty() && !(actual == expected)) {
            std::ostringstream text;
            text << what << ": got " << actual << ", expected " << expected;
            failure_ = text.str();
        }
    }
    bool ok() const { return failure_.empty(); }
    const std::string& failure() const { return failure_; }

private:
    std::string failure_;
};

class SimBus : public ::testing::TestWithParam<Way> {
protected:
    // Opens the bus on a chain with these options at baud number `baud`.
    bool open(const std::string& options, int baud = 35)
    {
        std::string device = "sim:" + options;
        if (GetParam() == OVER_PTY) {
            servosim_.reset(new harness::Servosim(options));
            device = servosim_->device();
            if (device.empty())
                return false;
        }
        setenv("KINETRON_DEVICE", device.c_str(), 1);
        if (!bus_open())
            return false;
        bus_change_baud(baud);
        return true;
    }
    void TearDown() override { bus_close(); }

    // Runs `scenario` on a fresh chain: once in the process, up to three times over servosim.
    void run(const std::string& options, const std::function<void(Check&)>& scenario)
    {
        const int runs = GetParam() == IN_PROCESS ? 1 : 3;
        std::string failure;
        for (int i = 0; i < runs; ++i) {
            Check check;
            if (!open(options)) {
                failure = "cannot open the bus on " + options;
                continue;
            }
            scenario(check);
            bus_close();
            if (check.ok())
                return;
            failure = check.failure();
        }
        ADD_FAILURE() << options << ": " << failure;
    }

    std::unique_ptr<harness::Servosim> servosim_;
};

std::string way_name(const ::testing::TestParamInfo<Way>& info)
{
    return info.param == IN_PROCESS ? "InProcess" : "Servosim";
}

} // namespace

TEST_P(SimBus, FaultsGiveTheirResultCodes)
{
    struct Case {
        const char* fault;
        int code;
    } cases[] = {{"drop=1", 6}, {"corrupt=1", 7}, {"partial=1", 5}, {"noise=1", 1}};
    for (const Case& c : cases) {
        run(std::string("ids=1,pos=321,") + c.fault, [&](Check& check) {
            for (int i = 0; i < 5; ++i) {
                int value = bus_read_word(1, 36);
                check.equal(bus_result(), c.code, "result code");
                check.equal(value, c.code == 1 ? 321 : -1, "value");
            }
        });
    }
}

TEST_P(SimBus, FlakyServoNeedsExactlyTwoTries)
{
    run("ids=1-2,flaky=2", [](Check& check) {
        for (int i = 0; i < 5; ++i) {
            check.equal(read_word_retry(2, 36), 512, "flaky servo's position");
            check.equal(last_attempts, 2, "tries for the flaky servo");
            check.equal(read_byte_retry(1, 3), 1, "the other servo's id");
            check.equal(last_attempts, 1, "tries for the other servo");
        }
    });
}

TEST_P(SimBus, TheSameSeedGivesTheSameRun)
{
    auto results = [](std::vector<int>& out) {
        return [&out](Check&) {
            for (int i = 0; i < 40; ++i) {
                out.push_back(bus_read_word(1 + i % 3, 36));
                out.push_back(bus_result());
            }
        };
    };
    // In the process, reopening with the same options finds the chain (and its generator)
    // as it was left; other options in between build a fresh one.
    const std::string faults = "ids=1-3,drop=0.2,corrupt=0.2,partial=0.2,noise=0.2,seed=";
    std::vector<int> first, second, other;
    for (int attempt = 0; attempt < (GetParam() == IN_PROCESS ? 1 : 3); ++attempt) {
        first.clear(), second.clear(), other.clear();
        run(faults + "3", results(first));
        run(faults + "4", results(other));
        run(faults + "3", results(second));
        if (first == second)
            break;
    }
    ASSERT_EQ(first.size(), 80u);
    EXPECT_EQ(first, second);
    EXPECT_NE(first, other);
}

TEST_P(SimBus, IdAndBaudChangesAndResetAnswerTheOldWay)
{
    run("ids=5", [](Check& check) {
        bus_write_byte(5, 3, 9);
        check.equal(bus_result(), 1, "new id answered as id 5");
        check.equal(bus_read_byte(9, 3), 9, "read under the new id");
        bus_write_byte(9, 4, 1);
        check.equal(bus_result(), 1, "new baud number answered at the old speed");
        check.equal(bus_read_byte(9, 3), -1, "read at the old speed");
        check.equal(bus_result(), 6, "code at the old speed");
        bus_change_baud(1);
        check.equal(bus_read_byte(9, 4), 1, "read at the new speed");
        bus_write_byte(9, 4, 35);
        bus_change_baud(35);
        bus_packet_set_id(9);
        bus_packet_set_instruction(6);
        bus_packet_set_length(2);
        bus_packet_transfer();
        check.equal(bus_result(), 1, "reset answered by id 9 at 56 kbps");
        check.equal(bus_read_byte(9, 3), -1, "id 9 after the reset");
        bus_change_baud(1);
        check.equal(bus_read_byte(1, 3), 1, "factory id 1 at 1 Mbps");
    });
}

TEST_P(SimBus, SharedIdCollidesAndReadPastTheTable)
{
    run("ids=1+1+2", [](Check& check) {
        check.equal(bus_read_word(1, 36), -1, "shared id");
        check.equal(bus_result(), 7, "code of a collision");
        check.equal(bus_read_word(2, 49), 0, "word from the last address");
        check.equal(bus_result(), 1, "code past the table");
        check.equal(bus_read_byte(2, 60), 0, "byte far past the table");
        check.equal(bus_result(), 1, "code far past the table");
    });
}

TEST_P(SimBus, BlocksOfBytesGoInOneExchange)
{
    run("ids=1-2,pos=600", [](Check& check) {
        unsigned char bytes[256] = {};
        check.equal(bus_read_block(1, ADDR_PRESENT_POSITION, 4, bytes), 4, "position and speed");
        check.equal(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | bytes[3] << 24, 600, "their bytes");
        check.equal(kinetron_last_status(), 0, "error byte of a good reply");
        const unsigned char goal_and_speed[] = {0x20, 0x03, 100, 0};
        bus_write_block(2, ADDR_GOAL_POSITION, 4, goal_and_speed);
        check.equal(bus_result(), 1, "block write answered");
        check.equal(bus_read_word(2, ADDR_MOVING_SPEED), 100, "its last register");
        check.equal(bus_read_block(2, 0, 253, bytes), 253, "the longest read");
        check.equal(kinetron_last_status(), ERRBIT_RANGE, "past the table");
        check.equal(bytes[ADDR_ID] + bytes[CONTROL_TABLE_SIZE], 2, "id, then 0 past the table");
        // Refused before anything is sent: code 4, no reply, nothing returned.
        const int refused[][2] = {{1, 0}, {1, 254}, {255, 2}, {-1, 2}};
        for (const auto& r : refused) {
            check.equal(bus_read_block(r[0], 0, r[1], bytes), 0, "refused read");
            check.equal(bus_result() * 10 + kinetron_last_status(), 39, "code 4, status -1");
        }
        bus_write_block(1, 0, 253, bytes);
        check.equal(bus_result(), 4, "a write of 253 bytes");
        check.equal(bus_read_block(9, 0, 2, bytes), 0, "absent servo");
        check.equal(kinetron_last_status(), -1, "status without a reply");
    });
    if (GetParam() == IN_PROCESS) {
        // One READ of count 4, as the chain's trace tells it.
        ASSERT_NE(bus_open_device("sim:ids=1-2,pos=600,trace"), 0);
        bus_change_baud(35);
        unsigned char bytes[4];
        testing::internal::CaptureStderr();
        EXPECT_EQ(bus_read_block(1, ADDR_PRESENT_POSITION, 4, bytes), 4);
        const std::string trace = testing::internal::GetCapturedStderr();
        EXPECT_EQ(trace.rfind("-> 55555 bps  READ id 1  address 36  count 4  [", 0), 0u) << trace;
        EXPECT_EQ(std::count(trace.begin(), trace.end(), '\n'), 2) << trace;
    }
}

TEST_P(SimBus, ServosAnswerOnlyAtTheirOwnBaudNumber)
{
    run("ids=1@1", [](Check& check) {
        check.equal(bus_read_byte(1, 3), -1, "baud 1 servo heard at 35");
        check.equal(bus_result(), 6, "code at the wrong speed");
        bus_change_baud(1);
        check.equal(bus_read_byte(1, 3), 1, "baud 1 servo heard at 1");
    });
    run("ids=1@35+2@1", [](Check& check) {
        check.equal(bus_read_byte(1, 3), 1, "servo 1 at 35");
        check.equal(bus_read_byte(2, 3), -1, "servo 2 at 35");
        bus_change_baud(1);
        check.equal(bus_read_byte(2, 3), 2, "servo 2 at 1");
        check.equal(bus_read_byte(1, 3), -1, "servo 1 at 1");
    });
}

TEST_P(SimBus, EveryModelThroughTheLibrary)
{
    run("ids=1-3+4-6#1060", [](Check& check) {
        int model = 0, firmware = 0;
        check.equal(bus_ping(1, 2, &model, &firmware) * 10000 + model, 10012, "ping of model 12");
        check.equal(bus_set_bps(1000000), 1, "to the protocol 2.0 servos' speed");
        check.equal(bus_ping(2, 5, &model, &firmware), 1, "protocol 2.0 ping");
        check.equal(model * 100 + firmware, 106046, "model and firmware");
        int ids[8] = {};
        check.equal(bus_ping_all(ids, nullptr, nullptr, 8), 3, "servos answering a PING to all");
        check.equal(ids[0] * 100 + ids[1] * 10 + ids[2], 456, "in id order");

        const int group[] = {4, 5, 6};
        unsigned char one[4] = {}, each[12] = {}, fast[12] = {};
        check.equal(bus_read(2, 5, 132, 4, one), 1, "present position of 5");
        check.equal(bus_sync_read(0, 3, group, 132, 4, each, nullptr, nullptr), 3, "sync read");
        check.equal(bus_sync_read(1, 3, group, 132, 4, fast, nullptr, nullptr), 3, "fast read");
        check.equal(std::equal(one, one + 4, each + 4) && std::equal(each, each + 12, fast), true,
                    "the same positions every way");
        // A silent servo in the middle of a fast read: the parts around it stand.
        const int gap[] = {4, 9, 5};
        int results[3] = {};
        check.equal(bus_sync_read(1, 3, gap, 132, 4, fast, results, nullptr), 2, "around a gap");
        check.equal(results[0] * 100 + results[1] * 10 + results[2], 151, "codes around it");

        const unsigned char torque_on = 1, new_id = 9;
        const unsigned char goal[4] = {0x00, 0x0C, 0x00, 0x00};
        check.equal(bus_write(2, 5, 64, 1, &torque_on), 1, "torque on");
        check.equal(bus_write(2, 5, 116, 4, goal) * 10 + kinetron_last_status(), 10, "goal");
        check.equal(bus_write(2, 5, 7, 1, &new_id) * 10 + kinetron_last_status(), 17,
                    "the id refused while torque is on");
        const int addresses[] = {7, 64, 7}, counts[] = {1, 1, 1};
        unsigned char bytes[3] = {};
        check.equal(bus_bulk_read(2, 1, 3, group, addresses, counts, bytes, results, nullptr), 3,
                    "fast bulk read");
        check.equal(bytes[0] * 100 + bytes[1] * 10 + bytes[2], 416, "id, torque, id");
    });
}

TEST_P(SimBus, BadOptionsMakeOpenFail)
{
    EXPECT_FALSE(open("ids=254"));
    EXPECT_FALSE(open("volume=11"));
}

INSTANTIATE_TEST_SUITE_P(Ways, SimBus, ::testing::Values(IN_PROCESS, OVER_PTY), way_name);

TEST(SimInProcess, StalledReadNeverReturnsAndExitUnderItIsClean)
{
    // The watchdog's way out: exit() from another thread while the read sleeps.
    EXPECT_EXIT(
        {
            setenv("KINETRON_DEVICE", "sim:ids=1-2,stall=2", 1);
            if (!bus_open())
                std::exit(2);
            bus_change_baud(35);
            if (bus_read_word(1, 36) != 512)
                std::exit(3);
            std::thread([] {
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
                std::exit(42);
            }).detach();
            bus_read_word(2, 36);
            std::exit(4); // never reached
        },
        ::testing::ExitedWithCode(42), "");
}
