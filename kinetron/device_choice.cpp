#include "device_choice.h"

#include <cstring>

#include "adapter_search.h"

namespace kinetron {

Line* open_chosen_line(const char* setting, std::string& device, std::string& error)
{
    if (setting == nullptr || setting[0] == '\0') {
        device = "the USB serial adapter";
        std::string path;
        if (!find_usb_adapter(path, error))
            return nullptr;
        device = path;
        return open_serial_line(path.c_str(), error);
    }
    device = setting;
    if (std::strcmp(setting, "sim") == 0)
        return open_sim_line("", error);
    if (std::strncmp(setting, "sim:", 4) == 0)
        return open_sim_line(setting + 4, error);
    return open_serial_line(setting, error);
}

} // namespace kinetron
