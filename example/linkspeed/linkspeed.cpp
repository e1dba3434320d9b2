/* linkspeed: talks to a servo at the baud number it listens at now and writes a new baud
 * number into its baud register; then closes the adapter, waits and does it all again
 * until the adapter no longer opens or the process is ended. */
#include <cstdio>

#include "adapter.h"
#include "arguments.h"
#include "console.h"
#include "kinetron.h"
#include "registers.h"

namespace {

const char USAGE[] = "usage: linkspeed <id> <old_baudnum> <new_baudnum>\n";
const int ARG_ABSENT = -1;
const int BAUDNUM_LOWEST = 1;
const int REOPEN_PAUSE_MS = 100;

int id;
int old_baudnum;
int new_baudnum;

void change_once()
{
    bus_change_baud(old_baudnum);
    int old_value = bus_read_byte(id, ADDR_BAUD);
    std::printf("Old Baud Rate: %d\n", old_value);
    /* The register lives in non-volatile memory, which wears with every write: leave it
     * alone when it already holds the new number. */
    if (old_value != new_baudnum)
        bus_write_byte(id, ADDR_BAUD, new_baudnum);
    /* Still at the old speed: a servo that took the change no longer answers here. */
    std::printf("New Baud Rate: %d\n", bus_read_byte(id, ADDR_BAUD));
    /* The loop only ends from outside: keep every finished cycle visible, also when
     * standard output is a pipe or a file. */
    std::fflush(stdout);
    bus_close();
}

} // namespace

int main(int argc, char** argv)
{
    if (arg_help_or_version(argc, argv, "linkspeed", USAGE))
        return 0;
    std::printf("%s", USAGE);
    bool numbers = true;
    id = arg_number(argc, argv, 1, ARG_ABSENT, &numbers);
    old_baudnum = arg_number(argc, argv, 2, ARG_ABSENT, &numbers);
    new_baudnum = arg_number(argc, argv, 3, ARG_ABSENT, &numbers);
    std::printf("current: linkspeed <id=%d> <old=%d> <new=%d>\n", id, old_baudnum, new_baudnum);

    if (!numbers || !in_range(id, 0, ID_ARGUMENT_MAX) ||
        !in_range(old_baudnum, BAUDNUM_LOWEST, BAUDNUM_MAX) ||
        !in_range(new_baudnum, BAUDNUM_LOWEST, BAUDNUM_MAX)) {
        std::printf("bad args!\n");
        return 1;
    }

    /* Ends only when the adapter no longer opens (or from outside). */
    for (;;) {
        if (!open_adapter())
            return 1;
        change_once();
        Sleep(REOPEN_PAUSE_MS);
        std::printf("Trying again ...\n");
        std::fflush(stdout);
    }
}
