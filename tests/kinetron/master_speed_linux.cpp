// The line speed a pseudo-terminal's slave side was set to, read on the master side.
// Kernel headers only: <asm/termbits.h> clashes with <termios.h>.
#include <asm/ioctls.h>
#include <asm/termbits.h>

#include "pty_peer.h"

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

int master_speed(int master_fd)
{
    struct termios2 tio;
    if (ioctl(master_fd, TCGETS2, &tio) != 0)
        return -1;
    return static_cast<int>(tio.c_ospeed);
}
