// The frame file reader and writer, without any bus.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "frame_file.h"

namespace {

// A frame file held in a temporary stream.
struct TextFile {
    std::FILE* file;
    explicit TextFile(const std::string& text) : file(std::tmpfile())
    {
        std::fwrite(text.data(), 1, text.size(), file);
        std::rewind(file);
    }
    ~TextFile() { std::fclose(file); }
};

struct ReadResult {
    FrameHeaderResult result;
    FrameHeader header;
    std::string printed;
};

ReadResult read_header(const std::string& text, int idStart = 0, int idEnd = 31)
{
    TextFile source(text);
    ReadResult r;
    testing::internal::CaptureStdout();
    r.result = read_frame_header(source.file, idStart, idEnd, "walk.csv", &r.header);
    r.printed = testing::internal::GetCapturedStdout();
    return r;
}

std::string parse(const char* line, const FrameHeader& header, FrameLine* frame,
                  float speedScale = 1.0f, const int* starts = nullptr)
{
    testing::internal::CaptureStdout();
    read_frame_line(line, header, speedScale, starts, frame);
    return testing::internal::GetCapturedStdout();
}

const char RECORDED[] = "FILETYPE: AbsoluteSpeeds; AbsolutePositions\n"
                        "        1,  2,  3,\n"
                        "  16, [  0]512,[ 12]498,[rxT]rxT,\n"
                        "  31, [  0]512,[ 10]501,[  0]300,\n";

} // namespace

TEST(FrameTokens, SeparatorsAndConversion)
{
    char text[] = " 12,[ 0]rxT\t\"x\"\n,,-7 ";
    char* tokens[8];
    int count = split_frame_tokens(text, tokens, 8);
    ASSERT_EQ(count, 5);
    EXPECT_STREQ(tokens[0], "12");
    EXPECT_STREQ(tokens[1], "0");
    EXPECT_STREQ(tokens[2], "rxT");
    EXPECT_STREQ(tokens[3], "x");
    EXPECT_STREQ(tokens[4], "-7");

    int v = 0;
    EXPECT_TRUE(convert_frame_token("512.", &v) && convert_frame_token("500.7", &v));
    EXPECT_EQ(v, 500); // a spreadsheet's fraction is cut off
    EXPECT_TRUE(convert_frame_token("+5", &v));
    EXPECT_EQ(v, 5);
    EXPECT_TRUE(convert_frame_token("\r-40", &v));
    EXPECT_EQ(v, -40);
    EXPECT_TRUE(convert_frame_token("99999999999999999999", &v));
    EXPECT_EQ(v, 2147483647);
    EXPECT_TRUE(convert_frame_token("-99999999999999999999", &v));
    EXPECT_EQ(v, -2147483647 - 1);
    // Letters after the digits are a typo, not a number: "5OO" is not 5.
    for (const char* bad :
         {"rxT", "/", "FILETYPE:", "-", "+x", "", "5OO", "2x", "5e2", "1.2.", ".5"})
        EXPECT_FALSE(convert_frame_token(bad, &v)) << bad;
}

TEST(FrameFileReader, RecordedExample)
{
    TextFile source(RECORDED);
    FrameHeader header;
    testing::internal::CaptureStdout();
    ASSERT_EQ(read_frame_header(source.file, 0, 31, "walk.csv", &header), FRAME_HEADER_OK);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "FILETYPE: AbsoluteSpeeds; AbsolutePositions\n");
    EXPECT_TRUE(header.hasSpeeds);
    EXPECT_FALSE(header.relativePositions);
    ASSERT_EQ(header.idListSize, 3);
    EXPECT_EQ(header.idList[2], 3);

    FrameText line;
    ASSERT_TRUE(read_text_line(source.file, line));
    FrameLine frame;
    EXPECT_EQ(parse(line, header, &frame),
              "Warning: Found a bad Motor value of 'rxT' in file 'walk.csv'!\n"
              "Warning: Found a bad Motor value of 'rxT' in file 'walk.csv'!\n");
    EXPECT_EQ(frame.delay, 16);
    EXPECT_EQ(frame.posListSize, 3);
    EXPECT_EQ(frame.speeds[0], 15);
    EXPECT_EQ(frame.speeds[1], 15);
    EXPECT_EQ(frame.speeds[2], FRAME_BAD_VALUE);
    EXPECT_EQ(frame.positions[0], 512);
    EXPECT_EQ(frame.positions[1], 498);
    EXPECT_EQ(frame.positions[2], FRAME_BAD_VALUE);
    ASSERT_TRUE(read_text_line(source.file, line));
    EXPECT_TRUE(read_text_line(source.file, line) == false);
}

