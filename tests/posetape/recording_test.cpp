// REC on the simulated chain: discovery, the prompt, the table on the console and the
// frame file it leaves, also when the recording is killed.
#include <gtest/gtest.h>

#include <signal.h>

#include "posetape_common.h"

using namespace posetape_test;
using harness::PtySession;

namespace {

const std::string PROMPT =
    "\n    Press any key when you are ready to record movements, and ESC when done.\n";

std::string rec_head(const std::string& path, const std::string& echoLine)
{
    return USAGE + "Recording to '" + path + "'.\n" + echoLine + OPENED + "Opened file '" + path +
           "' for storing the recorded positions.\n" +
           "Disabling Torque on all motors at baudrate 35.\n" +
           "Searching for available motors at baudrate 35:\n";
}

std::string found(int count)
{
    return "Found " + std::to_string(count) + " Kinetron motors at baudrate 35.\n\n";
}

std::string table_head(const std::string& idCells)
{
    return DASHES + "|" + idCells + "\n" + DASHES;
}

const std::string STILL_ROW = "|[  0 ]512 [  0 ]512 [  0 ]512 \n";

void start_rec(PtySession& s, const std::vector<std::string>& args, const std::string& options)
{
    std::vector<std::string> all{"REC"};
    all.insert(all.end(), args.begin(), args.end());
    ASSERT_TRUE(s.start(posetape_args(all), {sim_env(options)}));
}

bool is_frame_line(const std::string& line, std::size_t servos)
{
    std::vector<std::string> speeds, positions;
    return split_recorded_line(line, &speeds, &positions) && speeds.size() == servos;
}

} // namespace

TEST(PosetapeRec, SearchPromptAndEscAtThePrompt)
{
    std::string path = write_file("rec.csv", "kept\n"); // kept until the recording starts
    PtySession s;
    start_rec(s, {path}, "ids=1-3");
    std::string expected =
        rec_head(path, echo(path)) + ".XXX" + std::string(28, '.') + "\n" + found(3) + PROMPT;
    ASSERT_TRUE(s.wait_for(PROMPT)) << s.output();
    EXPECT_EQ(s.output(), expected);
    std::size_t m = s.mark();
    s.send(harness::KEY_ESC);
    EXPECT_EQ(s.wait_exit(), 0);
    EXPECT_EQ(s.output_since(m), "Exiting program early because you hit ESC before starting!\n");
    EXPECT_EQ(read_file(path), "kept\n");
}

TEST(PosetapeRec, NoServoFoundIsAFailure)
{
    std::string path = write_file("none.csv", "kept\n");
    harness::RunResult r =
        harness::run(posetape_args({"REC", path, "0", "3", "35", "1"}), {sim_env("ids=10")});
    EXPECT_EQ(r.output, rec_head(path, echo(path, 0, 3)) + "....\n" + found(0));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_file(path), "kept\n");
}

TEST(PosetapeRec, KeyEndsTheFirstRangeTheSecondIsStillSearched)
{
    std::string path = harness::temp_dir() + "/ranges.csv";
    PtySession s;
    // 253 absent ids each take ten tries: the first range runs for seconds.
    start_rec(s, {path, "0", "255", "35", "1", "1", "3"}, "ids=1-3");
    ASSERT_TRUE(s.wait_for(".XXX."));
    s.send("k");
    ASSERT_TRUE(s.wait_for(PROMPT)) << s.output();
    std::string out = s.output();
    std::size_t search = out.find("baudrate 35:\n") + 13;
    std::size_t lineEnd = out.find('\n', search);
    std::string firstRange = out.substr(search, lineEnd - search);
    EXPECT_LT(firstRange.size(), 256u);
    EXPECT_EQ(firstRange.compare(0, 5, ".XXX."), 0) << firstRange;
    EXPECT_EQ(firstRange.find_first_not_of('.', 4), std::string::npos) << firstRange;
    EXPECT_EQ(out.substr(lineEnd + 1), "XXX\n" + found(6) + PROMPT);
    // Any key but ESC starts the recording; servos found twice have two columns.
    std::size_t m = s.mark();
    s.send("k");
    ASSERT_TRUE(s.wait_for(table_head("  1   2   3   1   2   3 ") + "|[", 10000, m))
        << s.output_since(m);
    s.send(harness::KEY_ESC);
    EXPECT_EQ(s.wait_exit(), 0);
}

