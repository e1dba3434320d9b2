/* The options every tool for every model shares: the line speed in bits per second, the
 * protocol, and comma-separated output. They may stand anywhere on the command line; they are
 * taken out of argv, so the positional arguments keep their numbers. */
#ifndef BUS_MODEL_OPTIONS_H
#define BUS_MODEL_OPTIONS_H

enum { MODEL_OPTIONS_MAX_BPS = 32 };

/* Which options a tool takes; an option it does not take stays in argv as a positional word,
 * which the tool then refuses as it refuses any bad argument. */
enum {
    TAKES_BPS = 1,      /* --bps N once */
    TAKES_MANY_BPS = 2, /* --bps N as often as MODEL_OPTIONS_MAX_BPS */
    TAKES_PROTOCOL = 4, /* --protocol 1|2 */
    TAKES_CSV = 8       /* --csv */
};

struct ModelOptions {
    int bps[MODEL_OPTIONS_MAX_BPS]; /* in the order given */
    int bps_count;
    int protocol; /* 1 or 2; 0 when not given */
    bool csv;
};

/* Takes the options named by takes out of argv (argc shrinks, argv[argc] stays NULL when it
 * was), filling *options. "--bps N" and "--bps=N" are both understood, the same for
 * --protocol; a lone "--" ends the options and is taken out too. False after one line on
 * standard error, starting with the tool's name, for a missing or bad value or an option given
 * more often than it may be; argv is then left in an unspecified order. */
bool take_model_options(int* argc, char** argv, unsigned takes, const char* tool,
                        ModelOptions* options);

#endif
