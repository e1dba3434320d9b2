// A serial port on Linux, macOS and the BSDs: raw 8N1, held exclusively, exact speeds,
// waits with poll against a deadline.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "clock.h"
#include "line.h"
#include "line_speed.h"
#include "timing.h"

namespace kinetron {

namespace {

// An FTDI chip's latency timer when we cannot read it: its factory value.
constexpr int DEFAULT_USB_LATENCY_MS = 16;
// A reader on the far side of a pseudo-terminal (the servo simulator) must have taken the
// bytes before their speed changes; the kernel cannot tell us when it has, so allow it this
// when it has not answered them.
constexpr std::int64_t PTY_READER_ALLOWANCE_US = 10000;

std::string resolved_path(const char* path)
{
    char buffer[PATH_MAX];
    if (realpath(path, buffer) != nullptr)
        return buffer;
    return path;
}

std::string base_name(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool starts_with(const std::string& text, const char* prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

#if defined(__linux__)
// Linux: the tty's device in sysfs sits below a USB interface for a USB adapter.
bool linux_usb_tty(const std::string& name)
{
    const std::string device = resolved_path(("/sys/class/tty/" + name + "/device").c_str());
    return device.find("/usb") != std::string::npos;
}

// Lowers the adapter's latency timer to 1 ms where the file is writable, then reports the
// value in force; -1 when there is no such file to read.
int linux_latency_timer(const std::string& name)
{
    const std::string file = "/sys/class/tty/" + name + "/device/latency_timer";
    if (FILE* out = std::fopen(file.c_str(), "w")) {
        std::fputs("1", out);
        std::fclose(out);
    }
    int value = -1;
    if (FILE* in = std::fopen(file.c_str(), "r")) {
        if (std::fscanf(in, "%d", &value) != 1)
            value = -1;
        std::fclose(in);
    }
    return value;
}
#endif

std::string open_failure(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return "permission denied (add your user to the dialout group: "
               "sudo usermod -a -G dialout $USER, then log in again)";
    case EBUSY:
    case EWOULDBLOCK:
        return "the line is busy: another program holds it";
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return "no such device (is the adapter plugged in?)";
    default:
        return std::strerror(error);
    }
}

class PosixLine : public Line {
public:
    PosixLine(int fd, std::string path, bool usb, bool pty, int latency)
        : fd_(fd), path_(std::move(path)), usb_(usb), pty_(pty), latency_(latency)
    {}
    ~PosixLine() override { ::close(fd_); }

    bool write_all(const std::uint8_t* data, std::size_t count) override
    {
        std::size_t done = 0;
        const std::int64_t give_up = monotonic_us() + 1000000;
        while (done < count) {
            const ssize_t n = ::write(fd_, data + done, count - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                const std::int64_t left = give_up - monotonic_us();
                if (left <= 0)
                    return false;
                struct pollfd p = {fd_, POLLOUT, 0};
                if (::poll(&p, 1, static_cast<int>((left + 999) / 1000)) < 0 && errno != EINTR)
                    return false;
                continue;
            }
            return false;
        }
        unsent_bytes_ = static_cast<int>(count);
        return true;
    }

    int read_until(std::uint8_t* buffer, std::size_t size, std::int64_t deadline_us) override
    {
        for (;;) {
            const std::int64_t left = deadline_us - monotonic_us();
            struct pollfd p = {fd_, POLLIN, 0};
#if defined(__linux__)
            // ppoll waits to the microsecond: at 1 Mbps a whole try lasts under 2 ms.
            struct timespec wait = {0, 0};
            if (left > 0) {
                wait.tv_sec = static_cast<time_t>(left / 1000000);
                wait.tv_nsec = static_cast<long>(left % 1000000) * 1000;
            }
            const int ready = ::ppoll(&p, 1, &wait, nullptr);
#else
            const int ready = ::poll(&p, 1, left <= 0 ? 0 : static_cast<int>((left + 999) / 1000));
#endif
            if (ready < 0) {
                if (errno == EINTR)
                    continue;
                return -1;
            }
            if (ready == 0) {
                if (left <= 0)
                    return 0;
                continue; // look at the clock again
            }
            if (p.revents & POLLIN) {
                const ssize_t n = ::read(fd_, buffer, size);
                if (n > 0) {
                    // Whoever answers on a pseudo-terminal has read what we wrote.
                    if (pty_)
                        unsent_bytes_ = 0;
                    return static_cast<int>(n);
                }
                if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
                    continue;
                return -1; // end of file or an I/O error: the device is gone
            }
            return -1; // hang-up or error without data
        }
    }

    void discard_input() override
    {
        ::tcflush(fd_, TCIFLUSH);
        std::uint8_t scratch[256];
        while (::read(fd_, scratch, sizeof scratch) > 0) {
        }
    }

    void drain() override
    {
        if (unsent_bytes_ == 0)
            return;
        ::tcdrain(fd_);
        // tcdrain only waits for the driver; a USB adapter's chip may still hold the last
        // packet, which needs its wire time at the present speed.
        if (usb_)
            sleep_for_us(wire_time_us(unsent_bytes_, speed_));
        else if (pty_)
            sleep_for_us(wire_time_us(unsent_bytes_, speed_) + PTY_READER_ALLOWANCE_US);
        unsent_bytes_ = 0;
    }

    bool set_speed(int bits_per_second, std::string& error) override
    {
        if (!set_exact_speed(fd_, bits_per_second, error))
            return false;
        speed_ = bits_per_second;
        return true;
    }

    int latency_ms() const override { return latency_; }
    bool is_usb_adapter() const override { return usb_; }

private:
    int fd_;
    std::string path_;
    bool usb_;
    bool pty_;
    int latency_;
    int speed_ = 0;        // bus_open sets it before the first packet
    int unsent_bytes_ = 0; // size of the last packet written since the last drain
};

} // namespace

Line* open_serial_line(const char* path, std::string& error)
{
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = open_failure(errno);
        return nullptr;
    }
    if (!::isatty(fd)) {
        ::close(fd);
        error = "not a serial line";
        return nullptr;
    }
    // Exclusive: a second program on the same adapter would mix its packets with ours.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = open_failure(errno);
        ::close(fd);
        return nullptr;
    }
    ::ioctl(fd, TIOCEXCL);

    struct termios tio;
    if (::tcgetattr(fd, &tio) != 0) {
        error = std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        error = std::strerror(errno);
        ::close(fd);
        return nullptr;
    }

    const std::string real = resolved_path(path);
    const std::string name = base_name(real);
    bool usb = false;
    int latency = 0;
#if defined(__linux__)
    usb = linux_usb_tty(name);
    if (usb) {
        request_low_latency(fd);
        const int timer = linux_latency_timer(name);
        latency = timer >= 0 ? timer : DEFAULT_USB_LATENCY_MS;
    }
#else
    usb = name.find("usbserial") != std::string::npos || name.find("usbmodem") != std::string::npos;
    if (usb) {
        request_low_latency(fd);
        latency = DEFAULT_USB_LATENCY_MS;
    }
#endif
    const bool pty = !usb && (starts_with(real, "/dev/pts/") || starts_with(real, "/dev/ttys") ||
                              starts_with(real, "/dev/pty"));
    ::tcflush(fd, TCIOFLUSH);
    return new PosixLine(fd, path, usb, pty, latency);
}

} // namespace kinetron
