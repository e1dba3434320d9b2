// frameplot: the summary numbers, and an SVG that a browser and a renderer accept.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "motion.h"
#include "pty_session.h"

namespace {

// Loads a frame file held in a string; the reader's messages go to standard output.
MotionResult load_text(const std::string& text, Motion* motion, int idStart = 0, int idEnd = 31)
{
    std::FILE* file = std::tmpfile();
    std::fputs(text.c_str(), file);
    std::rewind(file);
    MotionResult result = load_motion(file, "test.csv", idStart, idEnd, motion);
    std::fclose(file);
    return result;
}

std::string write_file(const std::string& dir, const std::string& name, const std::string& text)
{
    std::string path = dir + "/" + name;
    std::ofstream(path) << text;
    return path;
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A small XML well-formedness check: tags nest and close, attributes are quoted, no stray '<' or '&'.
bool well_formed_xml(const std::string& text, std::string* why)
{
    std::vector<std::string> open;
    std::size_t i = 0;
    if (text.compare(0, 5, "<?xml") == 0)
        i = text.find("?>") + 2;
    bool root_seen = false;
    while (i < text.size()) {
        if (text[i] == '&') {
            std::size_t semi = text.find(';', i);
            std::string entity = text.substr(i, semi - i + 1);
            if (entity != "&amp;" && entity != "&lt;" && entity != "&gt;" && entity != "&quot;") {
                *why = "bad entity at " + std::to_string(i);
                return false;
            }
        }
        if (text[i] != '<') {
            ++i;
            continue;
        }
        std::size_t end = text.find('>', i);
        if (end == std::string::npos) {
            *why = "unclosed tag";
            return false;
        }
        std::string tag = text.substr(i + 1, end - i - 1);
        if (tag.find('<') != std::string::npos) {
            *why = "'<' inside a tag";
            return false;
        }
        if (tag[0] == '/') {
            if (open.empty() || open.back() != tag.substr(1)) {
                *why = "mismatched </" + tag;
                return false;
            }
            open.pop_back();
        } else {
            static const std::regex element(R"(^([A-Za-z][\w:-]*)(\s+[\w:-]+="[^"<]*")*\s*/?$)");
            if (!std::regex_match(tag, element)) {
                *why = "bad tag <" + tag + ">";
                return false;
            }
            if (open.empty() && root_seen) {
                *why = "second root";
                return false;
            }
            root_seen = true;
            if (tag.back() != '/')
                open.push_back(tag.substr(0, tag.find_first_of(" \t\n")));
        }
        i = end + 1;
    }
    if (!open.empty()) {
        *why = "unclosed <" + open.back() + ">";
        return false;
    }
    return root_seen;
}

} // namespace

TEST(FrameplotSummary, RecordedFileWithAFailedRead)
{
    testing::internal::CaptureStdout();
    Motion m;
    MotionResult r = load_text("FILETYPE: AbsoluteSpeeds; AbsolutePositions\n"
                               "        1,  2,\n"
                               "  16, [  0]512,[ 12]498,\n"
                               "  31, [  0]530,[rxT]rxT,\n"
                               "  20, [  0]500,[ 10]520,\n",
                               &m);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(r, MOTION_COMPLETE);
    ASSERT_EQ(m.delays.size(), 3u);
    EXPECT_EQ(motion_duration_ms(m), 67);
    EXPECT_EQ(frame_time_ms(m, 2), 47);
    ServoSummary s1 = summarise_servo(m, 0);
    EXPECT_EQ(s1.lowest, 500);
    EXPECT_EQ(s1.highest, 530);
    EXPECT_EQ(s1.largestStep, 30); // 530 -> 500
    EXPECT_EQ(s1.unread, 0);
    ServoSummary s2 = summarise_servo(m, 1);
    EXPECT_EQ(s2.lowest, 498);
    EXPECT_EQ(s2.highest, 520);
    EXPECT_EQ(s2.largestStep, 0); // the failed read breaks the chain of neighbours
    EXPECT_EQ(s2.unread, 1);
}

TEST(FrameplotSummary, PositionTypesAndIdFilter)
{
    testing::internal::CaptureStdout();
    Motion m;
    MotionResult r = load_text(
        "FILETYPE: AbsolutePositions\n1 2 3\n100 500 600 700\n100 510 640 700\n", &m, 2, 3);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(r, MOTION_COMPLETE);
    ASSERT_EQ(m.header.idListSize, 2);
    EXPECT_EQ(summarise_servo(m, 0).largestStep, 40);
    EXPECT_EQ(summarise_servo(m, 1).highest, 700);
}

TEST(FrameplotSummary, RelativeFilesAreOffsetsAroundZero)
{
    for (const char* type :
         {"FILETYPE: RelativePositions", "FILETYPE: AbsoluteSpeeds; RelativePositions"}) {
        bool speeds = std::string(type).find("Speeds") != std::string::npos;
        std::string lines = speeds ? "10 [5]-20 [5]0\n10 [5]30 [5]-5\n" : "10 -20 0\n10 30 -5\n";
        testing::internal::CaptureStdout();
        Motion m;
        MotionResult r = load_text(std::string("//comment\n") + type + "\n4 5\n" + lines, &m);
        testing::internal::GetCapturedStdout();
        ASSERT_EQ(r, MOTION_COMPLETE) << type;
        ServoSummary s = summarise_servo(m, 0);
        EXPECT_EQ(s.lowest, -20) << type;
        EXPECT_EQ(s.highest, 30) << type;
        EXPECT_EQ(s.largestStep, 50) << type;
    }
}

TEST(FrameplotSummary, MismatchedLineKeepsTheFramesBeforeIt)
{
    testing::internal::CaptureStdout();
    Motion m;
    MotionResult r =
        load_text("FILETYPE: AbsolutePositions\n1 2\n10 100 200\n10 100\n10 100 200\n", &m);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(r, MOTION_BAD_LINE);
    EXPECT_EQ(m.delays.size(), 1u);
    EXPECT_NE(out.find("ERROR: idListSize 2 != posListSize 1\n"), std::string::npos);
}

TEST(FrameplotSummary, OnlyBlankLinesLeftEndTheFileUnlessNoIdIsListed)
{
    const std::string frames = "FILETYPE: AbsolutePositions\n1 2\n10 100 200\n20 110 190\n";
    testing::internal::CaptureStdout();
    Motion plain, blanks, noIds;
    load_text(frames, &plain);
    EXPECT_EQ(load_text(frames + "\n\r\n \n", &blanks), MOTION_COMPLETE);
    // With an empty id list a blank line is a frame of 500 ms, as it always was.
    EXPECT_EQ(load_text("FILETYPE: AbsolutePositions\n\n\n\r\n", &noIds), MOTION_COMPLETE);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(blanks.delays, plain.delays) << out;
    EXPECT_EQ(blanks.positions, plain.positions);
    EXPECT_EQ(noIds.delays, (std::vector<int>{500, 500}));
}

TEST(FrameplotTool, ReadsNoKeysAndLeavesTheTerminalModeAlone)
{
    // While it waits for a FIFO's writer, the terminal is still as it was found.
    std::string fifo = harness::temp_dir() + "/later.csv";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    harness::PtySession s;
    ASSERT_TRUE(s.start({harness::bin_path("frameplot"), fifo, "-o", fifo + ".svg"}));
    ASSERT_TRUE(s.wait_for("usage: frameplot")) << s.output();
    EXPECT_TRUE(s.terminal_restored());
    std::ofstream(fifo) << "FILETYPE: AbsolutePositions\n1\n10 100\n";
    EXPECT_EQ(s.wait_exit(), 0) << s.output();
    EXPECT_TRUE(s.terminal_restored());
}

TEST(FrameplotTool, WritesAWellFormedPlotWithOneLanePerServoAndMarksFailedReads)
{
    std::string dir = harness::temp_dir();
    std::string csv = write_file(dir, "walk.csv",
                                 "FILETYPE: AbsoluteSpeeds; AbsolutePositions\n"
                                 "        1,  2,  3,  40,\n"
                                 "  16, [  0]512,[ 12]498,[rxT]rxT,[  0]  7,\n"
                                 "  31, [  0]2000,[ 10]501,[  0]300,[  0]  8,\n"
                                 "  31, [  0]-5,[rxC]rxC,[  0]310,[  0]  9,\n");
    harness::RunResult r = harness::run({harness::bin_path("frameplot"), csv});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("Warning: Found a bad Motor value of 'rxT' in file '" + csv + "'!\n"),
              std::string::npos);
    EXPECT_NE(r.output.find("Frames: 3\nDuration: 78 ms (0.078 s)\n"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("Plot written to '" + dir + "/walk.svg'.\n"), std::string::npos)
        << r.output;

    std::string svg = read_file(dir + "/walk.svg");
    std::string why;
    ASSERT_TRUE(well_formed_xml(svg, &why)) << why;

    // Ids 1, 2 and 3 are kept (0..31); 40 is filtered out as playback would.
    std::regex lane(
        R"re(<g class="lane" data-id="(\d+)" data-top="([\d.]+)" data-bottom="([\d.]+)">([\s\S]*?)</g>)re");
    std::vector<std::string> ids, scales;
    int unread = 0;
    for (auto it = std::sregex_iterator(svg.begin(), svg.end(), lane); it != std::sregex_iterator();
         ++it) {
        ids.push_back((*it)[1]);
        double top = std::stod((*it)[2]), bottom = std::stod((*it)[3]);
        std::string body = (*it)[4];
        EXPECT_NE(body.find(">id " + std::string((*it)[1]) + "</text>"), std::string::npos);
        std::regex point(R"re(<circle class="point" cx="[\d.]+" cy="([\d.-]+)")re");
        std::regex label(R"re(<text class="scale"[^>]*>(-?\d+)</text>)re");
        std::string scale;
        for (auto l = std::sregex_iterator(body.begin(), body.end(), label);
             l != std::sregex_iterator(); ++l)
            scale += std::string((*l)[1]) + " ";
        int points = 0;
        double highest = bottom, lowest = top;
        for (auto p = std::sregex_iterator(body.begin(), body.end(), point);
             p != std::sregex_iterator(); ++p) {
            double y = std::stod((*p)[1]);
            EXPECT_GE(y, top);
            EXPECT_LE(y, bottom);
            highest = std::min(highest, y), lowest = std::max(lowest, y);
            ++points;
        }
        char share[32]; // where the highest and lowest points stand, from the lane's top
        std::snprintf(share, sizeof share, "%.2f %.2f", (highest - top) / (bottom - top),
                      (lowest - top) / (bottom - top));
        scales.push_back(scale + share);
        std::regex mark(R"(<rect class="unread"[^>]*fill="red")");
        int marks = static_cast<int>(std::distance(
            std::sregex_iterator(body.begin(), body.end(), mark), std::sregex_iterator()));
        EXPECT_EQ(points + marks, 3) << "lane " << (*it)[1];
        unread += marks;
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"1", "2", "3"}));
    // Each lane spans its positions (at least 20 units) and 5 % of that above and below.
    EXPECT_EQ(scales, (std::vector<std::string>{"2000 -5 0.05 0.95", "501 498 0.43 0.57",
                                                "310 300 0.27 0.73"}));
    EXPECT_EQ(unread, 2); // servo 3's rxT and servo 2's rxC
}

