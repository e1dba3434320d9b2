/* jointwatch: live table of the present positions of a range of servos, one row per
 * pass, one column per id, until ESC. Space or d switches the cells between positions
 * and the number of tries each read needed. */
#include <cstdio>

#include "adapter.h"
#include "arguments.h"
#include "bus_tools.h"
#include "console.h"
#include "kinetron.h"
#include "registers.h"

enum { ROWS_PER_HEADER = 60, ROW_PAUSE_MS = 50, KEY_SPACE = 32, KEY_LOWER_D = 100 };

static const char USAGE[] = "usage: jointwatch [<idStart> <idEnd> [<baudnum> [<showDebugInfo>]]]\n";
static const char RULE_LINE[] =
    "|------------------------------------------------------------------\n";

static int id_start = 0;
static int id_end = 18;
static int baudnum = 35;
static bool show_debug_info = false;

static void print_header(void)
{
    printf("%s", RULE_LINE);
    printf("|");
    for (int id = id_start; id <= id_end; ++id)
        printf("%3d ", id);
    printf("\n");
    printf("%s", RULE_LINE);
    fflush(stdout);
}

static void print_row(void)
{
    printf("|");
    for (int id = id_start; id <= id_end; ++id) {
        int value = read_word_retry(id, ADDR_PRESENT_POSITION);
        exit_if_line_gone();
        if (show_debug_info)
            value = last_attempts;
        print_result(value);
    }
    printf("\n");
    fflush(stdout);
}

/* Acts on one waiting key, if any; returns true when the user asked to quit. */
static bool handle_key(void)
{
    if (_kbhit() <= 0)
        return false;
    int key = _getch() & 0xFF;
    if (key == KEY_ESC) {
        printf("\n");
        return true;
    }
    if (key == KEY_SPACE || key == KEY_LOWER_D) {
        printf("Changing debug display mode\n");
        show_debug_info = !show_debug_info;
    }
    return false;
}

int main(int argc, char** argv)
{
    if (arg_help_or_version(argc, argv, "jointwatch", USAGE))
        return 0;
    printf("%s", USAGE);

    bool numbers = true;
    id_start = arg_number(argc, argv, 1, 0, &numbers);
    id_end = arg_number(argc, argv, 2, 18, &numbers);
    baudnum = arg_number(argc, argv, 3, 35, &numbers);
    show_debug_info = argc > 4 && arg_is_yes(argv[4]);

    printf("current: jointwatch <idStart=%d> <idStop=%d> <baudnum=%d>\n", id_start, id_end,
           baudnum);

    if (!numbers || !in_range(id_start, 0, ID_ARGUMENT_MAX) ||
        !in_range(id_end, 0, ID_ARGUMENT_MAX) || !in_range(baudnum, 0, BAUDNUM_MAX)) {
        printf("bad args!\n");
        return 1;
    }

    if (!open_adapter()) {
        bus_close();
        return 1; /* no adapter is a failure, not a normal end */
    }
    bus_change_baud(baudnum);
    printf("Press ESC key to Quit!\n\n");
    _beginthread(watchdog_thread, 0, NULL);

    /* Only the row's place within a header block matters, so the counter wraps there
     * instead of growing without bound. */
    for (int row = 0;; row = (row + 1) % ROWS_PER_HEADER) {
        if (row == 0)
            print_header();
        print_row();
        Sleep(ROW_PAUSE_MS);
        if (handle_key())
            break;
    }

    bus_close();
    return 0;
}
