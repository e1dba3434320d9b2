// Finding the first USB serial adapter of the servo bus when no device is named, and on
// Windows what the adapter's driver records about a port.
#ifndef KINETRON_ADAPTER_SEARCH_H
#define KINETRON_ADAPTER_SEARCH_H

#include <string>

namespace kinetron {

// The path (or COM name) of the first FTDI adapter by name order; false and a reason when
// there is none.
bool find_usb_adapter(std::string& path, std::string& error);

#ifdef _WIN32
// The latency timer in milliseconds that FTDI's driver records for the port named `port`
// (COMn, also as \\.\COMn, any case); -1 when no FTDI adapter has that port or the value
// cannot be read.
int usb_latency_timer(const std::string& port);
#endif

} // namespace kinetron

#endif
