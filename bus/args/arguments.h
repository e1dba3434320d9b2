/* The command-line conventions every tool shares, and the case-blind comparison of texts
 * they rest on. Nothing here touches the bus or the console. */
#ifndef BUS_ARGUMENTS_H
#define BUS_ARGUMENTS_H

/* Decimal conversion like atoi, but values beyond the int range saturate instead of
 * being undefined: leading white space, optional sign, digits; anything else ends it;
 * text that is no number gives 0. */
int arg_to_int(const char* text);
/* Argument k (counting from 1 after the program name) as a number, or fallback when the
 * command line has no argument k. */
int arg_int(int argc, char** argv, int k, int fallback);
/* True when text is a whole decimal number: optional leading white space, an optional sign,
 * one or more digits and nothing after them. */
bool arg_is_number(const char* text);
/* arg_int's value, and *all_numbers cleared when argument k is given but is no whole decimal
 * number: a tool converts all its arguments, shows them as read, then refuses them with its
 * range failure. */
int arg_number(int argc, char** argv, int k, int fallback, bool* all_numbers);
/* A yes/no argument: true for "1", "YES" or "TRUE" in any case. */
bool arg_is_yes(const char* text);
/* lo <= value <= hi, compared the way an unsigned range check does, so any value below
 * lo (a negative one for a range that starts at 0) fails. */
bool in_range(int value, int lo, int hi);

/* -h and --help print the usage text and "see: man TOOL"; --version prints "TOOL (kinetron)
 * VERSION". True when word was one of them and its answer is printed: the tool then ends with
 * status 0, before it opens the adapter or reads a key. */
bool arg_answer_help(const char* word, const char* tool, const char* usage);
/* The same for a tool that takes these words as its only argument. */
bool arg_help_or_version(int argc, char** argv, const char* tool, const char* usage);

/* What arg_id_list found wrong with a list of ids. */
enum { ID_LIST_MALFORMED = -1, ID_LIST_OUT_OF_RANGE = -2, ID_LIST_TOO_LONG = -3 };
/* Ids such as "1-6,9": ids 0..highest and ranges low-high of digits, joined by commas, stored
 * in the order given (at most max of them). An id given again is stored once and sets
 * *repeated (which may be NULL). The count stored, or one of the ID_LIST_ codes. */
int arg_id_list(const char* text, int highest, int* ids, int max, bool* repeated);

/* True when both texts are equal but for the case of ASCII letters. */
bool same_text_ignoring_case(const char* a, const char* b);

#endif
