// macOS: any speed through IOSSIOSPEED, after the termios settings are in place (a later
// tcsetattr would put back a standard speed).
#include <IOKit/serial/ioss.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <cstring>

#include "line_speed.h"

namespace kinetron {

bool set_exact_speed(int fd, int bits_per_second, std::string& error)
{
    speed_t speed = static_cast<speed_t>(bits_per_second);
    if (ioctl(fd, IOSSIOSPEED, &speed) != 0) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

void request_low_latency(int fd)
{
    // Hand received bytes to readers after 1 ms of quiet at most.
    unsigned long microseconds = 1000;
    ioctl(fd, IOSSDATALAT, &microseconds);
}

} // namespace kinetron
