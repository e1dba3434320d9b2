/* swingtest: swings one servo between two positions, A and B, while it shows the target
 * in force and the servo's present position, load and temperature on every pass. Keys
 * pause the swinging, shift both targets, cut the torque, or end the program. */
#include <cstdio>

#include "adapter.h"
#include "arguments.h"
#include "bus_tools.h"
#include "console.h"
#include "kinetron.h"
#include "registers.h"

enum {
    START_MOVING_SPEED = 40,
    SHIFT_STEP = 10,
    PASS_PAUSE_MS = 10,
    KEY_SPACE = 32,
    KEY_SHIFT_UP = 72,   /* up arrow's second code, or capital H */
    KEY_SHIFT_DOWN = 80, /* down arrow's second code, or capital P */
    KEY_EXTENDED = 224   /* first code of an arrow or another extended key */
};

static const char USAGE[] = "usage: swingtest <id> <baudnum> [<posA> [<posB>]]\n";

static int servo_id = -1;
static int baudnum = -1;
static int targets[2] = {-1, -1};
static int target_index = 0;
static bool swinging = true;

/* Releases the adapter and lets the user read the screen before the window closes. */
static int close_and_wait(int status)
{
    bus_close();
    printf("Press any key to terminate...\n");
    _getch();
    return status;
}

/* Settles position A from the servo itself; false when the servo gives no valid one. */
static bool read_start_position(int argc, char** argv)
{
    int position = read_word_retry(servo_id, ADDR_PRESENT_POSITION);
    exit_if_line_gone();
    if ((unsigned)position > (unsigned)POSITION_MAX) {
        printf("ERROR: Cant find out the initial position of the motor. You must supply it.\n");
        print_result(read_word_retry(servo_id, ADDR_PRESENT_POSITION));
        printf("\n");
        return false;
    }
    targets[0] = position;
    targets[1] = argc > 4 ? arg_int(argc, argv, 4, position) : position;
    return true;
}

static void show_pass(void)
{
    printf("desired pos: %d,  currPos: ", targets[target_index]);
    print_result(read_word_retry(servo_id, ADDR_PRESENT_POSITION));
    exit_if_line_gone();
    printf(", currTorque: ");
    print_result(read_word_retry(servo_id, ADDR_PRESENT_LOAD));
    exit_if_line_gone();
    printf(", currTemp: ");
    /* a word read at the temperature byte: the byte after it (registered) is 0 unless a
     * deferred write is pending */
    print_result(read_word_retry(servo_id, ADDR_PRESENT_TEMPERATURE));
    exit_if_line_gone();
    Sleep(PASS_PAUSE_MS);
    printf("\n");
    fflush(stdout);
}

/* Acts on one waiting key, if any; returns true when the program is to end. */
static bool handle_key(void)
{
    if (_kbhit() <= 0)
        return false;
    int key = _getch();
    switch (key) {
    case KEY_ESC:
        bus_write_byte(servo_id, ADDR_TORQUE_ENABLE, 0);
        exit_if_line_gone();
        printf("Emergency stopped motor!\n");
        swinging = false;
        return false;
    case KEY_SPACE:
        printf("Toggling movement\n");
        swinging = !swinging;
        return false;
    case KEY_SHIFT_UP:
        targets[0] += SHIFT_STEP;
        targets[1] += SHIFT_STEP;
        return false;
    case KEY_SHIFT_DOWN:
        targets[0] -= SHIFT_STEP;
        targets[1] -= SHIFT_STEP;
        return false;
    case KEY_EXTENDED:
        return false;
    default:
        printf("Quitting due to unknown key press. Remebr, motor torque may still be enabled!\n");
        return true;
    }
}

int main(int argc, char** argv)
{
    if (arg_help_or_version(argc, argv, "swingtest", USAGE))
        return 0;
    printf("%s", USAGE);

    bool numbers = true;
    servo_id = arg_number(argc, argv, 1, -1, &numbers);
    baudnum = arg_number(argc, argv, 2, -1, &numbers);
    int pos_a = arg_number(argc, argv, 3, -1, &numbers);
    int pos_b = arg_number(argc, argv, 4, pos_a, &numbers);

    printf("called: swingtest <id=%d> <baudnum=%d> <posA=%d> <posB=%d>\n", servo_id, baudnum, pos_a,
           pos_b);

    if (!numbers || !in_range(servo_id, 0, ID_ARGUMENT_MAX) || !in_range(baudnum, 0, BAUDNUM_MAX) ||
        /* A position is 0..1023, or -1 for "the servo's present position". */
        !in_range(pos_a, -1, POSITION_MAX) || !in_range(pos_b, -1, POSITION_MAX)) {
        printf("bad args!\n");
        return 1;
    }

    if (!open_adapter())
        return close_and_wait(1); /* no adapter is a failure, not a normal end */
    _beginthread(watchdog_thread, 0, NULL);
    bus_change_baud(baudnum);
    bus_write_word(servo_id, ADDR_MOVING_SPEED, START_MOVING_SPEED);
    exit_if_line_gone();

    targets[0] = pos_a;
    targets[1] = pos_b;
    if (pos_a == -1 && !read_start_position(argc, argv))
        return close_and_wait(1); /* nothing was swung: report the failure */

    printf("Press ESC for emergency stop, or Spacebar to toggle movement. "
           "A & Z also move motor manually\n\n");

    target_index = 0;
    swinging = true;
    for (;;) {
        int moving = bus_read_byte(servo_id, ADDR_MOVING);
        exit_if_line_gone();
        if (swinging && bus_result() == RESULT_SUCCESS && moving == 0) {
            target_index = 1 - target_index;
            bus_write_word(servo_id, ADDR_GOAL_POSITION, targets[target_index]);
            exit_if_line_gone();
        }
        show_pass();
        if (handle_key())
            break;
    }
    return close_and_wait(0);
}
