// PLAY on the simulated chain: console output, refused files and measured pauses.
#include <gtest/gtest.h>

#include <filesystem>

#include "posetape_common.h"

using namespace posetape_test;

namespace {

const char RECORDED[] = "FILETYPE: AbsoluteSpeeds; AbsolutePositions\n"
                        "        1,  2,  3,\n"
                        "  16, [  0]512,[ 12]498,[rxT]rxT,\n"
                        "  31, [  0]512,[ 10]501,[  0]300,\n";

std::string play_head(const std::string& path, const std::string& typeLine, const std::string& ids,
                      int speed = 50, const std::string& echoLine = "")
{
    return USAGE + "Playing '" + path + "'.\n" + (echoLine.empty() ? echo(path) : echoLine) +
           OPENED + "Opened file '" + path + "' for reading positions.\n" + typeLine + "\n" +
           "Found IDs: " + ids + ".\n" + "Reseting initial motor positions.\n" +
           "Setting the desired motor speeds to " + std::to_string(speed) + ".\n";
}

harness::RunResult play(const std::vector<std::string>& args, const std::string& options = "")
{
    std::vector<std::string> all{"PLAY"};
    all.insert(all.end(), args.begin(), args.end());
    harness::RunResult r = harness::run(posetape_args(all), {sim_env(options)}, 60000);
    r.output = mask_times(r.output);
    return r;
}

} // namespace

TEST(PosetapePlay, RecordedFileWithFailedValues)
{
    std::string path = write_file("walk.csv", RECORDED);
    harness::RunResult r = play({path});
    const std::string bad = "Warning: Found a bad Motor value of 'rxT' in file '" + path + "'!\n";
    EXPECT_EQ(r.output, play_head(path, "FILETYPE: AbsoluteSpeeds; AbsolutePositions", "1, 2, 3") +
                            bad + bad +
                            "Found Delay of 16 for Positions: 512,498,-9999.\n"
                            "Setting the motor speeds.  Moving the motors\n"
                            "Set motor [1] position to 512.\n"
                            "Set motor [2] position to 498.[####ms].\n"
                            "Found Delay of 31 for Positions: 512,501,300.\n"
                            "Setting the motor speeds.  Moving the motors\n"
                            "Set motor [1] position to 512.\n"
                            "Set motor [2] position to 501.\n"
                            "Set motor [3] position to 300.[####ms].\n"
                            "Resetting the desired motor speeds to 50.\n");
    EXPECT_EQ(r.status, 0);

    // Recorded speeds not wanted: parsed, never sent.
    harness::RunResult noSpeeds = play({path, "0", "31", "35", "1", "50", "no"});
    EXPECT_EQ(noSpeeds.output.find("Setting the motor speeds"), std::string::npos);
    EXPECT_NE(noSpeeds.output.find("Moving the motors\nSet motor [1] position to 512."),
              std::string::npos);
    EXPECT_EQ(noSpeeds.status, 0);
}

TEST(PosetapePlay, PositionsOnlyFileSendsNoSpeeds)
{
    std::string path =
        write_file("abs.csv", "FILETYPE: AbsolutePositions\n1, 2\n10, 0, 1024\n10, 400, 600\n");
    harness::RunResult r = play({path, "0", "31", "35", "1", "70", "yes"});
    EXPECT_EQ(r.output, play_head(path, "FILETYPE: AbsolutePositions", "1, 2", 70) +
                            "Found Delay of 10 for Positions: 0,1024.\n"
                            "Moving the motors[####ms].\n"
                            "Found Delay of 10 for Positions: 400,600.\n"
                            "Moving the motors\n"
                            "Set motor [1] position to 400.\n"
                            "Set motor [2] position to 600.[####ms].\n"
                            "Resetting the desired motor speeds to 70.\n");
    EXPECT_EQ(r.status, 0);
}

