/* Taking --bps, --protocol and --csv out of a command line. */
#include "model_options.h"

#include <cstdio>
#include <cstring>

#include "arguments.h"

/* The fastest rate of any baud-rate map is 4.5 Mbps; far above it is a typo. */
static const int HIGHEST_BPS = 20000000;

/* When word is "--NAME" or "--NAME=VALUE", the value's text (NULL for the first form, which
 * takes the next word); otherwise false. */
static bool is_option(const char* word, const char* name, const char** inline_value)
{
    size_t n = std::strlen(name);
    if (std::strncmp(word, "--", 2) != 0 || std::strncmp(word + 2, name, n) != 0)
        return false;
    if (word[2 + n] == '\0') {
        *inline_value = nullptr;
        return true;
    }
    if (word[2 + n] == '=') {
        *inline_value = word + 3 + n;
        return true;
    }
    return false;
}

/* The value of an option with a number: its own "=VALUE" or the next word, which is then
 * used up (*next moves past it). NULL when there is none. */
static const char* option_value(const char* inline_value, int argc, char** argv, int* next)
{
    if (inline_value != nullptr)
        return inline_value;
    if (*next >= argc)
        return nullptr;
    return argv[(*next)++];
}

static bool take_bps(const char* value, unsigned takes, const char* tool, ModelOptions* options)
{
    if (value == nullptr || !arg_is_number(value) || !in_range(arg_to_int(value), 1, HIGHEST_BPS)) {
        std::fprintf(stderr, "%s: --bps wants a rate in bits per second (1..%d), not '%s'\n", tool,
                     HIGHEST_BPS, value ? value : "");
        return false;
    }
    int limit = (takes & TAKES_MANY_BPS) ? MODEL_OPTIONS_MAX_BPS : 1;
    if (options->bps_count >= limit) {
        if (limit == 1)
            std::fprintf(stderr, "%s: --bps may be given once\n", tool);
        else
            std::fprintf(stderr, "%s: --bps may be given at most %d times\n", tool, limit);
        return false;
    }
    options->bps[options->bps_count++] = arg_to_int(value);
    return true;
}

static bool take_protocol(const char* value, const char* tool, ModelOptions* options)
{
    bool good = value != nullptr && (std::strcmp(value, "1") == 0 || std::strcmp(value, "2") == 0);
    if (!good) {
        std::fprintf(stderr, "%s: --protocol wants 1 or 2, not '%s'\n", tool, value ? value : "");
        return false;
    }
    int protocol = value[0] - '0';
    if (options->protocol != 0 && options->protocol != protocol) {
        std::fprintf(stderr, "%s: --protocol given as both 1 and 2\n", tool);
        return false;
    }
    options->protocol = protocol;
    return true;
}

bool take_model_options(int* argc, char** argv, unsigned takes, const char* tool,
                        ModelOptions* options)
{
    options->bps_count = 0;
    options->protocol = 0;
    options->csv = false;
    if (takes & TAKES_MANY_BPS)
        takes |= TAKES_BPS;
    int kept = 1;
    int next = 1;
    bool options_end = false;
    while (next < *argc) {
        char* word = argv[next++];
        const char* inline_value = nullptr;
        if (options_end) {
            argv[kept++] = word;
        } else if (std::strcmp(word, "--") == 0) {
            options_end = true;
        } else if ((takes & TAKES_BPS) && is_option(word, "bps", &inline_value)) {
            if (!take_bps(option_value(inline_value, *argc, argv, &next), takes, tool, options))
                return false;
        } else if ((takes & TAKES_PROTOCOL) && is_option(word, "protocol", &inline_value)) {
            if (!take_protocol(option_value(inline_value, *argc, argv, &next), tool, options))
                return false;
        } else if ((takes & TAKES_CSV) && std::strcmp(word, "--csv") == 0) {
            options->csv = true;
        } else {
            argv[kept++] = word;
        }
    }
    if (kept < *argc)
        argv[kept] = nullptr;
    *argc = kept;
    return true;
}
