/* A program of your own on the servo bus library: reads the present position of one servo.
 *
 *   read_position [<id> [<baudnum>]]      defaults: id 1, baud number 35
 *
 * The line is the one KINETRON_DEVICE names; KINETRON_DEVICE=sim tries it on the simulated
 * chain. Prints "servo <id>: present position <n>" and exits 0, or names the failure and
 * exits 1. */
#include <stdio.h>
#include <stdlib.h>

#include <kinetron/kinetron.h>
#include <kinetron/registers.h>

int main(int argc, char** argv)
{
    int id = argc > 1 ? atoi(argv[1]) : 1;
    int baudnum = argc > 2 ? atoi(argv[2]) : 35;
    int position;
    int result;

    if (!bus_open()) {
        /* bus_open has said why on standard error. */
        return 1;
    }
    bus_change_baud(baudnum);
    position = bus_read_word(id, ADDR_PRESENT_POSITION);
    result = bus_result();
    bus_close();

    if (result != RESULT_SUCCESS) {
        printf("servo %d: no answer at baud number %d (%d bps), result code %d\n", id, baudnum,
               baudnum_to_bps(baudnum), result);
        return 1;
    }
    printf("servo %d: present position %d\n", id, position);
    return 0;
}
