// Windows: FTDI's driver records each adapter under Enum\FTDIBUS with the COM name it
// gave the port and the port's settings (its latency timer among them); a port that is
// present now also has a DOS device name.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "adapter_search.h"

namespace kinetron {

namespace {

// Calls `visit` with every subkey name of an open key.
template <typename Visit>
void each_subkey(HKEY key, Visit visit)
{
    char name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            return;
        visit(std::string(name, length));
    }
}

// Calls `visit(port, parameters)` for every port FTDI's driver has recorded: its COM name
// and its open "Device Parameters" key.
template <typename Visit>
void each_ftdi_port(Visit visit)
{
    HKEY ftdi;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS", 0, KEY_READ,
                      &ftdi) != ERROR_SUCCESS)
        return;
    each_subkey(ftdi, [&](const std::string& device) {
        HKEY device_key;
        if (RegOpenKeyExA(ftdi, device.c_str(), 0, KEY_READ, &device_key) != ERROR_SUCCESS)
            return;
        each_subkey(device_key, [&](const std::string& instance) {
            HKEY parameters;
            const std::string sub = instance + "\\Device Parameters";
            if (RegOpenKeyExA(device_key, sub.c_str(), 0, KEY_READ, &parameters) != ERROR_SUCCESS)
                return;
            char port[64] = {};
            DWORD size = sizeof port - 1;
            if (RegGetValueA(parameters, nullptr, "PortName", RRF_RT_REG_SZ, nullptr, port,
                             &size) == ERROR_SUCCESS)
                visit(std::string(port), parameters);
            RegCloseKey(parameters);
        });
        RegCloseKey(device_key);
    });
    RegCloseKey(ftdi);
}

int com_number(const std::string& port)
{
    if (port.size() < 4 || _strnicmp(port.c_str(), "COM", 3) != 0)
        return -1;
    return std::atoi(port.c_str() + 3);
}

bool port_present(const std::string& port)
{
    char target[512];
    return QueryDosDeviceA(port.c_str(), target, sizeof target) != 0;
}

} // namespace

bool find_usb_adapter(std::string& path, std::string& error)
{
    int best = -1;
    each_ftdi_port([&](const std::string& port, HKEY) {
        const int number = com_number(port);
        if (number > 0 && port_present(port) && (best < 0 || number < best))
            best = number;
    });
    if (best < 0) {
        error = "no FTDI USB serial adapter found (plug one in, or set KINETRON_DEVICE to a "
                "COM port or to sim)";
        return false;
    }
    path = "COM" + std::to_string(best);
    return true;
}

int usb_latency_timer(const std::string& port)
{
    std::string name = port;
    if (name.compare(0, 4, "\\\\.\\") == 0)
        name.erase(0, 4);
    int timer = -1;
    each_ftdi_port([&](const std::string& recorded, HKEY parameters) {
        DWORD value = 0;
        DWORD size = sizeof value;
        if (timer < 0 && _stricmp(recorded.c_str(), name.c_str()) == 0 &&
            RegGetValueA(parameters, nullptr, "LatencyTimer", RRF_RT_REG_DWORD, nullptr, &value,
                         &size) == ERROR_SUCCESS &&
            value <= 255)
            timer = static_cast<int>(value);
    });
    return timer;
}

} // namespace kinetron