TEST(FrameplotTool, AMotiontapeFileIsLabelledInDegreesByModel)
{
    std::string dir = harness::temp_dir();
    std::string csv = write_file(dir, "models.csv",
                                 "// motiontape protocol 1 bps 1000000 models 29 12 29\n"
                                 "FILETYPE: AbsolutePositions\n"
                                 "1, 2, 40,\n"
                                 "10, 2048, 512, 1\n"
                                 "10, 4095, 0, 1\n");
    ASSERT_EQ(harness::run({harness::bin_path("frameplot"), csv}).status, 0);
    std::string svg = read_file(dir + "/models.svg");
    std::regex label(R"re(<text class="scale"[^>]*>([^<]*)</text>)re");
    std::string labels;
    for (auto l = std::sregex_iterator(svg.begin(), svg.end(), label); l != std::sregex_iterator();
         ++l)
        labels += std::string((*l)[1]) + " ";
    // 360/4096 and 300/1024 degrees a step; column 40 is filtered out.
    EXPECT_EQ(labels, "359.9\u00b0 180.0\u00b0 150.0\u00b0 0.0\u00b0 ");
}

TEST(FrameplotTool, ALongRecordingKeepsEachUnitsLowestAndHighestAndOneRedMark)
{
    // 910 units wide: 1820 frames of 1 ms draw every frame; 20,000 keep per unit servo 1's
    // lowest and highest (spikes to 900 and 100 among them), servo 2's one value and red mark.
    for (int frames : {1820, 20000}) {
        std::string text = "FILETYPE: AbsolutePositions\n1 2\n", dir = harness::temp_dir();
        for (int f = 0; f < frames; ++f) {
            int v = f == frames / 2 ? 900 : f == frames / 3 ? 100 : 500 + f % 10;
            text += "1 " + std::to_string(v) + (f % 3 ? " 7\n" : " x\n");
        }
        std::string csv = write_file(dir, "long.csv", text);
        ASSERT_EQ(harness::run({harness::bin_path("frameplot"), csv}).status, 0);
        std::string svg = read_file(dir + "/long.svg");
        std::size_t second = svg.find("data-id=\"2\"");
        auto count = [&](const char* what, std::size_t from, std::size_t to) {
            int n = 0;
            for (std::size_t at = svg.find(what, from); at < to; at = svg.find(what, at + 1))
                ++n;
            return n;
        };
        // Servo 1's points and spikes, servo 2's points and red marks.
        std::vector<int> counts{count("<circle", 0, second), count("cy=\"44.09\"", 0, second),
                                count("cy=\"125.91\"", 0, second),
                                count("<circle", second, svg.size()),
                                count("unread", second, svg.size())};
        EXPECT_EQ(counts, (frames == 1820 ? std::vector<int>{1820, 1, 1, 1213, 607}
                                          : std::vector<int>{1820, 1, 1, 910, 910}));
    }
}

