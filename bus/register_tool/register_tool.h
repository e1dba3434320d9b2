/* The main sequence that regbyte and regword share: read one register of one servo,
 * optionally write it, then show it as it reads back. Each tool hands in the table of
 * what sets it apart. */
#ifndef REGISTER_TOOL_H
#define REGISTER_TOOL_H

struct RegisterToolTable {
    const char* name;        /* the program's name, for --help and --version */
    const char* usage_line;  /* printed first, on every run */
    const char* echo_format; /* "current: ..." with id, baudnum, offsetAddr, value */
    int value_min;           /* accepted range of the value to write */
    int value_max;
    int (*read_retry)(int id, int address);
    void (*write)(int id, int address, int value);
    const char* heading_format; /* first reading: offsetAddr, id, baudnum */
    int passes;                 /* readings after "Now: " */
};

/* Runs the whole tool and returns its exit status. */
int run_register_tool(const RegisterToolTable& table, int argc, char** argv);

#endif
