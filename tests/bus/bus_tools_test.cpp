// Reads with retry, the result printer and the argument conventions, against the
// scripted fake bus.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <sstream>
#include <string>
#include <vector>

#include "adapter.h"
#include "arguments.h"
#include "bus_tools.h"
#include "fake_bus.h"
#include "model_options.h"
#include "registers.h"

namespace {

const int TIMEOUT = RESULT_RX_TIMEOUT;

// print_result's output and the text it returned.
std::string printed(int value, int code)
{
    fake_bus_set_result(code);
    testing::internal::CaptureStdout();
    const char* text = print_result(value);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(text, result_text);
    EXPECT_EQ(out, std::string(text) + " ");
    return out;
}

struct ReadKind {
    const char* name;
    int (*read)(int, int);
    bool byte;
};
const ReadKind READS[] = {{"byte", read_byte_retry, true}, {"word", read_word_retry, false}};

TEST(ReadWithRetry, SuccessAtTryKGivesThatTrysValueAndCount)
{
    for (const ReadKind& kind : READS) {
        for (int k = 1; k <= READ_TRIES_MAX; ++k) {
            SCOPED_TRACE(std::string(kind.name) + " try " + std::to_string(k));
            std::vector<FakeReply> replies;
            for (int i = 1; i < k; ++i)
                replies.push_back({100 + i, i % 2 ? TIMEOUT : RESULT_RX_CORRUPT});
            replies.push_back({400 + k, RESULT_SUCCESS});
            replies.push_back({999, RESULT_SUCCESS}); // must never be read
            fake_bus_script(replies);
            int before = reads_done.load();

            EXPECT_EQ(kind.read(1, 36), 400 + k);
            EXPECT_EQ(last_attempts, k);
            EXPECT_EQ(fake_bus_reads(), k);
            EXPECT_EQ(fake_bus_last_was_byte(), kind.byte);
            EXPECT_EQ(reads_done.load(), before + 1);
            EXPECT_FALSE(read_busy.load());
        }
    }
}

TEST(ReadWithRetry, TenFailuresGiveMinusOneWhateverTheBusReturned)
{
    // A failed read may hand back a stale number; code 0 is no success either.
    for (int code : {int(TIMEOUT), int(RESULT_SENT), int(RESULT_TX_FAIL), 8, -1}) {
        for (const ReadKind& kind : READS) {
            SCOPED_TRACE(std::string(kind.name) + " code " + std::to_string(code));
            fake_bus_script({{77, code}});
            int before = reads_done.load();
            EXPECT_EQ(kind.read(3, 3), READ_FAILED);
            EXPECT_EQ(last_attempts, READ_TRIES_MAX);
            EXPECT_EQ(fake_bus_reads(), READ_TRIES_MAX);
            EXPECT_EQ(reads_done.load(), before + 1);
            EXPECT_FALSE(read_busy.load());
        }
    }
}

TEST(PrintResult, ValuesAreRightAlignedInThreeColumnsAndNeverCut)
{
    EXPECT_EQ(printed(5, RESULT_SUCCESS), "  5 ");
    EXPECT_EQ(printed(0, RESULT_SUCCESS), "  0 ");
    EXPECT_EQ(printed(42, RESULT_SUCCESS), " 42 ");
    EXPECT_EQ(printed(512, RESULT_SUCCESS), "512 ");
    EXPECT_EQ(printed(1023, RESULT_SUCCESS), "1023 ");
    EXPECT_EQ(printed(65535, RESULT_SUCCESS), "65535 ");
    EXPECT_EQ(printed(-1, RESULT_SUCCESS), " -1 ");
    EXPECT_EQ(printed(9999999, RESULT_SUCCESS), "9999999 ");
    EXPECT_EQ(printed(-999999, RESULT_SUCCESS), "-999999 ");
}

TEST(PrintResult, ValuesTooWideForTheTextShowAsHashesNotAsACutNumber)
{
    for (int value : {10000000, -1000000, INT_MAX, INT_MIN}) {
        SCOPED_TRACE(value);
        EXPECT_EQ(printed(value, RESULT_SUCCESS), "####### ");
        EXPECT_EQ(result_text[7], '\0');
    }
}

TEST(PrintResult, FailureCodesPrintTheirTextWhateverTheValue)
{
    const struct {
        int code;
        const char* text;
    } cases[] = {{2, "txF"}, {3, "rxF"}, {4, "txE"}, {5, "rxW"},  {6, "rxT"},
                 {7, "rxC"}, {0, "UNK"}, {8, "UNK"}, {-1, "UNK"}, {INT_MIN, "UNK"}};
    for (const auto& c : cases) {
        for (int value : {-1, 512, INT_MIN}) {
            SCOPED_TRACE(std::to_string(c.code) + " " + std::to_string(value));
            EXPECT_EQ(printed(value, c.code), std::string(c.text) + " ");
            EXPECT_STREQ(result_code_text(c.code), c.text);
        }
    }
}

TEST(OpenAdapter, SaysWhetherTheAdapterOpened)
{
    fake_bus_set_opens(true);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(open_adapter());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Succeed to open USB2Kinetron!\n");
    fake_bus_set_opens(false);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(open_adapter());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Failed to open USB2Kinetron!\n");
}

TEST(Arguments, YesNo)
{
    for (const char* yes : {"1", "yes", "YES", "True", "tRuE", "TRUE"})
        EXPECT_TRUE(arg_is_yes(yes)) << yes;
    for (const char* no : {"0", "no", "NO", "2", "y", "", "yes ", " 1", "11", "truer", "tru"})
        EXPECT_FALSE(arg_is_yes(no)) << '"' << no << '"';
    EXPECT_FALSE(arg_is_yes(nullptr));
}

TEST(Arguments, NumbersConvertLikeAtoiAndSaturate)
{
    EXPECT_EQ(arg_to_int("abc"), 0);
    EXPECT_EQ(arg_to_int(""), 0);
    EXPECT_EQ(arg_to_int("-"), 0);
    EXPECT_EQ(arg_to_int("12xyz"), 12);
    EXPECT_EQ(arg_to_int("  \t-7"), -7);
    EXPECT_EQ(arg_to_int("+35"), 35);
    EXPECT_EQ(arg_to_int("0x1F"), 0);
    EXPECT_EQ(arg_to_int("2147483647"), INT_MAX);
    EXPECT_EQ(arg_to_int("-2147483648"), INT_MIN);
    EXPECT_EQ(arg_to_int("2147483648"), INT_MAX);
    EXPECT_EQ(arg_to_int("99999999999"), INT_MAX);
    EXPECT_EQ(arg_to_int("-99999999999"), INT_MIN);
    EXPECT_EQ(arg_to_int("000000000000000000000000012"), 12);
    EXPECT_EQ(arg_to_int("99999999999999999999999999999999"), INT_MAX);
    for (const char* number : {"0", " \t-7", "+35", "99999999999"})
        EXPECT_TRUE(arg_is_number(number)) << number;
    for (const char* other : {"", " ", "-", "+", "abc", "12xyz", "1e3", "0x1F", "3 ", "--1"})
        EXPECT_FALSE(arg_is_number(other)) << '"' << other << '"';

    char prog[] = "tool", a1[] = "7", a2[] = "junk";
    char* argv[] = {prog, a1, a2, nullptr};
    EXPECT_EQ(arg_int(3, argv, 1, -1), 7);
    EXPECT_EQ(arg_int(3, argv, 2, -1), 0);
    EXPECT_EQ(arg_int(3, argv, 3, -1), -1); // absent: the default
    EXPECT_EQ(arg_int(2, argv, 2, 35), 35);
}

// A command line's words after the options are taken, then "|" and what was taken, or "refused".
std::string options_taken(const char* line, unsigned takes)
{
    std::vector<std::string> words{"tool"};
    std::istringstream in(line);
    for (std::string w; in >> w;)
        words.push_back(w);
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(&w[0]);
    argv.push_back(nullptr);
    int argc = static_cast<int>(words.size());
    ModelOptions options;
    testing::internal::CaptureStderr();
    bool ok = take_model_options(&argc, argv.data(), takes, "tool", &options);
    std::string err = testing::internal::GetCapturedStderr();
    if (!ok) {
        EXPECT_EQ(err.rfind("tool: ", 0), 0u) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        return "refused";
    }
    EXPECT_EQ(err, "");
    EXPECT_EQ(argv[argc], nullptr);
    std::string out;
    for (int k = 1; k < argc; ++k)
        out += std::string(argv[k]) + " ";
    out += "|";
    for (int k = 0; k < options.bps_count; ++k)
        out += " bps=" + std::to_string(options.bps[k]);
    if (options.protocol != 0)
        out += " p" + std::to_string(options.protocol);
    if (options.csv)
        out += " csv";
    return out;
}

TEST(Arguments, ModelOptionsStandAnywhereAndLeaveThePositionalWords)
{
    const unsigned ALL = TAKES_MANY_BPS | TAKES_PROTOCOL | TAKES_CSV;
    const unsigned ONE = TAKES_BPS | TAKES_PROTOCOL | TAKES_CSV;
    const struct {
        const char* line;
        unsigned takes;
        const char* taken;
    } cases[] = {
        {"", ALL, "|"},
        {"5 present_position", ONE, "5 present_position |"},
        {"--bps 57600 5 --csv id 9 --protocol 2", ONE, "5 id 9 | bps=57600 p2 csv"},
        {"watch --bps=1000000 4-6 --protocol=1", ONE, "watch 4-6 | bps=1000000 p1"},
        {"--bps 9600 all --bps 4500000", ALL, "all | bps=9600 bps=4500000"},
        {"1 -- --csv -5", ALL, "1 --csv -5 |"},     // after "--" every word is positional
        {"--protocol 2 --protocol 2", ALL, "| p2"}, // repeated alike: harmless
        {"--csv 3", TAKES_BPS, "--csv 3 |"},        // not taken: left for the tool to refuse
        {"--bpsx 3", ALL, "--bpsx 3 |"},
        {"--bps 9600 --bps 57600", ONE, "refused"},
        {"--protocol 1 --protocol 2", ALL, "refused"},
        {"--protocol 3", ALL, "refused"},
        {"--protocol", ALL, "refused"},
        {"--protocol= 1", ALL, "refused"},
        {"--bps", ALL, "refused"},
        {"--bps 1M", ALL, "refused"},
        {"--bps 0", ALL, "refused"},
        {"--bps -9600", ALL, "refused"},
        {"--bps 99999999999", ALL, "refused"},
        {"--bps= 9600", ALL, "refused"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(options_taken(c.line, c.takes), c.taken) << c.line;
}

TEST(Arguments, IdListsKeepTheirOrderAndEachIdOnce)
{
    const struct {
        const char* text;
        int result; // count, or an ID_LIST_ code
        const char* ids;
        bool repeated;
    } cases[] = {
        {"3,1-2,9", 4, "3 1 2 9 ", false},
        {"1-3,2", 3, "1 2 3 ", true},
        {"253", 1, "253 ", false},
        {"0-254", ID_LIST_OUT_OF_RANGE, "", false},
        {"5-4", ID_LIST_OUT_OF_RANGE, "", false},
        {"", ID_LIST_MALFORMED, "", false},
        {"1-3,", ID_LIST_MALFORMED, "", false},
        {" 5", ID_LIST_MALFORMED, "", false},
        {"2x", ID_LIST_MALFORMED, "", false},
        {"1-4", ID_LIST_TOO_LONG, "", false},
    };
    for (const auto& c : cases) {
        int ids[3 + 1] = {};
        bool repeated = false;
        const int max = std::string(c.text) == "1-4" ? 3 : 4;
        const int result = arg_id_list(c.text, 253, ids, max, &repeated);
        std::string got;
        for (int i = 0; i < result; ++i)
            got += std::to_string(ids[i]) + " ";
        EXPECT_EQ(result, c.result) << c.text;
        EXPECT_EQ(got, c.ids) << c.text;
        EXPECT_EQ(repeated, c.repeated) << c.text;
    }
}

TEST(Arguments, RangesCompareAsUnsigned)
{
    EXPECT_TRUE(in_range(0, 0, 255));
    EXPECT_TRUE(in_range(255, 0, 255));
    EXPECT_FALSE(in_range(256, 0, 255));
    EXPECT_FALSE(in_range(-1, 0, 255));
    EXPECT_FALSE(in_range(INT_MIN, 0, 255));
    EXPECT_FALSE(in_range(arg_to_int("99999999999"), 0, 255));
    EXPECT_FALSE(in_range(0, 1, 255));
    EXPECT_TRUE(in_range(1, 1, 255));
    EXPECT_TRUE(in_range(60, 0, 60));
    EXPECT_FALSE(in_range(61, 0, 60));
    // Ranges that start below 0: a position that may be -1, a byte that may be negative.
    EXPECT_TRUE(in_range(-1, -1, 1023));
    EXPECT_TRUE(in_range(1023, -1, 1023));
    EXPECT_FALSE(in_range(-2, -1, 1023));
    EXPECT_FALSE(in_range(1024, -1, 1023));
    EXPECT_TRUE(in_range(-128, -128, 255));
    EXPECT_FALSE(in_range(-129, -128, 255));
    EXPECT_FALSE(in_range(INT_MAX, -32767, 65535));
}

} // namespace
