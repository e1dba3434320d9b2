// The escape-sequence decoder behind _getch, fed byte by byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "key_decoder.h"

namespace {

// Keys the bytes give; with `pause_after` the terminal then stays quiet past the
// escape wait.
std::vector<int> keys_of(const std::string& bytes, bool pause_after = true)
{
    KeyDecoder decoder;
    key_decoder_reset(&decoder);
    std::vector<int> keys;
    int out[KEY_DECODER_MAX_OUT];
    for (unsigned char b : bytes) {
        int n = key_decoder_feed(&decoder, b, out);
        keys.insert(keys.end(), out, out + n);
    }
    if (pause_after) {
        int n = key_decoder_expire(&decoder, out);
        keys.insert(keys.end(), out, out + n);
        EXPECT_FALSE(key_decoder_pending(&decoder));
    }
    return keys;
}

using Keys = std::vector<int>;

TEST(KeyDecoder, PlainBytesAreKeys)
{
    EXPECT_EQ(keys_of("aZ\r\n q", false), (Keys{'a', 'Z', '\r', '\n', ' ', 'q'}));
    EXPECT_EQ(keys_of(std::string("\0\x7f\xe0", 3), false), (Keys{0, 127, 224}));
}

TEST(KeyDecoder, ArrowsInBothForms)
{
    EXPECT_EQ(keys_of("\x1b[A"), (Keys{224, 72}));
    EXPECT_EQ(keys_of("\x1b[B"), (Keys{224, 80}));
    EXPECT_EQ(keys_of("\x1b[D"), (Keys{224, 75}));
    EXPECT_EQ(keys_of("\x1b[C"), (Keys{224, 77}));
    EXPECT_EQ(keys_of("\x1bOA"), (Keys{224, 72}));
    EXPECT_EQ(keys_of("\x1bOB"), (Keys{224, 80}));
    EXPECT_EQ(keys_of("\x1bOD"), (Keys{224, 75}));
    EXPECT_EQ(keys_of("\x1bOC"), (Keys{224, 77}));
    // Complete without waiting: the key is out as soon as the last byte is in.
    EXPECT_EQ(keys_of("\x1b[A\x1bOB", false), (Keys{224, 72, 224, 80}));
}

TEST(KeyDecoder, EditingBlockAndFunctionKeys)
{
    EXPECT_EQ(keys_of("\x1b[H\x1b[F\x1bOH\x1bOF"), (Keys{224, 71, 224, 79, 224, 71, 224, 79}));
    EXPECT_EQ(keys_of("\x1b[1~\x1b[4~\x1b[7~\x1b[8~"), (Keys{224, 71, 224, 79, 224, 71, 224, 79}));
    EXPECT_EQ(keys_of("\x1b[5~\x1b[6~\x1b[2~\x1b[3~"), (Keys{224, 73, 224, 81, 224, 82, 224, 83}));
    EXPECT_EQ(keys_of("\x1bOP\x1bOQ\x1bOR\x1bOS"), (Keys{0, 59, 0, 60, 0, 61, 0, 62}));
    EXPECT_EQ(keys_of("\x1b[11~\x1b[12~\x1b[13~\x1b[14~"), (Keys{0, 59, 0, 60, 0, 61, 0, 62}));
    EXPECT_EQ(keys_of("\x1b[[A\x1b[[D"), (Keys{0, 59, 0, 62}));
}

TEST(KeyDecoder, OtherCompleteSequencesGiveNothing)
{
    for (const char* seq :
         {"\x1b[15~", "\x1b[25~", "\x1b[1;5A", "\x1b[3;2~", "\x1b[?1h", "\x1b[Z", "\x1b[200~",
          "\x1bOx", "\x1b[[E", "\x1b[1;2;3A", "\x1b[99999999999999999999999~", "\x1b[ q"}) {
        EXPECT_EQ(keys_of(std::string(seq) + "z"), (Keys{'z'})) << &seq[1];
    }
}

TEST(KeyDecoder, LoneEscapeAndEscapeBeforeOrdinaryBytes)
{
    EXPECT_EQ(keys_of("\x1b"), (Keys{27}));
    EXPECT_EQ(keys_of("\x1b", false), Keys{}); // still waiting for a possible sequence
    EXPECT_EQ(keys_of("\x1bx", false), (Keys{27, 'x'}));
    EXPECT_EQ(keys_of("\x1b\x1b"), (Keys{27, 27}));
    EXPECT_EQ(keys_of("\x1b\x1b[A"), (Keys{27, 224, 72}));
    // A sequence opener with nothing after it was typed as keys.
    EXPECT_EQ(keys_of("\x1b["), (Keys{27, '['}));
    EXPECT_EQ(keys_of("\x1bO"), (Keys{27, 'O'}));
    EXPECT_EQ(keys_of("\x1b[\x1b"), (Keys{27, '[', 27}));
    // A sequence broken off in its parameters is dropped; the byte that broke it counts.
    EXPECT_EQ(keys_of("\x1b[12\x1b[B"), (Keys{224, 80}));
    EXPECT_EQ(keys_of("\x1b[12"), Keys{});
}

} // namespace
