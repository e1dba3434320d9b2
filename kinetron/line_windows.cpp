// A COM port on Windows: 8N1 at an exact DCB speed, held exclusively (share mode 0),
// reads that wait for the first byte until a deadline through COMMTIMEOUTS.
#include <windows.h>

#include <string>

#include "adapter_search.h"
#include "clock.h"
#include "line.h"
#include "timing.h"

namespace kinetron {

namespace {

// An FTDI chip's latency timer where its driver's record cannot be read: its factory value.
constexpr int DEFAULT_USB_LATENCY_MS = 16;

std::string last_error_text(DWORD code)
{
    char buffer[256] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, buffer, sizeof buffer, nullptr);
    std::string text(buffer, n);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == '.'))
        text.pop_back();
    return text.empty() ? "error " + std::to_string(code) : text;
}

class WindowsLine : public Line {
public:
    WindowsLine(HANDLE handle, int latency) : handle_(handle), latency_(latency) {}
    ~WindowsLine() override { CloseHandle(handle_); }

    bool write_all(const std::uint8_t* data, std::size_t count) override
    {
        std::size_t done = 0;
        while (done < count) {
            DWORD written = 0;
            if (!WriteFile(handle_, data + done, static_cast<DWORD>(count - done), &written,
                           nullptr) ||
                written == 0)
                return false;
            done += written;
        }
        unsent_bytes_ = static_cast<int>(count);
        return true;
    }

    int read_until(std::uint8_t* buffer, std::size_t size, std::int64_t deadline_us) override
    {
        for (;;) {
            const std::int64_t left = deadline_us - monotonic_us();
            // Return at once with what is there; otherwise wait for the first byte at most
            // until the deadline (MAXDWORD interval and multiplier with a constant).
            COMMTIMEOUTS timeouts = {};
            timeouts.ReadIntervalTimeout = MAXDWORD;
            if (left > 0) {
                timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
                timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>((left + 999) / 1000);
            }
            timeouts.WriteTotalTimeoutConstant = 1000;
            if (!SetCommTimeouts(handle_, &timeouts))
                return -1;
            DWORD got = 0;
            if (!ReadFile(handle_, buffer, static_cast<DWORD>(size), &got, nullptr))
                return -1;
            if (got > 0)
                return static_cast<int>(got);
            if (monotonic_us() >= deadline_us)
                return 0;
        }
    }

    void discard_input() override { PurgeComm(handle_, PURGE_RXCLEAR); }

    void drain() override
    {
        if (unsent_bytes_ == 0)
            return;
        FlushFileBuffers(handle_);
        // The adapter's chip may still hold the last packet: its wire time at this speed.
        sleep_for_us(wire_time_us(unsent_bytes_, speed_));
        unsent_bytes_ = 0;
    }

    bool set_speed(int bits_per_second, std::string& error) override
    {
        DCB dcb = {};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(handle_, &dcb)) {
            error = last_error_text(GetLastError());
            return false;
        }
        dcb.BaudRate = static_cast<DWORD>(bits_per_second);
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fParity = FALSE;
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        dcb.fNull = FALSE;
        dcb.fAbortOnError = FALSE;
        if (!SetCommState(handle_, &dcb)) {
            error = last_error_text(GetLastError());
            return false;
        }
        speed_ = bits_per_second;
        return true;
    }

    int latency_ms() const override { return latency_; }
    bool is_usb_adapter() const override { return true; }

private:
    HANDLE handle_;
    int latency_;
    int speed_ = 0; // bus_open sets it before the first packet
    int unsent_bytes_ = 0;
};

} // namespace

Line* open_serial_line(const char* path, std::string& error)
{
    // \\.\COMn reaches every port, COM10 and above included.
    std::string device = path;
    if (device.compare(0, 4, "\\\\.\\") != 0)
        device = "\\\\.\\" + device;
    HANDLE handle = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION)
            error = "the line is busy: another program holds it";
        else if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            error = "no such port (is the adapter plugged in?)";
        else
            error = last_error_text(code);
        return nullptr;
    }
    if (GetFileType(handle) != FILE_TYPE_CHAR) {
        CloseHandle(handle);
        error = "not a serial port";
        return nullptr;
    }
    SetupComm(handle, 4096, 4096);
    PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
    // Time-outs follow the latency timer the driver keeps for this port (Device Manager,
    // the port's Advanced settings).
    const int timer = usb_latency_timer(path);
    return new WindowsLine(handle, timer >= 0 ? timer : DEFAULT_USB_LATENCY_MS);
}

} // namespace kinetron
