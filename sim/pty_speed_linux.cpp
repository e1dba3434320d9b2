// The line speed a client set on the slave side, read on the master side. termios2 gives
// the exact speed of any baud number. <asm/termbits.h> clashes with <termios.h>, hence a
// file of its own.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "pty_speed.h"

long pty_line_speed(int master_fd)
{
    struct termios2 settings;
    if (ioctl(master_fd, TCGETS2, &settings) != 0)
        return -1;
    return static_cast<long>(settings.c_ospeed);
}
