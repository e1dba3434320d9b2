/* Turns the bytes a terminal sends into keys as a Windows console delivers them:
 * arrows, Home, End, Page Up, Page Down, Insert and Delete as 224 and a second code,
 * F1..F4 as 0 and a second code. Pure byte-in, keys-out; the terminal I/O and the
 * waiting for the rest of an escape sequence live in console.cpp. */
#ifndef BUS_KEY_DECODER_H
#define BUS_KEY_DECODER_H

enum {
    KEY_PREFIX_EXTENDED = 224, /* arrows and the editing block */
    KEY_PREFIX_FUNCTION = 0,   /* F1..F4 */
    KEY_CODE_UP = 72,
    KEY_CODE_DOWN = 80,
    KEY_CODE_LEFT = 75,
    KEY_CODE_RIGHT = 77,
    KEY_CODE_HOME = 71,
    KEY_CODE_END = 79,
    KEY_CODE_PAGE_UP = 73,
    KEY_CODE_PAGE_DOWN = 81,
    KEY_CODE_INSERT = 82,
    KEY_CODE_DELETE = 83,
    KEY_CODE_F1 = 59,        /* F2..F4 follow */
    KEY_DECODER_MAX_OUT = 4, /* keys one call can give, at most */
    KEY_ESCAPE_WAIT_MS = 30  /* how long a lone ESC waits for the rest of a sequence */
};

struct KeyDecoder {
    int state;
    char params[16];
    int param_count;
    bool unknown; /* the sequence has a part no key of ours uses */
};

void key_decoder_reset(KeyDecoder* decoder);
/* Feeds one byte; stores the keys it completes in keys[] and returns how many. */
int key_decoder_feed(KeyDecoder* decoder, unsigned char byte, int keys[KEY_DECODER_MAX_OUT]);
/* Nothing more arrived within KEY_ESCAPE_WAIT_MS: ends a pending sequence (a lone ESC
 * becomes 27) and returns the keys. */
int key_decoder_expire(KeyDecoder* decoder, int keys[KEY_DECODER_MAX_OUT]);
/* True while the bytes fed so far begin an escape sequence that is not complete. */
bool key_decoder_pending(const KeyDecoder* decoder);

#endif
