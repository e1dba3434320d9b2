// A USB serial adapter as the Linux kernel shows it, without the adapter: inside a private
// mount namespace, a prepared tree is bound over /sys (the USB device with its vendor and
// product ids, its interface, the usb-serial port with its driver link and latency timer,
// /sys/class/tty/ttyUSBn) and a tmpfs over /dev holds the usual nodes and /dev/ttyUSBn, a
// bind mount of a pseudo-terminal whose other side plays the servo chain. The library finds
// and opens it exactly as it would a plugged-in adapter. Needs root.
#ifndef HARDWARE_USB_MACHINE_H
#define HARDWARE_USB_MACHINE_H

#include <gtest/gtest.h>

#include <string>

namespace hw {

struct Maker {
    const char* vendor;  // idVendor, four hex digits
    const char* product; // idProduct
    const char* driver;  // usb-serial driver name
};
extern const Maker FTDI;     // 0403:6001, ftdi_sio: the servo bus adapter
extern const Maker PROLIFIC; // 067b:2303, pl2303: another maker's USB serial port

// Why the fixture cannot run in this process (not root, no private mount namespace), or
// empty when it can. The first call moves the process into its own mount namespace.
const std::string& unavailable_reason();

class UsbMachine {
public:
    UsbMachine();  // the prepared /sys and the tmpfs /dev, no adapter plugged in yet
    ~UsbMachine(); // the host's /sys and /dev again
    UsbMachine(const UsbMachine&) = delete;
    UsbMachine& operator=(const UsbMachine&) = delete;

    bool ok() const { return ok_; }
    // /dev/ttyUSB<number> appears, its line the pseudo-terminal `pty_path`. An FTDI port has
    // a latency timer at 16 ms, read-only when `latency_writable` is false.
    bool plug(int number, const std::string& pty_path, const Maker& maker = FTDI,
              bool latency_writable = true);
    // The adapter is pulled out: its line hangs up and its nodes go away.
    void pull_out(int number);
    // The port's latency_timer file as it reads now.
    std::string latency_timer(int number) const;

private:
    std::string sys_root_;
    bool dev_mounted_ = false;
    bool sys_mounted_ = false;
    bool ok_ = false;
};

// Test fixture: skips with the reason where the machine cannot be made; `usb` is ready.
class UsbAdapterTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    UsbMachine* usb = nullptr;
};

} // namespace hw

#endif
