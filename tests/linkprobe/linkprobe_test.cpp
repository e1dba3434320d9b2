// linkprobe run as a user would, with the scripted D2XX backend in place of the real one:
// exact standard output, the exit status, and the log of D2XX calls on standard error.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "pty_session.h"

namespace {

struct ProbeRun {
    int status;
    std::string out;
    std::string log;
};

ProbeRun run_probe(const std::string& script, const std::string& argument = "")
{
    harness::Process process;
    std::vector<std::string> env = {std::string("LD_LIBRARY_PATH=") + D2XX_FAKE_DIR,
                                    "FAKE_D2XX=" + script};
    std::vector<std::string> argv = {harness::bin_path("linkprobe")};
    if (!argument.empty())
        argv.push_back(argument);
    EXPECT_TRUE(process.start(argv, env));
    int status = process.wait_exit(20000);
    return {status, process.stdout_text(), process.stderr_text()};
}

// The handle the fake gives device 0.
const std::string H = sizeof(void*) > 4 ? "0xfa4e00000100" : "0xfa4e0100";

std::string device_block(int index, const std::string& handle)
{
    std::string i = std::to_string(index);
    return "Dev " + i + ":\n  Flags=0x2\n  Type=0x5\n  ID=0x4036001\n  LocId=0x100" +
           std::to_string(index + 1) + "\n  SerialNumber=FK00000" + i +
           "\n  Description=Fake adapter " + i + "\n  ftHandle=" + handle + "\n\n";
}

const char* const LIST_HEAD = "In Test_ListDevices().\n";
const char* const OPEN_HEAD = "In Test_OpenUSB().\n";

// The log of a successful open and set-up of device 0, up to and including the purge.
std::string setup_log(int latency_status = 0)
{
    return "FT_Open(0, &" + H + ") = 0\n" + "FT_ResetDevice(" + H + ") = 0\n" +
           "FT_SetDataCharacteristics(" + H + ", 8, 0, 0) = 0\n" + "FT_SetFlowControl(" + H +
           ", 0, 0, 0) = 0\n" +
           (latency_status == 0 ? "FT_GetLatencyTimer(" + H + ", &16) = 0\n"
                                : "FT_GetLatencyTimer(" + H + ", &0) = 4\n") +
           "FT_SetLatencyTimer(" + H + ", 1) = 0\n" + "FT_SetUSBParameters(" + H +
           ", 512, 0) = 0\n" + "FT_SetTimeouts(" + H + ", 0, 0) = 0\n" + "FT_Purge(" + H +
           ", 3) = 0\n";
}

TEST(Linkprobe, OneDeviceListsOpensConfiguresAndClosesAtTheEnd)
{
    ProbeRun run = run_probe("latency=7");
    EXPECT_EQ(run.status, 0);
    // The handle is printed whole: cut to 32 bits it would read 0x100.
    EXPECT_EQ(run.out, std::string(LIST_HEAD) + "Number of USB devices is 1\n" +
                           device_block(0, H) + OPEN_HEAD + "LatencyTimer was 7, now is 1\n" +
                           "Succesfully opened the USB Device.\n");
    std::string log = "FT_CreateDeviceInfoList(&1) = 0\nFT_GetDeviceInfoList(list, &1) = 0\n" +
                      setup_log() + "FT_Close(" + H + ") = 0\n";
    log.replace(log.find("&16"), 3, "&7");
    EXPECT_EQ(run.log, log);
}

// Other arguments are ignored, as before: the probe runs.
TEST(Linkprobe, HelpAndVersionMakeNoD2xxCall)
{
    for (const char* word : {"-h", "--help", "--version", "x"}) {
        ProbeRun run = run_probe("", word);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.log.empty(), word[0] == '-') << word << ": " << run.out;
    }
}