TEST(FrameFileReader, TypeLines)
{
    struct Case {
        const char* typeLine;
        bool hasSpeeds, relative;
    };
    for (const Case& c : {Case{"FILETYPE: AbsoluteSpeeds; AbsolutePositions\n", true, false},
                          Case{"FILETYPE: AbsolutePositions\r\n", false, false},
                          Case{"filetype: absolutespeeds; relativepositions\n", true, true},
                          Case{"\"FILETYPE: RelativePositions\"\n", false, true},
                          Case{"\"FILETYPE: RelativePositions\"\r\n", false, true},
                          Case{"FILETYPE: AbsolutePositions,,,\r\n", false, false},
                          Case{"\"FILETYPE: RelativePositions\",,\n", false, true},
                          Case{"\xEF\xBB\xBF/,\nFILETYPE: RelativePositions\n", false, true}}) {
        ReadResult r = read_header(std::string(c.typeLine) + "1\n");
        ASSERT_EQ(r.result, FRAME_HEADER_OK) << c.typeLine;
        EXPECT_EQ(r.header.hasSpeeds, c.hasSpeeds) << c.typeLine;
        EXPECT_EQ(r.header.relativePositions, c.relative) << c.typeLine;
    }
    ReadResult quoted = read_header("\"FILETYPE: RelativePositions\"\n1\n");
    EXPECT_EQ(quoted.printed, "FILETYPE: RelativePositions\n");

    ReadResult spaced = read_header("FILETYPE: AbsolutePositions \n1\n");
    EXPECT_EQ(spaced.result, FRAME_HEADER_UNKNOWN_TYPE);
    EXPECT_EQ(spaced.printed,
              "Got unknown file type 'FILETYPE: AbsolutePositions ' on 1st line of 'walk.csv'.\n");
    EXPECT_EQ(read_header("FILETYPE: AbsolutePositions ,,\n1\n").printed, spaced.printed);
}

TEST(FrameFileReader, HeaderFailuresAndComments)
{
    ReadResult empty = read_header("");
    EXPECT_EQ(empty.result, FRAME_HEADER_NO_IDS);
    EXPECT_EQ(empty.printed, "ERROR: Motors ID's weren't found in frame file 'walk.csv'!\n");

    ReadResult noIdLine = read_header("FILETYPE: AbsolutePositions\n");
    EXPECT_EQ(noIdLine.result, FRAME_HEADER_BAD_ID);
    EXPECT_EQ(noIdLine.printed, "FILETYPE: AbsolutePositions\n"
                                "ERROR: Found a bad Motor ID of 'FILETYPE:' in file 'walk.csv'!\n");

    for (const char* bad : {"255", "-2", "x", "2x"}) {
        ReadResult r = read_header(std::string("FILETYPE: AbsolutePositions\n1, ") + bad + ", 3\n");
        EXPECT_EQ(r.result, FRAME_HEADER_BAD_ID);
        EXPECT_NE(r.printed.find(std::string("bad Motor ID of '") + bad + "'"), std::string::npos)
            << r.printed;
    }

    ReadResult comments = read_header("// made by hand\n/x\nFILETYPE: RelativePositions\n 4, 5\n");
    ASSERT_EQ(comments.result, FRAME_HEADER_OK);
    EXPECT_EQ(comments.header.idListSize, 2);

    // Only comments: the last one stands as the type line.
    ReadResult onlyComments = read_header("/a\n/b\n");
    EXPECT_EQ(onlyComments.printed, "Got unknown file type '/b' on 1st line of 'walk.csv'.\n");
}

TEST(FrameFileReader, DroppedColumnsAndCounts)
{
    ReadResult r = read_header("FILETYPE: AbsolutePositions\n1, 2, 3\n", 2, 3);
    ASSERT_EQ(r.header.idListSize, 2);
    FrameLine frame;
    EXPECT_EQ(parse("100, 500, 600, 700\n", r.header, &frame), "");
    EXPECT_EQ(frame.posListSize, 2);
    EXPECT_EQ(frame.positions[0], 600);
    EXPECT_EQ(frame.positions[1], 700);

    parse("100, 500, 600, 700, 800\n", r.header, &frame);
    EXPECT_EQ(frame.posListSize, 3); // one above
    parse("100, 500, 600\n", r.header, &frame);
    EXPECT_EQ(frame.posListSize, 1); // one below

    parse("\n", r.header, &frame);
    EXPECT_EQ(frame.delay, FRAME_BLANK_DELAY);
    EXPECT_EQ(frame.posListSize, 0);

    // Lines beginning with '/' after the ID line are frame lines with a bad delay.
    EXPECT_EQ(parse("/ 1 2 3\n", r.header, &frame),
              "Warning: Found a bad movement delay value of '/' in file 'walk.csv'!\n");
    EXPECT_EQ(frame.delay, FRAME_BAD_DELAY);
    parse("-5 1 2 3\n", r.header, &frame);
    EXPECT_EQ(frame.delay, FRAME_BAD_DELAY);

    // A speed type whose last column lacks its position falls one short.
    ReadResult speeds = read_header("FILETYPE: AbsoluteSpeeds; AbsolutePositions\n1 2\n");
    parse("10 [5]100,[6]\n", speeds.header, &frame);
    EXPECT_EQ(frame.posListSize, 1);
}

