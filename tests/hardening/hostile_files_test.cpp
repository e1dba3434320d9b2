// Frame files that no recording wrote: binary data, NUL bytes, endless lines and id
// lists, numbers past the int range, foreign line ends, a directory and a FIFO. Each gets
// the reader's own messages, never a crash, a hang or memory that grows with the file.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "hardening_common.h"
#include "pty_session.h"

using namespace hardening;

namespace {

const std::string SIM = "KINETRON_DEVICE=sim";
// Memory a hostile file may add to a plain playback: below the 10 MB of the longest line,
// so that a reader that holds a whole line fails.
const long RSS_ALLOWANCE_KB = 6 * 1024;

std::string write_file(const std::string& name, const std::string& text)
{
    std::string path = harness::temp_dir() + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// PLAY without pauses (delayFactor 0), ids 0 to 31.
Measured play(const std::string& path, const std::vector<std::string>& more = {})
{
    std::vector<std::string> argv{
        harness::bin_path("posetape"), "PLAY", path, "0", "31", "35", "0"};
    argv.insert(argv.end(), more.begin(), more.end());
    return run_measured(argv, {SIM});
}

// What follows the "Opened file ..." line, or everything after the start-up lines when
// the file did not open; measured times as [####ms].
std::string after_open(const Measured& m)
{
    std::size_t at = m.output.find("for reading positions");
    if (at == std::string::npos)
        return m.output;
    at = m.output.rfind('\n', at);
    std::string rest = m.output.substr(at + 1);
    std::size_t line = rest.find('\n');
    if (rest.compare(0, 12, "Opened file ") == 0)
        rest.erase(0, line + 1);
    std::string masked;
    for (std::size_t p = 0; p < rest.size();) {
        std::size_t open = rest.find('[', p);
        std::size_t close = open == std::string::npos ? open : rest.find("ms]", open);
        if (close == std::string::npos || close - open > 12) {
            masked += rest.substr(p, open == std::string::npos ? open : open + 1 - p);
            if (open == std::string::npos)
                break;
            p = open + 1;
            continue;
        }
        masked += rest.substr(p, open - p) + "[####ms]";
        p = close + 3;
    }
    return masked;
}

long baseline_rss_kb()
{
    static long rss = 0;
    if (rss == 0) {
        std::string path =
            write_file("plain.csv", "FILETYPE: AbsolutePositions\n1,2,3\n10,500,600,700\n");
        rss = play(path).max_rss_kb;
    }
    return rss;
}

// The tests keep their own memory small (big files are written in pieces), so that the
// forked copy of this process, which counts toward the child's peak, stays small too.
void expect_bounded(const Measured& m)
{
    long floor = std::max(baseline_rss_kb(), m.parent_rss_kb);
    EXPECT_LT(m.max_rss_kb, floor + RSS_ALLOWANCE_KB) << "parent " << m.parent_rss_kb << " kB";
    std::printf("[ figures  ] peak resident size %ld kB (plain playback %ld kB)\n", m.max_rss_kb,
                baseline_rss_kb());
}

// Writes head, then `count` copies of `fill`, then tail, without holding the whole text.
std::string write_big_file(const std::string& name, const std::string& head, char fill,
                           std::size_t count, const std::string& tail)
{
    std::string path = harness::temp_dir() + "/" + name;
    std::ofstream out(path, std::ios::binary);
    out << head;
    std::string chunk(65536, fill);
    for (std::size_t done = 0; done < count; done += chunk.size())
        out.write(chunk.data(), static_cast<std::streamsize>(std::min(chunk.size(), count - done)));
    out << tail;
    return path;
}

const std::string HOLD =
    "Reseting initial motor positions.\nSetting the desired motor speeds to 50.\n";
const std::string RESET = "Resetting the desired motor speeds to 50.\n";

std::string pseudo_random_bytes(std::size_t count)
{
    std::string bytes(count, '\0');
    unsigned state = 12345;
    for (char& b : bytes) {
        state = state * 1103515245u + 12345u;
        b = static_cast<char>(state >> 16);
    }
    return bytes;
}

} // namespace

TEST(HostileFiles, BinaryDataIsAnUnknownTypeOrBadLinesNeverACrash)
{
    std::string noise = pseudo_random_bytes(1 << 16);
    noise[0] = '\x80'; // not a comment line
    std::string path = write_file("noise.csv", noise);
    Measured m = play(path);
    EXPECT_EQ(m.status, 1);
    std::string out = after_open(m);
    EXPECT_EQ(out.compare(0, 23, "Got unknown file type '"), 0) << out;
    std::string tail = "' on 1st line of '" + path + "'.\n";
    ASSERT_GE(out.size(), tail.size());
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
    expect_bounded(m);

    // The same noise as frame lines under a good header: warnings, then a refused line.
    path = write_file("noise_frames.csv", "FILETYPE: AbsolutePositions\n1\n" + noise);
    m = play(path);
    EXPECT_TRUE(m.status == 0 || m.status == 1) << m.status;
    for (const std::string& line : lines_of(after_open(m))) {
        bool known = false;
        for (const char* start : {"FILETYPE", "Found IDs", "Reseting", "Setting the desired",
                                  "Warning: Found a bad ", "Found Delay of ", "ERROR: idListSize ",
                                  "Moving the motors", "Set motor [", "Resetting"})
            known = known || line.compare(0, std::strlen(start), start) == 0;
        EXPECT_TRUE(known) << line;
    }
    expect_bounded(m);
}

TEST(HostileFiles, NulByteEndsTheTextOfItsLine)
{
    std::string text("FILETYPE: AbsolutePositions\n1,2\0,3\n100, 500\0,600,700\n", 53);
    Measured m = play(write_file("nul.csv", text));
    EXPECT_EQ(after_open(m), "FILETYPE: AbsolutePositions\nFound IDs: 1, 2.\n"
                             "ERROR: idListSize 2 != posListSize 1\n");
    EXPECT_EQ(m.status, 1);
}

TEST(HostileFiles, TenMegabyteLinesAreCutAt999Characters)
{
    const std::size_t TEN_MB = 10 * 1024 * 1024;
    Measured m = play(write_big_file("long_frame.csv", "FILETYPE: AbsolutePositions\n1,2,3\n100,",
                                     '5', TEN_MB, "\n100,1,2,3\n"));
    EXPECT_EQ(after_open(m), "FILETYPE: AbsolutePositions\nFound IDs: 1, 2, 3.\n"
                             "ERROR: idListSize 3 != posListSize 1\n");
    EXPECT_EQ(m.status, 1);
    expect_bounded(m);

    std::string path = write_big_file("long_type.csv", "", 'A', TEN_MB, "\n");
    m = play(path);
    EXPECT_EQ(after_open(m), "Got unknown file type '" + std::string(999, 'A') +
                                 "' on 1st line of '" + path + "'.\n");
    EXPECT_EQ(m.status, 1);
    expect_bounded(m);
}

TEST(HostileFiles, HundredThousandIdsStoreAtMost256AndCountTheKeptOnes)
{
    std::string ids;
    for (int i = 0; i < 100000; ++i)
        ids += std::to_string(i % 32) + ",";
    Measured m = play(write_file("ids.csv", "FILETYPE: AbsolutePositions\n" + ids + "\n"));
    // Only the first 999 characters form the ID line.
    std::string idLine = ids.substr(0, 999);
    int kept = 0;
    std::string shown;
    for (std::size_t p = 0; p < idLine.size();) {
        std::size_t comma = idLine.find(',', p);
        std::string token =
            idLine.substr(p, comma == std::string::npos ? std::string::npos : comma - p);
        if (kept < 256)
            shown += (kept == 0 ? "" : ", ") + token;
        ++kept;
        if (comma == std::string::npos)
            break;
        p = comma + 1;
    }
    ASSERT_GT(kept, 256);
    EXPECT_EQ(
        after_open(m),
        "FILETYPE: AbsolutePositions\nFound IDs: " + shown + ".\nWARNING!!! You have " +
            std::to_string(kept) +
            " Kinetron motors at baud rate 35. Max number of Kinetrons that can be controlled "
            "by a single SYNC_WRITE packet is 46! Please modify the code to use multiple "
            "SYNC_WRITE packets.\n");
    EXPECT_EQ(m.status, 1);
    expect_bounded(m);
}

TEST(HostileFiles, NumbersBeyondTheIntRangeSaturateAndAreNeverSent)
{
    Measured m = play(write_file("huge.csv", "FILETYPE: AbsolutePositions\n1,2,3\n"
                                             "99999999999999999999, 99999999999999999999, "
                                             "-99999999999999999999, 512\n"));
    EXPECT_EQ(after_open(m),
              "FILETYPE: AbsolutePositions\nFound IDs: 1, 2, 3.\n" + HOLD +
                  "Found Delay of 2147483647 for Positions: 2147483647,-2147483648,512.\n"
                  "Moving the motors\nSet motor [3] position to 512.[####ms].\n" +
                  RESET);
    EXPECT_EQ(m.status, 0);

    std::string path = write_file("huge_id.csv", "FILETYPE: AbsolutePositions\n1,4294967297\n");
    m = play(path);
    EXPECT_EQ(after_open(m), "FILETYPE: AbsolutePositions\nERROR: Found a bad Motor ID of "
                             "'4294967297' in file '" +
                                 path + "'!\n");
    EXPECT_EQ(m.status, 1);
}

TEST(HostileFiles, CrlfLineEndsAndAMissingFinalLineFeedReadAsPlainLines)
{
    std::string sample = read_file(harness::source_path("samples/sway_relative.csv"));
    ASSERT_FALSE(sample.empty());
    std::string crlf;
    for (char c : sample)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    std::string plain = harness::temp_dir() + "/sway.csv";
    std::string dos = harness::temp_dir() + "/sway.csv";
    std::ofstream(plain, std::ios::binary) << sample;
    std::ofstream(dos, std::ios::binary) << crlf;
    Measured a = play(plain), b = play(dos);
    EXPECT_EQ(a.status, 0);
    EXPECT_EQ(b.status, 0);
    EXPECT_EQ(after_open(b), after_open(a));

    std::string frames = "FILETYPE: AbsolutePositions\n1,2,3\n10,500,600,700\n20,510,610,710";
    std::string ended = harness::temp_dir() + "/last.csv";
    std::string open = harness::temp_dir() + "/last.csv";
    std::ofstream(ended, std::ios::binary) << frames << "\n";
    std::ofstream(open, std::ios::binary) << frames;
    Measured c = play(ended), d = play(open);
    EXPECT_EQ(d.status, 0);
    EXPECT_EQ(after_open(d), after_open(c));
    EXPECT_NE(after_open(d).find("Set motor [3] position to 710.[####ms].\n" + RESET),
              std::string::npos)
        << after_open(d);

    // Blank lines after the last frame, CRLF ones among them, end the file as its end does.
    std::string blanks = harness::temp_dir() + "/last.csv";
    std::ofstream(blanks, std::ios::binary) << frames << "\n\n\r\n \n";
    Measured e = play(blanks);
    EXPECT_EQ(e.status, 0);
    EXPECT_EQ(after_open(e), after_open(c));
}

TEST(HostileFiles, DirectoryIsAFileThatDoesNotOpen)
{
    std::string dir = harness::temp_dir() + "/frames.csv";
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    Measured m = play(dir);
    EXPECT_EQ(after_open(m), "ERROR: Couldn't open file '" + dir + "' for reading positions!\n");
    EXPECT_EQ(m.status, 1);

    // The plotter reads frame files the same way.
    m = run_measured({harness::bin_path("frameplot"), dir}, {});
    EXPECT_EQ(m.output, "usage: frameplot <frameFileName> [<idStart> <idEnd>] [-o <out.svg>]\n"
                        "ERROR: Couldn't open file '" +
                            dir + "' for reading positions!\n");
    EXPECT_EQ(m.status, 1);
}

namespace {

// Writes `text` into the FIFO once a reader has opened it; gives up after ten seconds so
// that a reader that never comes cannot hang the test.
void feed_fifo(const std::string& path, const std::string& text)
{
    auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int fd = -1;
    while (fd < 0 && std::chrono::steady_clock::now() < give_up) {
        fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd < 0 && errno == ENXIO)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        else if (fd < 0)
            return;
    }
    if (fd < 0)
        return;
    fcntl(fd, F_SETFL, 0);
    for (std::size_t done = 0; done < text.size();) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    close(fd);
}

} // namespace