TEST(FrameplotTool, ReaderErrorsAndBadOutputEndWithStatusOne)
{
    std::string dir = harness::temp_dir();
    std::string bad = write_file(dir, "bad.csv", "FILETYPE: Nonsense\n1 2\n");
    harness::RunResult r = harness::run({harness::bin_path("frameplot"), bad});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(
        r.output.find("Got unknown file type 'FILETYPE: Nonsense' on 1st line of '" + bad + "'.\n"),
        std::string::npos);

    std::string cut =
        write_file(dir, "cut.csv", "FILETYPE: AbsolutePositions\n1\n10 100\n\n10 200\n");
    r = harness::run({harness::bin_path("frameplot"), "-o", dir + "/cut.svg", cut});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("ERROR: idListSize 1 != posListSize 0\n"), std::string::npos);
    EXPECT_NE(r.output.find("Frames: 1\n"), std::string::npos);
    EXPECT_FALSE(read_file(dir + "/cut.svg").empty());

    std::string good = write_file(dir, "good.csv", "FILETYPE: AbsolutePositions\n1\n10 100\n");
    r = harness::run({harness::bin_path("frameplot"), good, "-o", dir + "/no/such/dir/x.svg"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("ERROR: Couldn't write the plot to '" + dir + "/no/such/dir/x.svg'!\n"),
              std::string::npos);

    // Never over its frame file (another spelling, a link); a default place unwritable: -o.
    ASSERT_EQ(symlink(good.c_str(), (dir + "/good.svg").c_str()), 0);
    ASSERT_EQ(mkdir((dir + "/busy.svg").c_str(), 0700), 0);
    std::string busy = write_file(dir, "busy.csv", read_file(good));
    for (auto args : {std::vector<std::string>{good, "-o", dir + "/./good.csv"}, {good}, {busy}}) {
        args.insert(args.begin(), harness::bin_path("frameplot"));
        r = harness::run(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.output.find("give -o"), std::string::npos) << r.output;
    }
    EXPECT_EQ(read_file(good), "FILETYPE: AbsolutePositions\n1\n10 100\n");

    r = harness::run({harness::bin_path("frameplot")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output,
              "usage: frameplot <frameFileName> [<idStart> <idEnd>] [-o <out.svg>]\nbad args!\n");
    r = harness::run({harness::bin_path("frameplot"), good, "1", "1x"}); // ids must be numbers
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output.substr(r.output.find('\n')), "\nbad args!\n");
}
