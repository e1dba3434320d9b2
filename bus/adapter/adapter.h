/* Opening the adapter the way every bus tool does, and the one write that every tool sends
 * to all servos at once. */
#ifndef BUS_ADAPTER_H
#define BUS_ADAPTER_H

/* Opens the adapter with bus_open and says how it went: "Succeed to open USB2Kinetron!\n"
 * or "Failed to open USB2Kinetron!\n". False when it did not open. */
bool open_adapter(void);

/* Broadcast writes are not confirmed: the tools send them this many times. */
enum { TORQUE_OFF_PASSES = 5 };

/* One pass of switching the torque off on every servo listening at baudnum: sets the line
 * speed, lets it settle 10 ms, writes 0 to the torque enable of id 254, pauses 10 ms. */
void broadcast_torque_off(int baudnum);

#endif
