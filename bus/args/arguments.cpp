/* The command-line conventions every tool shares. */
#include "arguments.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>

int arg_to_int(const char* text)
{
    if (text == nullptr)
        return 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (std::isspace(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = (*p == '-');
        ++p;
    }
    /* Accumulate as a negative number: its range holds INT_MIN too. */
    long long total = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        total = total * 10 - (*p - '0');
        if (total < static_cast<long long>(INT_MIN))
            return negative ? INT_MIN : INT_MAX;
    }
    if (negative)
        return static_cast<int>(total);
    return total < -static_cast<long long>(INT_MAX) ? INT_MAX : static_cast<int>(-total);
}

int arg_int(int argc, char** argv, int k, int fallback)
{
    if (k < 0 || argc <= k || argv == nullptr)
        return fallback;
    return arg_to_int(argv[k]);
}

bool arg_is_number(const char* text)
{
    if (text == nullptr)
        return false;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (std::isspace(*p))
        ++p;
    if (*p == '+' || *p == '-')
        ++p;
    if (!(*p >= '0' && *p <= '9'))
        return false;
    while (*p >= '0' && *p <= '9')
        ++p;
    return *p == '\0';
}

int arg_number(int argc, char** argv, int k, int fallback, bool* all_numbers)
{
    if (k < 0 || argc <= k || argv == nullptr)
        return fallback;
    if (!arg_is_number(argv[k]))
        *all_numbers = false;
    return arg_to_int(argv[k]);
}

bool arg_answer_help(const char* word, const char* tool, const char* usage)
{
    if (word == nullptr)
        return false;
    if (std::strcmp(word, "-h") == 0 || std::strcmp(word, "--help") == 0) {
        std::printf("%ssee: man %s\n", usage, tool);
        return true;
    }
    if (std::strcmp(word, "--version") == 0) {
        std::printf("%s (kinetron) %s\n", tool, KINETRON_VERSION);
        return true;
    }
    return false;
}

bool arg_help_or_version(int argc, char** argv, const char* tool, const char* usage)
{
    return argc == 2 && argv != nullptr && arg_answer_help(argv[1], tool, usage);
}

/* ASCII only, whatever the locale: the texts compared are command words and file types. */
static char upper_ascii(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool same_text_ignoring_case(const char* a, const char* b)
{
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (upper_ascii(*a) != upper_ascii(*b))
            return false;
    }
    return *a == '\0' && *b == '\0';
}

bool arg_is_yes(const char* text)
{
    if (text == nullptr)
        return false;
    return same_text_ignoring_case(text, "1") || same_text_ignoring_case(text, "YES") ||
           same_text_ignoring_case(text, "TRUE");
}

bool in_range(int value, int lo, int hi)
{
    // Shifted so the range starts at 0, one unsigned comparison covers both ends: a value
    // below lo wraps around to a large number. Works for ranges that start below 0 too.
    return static_cast<unsigned>(value) - static_cast<unsigned>(lo) <=
           static_cast<unsigned>(hi) - static_cast<unsigned>(lo);
}

/* Digits at *p as a number (saturating above INT_MAX), moving *p past them; false when *p
 * holds no digit. */
static bool take_digits(const char** p, long* value)
{
    if (!(**p >= '0' && **p <= '9'))
        return false;
    *value = 0;
    for (; **p >= '0' && **p <= '9'; ++*p)
        *value = *value > INT_MAX / 10 ? INT_MAX : *value * 10 + (**p - '0');
    return true;
}

int arg_id_list(const char* text, int highest, int* ids, int max, bool* repeated)
{
    int count = 0;
    const char* p = text;
    if (repeated != nullptr)
        *repeated = false;
    do {
        long first = 0;
        if (!take_digits(&p, &first))
            return ID_LIST_MALFORMED;
        long last = first;
        if (*p == '-') {
            ++p;
            if (!take_digits(&p, &last))
                return ID_LIST_MALFORMED;
        }
        if (*p != '\0' && *p != ',')
            return ID_LIST_MALFORMED;
        if (first > last || last > highest)
            return ID_LIST_OUT_OF_RANGE;
        for (long id = first; id <= last; ++id) {
            bool seen = false;
            for (int i = 0; i < count && !seen; ++i)
                seen = ids[i] == id;
            if (seen && repeated != nullptr)
                *repeated = true;
            if (seen)
                continue;
            if (count == max)
                return ID_LIST_TOO_LONG;
            ids[count++] = static_cast<int>(id);
        }
    } while (*p++ == ',');
    return count;
}
