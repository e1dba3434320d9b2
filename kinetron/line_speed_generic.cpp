// Other POSIX systems: speeds are plain numbers there (the BSDs), so cfsetspeed takes them.
#include <termios.h>

#include <cerrno>
#include <cstring>

#include "line_speed.h"

namespace kinetron {

bool set_exact_speed(int fd, int bits_per_second, std::string& error)
{
    struct termios tio;
    if (tcgetattr(fd, &tio) != 0 || cfsetspeed(&tio, static_cast<speed_t>(bits_per_second)) != 0 ||
        tcsetattr(fd, TCSANOW, &tio) != 0) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

void request_low_latency(int) {}

} // namespace kinetron
