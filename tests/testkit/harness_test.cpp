// The harness itself: if it misreads output or statuses, every end-to-end test lies.
#include "pty_session.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

using harness::PtySession;

TEST(PtySession, FoldsLineEndsAndReportsExitStatus)
{
    harness::RunResult r = harness::run({"/bin/sh", "-c", "printf 'a\\nb\\n'; exit 3"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.output, "a\nb\n");
}

TEST(PtySession, TypedKeysReachTheProgramAfterItsPrompt)
{
    PtySession s;
    ASSERT_TRUE(s.start(
        {"/bin/sh", "-c", "stty -echo; printf 'ready\\n'; read x; printf 'got %s\\n' \"$x\""}));
    ASSERT_TRUE(s.wait_for("ready\n"));
    std::size_t mark = s.mark();
    s.send("hello\n");
    EXPECT_EQ(s.wait_exit(), 0);
    EXPECT_EQ(s.output_since(mark), "got hello\n");
}

TEST(PtySession, SignalEndsTheProgramAndIsReported)
{
    PtySession s;
    ASSERT_TRUE(s.start({"/bin/sh", "-c", "printf 'up\\n'; exec sleep 30"}));
    ASSERT_TRUE(s.wait_for("up"));
    s.signal(SIGTERM);
    EXPECT_EQ(s.wait_exit(), 128 + SIGTERM);
}

TEST(PtySession, NoticesATerminalLeftInRawMode)
{
    PtySession s;
    ASSERT_TRUE(s.start({"/bin/sh", "-c", "stty raw -echo; printf 'done\\n'; exec sleep 30"}));
    ASSERT_TRUE(s.wait_for("done"));
    EXPECT_FALSE(s.terminal_restored());
    s.signal(SIGKILL);
    EXPECT_EQ(s.wait_exit(), 128 + SIGKILL);
}

TEST(PtySession, EnvironmentChangesReachTheProgram)
{
    harness::RunResult r = harness::run(
        {"/bin/sh", "-c", "printf '%s|%s\\n' \"$KT_A\" \"${HOME:-unset}\""}, {"KT_A=one", "HOME"});
    EXPECT_EQ(r.output, "one|unset\n");
}

TEST(Process, KeepsStandardOutputAndErrorApart)
{
    harness::Process p;
    ASSERT_TRUE(p.start({"/bin/sh", "-c", "read x; echo out $x; echo err >&2"}, {}, "in\n"));
    EXPECT_EQ(p.wait_exit(), 0);
    EXPECT_EQ(p.stdout_text(), "out in\n");
    EXPECT_EQ(p.stderr_text(), "err\n");
}

TEST(TempDir, GoneWhenItsProcessEndsAlsoAfterAFailure)
{
    std::string base = harness::temp_dir();
    auto fill_and_fail = [&] {
        setenv("TMPDIR", base.c_str(), 1);
        std::fclose(std::fopen((harness::temp_dir() + "/frames.csv").c_str(), "w"));
        std::exit(1);
    };
    EXPECT_EXIT(fill_and_fail(), testing::ExitedWithCode(1), "");
    EXPECT_EQ(rmdir(base.c_str()), 0) << "not empty: " << base; // the child's dir is gone
}
