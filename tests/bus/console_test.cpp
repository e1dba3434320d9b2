// The console calls in a real program under a pseudo-terminal: decoded keys, the
// terminal mode while it runs, and the mode given back on every way out.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <string>

#include "pty_session.h"

namespace {

using harness::PtySession;

// Starts the key probe and waits until it reads keys.
void start_probe(PtySession& session)
{
    ASSERT_TRUE(session.start({harness::bin_path("bus_key_probe")}));
    ASSERT_TRUE(session.wait_for("ready\n"));
}

// Types keys and returns exactly what the probe printed for them, once `expected`
// (or the time-out) is reached.
std::string type(PtySession& session, const std::string& keys, const std::string& expected)
{
    std::size_t mark = session.mark();
    session.send(keys);
    session.wait_for(expected, 5000, mark);
    return session.output_since(mark);
}

TEST(Console, KeysArriveDecodedWithoutEcho)
{
    PtySession session;
    start_probe(session);

    termios mode = session.attributes();
    EXPECT_EQ(mode.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(mode.c_iflag & (ICRNL | IXON), 0u);
    EXPECT_NE(mode.c_lflag & ISIG, 0u);
    EXPECT_NE(mode.c_oflag & OPOST, 0u);

    EXPECT_EQ(type(session, harness::KEY_ESC, "key 27\n"), "key 27\n");
    EXPECT_EQ(type(session, harness::KEY_UP, "key 72\n"), "key 224\nkey 72\n");
    EXPECT_EQ(type(session, harness::KEY_DOWN, "key 80\n"), "key 224\nkey 80\n");
    EXPECT_EQ(type(session, harness::KEY_UP_SS3, "key 72\n"), "key 224\nkey 72\n");
    EXPECT_EQ(type(session, harness::KEY_DOWN_SS3, "key 80\n"), "key 224\nkey 80\n");
    EXPECT_EQ(type(session, "\x1bx", "key 120\n"), "key 27\nkey 120\n");
    // An unknown sequence gives nothing: the next key is the first thing printed.
    EXPECT_EQ(type(session, "\x1b[25~z", "key 122\n"), "key 122\n");
    // Enter arrives as a carriage return, not translated.
    EXPECT_EQ(type(session, "\r", "key 13\n"), "key 13\n");
    EXPECT_EQ(type(session, "k", "polling\n"), "key 107\npolling\n");
    EXPECT_EQ(type(session, harness::KEY_ESC, "key 27\n"), "hit\nkey 27\n");

    session.send("q");
    EXPECT_EQ(session.wait_exit(), 0);
    EXPECT_TRUE(session.terminal_restored());
}

TEST(Console, TerminalModeRestoredOnEveryWayOut)
{
    struct Ending {
        const char* name;
        int signal; // 0: exit() from a second thread
        int status;
    };
    const Ending endings[] = {{"exit from a thread", 0, 3},
                              {"SIGINT", SIGINT, 128 + SIGINT},
                              {"SIGTERM", SIGTERM, 128 + SIGTERM},
                              {"SIGQUIT", SIGQUIT, 128 + SIGQUIT},
                              {"SIGHUP", SIGHUP, 128 + SIGHUP}};
    // SIGQUIT's default action would leave a core file behind.
    struct rlimit no_core = {0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    for (const Ending& ending : endings) {
        SCOPED_TRACE(ending.name);
        PtySession session;
        start_probe(session);
        ASSERT_FALSE(session.terminal_restored());
        if (ending.signal == 0)
            session.send("t");
        else
            session.signal(ending.signal);
        EXPECT_EQ(session.wait_exit(), ending.status);
        EXPECT_TRUE(session.terminal_restored());
    }
}

TEST(Console, PipedInputBytesAreKeysAndEndReadsAsEscape)
{
    harness::Process probe;
    ASSERT_TRUE(probe.start({harness::bin_path("bus_key_probe"), "count", "6"}, {}, "a\x1b[A"));
    EXPECT_EQ(probe.wait_exit(), 0);
    EXPECT_EQ(probe.stdout_text(), "key 97\nkey 27\nkey 91\nkey 65\nkey 27\nkey 27\nkbhit 0\n");
}

} // namespace
