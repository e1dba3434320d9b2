/* Reads of any model's registers by name, with retry, for the tools that speak to every
 * model. The model table says where a register lies and how its bytes read. */
#ifndef BUS_MODEL_READS_H
#define BUS_MODEL_READS_H

#include "kinetron.h"

/* The register of the model under the first of the names it has (NULL-terminated list):
 * tables name the same quantity differently ("present_voltage", "present_input_voltage").
 * NULL when the model has none of them. */
const kinetron_register* model_register_named(int model, const char* const* names);

/* Reads count bytes from address up to ten times until a good reply, in one exchange each,
 * under the watchdog's eye (read_busy); true when one came. */
bool read_bytes_retry(int protocol, int id, int address, int count, unsigned char* out);
/* Reads the register up to ten times until a good reply, in one exchange each, under the
 * watchdog's eye (read_busy); true with the decoded raw value in *raw. The last exchange's
 * result code stays in bus_result(), the servo's error byte in kinetron_last_status(). */
bool read_register_retry(int protocol, int id, const kinetron_register* reg, long long* raw);

/* The text of a value in the register's unit: "180.0deg", "11.5V", "35C"; the raw value
 * for a register without a unit. At most size-1 characters. */
void format_in_units(const kinetron_register* reg, long long raw, char* text, int size);

/* How many decimals a value in the register's unit shows. */
int unit_decimals(const kinetron_register* reg);

#endif