TEST(HostileFiles, FifoPlaysLikeAFileAndAnEmptyOneHasNoIds)
{
    const std::string text = "FILETYPE: AbsolutePositions\n1,2,3\n10,500,600,700\n20,510,610,710\n";
    std::string regular = harness::temp_dir() + "/pipe.csv";
    std::ofstream(regular, std::ios::binary) << text;
    std::string fifo = harness::temp_dir() + "/pipe.csv";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

    std::thread writer(feed_fifo, fifo, text);
    Measured m = play(fifo);
    writer.join();
    EXPECT_EQ(m.status, 0);
    EXPECT_EQ(after_open(m), after_open(play(regular)));

    std::thread closer(feed_fifo, fifo, std::string());
    m = play(fifo);
    closer.join();
    EXPECT_EQ(after_open(m), "ERROR: Motors ID's weren't found in frame file '" + fifo + "'!\n");
    EXPECT_EQ(m.status, 1);
}

TEST(HostileFiles, RecordingOntoAFullDiskStopsAndSaysSo)
{
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full here";
    // Input at its end: only the write failure can stop this recording.
    harness::Process p;
    ASSERT_TRUE(p.start({harness::bin_path("posetape"), "REC", "/dev/full", "1", "3", "35", "0"},
                        {SIM + ":ids=1-3"}));
    EXPECT_EQ(p.wait_exit(10000), 1) << p.stdout_text();
    EXPECT_EQ(p.stderr_text(), "posetape: cannot write to '/dev/full': No space left on device\n");
    std::string out = p.stdout_text();
    // One frame, its row ended, and no other.
    const std::string end = "-\n|[  0 ]512 [  0 ]512 [  0 ]512 \n";
    ASSERT_GE(out.size(), end.size());
    EXPECT_EQ(out.substr(out.size() - end.size()), end);
}
