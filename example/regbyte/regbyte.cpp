/* regbyte: reads a one-byte register of one servo, optionally writes it, and shows it
 * as it reads back. */
#include "bus_tools.h"
#include "kinetron.h"
#include "register_tool.h"

namespace {

const RegisterToolTable REGBYTE = {
    "regbyte",
    "usage: regbyte <id> <baudnum> <offsetAddr> [<byteValue>]\n",
    "current: regbyte <id=%d> <baudnum=%d> <offsetAddr=%d> [<byteValue=%d>]\n",
    -128,
    255,
    read_byte_retry,
    bus_write_byte,
    "Original BYTE value at addr %d, motor %d, baud %d: ",
    5,
};

} // namespace

int main(int argc, char** argv) { return run_register_tool(REGBYTE, argc, argv); }
