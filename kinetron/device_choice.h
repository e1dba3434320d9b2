// Which line bus_open opens: KINETRON_DEVICE names a serial port, "sim" or "sim:OPTIONS";
// unset or empty means the first USB serial adapter found.
#ifndef KINETRON_DEVICE_CHOICE_H
#define KINETRON_DEVICE_CHOICE_H

#include <string>

#include "line.h"

namespace kinetron {

// The opened line, or null with `device` and `error` filled for the one-line message.
Line* open_chosen_line(std::string& device, std::string& error);

} // namespace kinetron

#endif
