// Reads with retry under the watchdog, on the line that KINETRON_DEVICE names.
//   bus_watchdog_probe stall ID    one read of servo ID (a read that never returns)
//   bus_watchdog_probe pauses ID   reads of servo ID with pauses of 2.5 s and 1.2 s
//                                  between them
#include <cstdio>
#include <cstring>

#include "arguments.h"
#include "bus_tools.h"
#include "console.h"
#include "kinetron.h"
#include "registers.h"

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    int id = arg_to_int(argv[2]);
    if (!bus_open()) {
        std::printf("Failed to open USB2Kinetron!\n");
        return 2;
    }
    bus_change_baud(35);
    _beginthread(watchdog_thread, 0, NULL);
    Sleep(50); // the watchdog is polling before the first read

    if (std::strcmp(argv[1], "stall") == 0) {
        std::printf("reading\n");
        std::fflush(stdout);
        print_result(read_word_retry(id, ADDR_PRESENT_POSITION));
        std::printf("returned\n");
        return 0;
    }
    const unsigned long pauses[] = {2500, 1200, 0};
    for (unsigned long pause : pauses) {
        print_result(read_word_retry(id, ADDR_PRESENT_POSITION));
        std::printf("\n");
        std::fflush(stdout);
        Sleep(pause);
    }
    std::printf("done\n");
    bus_close();
    return 0;
}
