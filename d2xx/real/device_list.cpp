// FT_CreateDeviceInfoList and FT_GetDeviceInfoList: every port of every chip with FTDI's
// vendor id, with its chip type, location, serial number and description.
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "backend.h"

namespace d2xx {

std::vector<UsbPort> find_ports(libusb_device** list, ssize_t count)
{
    std::vector<UsbPort> ports;
    for (ssize_t i = 0; i < count; i++) {
        libusb_device_descriptor descriptor;
        if (libusb_get_device_descriptor(list[i], &descriptor) != 0 ||
            descriptor.idVendor != FTDI_VENDOR)
            continue;
        int interfaces = 1;
        libusb_config_descriptor* config = nullptr;
        if (libusb_get_config_descriptor(list[i], 0, &config) == 0) {
            interfaces = config->bNumInterfaces;
            libusb_free_config_descriptor(config);
        }
        // Four ports at most (the chips with the most have four).
        if (interfaces < 1)
            interfaces = 1;
        if (interfaces > 4)
            interfaces = 4;
        for (int port = 0; port < interfaces; port++)
            ports.push_back(UsbPort{list[i], port, interfaces, descriptor});
    }
    return ports;
}

DWORD location_of(const UsbPort& port)
{
    return ((DWORD)libusb_get_bus_number(port.device) << 16) |
           ((DWORD)libusb_get_device_address(port.device) << 4) | (DWORD)port.port;
}

void permission_hint(const UsbPort& port)
{
    std::fprintf(stderr,
                 "libftd2xx: no permission to open USB device %03u/%03u (vendor 0403, product "
                 "%04x): install the kit's udev rule 99-kinetron.rules and join the group "
                 "dialout, or run as root\n",
                 (unsigned)libusb_get_bus_number(port.device),
                 (unsigned)libusb_get_device_address(port.device),
                 (unsigned)port.descriptor.idProduct);
}

} // namespace d2xx

namespace {

using namespace d2xx;

// The list as the last FT_CreateDeviceInfoList found it; FT_GetDeviceInfoList hands it out.
std::mutex list_mutex;
std::vector<FT_DEVICE_LIST_INFO_NODE> snapshot;

ULONG chip_type(const libusb_device_descriptor& descriptor)
{
    switch (descriptor.bcdDevice) {
    case 0x0200:
        return FT_DEVICE_AM;
    case 0x0400:
        return FT_DEVICE_BM;
    case 0x0500:
        return FT_DEVICE_2232C;
    case 0x0600:
        return FT_DEVICE_232R;
    case 0x0700:
        return FT_DEVICE_2232H;
    case 0x0800:
        return FT_DEVICE_4232H;
    case 0x0900:
        return FT_DEVICE_232H;
    case 0x1000:
        return FT_DEVICE_X_SERIES;
    default:
        return FT_DEVICE_UNKNOWN;
    }
}

void copy_text(char* field, size_t size, const std::string& text)
{
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), text.size() < size - 1 ? text.size() : size - 1);
}

std::string string_descriptor(libusb_device_handle* handle, uint8_t index)
{
    unsigned char text[128];
    if (handle == nullptr || index == 0)
        return std::string();
    int length = libusb_get_string_descriptor_ascii(handle, index, text, sizeof text);
    return length > 0 ? std::string((const char*)text, (size_t)length) : std::string();
}

FT_DEVICE_LIST_INFO_NODE describe(const UsbPort& port, libusb_device_handle* handle)
{
    FT_DEVICE_LIST_INFO_NODE node;
    std::memset(&node, 0, sizeof node);
    node.Type = chip_type(port.descriptor);
    node.ID = ((ULONG)port.descriptor.idVendor << 16) | port.descriptor.idProduct;
    node.LocId = location_of(port);
    if (libusb_get_device_speed(port.device) >= LIBUSB_SPEED_HIGH)
        node.Flags |= FT_FLAGS_HISPEED;
    if (Device* open = device_at(node.LocId)) {
        node.Flags |= FT_FLAGS_OPENED;
        node.ftHandle = open;
    }
    std::string serial = string_descriptor(handle, port.descriptor.iSerialNumber);
    std::string description = string_descriptor(handle, port.descriptor.iProduct);
    if (port.ports > 1) {
        // The ports of one chip are told apart by a letter, as on their labels.
        char letter = (char)('A' + port.port);
        if (!serial.empty())
            serial += letter;
        description += std::string(" ") + letter;
    }
    copy_text(node.SerialNumber, sizeof node.SerialNumber, serial);
    copy_text(node.Description, sizeof node.Description, description);
    return node;
}

// Fills `nodes` with every FTDI port. With no USB bus to look at the list is just empty.
void list_devices(std::vector<FT_DEVICE_LIST_INFO_NODE>& nodes)
{
    libusb_context* usb = nullptr;
    if (libusb_init(&usb) != 0)
        return;
    libusb_device** list = nullptr;
    ssize_t count = libusb_get_device_list(usb, &list);
    if (count > 0) {
        libusb_device* opened = nullptr;
        libusb_device_handle* handle = nullptr;
        for (const UsbPort& port : find_ports(list, count)) {
            if (port.device != opened) {
                // The strings need the device opened; without permission the port is still
                // listed, with empty strings, and the user is told why.
                if (handle)
                    libusb_close(handle);
                handle = nullptr;
                opened = port.device;
                int result = libusb_open(port.device, &handle);
                if (result == LIBUSB_ERROR_ACCESS)
                    permission_hint(port);
                if (result != 0)
                    handle = nullptr;
            }
            nodes.push_back(describe(port, handle));
        }
        if (handle)
            libusb_close(handle);
    }
    if (count >= 0)
        libusb_free_device_list(list, 1);
    libusb_exit(usb);
}

} // namespace

extern "C" {

FT_STATUS FT_API FT_CreateDeviceInfoList(LPDWORD lpdwNumDevs)
{
    if (lpdwNumDevs == nullptr)
        return FT_INVALID_PARAMETER;
    std::vector<FT_DEVICE_LIST_INFO_NODE> nodes;
    list_devices(nodes);
    std::lock_guard<std::mutex> lock(list_mutex);
    snapshot.swap(nodes);
    *lpdwNumDevs = (DWORD)snapshot.size();
    return FT_OK;
}

FT_STATUS FT_API FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* pDest, LPDWORD lpdwNumDevs)
{
    if (pDest == nullptr || lpdwNumDevs == nullptr)
        return FT_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(list_mutex);
    // The caller sized its array by the count it was given; never write past that.
    DWORD count = (DWORD)snapshot.size();
    if (*lpdwNumDevs < count)
        count = *lpdwNumDevs;
    for (DWORD i = 0; i < count; i++)
        pDest[i] = snapshot[i];
    *lpdwNumDevs = count;
    return FT_OK;
}

} // extern "C"
