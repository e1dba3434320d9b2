// Internals of libftd2xx over libftdi1: what the listing, opening and setting files share.
#ifndef KINETRON_D2XX_BACKEND_H
#define KINETRON_D2XX_BACKEND_H

#include <libusb.h>

#include <vector>

#include "ftd2xx.h"

struct ftdi_context;

namespace d2xx {

constexpr int FTDI_VENDOR = 0x0403;

// One serial port of an FTDI chip: a chip with two or four ports counts as that many
// devices, as the D2XX interface numbers them.
struct UsbPort {
    libusb_device* device; // borrowed from the libusb device list it came from
    int port;              // 0 for port A, 1 for B, ...
    int ports;             // ports on this chip
    libusb_device_descriptor descriptor;
};

// Every FTDI port in `list`, in bus order.
std::vector<UsbPort> find_ports(libusb_device** list, ssize_t count);

// The location id reported for a port: bus in bits 16 and up, device address in bits 4..11,
// port in bits 0..3, so the ports of one chip have neighbouring ids.
DWORD location_of(const UsbPort& port);

// An open device; FT_HANDLE points at one of these.
struct Device {
    ftdi_context* ftdi;
    DWORD location;
    ULONG read_timeout;
    ULONG write_timeout;
};

// Open devices are kept in a fixed table, so a handle can be checked before it is used and a
// signal handler can close them all.
bool register_device(Device* device);
void unregister_device(Device* device);
// The device behind a handle if this process opened it and has not closed it, else null.
Device* find_device(FT_HANDLE handle);
// The open device at that location, or null.
Device* device_at(DWORD location);

// Prints the advice for a USB permission error on standard error.
void permission_hint(const UsbPort& port);

} // namespace d2xx

#endif