TEST(PosetapePlay, RefusedFilesEndWithStatusOne)
{
    // A blank line among the frame lines is refused before anything moves, without warnings.
    std::string blank = write_file(
        "blank.csv", "FILETYPE: AbsolutePositions\n1, 2, 3\n10, 1, x, 3\n\n10, 1, 2, 3\n");
    harness::RunResult r = play({blank});
    std::string head = play_head(blank, "FILETYPE: AbsolutePositions", "1, 2, 3");
    EXPECT_EQ(r.output,
              head.substr(0, head.find("Reseting")) + "ERROR: idListSize 3 != posListSize 0\n");
    EXPECT_EQ(r.status, 1);

    std::string unknown = write_file("unknown.csv", "FILETYPE: Positions\n1\n");
    r = play({unknown});
    EXPECT_EQ(r.output, USAGE + "Playing '" + unknown + "'.\n" + echo(unknown) + OPENED +
                            "Opened file '" + unknown + "' for reading positions.\n" +
                            "Got unknown file type 'FILETYPE: Positions' on 1st line of '" +
                            unknown + "'.\n");
    EXPECT_EQ(r.status, 1);

    std::string empty = write_file("empty.csv", "");
    EXPECT_EQ(play({empty}).status, 1);
    std::string badId = write_file("badid.csv", "FILETYPE: AbsolutePositions\n1, 255\n");
    EXPECT_EQ(play({badId}).status, 1);

    // At a baud number where no servo of the file listens, nothing more is sent.
    harness::Process nobody;
    ASSERT_TRUE(nobody.start(
        posetape_args({"PLAY", write_file("walk.csv", RECORDED), "0", "31", "7"}), {sim_env()}));
    EXPECT_EQ(nobody.wait_exit(20000), 1);
    std::string out = nobody.stdout_text();
    EXPECT_EQ(out.substr(out.find("Found")),
              "Found IDs: 1, 2, 3.\nReseting initial motor positions");
    EXPECT_NE(nobody.stderr_text().find("' answered at baud number 7;"), std::string::npos);

    // A motiontape file of protocol 2.0 or of a model outside model 12's family holds other
    // units: refused before any packet. One of model 12's family plays as any file.
    for (std::string models :
         {"2 bps 1000000 models 1060", "1 bps 1000000 models 12 29", "1 bps 1e6 models 12 12"}) {
        harness::Process p;
        std::string mt =
            write_file("mt.csv", "// motiontape protocol " + models +
                                     "\nFILETYPE: AbsolutePositions\n1, 2\n10, 9, 9\n");
        ASSERT_TRUE(p.start(posetape_args({"PLAY", mt}), {sim_env("trace")}));
        EXPECT_EQ(p.wait_exit(20000), 1);
        EXPECT_NE(p.stderr_text().find("line 1: "), std::string::npos) << p.stderr_text();
        EXPECT_EQ(p.stderr_text().find("->"), std::string::npos) << p.stderr_text();
    }
    EXPECT_EQ(play({write_file("mt12.csv", "// motiontape protocol 1 bps 55555 models 12 18\n"
                                           "FILETYPE: AbsolutePositions\n1, 2\n10, 500, 500\n")})
                  .status,
              0);

    std::string missing = harness::temp_dir() + "/missing.csv";
    r = play({missing});
    EXPECT_EQ(r.output, USAGE + "Playing '" + missing + "'.\n" + echo(missing) + OPENED +
                            "ERROR: Couldn't open file '" + missing + "' for reading positions!\n");
    EXPECT_EQ(r.status, 1);
}

TEST(PosetapePlay, EscAtTheTerminalStopsAfterTheFrameBeingSent)
{
    std::string path =
        write_file("slow.csv", "FILETYPE: AbsolutePositions\n1\n60000, 500\n0, 510\n");
    harness::PtySession s;
    ASSERT_TRUE(s.start(posetape_args({"PLAY", path}), {sim_env()}));
    ASSERT_TRUE(s.wait_for("Setting the desired motor speeds to 50.\n"));
    s.send("x"); // read and dropped
    ASSERT_TRUE(s.wait_for("ms].\n")) << s.output();
    s.send(harness::KEY_ESC);
    EXPECT_EQ(s.wait_exit(), 0);
    std::string out = mask_times(s.output());
    EXPECT_EQ(out.substr(out.find("to 500.")),
              "to 500.[####ms].\n\nResetting the desired motor speeds to 50.\n");

    // Not at a terminal, nothing is read: the ESC on standard input is left alone.
    harness::Process piped;
    ASSERT_TRUE(piped.start(posetape_args({"PLAY", path, "0", "31", "35", "0"}), {sim_env()},
                            harness::KEY_ESC));
    EXPECT_EQ(piped.wait_exit(20000), 0);
    EXPECT_NE(piped.stdout_text().find("to 510.["), std::string::npos) << piped.stdout_text();
}

