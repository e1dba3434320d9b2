// Linux: any speed through termios2 with BOTHER. <asm/termbits.h> defines its own struct
// termios, which clashes with <termios.h>, so this file includes only the kernel's headers.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <linux/serial.h>

#include <cerrno>
#include <cstring>

#include "line_speed.h"

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

namespace kinetron {

bool set_exact_speed(int fd, int bits_per_second, std::string& error)
{
    struct termios2 tio;
    if (ioctl(fd, TCGETS2, &tio) != 0) {
        error = std::strerror(errno);
        return false;
    }
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = static_cast<speed_t>(bits_per_second);
    tio.c_ospeed = static_cast<speed_t>(bits_per_second);
    if (ioctl(fd, TCSETS2, &tio) != 0) {
        error = std::strerror(errno);
        return false;
    }
    struct termios2 check;
    if (ioctl(fd, TCGETS2, &check) == 0 &&
        (check.c_ospeed != static_cast<speed_t>(bits_per_second) ||
         check.c_ispeed != static_cast<speed_t>(bits_per_second))) {
        error = "the driver does not take this speed exactly";
        return false;
    }
    return true;
}

void request_low_latency(int fd)
{
    struct serial_struct serial;
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0)
        return;
    serial.flags |= ASYNC_LOW_LATENCY;
    ioctl(fd, TIOCSSERIAL, &serial);
}

} // namespace kinetron