TEST(PosetapeRec, TableHeadEverySixtyFramesAndTheFileEndsWithACompleteLine)
{
    std::string path = write_file("table.csv", std::string(2000, 'x')); // emptied when REC starts
    PtySession s;
    // No waiting for a key; a second range overlapping the first finds 2 and 3 again.
    start_rec(s, {path, "1", "3", "35", "no", "2", "3"}, "ids=1-3");
    const std::string row = "|[  0 ]512 [  0 ]512 [  0 ]512 [  0 ]512 [  0 ]512 \n";
    ASSERT_TRUE(s.wait_for_count(row, 65, 20000)) << s.output();
    s.send(harness::KEY_ESC);
    EXPECT_EQ(s.wait_exit(), 0);

    std::string out = s.output();
    std::string head = table_head("  1   2   3   2   3 ");
    std::string start = rec_head(path, echo(path, 1, 3, 35, "1.00", 0)) + "XXX\nXX\n" + found(5);
    ASSERT_EQ(out.compare(0, start.size(), start), 0) << out;
    // Rows follow until ESC took effect, with the head again before every 60th.
    std::string rest = out.substr(start.size());
    int rows = 0;
    for (;; ++rows) {
        std::string next = (rows % 60 == 0 ? head : std::string()) + row;
        if (rest.compare(0, next.size(), next) != 0)
            break;
        rest.erase(0, next.size());
    }
    EXPECT_GE(rows, 65);
    EXPECT_EQ(rest, "\n"); // ESC ends after a complete row

    std::vector<std::string> lines = lines_of(read_file(path));
    ASSERT_EQ(static_cast<int>(lines.size()), rows + 2);
    EXPECT_EQ(lines[0], "FILETYPE: AbsoluteSpeeds; AbsolutePositions");
    EXPECT_EQ(lines[1], "        1,  2,  3,  2,  3,");
    for (int i = 2; i < rows + 2; ++i) {
        std::vector<std::string> speeds, positions;
        ASSERT_TRUE(split_recorded_line(lines[i], &speeds, &positions)) << lines[i];
        EXPECT_EQ(speeds, std::vector<std::string>(5, "  0")) << lines[i];
        EXPECT_EQ(positions, std::vector<std::string>(5, "512")) << lines[i];
    }
    EXPECT_EQ(read_file(path).back(), '\n');
}

TEST(PosetapeRec, KilledRecordingKeepsEveryRowItShowed)
{
    std::string path = harness::temp_dir() + "/killed.csv";
    PtySession s;
    start_rec(s, {path, "1", "3", "35", "0"}, "ids=1-3,hand=700"); // fast, both ways
    ASSERT_TRUE(s.wait_for_count("\n|[", 40, 20000)) << s.output();
    s.signal(SIGKILL);
    EXPECT_EQ(s.wait_exit(), 128 + SIGKILL);

    // Rows the console showed complete, with their line end.
    std::string out = s.output();
    std::vector<std::string> outLines = lines_of(out);
    int shown = 0;
    for (const std::string& line : outLines)
        if (line.compare(0, 2, "|[") == 0)
            ++shown;
    if (!out.empty() && out.back() != '\n' && outLines.back().compare(0, 2, "|[") == 0)
        --shown;
    std::string text = read_file(path);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    std::vector<std::string> lines = lines_of(text);
    ASSERT_GE(lines.size(), 2u);
    int written = static_cast<int>(lines.size()) - 2;
    // Each file line leaves before its row ends on the console.
    EXPECT_GE(written, shown);
    EXPECT_LE(written, shown + 1);
    std::vector<std::string> speeds, positions;
    for (std::size_t i = 2; i < lines.size(); ++i) {
        EXPECT_TRUE(is_frame_line(lines[i], 3)) << lines[i];
        split_recorded_line(lines[i], &speeds, &positions);
        EXPECT_EQ(speeds, std::vector<std::string>(3, "700")) << lines[i];
    }
}