TEST(PosetapePlay, HeaderWithoutFramesResetsSpeedsAtOnce)
{
    std::string path = write_file("noframes.csv", "FILETYPE: RelativePositions\n5, 6\n");
    harness::RunResult r = play({path});
    EXPECT_EQ(r.output, play_head(path, "FILETYPE: RelativePositions", "5, 6") +
                            "Resetting the desired motor speeds to 50.\n");
    EXPECT_EQ(r.status, 0);
}

TEST(PosetapePlay, FortySixServosPlayFortySevenAreRefused)
{
    std::string zeros = "10";
    for (int i = 0; i < 46; ++i)
        zeros += ", 0";
    std::string file46 =
        write_file("ids46.csv", "FILETYPE: RelativePositions\n" + id_line(1, 46) + zeros + "\n");
    harness::RunResult r = play({file46, "0", "100"}, "ids=1-46");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("Set motor [46] position to 512.[####ms].\n"
                            "Resetting the desired motor speeds to 50.\n"),
              std::string::npos)
        << r.output;

    std::string file47 = write_file("ids47.csv", "FILETYPE: RelativePositions\n" + id_line(1, 47));
    r = play({file47, "0", "100", "1"}, "ids=1-46");
    std::string ids;
    for (int id = 1; id <= 47; ++id)
        ids += (id > 1 ? ", " : "") + std::to_string(id);
    EXPECT_EQ(r.output,
              USAGE + "Playing '" + file47 + "'.\n" + echo(file47, 0, 100, 1) + OPENED +
                  "Opened file '" + file47 + "' for reading positions.\n" +
                  "FILETYPE: RelativePositions\nFound IDs: " + ids + ".\n" +
                  "WARNING!!! You have 47 Kinetron motors at baud rate 1. Max number of Kinetrons "
                  "that can be controlled by a single SYNC_WRITE packet is 46! Please modify the "
                  "code to use multiple SYNC_WRITE packets.\n");
    EXPECT_EQ(r.status, 1);
}

TEST(PosetapePlay, DelayFactorStretchesThePauses)
{
    std::string path = write_file("pauses.csv", "FILETYPE: AbsolutePositions\n1\n"
                                                "1000, 500\n1000, 510\n1000, 520\n");
    struct Case {
        const char* factor;
        int low, high; // wide: the machine may be busy
    };
    for (const Case& c : {Case{"0.5", 500, 900}, Case{"2", 2000, 2900}}) {
        harness::RunResult r = harness::run(
            posetape_args({"PLAY", path, "0", "31", "35", c.factor}), {sim_env()}, 60000);
        std::vector<int> times = move_times(r.output);
        ASSERT_EQ(times.size(), 3u) << r.output;
        // The first counts from the end of the settling pause; the others follow a frame's pause.
        for (std::size_t i = 1; i < times.size(); ++i) {
            EXPECT_GE(times[i], c.low) << "factor " << c.factor;
            EXPECT_LT(times[i], c.high) << "factor " << c.factor;
        }
    }
}

TEST(PosetapePlay, EverySamplePlaysOnTheDefaultChain)
{
    int played = 0;
    for (const auto& entry : std::filesystem::directory_iterator(harness::source_path("samples"))) {
        std::string path = entry.path().string();
        std::string text = read_file(path);
        ASSERT_GE(text.size(), 2u) << path;
        EXPECT_NE(text.substr(text.size() - 2), "\n\n") << path << " ends in a blank line";
        // Default arguments but for the pauses (a factor of 0 leaves the speeds as recorded).
        harness::RunResult r = play({path, "0", "31", "35", "0"});
        EXPECT_EQ(r.status, 0) << path;
        EXPECT_EQ(r.output.find("Warning"), std::string::npos) << path;
        EXPECT_NE(r.output.find("Resetting the desired motor speeds to 50.\n"), std::string::npos)
            << r.output;
        ++played;
    }
    EXPECT_GE(played, 3);
}