TEST(Linkprobe, NoDeviceStillTriesToOpenAndClosesNothing)
{
    ProbeRun run = run_probe("devices=0");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, std::string(LIST_HEAD) + "Number of USB devices is 0\n" + OPEN_HEAD +
                           "Error with FT_Open()\n");
    EXPECT_EQ(run.log, "FT_CreateDeviceInfoList(&0) = 0\nFT_GetDeviceInfoList(list, &0) = 0\n"
                       "FT_Open(0, &0x0) = 2\n");
}

TEST(Linkprobe, FailedOpenMakesNoFurtherCall)
{
    ProbeRun run = run_probe("fail=FT_Open");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, std::string(LIST_HEAD) + "Number of USB devices is 1\n" +
                           device_block(0, H) + OPEN_HEAD + "Error with FT_Open()\n");
    EXPECT_EQ(run.log, "FT_CreateDeviceInfoList(&1) = 0\nFT_GetDeviceInfoList(list, &1) = 0\n"
                       "FT_Open(0, &0x0) = 4\n");
}

TEST(Linkprobe, TwoDevicesGiveTwoBlocksAndOnlyTheFirstIsOpened)
{
    ProbeRun run = run_probe("devices=2");
    EXPECT_EQ(run.status, 0);
    std::string second = sizeof(void*) > 4 ? "0xfa4e00000200" : "0xfa4e0200";
    EXPECT_EQ(run.out, std::string(LIST_HEAD) + "Number of USB devices is 2\n" +
                           device_block(0, H) + device_block(1, second) + OPEN_HEAD +
                           "LatencyTimer was 16, now is 1\nSuccesfully opened the USB Device.\n");
    EXPECT_EQ(run.log, "FT_CreateDeviceInfoList(&2) = 0\nFT_GetDeviceInfoList(list, &2) = 0\n" +
                           setup_log() + "FT_Close(" + H + ") = 0\n");
}

TEST(Linkprobe, FailedLatencyReadIsSilentAndTheSetUpGoesOn)
{
    ProbeRun run = run_probe("fail=FT_GetLatencyTimer");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, std::string(LIST_HEAD) + "Number of USB devices is 1\n" +
                           device_block(0, H) + OPEN_HEAD + "Succesfully opened the USB Device.\n");
    EXPECT_EQ(run.log, "FT_CreateDeviceInfoList(&1) = 0\nFT_GetDeviceInfoList(list, &1) = 0\n" +
                           setup_log(4) + "FT_Close(" + H + ") = 0\n");
}

// Each set-up step that fails prints its own message, closes the device at once and makes
// no later call.
TEST(Linkprobe, FailedSetUpStepClosesTheDeviceAndStops)
{
    const char* const steps[] = {"FT_ResetDevice",
                                 "FT_SetDataCharacteristics",
                                 "FT_SetFlowControl",
                                 "FT_SetLatencyTimer",
                                 "FT_SetUSBParameters",
                                 "FT_SetTimeouts",
                                 "FT_Purge"};
    for (const char* step : steps) {
        SCOPED_TRACE(step);
        ProbeRun run = run_probe(std::string("fail=") + step);
        EXPECT_EQ(run.status, 1);
        std::string latency_line = std::string(step) == "FT_ResetDevice" ||
                                           std::string(step) == "FT_SetDataCharacteristics" ||
                                           std::string(step) == "FT_SetFlowControl"
                                       ? ""
                                       : "LatencyTimer was 16, now is 1\n";
        EXPECT_EQ(run.out, std::string(LIST_HEAD) + "Number of USB devices is 1\n" +
                               device_block(0, H) + OPEN_HEAD + latency_line + "Error with " +
                               step + "()\n");
        // The log runs as in a full set-up up to the failing call, which is followed only by
        // the close.
        std::string full = setup_log();
        size_t at = full.find(std::string(step) + "(");
        ASSERT_NE(at, std::string::npos);
        size_t end = full.find('\n', at);
        std::string failed = full.substr(at, end - at);
        failed.replace(failed.size() - 1, 1, "4");
        EXPECT_EQ(run.log, "FT_CreateDeviceInfoList(&1) = 0\nFT_GetDeviceInfoList(list, &1) = 0\n" +
                               full.substr(0, at) + failed + "\nFT_Close(" + H + ") = 0\n");
    }
}

