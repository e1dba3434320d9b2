/* factoryclear: after a confirming key, sends the RESET instruction to one servo (or to
 * all through id 254) at one baud number, or at every baud number from 0 to 254 when
 * none is given. */
#include <cstdio>

#include "adapter.h"
#include "arguments.h"
#include "console.h"
#include "kinetron.h"
#include "registers.h"

namespace {

const char USAGE[] =
    "usage: factoryclear <id> [<baudnum>]     (where no baudnum means try all baud rates)\n";
const int ARG_ABSENT = -1;
const int SWEEP = -1;
const int SWEEP_LAST = 254;
const int PACKETS_PER_BAUDNUM = 20;
const int BAUD_SETTLE_MS = 10;
const int RESET_LENGTH = 2; /* no parameters */

int id;
int baudnum;
/* Set by the first RESET that got a status reply. */
bool answered = false;

/* Twenty RESET packets at one baud number, one dot each. False as soon as the adapter
 * fails: a packet that could not be sent, or a line that could not be read. */
bool reset_burst(int speed)
{
    for (int packet = 0; packet < PACKETS_PER_BAUDNUM; ++packet) {
        bus_change_baud(speed);
        Sleep(BAUD_SETTLE_MS);
        bus_packet_set_id(id);
        bus_packet_set_instruction(RESET);
        bus_packet_set_length(RESET_LENGTH);
        bus_packet_transfer();
        int result = bus_result();
        if (result == RESULT_TX_FAIL || result == RESULT_RX_FAIL)
            return false;
        if (result == RESULT_SUCCESS)
            answered = true;
        std::printf(".");
        std::fflush(stdout); /* progress shows while the sweep runs */
    }
    return true;
}

/* A dead adapter must not pass for a finished reset. */
int adapter_failed()
{
    std::printf("\n");
    std::fflush(stdout);
    std::fprintf(stderr,
                 "factoryclear: the adapter stopped answering; the reset is not complete\n");
    bus_close();
    return 1;
}

bool confirmed()
{
    std::fflush(stdout); /* the question must be on screen before the wait for a key */
    int key = _getch();
    return key == 'y' || key == 'Y';
}

} // namespace

int main(int argc, char** argv)
{
    if (arg_help_or_version(argc, argv, "factoryclear", USAGE))
        return 0;
    std::printf("%s", USAGE);
    bool numbers = true;
    id = arg_number(argc, argv, 1, ARG_ABSENT, &numbers);
    baudnum = arg_number(argc, argv, 2, SWEEP, &numbers);
    if (!numbers || !in_range(id, 0, ID_BROADCAST) || !in_range(baudnum, SWEEP, BAUDNUM_MAX)) {
        std::printf("bad args!\n");
        return 1;
    }

    std::printf("Reseting motor %d to factory defaults and then Orvella settings. This can't be "
                "undone. Are you sure you want to continue?  Hit Y to continue: \n",
                id);
    if (!confirmed()) {
        std::printf("Nothing was done to the motor. Have a nice day.\n");
        return 0;
    }

    if (!open_adapter())
        return 1;
    if (baudnum == SWEEP) {
        for (int speed = 0; speed <= SWEEP_LAST; ++speed) {
            std::printf("Trying at baudrate %d (%dbps): ", speed, baudnum_to_bps(speed));
            if (!reset_burst(speed))
                return adapter_failed();
            std::printf("\n");
        }
    } else {
        if (!reset_burst(baudnum))
            return adapter_failed();
        std::printf("\n");
    }
    std::printf("Finished reseting motor %d to factory defaults.\n", id);
    bus_close();
    /* The broadcast id gets no reply by design; any other id should have answered. */
    if (id != ID_BROADCAST && !answered) {
        std::fflush(stdout);
        std::fprintf(stderr,
                     "factoryclear: no servo %d answered a reset (a servo set not to answer "
                     "writes takes the reset without a reply)\n",
                     id);
        return 1;
    }
    return 0;
}
