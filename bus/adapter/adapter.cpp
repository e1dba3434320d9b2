/* Opening the adapter. */
#include "adapter.h"

#include <cstdio>

#include "kinetron.h"

bool open_adapter(void)
{
    if (!bus_open()) {
        std::printf("Failed to open USB2Kinetron!\n");
        return false;
    }
    std::printf("Succeed to open USB2Kinetron!\n");
    return true;
}
