/* regword: reads a two-byte register of one servo, optionally writes it, and shows it
 * as it reads back. */
#include "bus_tools.h"
#include "kinetron.h"
#include "register_tool.h"

namespace {

const RegisterToolTable REGWORD = {
    "regword",
    "usage: regword <id> <baudnum> <offsetAddr> [<wordValue>]\n",
    "current: regword <id=%d> <baudnum=%d> <offsetAddr=%d> [<wordValue=%d>]\n",
    -32767,
    65535,
    read_word_retry,
    bus_write_word,
    "Original WORD value at addr %d, motor %d, baud %d: ",
    10,
};

} // namespace

int main(int argc, char** argv) { return run_register_tool(REGWORD, argc, argv); }
