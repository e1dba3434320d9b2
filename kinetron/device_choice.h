// Which line bus_open_device opens: a serial port's path, "sim" or "sim:OPTIONS"; NULL or
// "" means the first USB serial adapter found.
#ifndef KINETRON_DEVICE_CHOICE_H
#define KINETRON_DEVICE_CHOICE_H

#include <string>

#include "line.h"

namespace kinetron {

// The line `setting` names, opened; or null with `device` (what it tried to open) and
// `error` filled for the one-line message.
Line* open_chosen_line(const char* setting, std::string& device, std::string& error);

} // namespace kinetron

#endif
