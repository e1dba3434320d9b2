/* The broadcast torque-off. A file of its own: a tool that only opens the adapter does
 * not take the console's pause with it. */
#include "adapter.h"
#include "console.h"
#include "kinetron.h"
#include "registers.h"

enum { SETTLE_MS = 10, TORQUE_OFF = 0 };

void broadcast_torque_off(int baudnum)
{
    bus_change_baud(baudnum);
    Sleep(SETTLE_MS);
    bus_write_byte(ID_BROADCAST, ADDR_TORQUE_ENABLE, TORQUE_OFF);
    Sleep(SETTLE_MS);
}
