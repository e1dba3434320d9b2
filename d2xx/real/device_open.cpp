// FT_Open and FT_Close, and the table of open devices. While a port is open the kernel's
// serial driver is detached from it; closing gives it back, and so does a process that ends
// through exit, SIGINT or SIGTERM with devices still open.
#include <ftdi.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "backend.h"

namespace {

using namespace d2xx;

constexpr int MAX_OPEN = 32;
std::atomic<Device*> open_table[MAX_OPEN];
std::mutex table_mutex;

struct sigaction previous_int, previous_term;
bool handlers_installed = false;

// Gives every open port back to the kernel's serial driver. Called at exit and from the
// signal handler, where the process is about to end anyway. The devices stay in the table
// (closing twice is harmless), so nothing they own becomes unreachable.
void release_all()
{
    for (auto& slot : open_table) {
        Device* device = slot.load();
        if (device)
            ftdi_usb_close(device->ftdi);
    }
}

void on_signal(int signal_number)
{
    release_all();
    sigaction(SIGINT, &previous_int, nullptr);
    sigaction(SIGTERM, &previous_term, nullptr);
    raise(signal_number);
}

// Installed with the first open; a signal the process ignores stays ignored.
void install_handlers()
{
    if (handlers_installed)
        return;
    handlers_installed = true;
    std::atexit(release_all);
    struct sigaction action = {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, nullptr, &previous_int);
    sigaction(SIGTERM, nullptr, &previous_term);
    if (previous_int.sa_handler != SIG_IGN)
        sigaction(SIGINT, &action, nullptr);
    if (previous_term.sa_handler != SIG_IGN)
        sigaction(SIGTERM, &action, nullptr);
}

FT_STATUS open_port(int index, FT_HANDLE* pHandle)
{
    ftdi_context* ftdi = ftdi_new();
    if (ftdi == nullptr) // no USB to be had at all
        return FT_DEVICE_NOT_FOUND;

    libusb_device** list = nullptr;
    ssize_t count = libusb_get_device_list(ftdi->usb_ctx, &list);
    std::vector<UsbPort> ports;
    if (count > 0)
        ports = find_ports(list, count);
    if (index < 0 || (size_t)index >= ports.size()) {
        if (count >= 0)
            libusb_free_device_list(list, 1);
        ftdi_free(ftdi);
        return FT_DEVICE_NOT_FOUND;
    }
    const UsbPort& port = ports[index];
    FT_STATUS status = FT_OK;

    // A trial open tells a permission problem apart from the rest.
    libusb_device_handle* trial = nullptr;
    int result = libusb_open(port.device, &trial);
    if (result == LIBUSB_ERROR_ACCESS) {
        permission_hint(port);
        status = FT_DEVICE_NOT_OPENED;
    } else if (result != 0) {
        std::fprintf(stderr, "libftd2xx: cannot open USB device: %s\n", libusb_strerror(result));
        status = FT_DEVICE_NOT_OPENED;
    } else {
        libusb_close(trial);
    }

    Device* device = nullptr;
    if (status == FT_OK) {
        ftdi_set_interface(ftdi, (ftdi_interface)(INTERFACE_A + port.port));
        ftdi->module_detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
        if (ftdi_usb_open_dev(ftdi, port.device) < 0) {
            std::fprintf(stderr, "libftd2xx: cannot open USB device: %s\n",
                         ftdi_get_error_string(ftdi));
            status = FT_DEVICE_NOT_OPENED;
        } else {
            device = new Device{ftdi, location_of(port), 0, 0};
            if (!register_device(device)) {
                ftdi_usb_close(ftdi);
                delete device;
                device = nullptr;
                status = FT_INSUFFICIENT_RESOURCES;
            }
        }
    }
    libusb_free_device_list(list, 1);
    if (status != FT_OK) {
        ftdi_free(ftdi);
        return status;
    }
    *pHandle = device;
    return FT_OK;
}

} // namespace

namespace d2xx {

bool register_device(Device* device)
{
    std::lock_guard<std::mutex> lock(table_mutex);
    install_handlers();
    for (auto& slot : open_table) {
        if (slot.load() == nullptr) {
            slot.store(device);
            return true;
        }
    }
    return false;
}

void unregister_device(Device* device)
{
    std::lock_guard<std::mutex> lock(table_mutex);
    for (auto& slot : open_table)
        if (slot.load() == device)
            slot.store(nullptr);
}

Device* find_device(FT_HANDLE handle)
{
    if (handle == nullptr)
        return nullptr;
    std::lock_guard<std::mutex> lock(table_mutex);
    for (auto& slot : open_table)
        if (slot.load() == handle)
            return static_cast<Device*>(handle);
    return nullptr;
}

Device* device_at(DWORD location)
{
    std::lock_guard<std::mutex> lock(table_mutex);
    for (auto& slot : open_table) {
        Device* device = slot.load();
        if (device && device->location == location)
            return device;
    }
    return nullptr;
}

} // namespace d2xx

extern "C" {

FT_STATUS FT_API FT_Open(int deviceNumber, FT_HANDLE* pHandle)
{
    if (pHandle == nullptr)
        return FT_INVALID_PARAMETER;
    return open_port(deviceNumber, pHandle);
}

FT_STATUS FT_API FT_Close(FT_HANDLE ftHandle)
{
    Device* device = find_device(ftHandle);
    if (device == nullptr)
        return FT_INVALID_HANDLE;
    unregister_device(device);
    // Releasing the port reattaches the kernel's serial driver.
    int result = ftdi_usb_close(device->ftdi);
    ftdi_free(device->ftdi);
    delete device;
    return result < 0 ? FT_IO_ERROR : FT_OK;
}

} // extern "C"
