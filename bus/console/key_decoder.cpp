/* Escape-sequence decoding for the console keys. Only sequences that begin ESC [ (CSI)
 * or ESC O (SS3) are decoded; any other complete sequence gives no key at all. */
#include "key_decoder.h"

namespace {

enum State {
    IDLE,
    AFTER_ESC,     /* ESC */
    AFTER_CSI,     /* ESC [ and maybe parameters */
    AFTER_CSI_CSI, /* ESC [ [ (the Linux console's F1..F5) */
    AFTER_SS3      /* ESC O */
};

const int KEY_ESC_CODE = 27;

bool is_final_byte(unsigned char b) { return b >= 0x40 && b <= 0x7E; }
bool is_parameter_byte(unsigned char b) { return b >= 0x30 && b <= 0x3F; }
bool is_intermediate_byte(unsigned char b) { return b >= 0x20 && b <= 0x2F; }

int put_extended(int keys[], int count, int code)
{
    keys[count++] = KEY_PREFIX_EXTENDED;
    keys[count++] = code;
    return count;
}

int put_function(int keys[], int count, int number)
{
    keys[count++] = KEY_PREFIX_FUNCTION;
    keys[count++] = KEY_CODE_F1 + number - 1;
    return count;
}

/* The letter keys shared by CSI and SS3: arrows, Home, End. 0 when not one of them. */
int letter_key(unsigned char final)
{
    switch (final) {
    case 'A':
        return KEY_CODE_UP;
    case 'B':
        return KEY_CODE_DOWN;
    case 'C':
        return KEY_CODE_RIGHT;
    case 'D':
        return KEY_CODE_LEFT;
    case 'H':
        return KEY_CODE_HOME;
    case 'F':
        return KEY_CODE_END;
    default:
        return 0;
    }
}

/* Keys of "ESC [ n ~". 0 when n names no key of ours. */
int tilde_key(int n)
{
    switch (n) {
    case 1:
    case 7:
        return KEY_CODE_HOME;
    case 2:
        return KEY_CODE_INSERT;
    case 3:
        return KEY_CODE_DELETE;
    case 4:
    case 8:
        return KEY_CODE_END;
    case 5:
        return KEY_CODE_PAGE_UP;
    case 6:
        return KEY_CODE_PAGE_DOWN;
    default:
        return 0;
    }
}

/* A complete CSI sequence with its final byte. Keys with a modifier (a second
 * parameter other than 1) are other keys on Windows too: they give nothing here. */
int finish_csi(const KeyDecoder* d, unsigned char final, int keys[], int count)
{
    if (d->unknown)
        return count;
    int first = 0;
    int second = 1;
    bool has_first = false;
    const char* p = d->params;
    const char* end = d->params + d->param_count;
    for (int field = 0; p < end; ++field) {
        int value = 0;
        bool digits = false;
        for (; p < end && *p != ';'; ++p) {
            if (*p < '0' || *p > '9' || value > 999)
                return count;
            value = value * 10 + (*p - '0');
            digits = true;
        }
        if (p < end)
            ++p; /* the ';' */
        if (field == 0) {
            first = value;
            has_first = digits;
        } else if (field == 1) {
            second = digits ? value : 1;
        } else {
            return count;
        }
    }
    if (second != 1)
        return count;
    if (final == '~') {
        if (first >= 11 && first <= 14)
            return put_function(keys, count, first - 10);
        int code = tilde_key(first);
        return code != 0 ? put_extended(keys, count, code) : count;
    }
    int code = letter_key(final);
    if (code != 0 && (!has_first || first == 1))
        return put_extended(keys, count, code);
    return count;
}

int feed_idle(KeyDecoder* d, unsigned char b, int keys[], int count)
{
    if (b == KEY_ESC_CODE) {
        d->state = AFTER_ESC;
        return count;
    }
    keys[count++] = b;
    return count;
}

} // namespace

void key_decoder_reset(KeyDecoder* d)
{
    d->state = IDLE;
    d->param_count = 0;
    d->unknown = false;
}

bool key_decoder_pending(const KeyDecoder* d) { return d->state != IDLE; }

int key_decoder_feed(KeyDecoder* d, unsigned char b, int keys[KEY_DECODER_MAX_OUT])
{
    int count = 0;
    switch (d->state) {
    case IDLE:
        return feed_idle(d, b, keys, count);

    case AFTER_ESC:
        if (b == '[') {
            d->state = AFTER_CSI;
            d->param_count = 0;
            d->unknown = false;
            return count;
        }
        if (b == 'O') {
            d->state = AFTER_SS3;
            return count;
        }
        /* ESC and a byte that starts no sequence: both are keys. A second ESC may
         * itself start a sequence. */
        keys[count++] = KEY_ESC_CODE;
        d->state = IDLE;
        return feed_idle(d, b, keys, count);

    case AFTER_CSI:
        if (is_parameter_byte(b) || is_intermediate_byte(b)) {
            if (is_intermediate_byte(b) || d->param_count >= static_cast<int>(sizeof d->params))
                d->unknown = true;
            else
                d->params[d->param_count++] = static_cast<char>(b);
            return count;
        }
        if (d->param_count == 0 && !d->unknown && b == '[') {
            d->state = AFTER_CSI_CSI;
            return count;
        }
        if (is_final_byte(b)) {
            d->state = IDLE;
            return finish_csi(d, b, keys, count);
        }
        /* A byte that cannot be part of the sequence. Right after "ESC [" the two
         * were plain keys; later the broken sequence is dropped. */
        if (d->param_count == 0 && !d->unknown) {
            keys[count++] = KEY_ESC_CODE;
            keys[count++] = '[';
        }
        d->state = IDLE;
        return feed_idle(d, b, keys, count);

    case AFTER_CSI_CSI:
        d->state = IDLE;
        if (b >= 'A' && b <= 'D')
            return put_function(keys, count, b - 'A' + 1);
        return count;

    case AFTER_SS3:
        d->state = IDLE;
        if (b >= 'P' && b <= 'S')
            return put_function(keys, count, b - 'P' + 1);
        if (is_final_byte(b)) {
            int code = letter_key(b);
            return code != 0 ? put_extended(keys, count, code) : count;
        }
        keys[count++] = KEY_ESC_CODE;
        keys[count++] = 'O';
        return feed_idle(d, b, keys, count);
    }
    d->state = IDLE;
    return count;
}

int key_decoder_expire(KeyDecoder* d, int keys[KEY_DECODER_MAX_OUT])
{
    int count = 0;
    switch (d->state) {
    case AFTER_ESC:
        keys[count++] = KEY_ESC_CODE;
        break;
    case AFTER_CSI:
        if (d->param_count == 0 && !d->unknown) {
            keys[count++] = KEY_ESC_CODE;
            keys[count++] = '[';
        }
        break;
    case AFTER_SS3:
        keys[count++] = KEY_ESC_CODE;
        keys[count++] = 'O';
        break;
    default:
        break;
    }
    d->state = IDLE;
    return count;
}