// A failed count is reported; the list is then read with a count of 0 and the open goes on.
// A failed list read ends the listing silently.
TEST(Linkprobe, ListingFailuresDoNotStopTheOpen)
{
    ProbeRun run = run_probe("fail=FT_CreateDeviceInfoList,devices=2");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, std::string(LIST_HEAD) + "ERROR: FT_CreateDeviceInfoList() returned 4!\n" +
                           OPEN_HEAD +
                           "LatencyTimer was 16, now is 1\nSuccesfully opened the USB Device.\n");
    EXPECT_EQ(run.log, "FT_CreateDeviceInfoList(&0) = 4\nFT_GetDeviceInfoList(list, &0) = 0\n" +
                           setup_log() + "FT_Close(" + H + ") = 0\n");

    run = run_probe("fail=FT_GetDeviceInfoList,fail=FT_Open");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, std::string(LIST_HEAD) + "Number of USB devices is 1\n" + OPEN_HEAD +
                           "Error with FT_Open()\n");
    EXPECT_EQ(run.log, "FT_CreateDeviceInfoList(&1) = 0\nFT_GetDeviceInfoList(list, &1) = 4\n"
                       "FT_Open(0, &0x0) = 4\n");
}

// Without LD_LIBRARY_PATH the program finds the default backend through its RUNPATH. Where
// no USB bus is visible (as in CI) the real backend lists nothing and the open fails. On a
// machine with USB the test is skipped: it would reset and reconfigure a real adapter, and
// take it from its serial driver while the probe runs.
TEST(Linkprobe, DefaultBackendWithoutAnAdapter)
{
    if (!D2XX_DEFAULT_IS_FAKE && access("/dev/bus/usb", F_OK) == 0)
        GTEST_SKIP() << "a USB bus is visible: not touching real adapters";
    harness::Process process;
    ASSERT_TRUE(process.start({harness::bin_path("linkprobe")},
                              {"LD_LIBRARY_PATH", "FAKE_D2XX=devices=0"}));
    EXPECT_EQ(process.wait_exit(20000), 1);
    std::string out = process.stdout_text();
    if (D2XX_DEFAULT_IS_FAKE) {
        EXPECT_NE(process.stderr_text().find("FT_Open(0, &0x0) = 2"), std::string::npos);
    } else {
        // The fake would have logged its calls.
        EXPECT_EQ(process.stderr_text().find("FT_CreateDeviceInfoList("), std::string::npos);
    }
    ASSERT_EQ(out.rfind("In Test_ListDevices().\nNumber of USB devices is ", 0), 0u) << out;
    if (out.find("Number of USB devices is 0\n") != std::string::npos) {
        EXPECT_EQ(out, std::string(LIST_HEAD) + "Number of USB devices is 0\n" + OPEN_HEAD +
                           "Error with FT_Open()\n");
    }
}

// Where libftdi1 was missing the default backend lists nothing unless scripted, and says
// once why: no device is shown that is not there.
TEST(Linkprobe, BuiltWithoutLibftdiListsNothingAndSaysSoOnce)
{
    harness::Process process;
    ASSERT_TRUE(process.start({harness::bin_path("linkprobe")},
                              {std::string("LD_LIBRARY_PATH=") + D2XX_NONE_DIR, "FAKE_D2XX"}));
    EXPECT_EQ(process.wait_exit(20000), 1);
    EXPECT_EQ(process.stdout_text(), std::string(LIST_HEAD) + "Number of USB devices is 0\n" +
                                         OPEN_HEAD + "Error with FT_Open()\n");
    const std::string err = process.stderr_text();
    EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
    EXPECT_NE(err.find("built without libftdi1"), std::string::npos) << err;
}

} // namespace
