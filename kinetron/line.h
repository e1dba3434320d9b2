// A byte line to the servos: a serial port or the simulated chain. The portable core
// (packets, exchanges, result codes) talks to the servos only through this interface.
#ifndef KINETRON_LINE_H
#define KINETRON_LINE_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace kinetron {

// Microseconds from a monotonic clock.
std::int64_t monotonic_us();

class Line {
public:
    virtual ~Line() = default;
    // Writes every byte; false on a failed or short write.
    virtual bool write_all(const std::uint8_t* data, std::size_t count) = 0;
    // Waits until bytes arrive or the monotonic deadline passes, then reads up to `size`.
    // Returns the count read (> 0), 0 at the deadline, -1 when the line is dead
    // (end of file, hang-up, I/O error).
    virtual int read_until(std::uint8_t* buffer, std::size_t size, std::int64_t deadline_us) = 0;
    // Drops input that has arrived but was not read.
    virtual void discard_input() = 0;
    // Returns once the bytes written so far have left the line.
    virtual void drain() = 0;
    // Sets the line speed exactly; false and the reason when the port refuses it. A line
    // never prints: the library's operations say what failed, in one line.
    virtual bool set_speed(int bits_per_second, std::string& error) = 0;
    // Adapter latency in milliseconds: 0 for a line that is no USB adapter.
    virtual int latency_ms() const = 0;
    // True for a USB serial adapter (it adds its own frame time to every exchange).
    virtual bool is_usb_adapter() const = 0;
};

// The simulated chain inside this process; options as after "sim:". Null and a reason
// on a bad option.
Line* open_sim_line(const char* options, std::string& error);
// A serial port by path (COMn on Windows). Null and a one-line reason on failure.
Line* open_serial_line(const char* path, std::string& error);

} // namespace kinetron

#endif
