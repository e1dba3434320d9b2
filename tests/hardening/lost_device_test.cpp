// The line goes dead under a running tool (servosim ended, as when a cable falls out):
// the tool keeps showing failure texts, still answers its keys, ends with its normal
// status, and waits out each exchange instead of spinning.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "hardening_common.h"
#include "pty_session.h"

using harness::PtySession;
using namespace hardening;

namespace {

const int WINDOW_MS = 2000;
// A tool that spins on a dead line uses a whole core; one that waits out every try uses
// a few per cent. The limit sits far from both.
const double CPU_SHARE_LIMIT = 0.35;

bool shows_failure(const std::string& text)
{
    for (const char* code : {"txF", "rxF", "rxT", "rxW", "rxC"})
        if (text.find(code) != std::string::npos)
            return true;
    return false;
}

long file_size(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

void end_device(harness::Servosim& sim, int signal_number)
{
    sim.process().signal(signal_number);
    ASSERT_NE(sim.process().wait_exit(10000), -1) << "servosim did not end";
}

// Watches the tool for WINDOW_MS with the device gone: what it printed meanwhile, and the
// share of one core it used.
struct Window {
    std::string printed;
    double cpu_share = -1;
    long file_growth = 0;
};

Window watch(PtySession& s, const std::string& file = std::string())
{
    Window w;
    std::size_t m = s.mark();
    long size0 = file.empty() ? 0 : file_size(file);
    double cpu0 = cpu_seconds_of(s.pid());
    auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(WINDOW_MS));
    double cpu1 = cpu_seconds_of(s.pid());
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (cpu0 >= 0 && cpu1 >= 0)
        w.cpu_share = (cpu1 - cpu0) / seconds;
    if (!file.empty())
        w.file_growth = file_size(file) - size0;
    w.printed = s.output_since(m);
    return w;
}

void report(const char* tool, const Window& w)
{
    std::printf("[ figures  ] %s, device gone for %d ms: CPU %.1f %% of a core, %zu bytes printed, "
                "file +%ld bytes\n",
                tool, WINDOW_MS, w.cpu_share * 100, w.printed.size(), w.file_growth);
}

void check_window(const Window& w)
{
    EXPECT_TRUE(shows_failure(w.printed)) << w.printed;
    if (w.cpu_share >= 0) {
        EXPECT_LT(w.cpu_share, CPU_SHARE_LIMIT);
    }
}

} // namespace

TEST(LostDevice, JointwatchShowsFailuresAndStillEndsOnEsc)
{
    for (int sig : {SIGKILL, SIGTERM}) {
        harness::Servosim sim("ids=1-3");
        ASSERT_FALSE(sim.device().empty());
        PtySession s;
        ASSERT_TRUE(s.start({harness::bin_path("jointwatch"), "1", "3", "35"}, {sim.env()}));
        ASSERT_TRUE(s.wait_for("|512 512 512 \n")) << s.output();
        end_device(sim, sig);
        std::size_t gone = s.mark();
        ASSERT_TRUE(s.wait_for_count("\n", 3, 10000, gone));
        Window w = watch(s);
        report(sig == SIGKILL ? "jointwatch (SIGKILL)" : "jointwatch (SIGTERM)", w);
        check_window(w);
        EXPECT_EQ(w.printed.find("TIMEOUT"), std::string::npos);
        s.send(harness::KEY_ESC);
        EXPECT_EQ(s.wait_exit(), 0) << s.output_since(gone);
        EXPECT_TRUE(s.terminal_restored());
    }
}

