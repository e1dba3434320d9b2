// The line speed a client set on the slave side, read on the master side.
#include <termios.h>

#include "pty_speed.h"

long pty_line_speed(int master_fd)
{
    struct termios settings;
    if (tcgetattr(master_fd, &settings) != 0)
        return -1;
    return static_cast<long>(cfgetospeed(&settings));
}
