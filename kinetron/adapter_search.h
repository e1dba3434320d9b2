// Finding the first USB serial adapter of the servo bus when no device is named.
#ifndef KINETRON_ADAPTER_SEARCH_H
#define KINETRON_ADAPTER_SEARCH_H

#include <string>

namespace kinetron {

// The path (or COM name) of the first FTDI adapter by name order; false and a reason when
// there is none.
bool find_usb_adapter(std::string& path, std::string& error);

} // namespace kinetron

#endif
