// Built when the simulated servo chain is not part of this library.
#include "line.h"

namespace kinetron {

Line* open_sim_line(const char*, std::string& error)
{
    error = "the simulated servo chain is not built into this library";
    return nullptr;
}

} // namespace kinetron
