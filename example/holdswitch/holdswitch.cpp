/* holdswitch: switches the torque of one servo on or off, or, without arguments, switches
 * it off on every servo listening at baud number 35 or 1. Writes are repeated instead of
 * checked. */
#include <cstdio>

#include "adapter.h"
#include "arguments.h"
#include "console.h"
#include "kinetron.h"
#include "registers.h"

namespace {

const char USAGE[] = "usage: holdswitch [<id> <baudnum> <0|1>]\n";
const int SINGLE_PASSES = 20;
const int SINGLE_PAUSE_MS = 20;
const int ALL_BAUDNUMS[] = {35, 1}; /* about 56 kbps and 1 Mbps */
const int TORQUE_OFF = 0;
const int TORQUE_ON = 1;

int id;
int baudnum;
int torque;

int single_motor(int argc, char** argv)
{
    if (argc < 4) {
        std::printf("bad arguments!\n");
        return 1;
    }
    bool numbers = true;
    id = arg_number(argc, argv, 1, 0, &numbers);
    baudnum = arg_number(argc, argv, 2, 0, &numbers);
    torque = arg_number(argc, argv, 3, 0, &numbers);
    /* A word such as "on" must not read as 0 and switch the torque off. The library would
     * keep the line at its opening speed for any other baud number, and the writes would
     * reach whichever servo listens there; an id no packet can carry would send nothing
     * and print twenty -1 as if a servo were there to ask. */
    if (!numbers || !in_range(id, 0, ID_BROADCAST) || !in_range(baudnum, 0, BAUDNUM_MAX)) {
        std::printf("bad arguments!\n");
        return 1;
    }
    if (torque == TORQUE_ON) {
        std::printf("setting motor %d ON\n", id);
    } else if (torque == TORQUE_OFF) {
        std::printf("setting motor %d OFF\n", id);
    } else {
        std::printf("bad arguments!\n");
        return 1;
    }

    if (!open_adapter())
        return 1;
    bus_change_baud(baudnum);
    std::printf("Setting Torque mode many times ...\n");
    for (int pass = 0; pass < SINGLE_PASSES; ++pass) {
        bus_write_byte(id, ADDR_TORQUE_ENABLE, torque);
        Sleep(SINGLE_PAUSE_MS);
        std::printf("%d ", bus_read_byte(id, ADDR_TORQUE_ENABLE));
        Sleep(SINGLE_PAUSE_MS);
    }
    bus_close();
    return 0;
}

int all_motors()
{
    if (!open_adapter())
        return 1;
    std::printf("Disabling Torque on all motors 5 times at baudrates 56kbps and 1Mbps.\n");
    for (int pass = 0; pass < TORQUE_OFF_PASSES; ++pass) {
        for (int speed : ALL_BAUDNUMS)
            broadcast_torque_off(speed);
    }
    bus_close();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (arg_help_or_version(argc, argv, "holdswitch", USAGE))
        return 0;
    std::printf("%s", USAGE);
    if (argc > 1)
        return single_motor(argc, argv);
    return all_motors();
}