TEST(FrameFileReader, SpeedScaling)
{
    ReadResult r = read_header("FILETYPE: AbsoluteSpeeds; AbsolutePositions\n1 2 3 4\n");
    FrameLine frame;
    parse("0 [41]1 [29]1 [30]1 [-40]1\n", r.header, &frame, 0.5f);
    EXPECT_EQ(frame.speeds[0], 20);
    EXPECT_EQ(frame.speeds[1], 15);
    EXPECT_EQ(frame.speeds[2], 15);
    EXPECT_EQ(frame.speeds[3], -20); // negatives are not raised
    // A huge scale saturates rather than overflowing.
    parse("0 [1000]1 [0]1 [1]1 [2]1\n", r.header, &frame, 1e30f);
    EXPECT_EQ(frame.speeds[0], 2147483647);
    EXPECT_EQ(frame.speeds[1], 15);
}

TEST(FrameFileValues, RecordedSpeedsKeepBits0To9AndPausesAreSinglePrecision)
{
    const int speeds[][2] = {{0, 0},       {511, 511}, {512, 512},  {700, 700},
                             {1023, 1023}, {1024, 0},  {1724, 700}, {2047, 1023}};
    for (const auto& c : speeds)
        EXPECT_EQ(recorded_speed(c[0]), c[1]) << c[0];
    EXPECT_EQ(frame_pause_ms(10, 0.7f), 7u); // 6.99999... in double
    EXPECT_EQ(frame_pause_ms(20, 0.35f), 7u);
}

TEST(FrameFileReader, RelativePositions)
{
    ReadResult r = read_header("FILETYPE: RelativePositions\n1 2 3\n");
    const int starts[] = {500, -1, 2147483000};
    FrameLine frame;
    EXPECT_EQ(parse("10, -20, 5, 1000\n", r.header, &frame, 1.0f, starts), "");
    EXPECT_EQ(frame.positions[0], 480);
    EXPECT_EQ(frame.positions[1], FRAME_BAD_VALUE); // start unknown: no base
    EXPECT_EQ(frame.positions[2], 2147483647);
    parse("10, abc, 0, 0\n", r.header, &frame, 1.0f, starts);
    EXPECT_EQ(frame.positions[0], FRAME_BAD_VALUE);
}

TEST(FrameFileReader, LineLengthAndLineEnds)
{
    std::string longLine(998, '1');
    std::string tooLong(999, '2');
    TextFile source(longLine + "\n" + tooLong + "\n" + std::string(998, '3') + "\r\n" + "a\rb\r\n" +
                    "last");
    FrameText line;
    ASSERT_TRUE(read_text_line(source.file, line));
    EXPECT_EQ(std::string(line), longLine + "\n");
    ASSERT_TRUE(read_text_line(source.file, line));
    EXPECT_EQ(std::string(line), tooLong);
    ASSERT_TRUE(read_text_line(source.file, line));
    EXPECT_EQ(std::string(line), "\n");
    ASSERT_TRUE(read_text_line(source.file, line));
    EXPECT_EQ(std::string(line), std::string(998, '3') + "\n"); // CR does not count
    ASSERT_TRUE(read_text_line(source.file, line));
    EXPECT_EQ(std::string(line), "a\rb\n"); // a lone CR stays
    ASSERT_TRUE(read_text_line(source.file, line));
    EXPECT_EQ(std::string(line), "last");
    EXPECT_FALSE(read_text_line(source.file, line));

    // A CRLF file reads as its LF twin.
    ReadResult crlf = read_header("FILETYPE: AbsolutePositions\r\n1, 2\r\n");
    ASSERT_EQ(crlf.result, FRAME_HEADER_OK);
    EXPECT_EQ(crlf.header.idListSize, 2);
}

TEST(FrameFileReader, IdListStopsStoringAt256)
{
    std::string ids = "FILETYPE: AbsolutePositions\n";
    for (int i = 0; i < 300; ++i)
        ids += std::to_string(i % 10) + " ";
    ReadResult r = read_header(ids + "\n", 0, 254);
    ASSERT_EQ(r.result, FRAME_HEADER_OK);
    EXPECT_EQ(r.header.idListSize, 300);
    EXPECT_EQ(r.header.idList[255], 5);
}

TEST(FrameFileWriter, WritesWhatTheReaderReads)
{
    std::FILE* file = std::tmpfile();
    const int ids[] = {1, 2, 3};
    const char* speeds[] = {"  0", " 12", "rxT"};
    const char* positions[] = {"512", "498", "rxT"};
    write_frame_header(file, ids, 3);
    write_frame_line(file, 16, speeds, positions, 3);
    const char* speeds2[] = {"  0", " 10", "  0"};
    const char* positions2[] = {"512", "501", "300"};
    write_frame_line(file, 31, speeds2, positions2, 3);
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;)
        text += static_cast<char>(c);
    std::fclose(file);
    EXPECT_EQ(text, RECORDED);
}
