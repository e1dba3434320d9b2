#include "register_tool.h"

#include <cstdio>

#include "adapter.h"
#include "arguments.h"
#include "bus_tools.h"
#include "console.h"
#include "kinetron.h"
#include "registers.h"

namespace {

const int ARG_ABSENT = -1;
const int READ_ONLY = -1;
const int ADDRESS_MAX = 60;
const int PAUSE_MS = 10;

const RegisterToolTable* tool;
int id;
int baudnum;
int offsetAddr;
int value;

/* One reading: the register value, or the text of the failing result code. */
void show_reading() { print_result(tool->read_retry(id, offsetAddr)); }

bool arguments_in_range()
{
    return in_range(id, 0, ID_ARGUMENT_MAX) && in_range(baudnum, 0, BAUDNUM_MAX) &&
           in_range(offsetAddr, 0, ADDRESS_MAX) &&
           in_range(value, tool->value_min, tool->value_max);
}

} // namespace

int run_register_tool(const RegisterToolTable& table, int argc, char** argv)
{
    tool = &table;
    if (arg_help_or_version(argc, argv, table.name, table.usage_line))
        return 0;
    std::printf("%s", table.usage_line);

    bool numbers = true;
    id = arg_number(argc, argv, 1, ARG_ABSENT, &numbers);
    baudnum = arg_number(argc, argv, 2, ARG_ABSENT, &numbers);
    offsetAddr = arg_number(argc, argv, 3, ARG_ABSENT, &numbers);
    value = arg_number(argc, argv, 4, READ_ONLY, &numbers);
    std::printf(table.echo_format, id, baudnum, offsetAddr, value);

    if (!numbers || !arguments_in_range()) {
        std::printf("bad args!\n");
        return 1;
    }

    if (!open_adapter())
        return 1;
    _beginthread(watchdog_thread, 0, NULL);
    bus_change_baud(baudnum);

    std::printf(table.heading_format, offsetAddr, id, baudnum);
    show_reading();
    std::printf("\n");
    std::fflush(stdout);

    std::printf("Now: ");
    for (int pass = 0; pass < table.passes; ++pass) {
        if (value != READ_ONLY) {
            /* Written twice: a single write can be lost on a noisy bus. */
            table.write(id, offsetAddr, value);
            Sleep(PAUSE_MS);
            table.write(id, offsetAddr, value);
            Sleep(PAUSE_MS);
        }
        show_reading();
        Sleep(PAUSE_MS);
    }
    std::printf("\n");
    bus_close();
    return 0;
}
