#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "adapter_search.h"

namespace kinetron {

namespace {

// "ttyUSB2" before "ttyUSB10": compare runs of digits as numbers.
bool natural_less(const std::string& a, const std::string& b)
{
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) &&
            std::isdigit(static_cast<unsigned char>(b[j]))) {
            std::size_t ei = i, ej = j;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei])))
                ++ei;
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej])))
                ++ej;
            const long na = std::strtol(a.substr(i, ei - i).c_str(), nullptr, 10);
            const long nb = std::strtol(b.substr(j, ej - j).c_str(), nullptr, 10);
            if (na != nb)
                return na < nb;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

std::vector<std::string> dev_entries(const char* prefix)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir("/dev")) {
        while (const dirent* entry = readdir(dir)) {
            if (std::strncmp(entry->d_name, prefix, std::strlen(prefix)) == 0)
                names.push_back(entry->d_name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end(), natural_less);
    return names;
}

#if defined(__linux__)
std::string first_line_of(const std::string& file)
{
    std::string text;
    if (FILE* in = std::fopen(file.c_str(), "r")) {
        char buffer[128];
        if (std::fgets(buffer, sizeof buffer, in) != nullptr)
            text = buffer;
        std::fclose(in);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    return text;
}

bool is_ftdi_tty(const std::string& name)
{
    const std::string device = "/sys/class/tty/" + name + "/device";
    // The tty's device is the adapter's serial port below a USB interface; the vendor id
    // sits on the USB device above that interface.
    if (first_line_of(device + "/../../idVendor") == "0403" ||
        first_line_of(device + "/../idVendor") == "0403")
        return true;
    char driver[4096];
    if (realpath((device + "/driver").c_str(), driver) != nullptr) {
        const char* slash = std::strrchr(driver, '/');
        if (slash != nullptr && std::strcmp(slash + 1, "ftdi_sio") == 0)
            return true;
    }
    return false;
}
#endif

} // namespace

bool find_usb_adapter(std::string& path, std::string& error)
{
#if defined(__APPLE__)
    for (const std::string& name : dev_entries("cu.usbserial-")) {
        path = "/dev/" + name;
        return true;
    }
#elif defined(__linux__)
    for (const std::string& name : dev_entries("ttyUSB")) {
        if (is_ftdi_tty(name)) {
            path = "/dev/" + name;
            return true;
        }
    }
#endif
    error = "no FTDI USB serial adapter found (plug one in, or set KINETRON_DEVICE to a "
            "serial port or to sim)";
    return false;
}

} // namespace kinetron
