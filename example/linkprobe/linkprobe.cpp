// linkprobe: lists the USB devices the D2XX driver sees, then opens the first one, sets it up
// as a plain serial link (8 data bits, one stop bit, no parity, no flow control, 1 ms latency)
// and reports every step. Arguments other than -h, --help and --version are ignored; the
// exit status is 1 when a D2XX call it reports failed.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <new>

#include "arguments.h"
#include "ftd2xx.h"

static const char USAGE[] = "usage: linkprobe\n";

// The open device, null while none is open.
static FT_HANDLE ftHandle = nullptr;
// Set when a D2XX call failed and the failure was printed.
static bool call_failed = false;
// The device-information list. It lives until the process ends; keeping it reachable from
// here means leak checkers do not count it.
static FT_DEVICE_LIST_INFO_NODE* device_list = nullptr;

static void close_device()
{
    if (ftHandle != nullptr) {
        FT_Close(ftHandle);
        ftHandle = nullptr;
    }
}

static void print_device(DWORD index, const FT_DEVICE_LIST_INFO_NODE& node)
{
    printf("Dev %u:\n", (unsigned)index);
    printf("  Flags=0x%x\n", (unsigned)node.Flags);
    printf("  Type=0x%x\n", (unsigned)node.Type);
    printf("  ID=0x%x\n", (unsigned)node.ID);
    printf("  LocId=0x%x\n", (unsigned)node.LocId);
    // Bounded by the field, so a record without its NUL cannot run past it.
    printf("  SerialNumber=%.*s\n", (int)sizeof node.SerialNumber, node.SerialNumber);
    printf("  Description=%.*s\n", (int)sizeof node.Description, node.Description);
    // A handle is a pointer: all of it is printed, not just its low 32 bits.
    printf("  ftHandle=0x%" PRIxPTR "\n", (uintptr_t)node.ftHandle);
    printf("\n");
}

static void Test_ListDevices()
{
    // Zero unless the driver sets it, so a failed count lists nothing.
    DWORD numDevs = 0;

    printf("In Test_ListDevices().\n");
    FT_STATUS status = FT_CreateDeviceInfoList(&numDevs);
    if (status == FT_OK)
        printf("Number of USB devices is %u\n", (unsigned)numDevs);
    else {
        printf("ERROR: FT_CreateDeviceInfoList() returned %d!\n", (int)status);
        call_failed = true;
    }
    fflush(stdout);

    // Value-initialised, so a record the driver leaves unfilled prints as zeros.
    device_list = new (std::nothrow) FT_DEVICE_LIST_INFO_NODE[numDevs]();
    if (device_list == nullptr)
        return;
    status = FT_GetDeviceInfoList(device_list, &numDevs);
    if (status != FT_OK)
        return;

    for (DWORD i = 0; i < numDevs; i++)
        print_device(i, device_list[i]);
}

// Reports a failed step, closes the device and gives the failure result.
static int fail_step(const char* message)
{
    printf("%s", message);
    call_failed = true;
    close_device();
    return 0;
}

static int Test_OpenUSB()
{
    printf("In Test_OpenUSB().\n");
    close_device();

    if (FT_Open(0, &ftHandle) != FT_OK)
        return fail_step("Error with FT_Open()\n");
    if (FT_ResetDevice(ftHandle) != FT_OK)
        return fail_step("Error with FT_ResetDevice()\n");
    if (FT_SetDataCharacteristics(ftHandle, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE) != FT_OK)
        return fail_step("Error with FT_SetDataCharacteristics()\n");
    if (FT_SetFlowControl(ftHandle, FT_FLOW_NONE, 0, 0) != FT_OK)
        return fail_step("Error with FT_SetFlowControl()\n");

    UCHAR latency = 0;
    const UCHAR new_latency = 1;
    if (FT_GetLatencyTimer(ftHandle, &latency) == FT_OK)
        printf("LatencyTimer was %d, now is %d\n", latency, new_latency);
    if (FT_SetLatencyTimer(ftHandle, new_latency) != FT_OK)
        return fail_step("Error with FT_SetLatencyTimer()\n");

    if (FT_SetUSBParameters(ftHandle, 512, 0) != FT_OK)
        return fail_step("Error with FT_SetUSBParameters()\n");
    if (FT_SetTimeouts(ftHandle, 0, 0) != FT_OK)
        return fail_step("Error with FT_SetTimeouts()\n");
    if (FT_Purge(ftHandle, FT_PURGE_RX | FT_PURGE_TX) != FT_OK)
        return fail_step("Error with FT_Purge()\n");

    printf("Succesfully opened the USB Device.\n");
    return 1;
}

int main(int argc, char** argv)
{
    // Answered before the chip is touched: asking for help must not reset the adapter.
    if (arg_help_or_version(argc, argv, "linkprobe", USAGE))
        return 0;
    Test_ListDevices();
    Test_OpenUSB();
    close_device();
    return call_failed ? 1 : 0;
}