TEST(LostDevice, RecordingGoesOnWithCodesAndKeepsCompleteLines)
{
    harness::Servosim sim("ids=1-3,hand=wave");
    ASSERT_FALSE(sim.device().empty());
    std::string path = harness::temp_dir() + "/lost.csv";
    PtySession s;
    ASSERT_TRUE(
        s.start({harness::bin_path("posetape"), "REC", path, "1", "3", "35", "0"}, {sim.env()}));
    ASSERT_TRUE(s.wait_for_count("\n|[", 5)) << s.output();
    end_device(sim, SIGTERM);
    std::size_t gone = s.mark();
    ASSERT_TRUE(s.wait_for_count("\n|[", 2, 10000, gone));
    Window w = watch(s, path);
    report("posetape REC", w);
    check_window(w);
    // Frames go on, each written: a dead line must neither stop nor flood the file.
    EXPECT_GT(w.file_growth, 0);
    EXPECT_LT(w.file_growth, 200000);
    s.send(harness::KEY_ESC);
    EXPECT_EQ(s.wait_exit(), 0) << s.output_since(gone);
    EXPECT_TRUE(s.terminal_restored());

    std::string text = read_file(path);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    std::vector<std::string> lines = lines_of(text);
    ASSERT_GE(lines.size(), 8u);
    bool codes = false;
    for (std::size_t i = 2; i < lines.size(); ++i) {
        EXPECT_TRUE(is_recorded_line(lines[i], 3)) << lines[i];
        codes = codes || shows_failure(lines[i]);
    }
    EXPECT_TRUE(codes);
}

TEST(LostDevice, SwingtestStillAnswersItsQuitKey)
{
    harness::Servosim sim("ids=1-3");
    ASSERT_FALSE(sim.device().empty());
    PtySession s;
    ASSERT_TRUE(s.start({harness::bin_path("swingtest"), "2", "35", "400", "600"}, {sim.env()}));
    ASSERT_TRUE(s.wait_for_count("currTemp: ", 5)) << s.output();
    end_device(sim, SIGKILL);
    std::size_t gone = s.mark();
    ASSERT_TRUE(s.wait_for_count("currTemp: ", 3, 10000, gone));
    Window w = watch(s);
    report("swingtest", w);
    check_window(w);
    std::size_t m = s.mark();
    s.send(harness::KEY_ESC);
    ASSERT_TRUE(s.wait_for("Emergency stopped motor!\n", 10000, m)) << s.output_since(m);
    s.send("x");
    ASSERT_TRUE(s.wait_for("Press any key to terminate...\n", 10000, m)) << s.output_since(m);
    s.send("k");
    EXPECT_EQ(s.wait_exit(), 0) << s.output_since(m);
    EXPECT_TRUE(s.terminal_restored());
}

TEST(LostDevice, LinkspeedEndsWhenTheLineDoesNotReopen)
{
    // Through servosim's link, which it removes as it ends: the pty's own path may be
    // handed to another program's terminal at once.
    std::string link = harness::temp_dir() + "/line";
    harness::Process sim;
    ASSERT_TRUE(sim.start({harness::bin_path("servosim"), "ids=1-3", "--link", link}));
    ASSERT_TRUE(sim.wait_for_stdout("\n"));
    PtySession s;
    ASSERT_TRUE(
        s.start({harness::bin_path("linkspeed"), "1", "35", "35"}, {"KINETRON_DEVICE=" + link}));
    ASSERT_TRUE(s.wait_for_count("Trying again ...\n", 2)) << s.output();
    sim.signal(SIGTERM);
    EXPECT_EQ(s.wait_exit(), 1) << s.output();
    // (The library's reason, on standard error, shares the terminal.)
    const std::string last = "Failed to open USB2Kinetron!\n";
    std::string out = s.output();
    ASSERT_GE(out.size(), last.size());
    EXPECT_EQ(out.substr(out.size() - last.size()), last);
    EXPECT_TRUE(s.terminal_restored());
}

TEST(LostDevice, FactoryclearDoesNotReportADeadAdapterAsFinished)
{
    harness::Servosim sim("ids=1");
    harness::Process p;
    ASSERT_TRUE(p.start({harness::bin_path("factoryclear"), "1"}, {sim.env()}, "y"));
    ASSERT_TRUE(p.wait_for_stdout("Trying at baudrate 1 (")) << p.stdout_text();
    end_device(sim, SIGKILL);
    EXPECT_EQ(p.wait_exit(20000), 1) << p.stdout_text();
    EXPECT_EQ(p.stdout_text().back(), '\n'); // the row of dots ends; no "Finished"
    EXPECT_EQ(p.stdout_text().find("Finished"), std::string::npos) << p.stdout_text();
    EXPECT_NE(p.stderr_text().find("the reset is not complete\n"), std::string::npos);
}
