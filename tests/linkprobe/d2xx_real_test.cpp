// The backend over libftdi1, called directly with what a careless caller might pass: it must
// refuse, never crash. Runs on any machine, with or without an adapter.
#include <gtest/gtest.h>

#include "ftd2xx.h"

namespace {

TEST(D2xxReal, HandlesNotFromOpenAreRefused)
{
    int not_a_device = 0;
    for (FT_HANDLE handle : {(FT_HANDLE) nullptr, (FT_HANDLE)&not_a_device}) {
        UCHAR latency = 0;
        EXPECT_EQ(FT_ResetDevice(handle), (FT_STATUS)FT_INVALID_HANDLE);
        EXPECT_EQ(FT_SetDataCharacteristics(handle, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE),
                  (FT_STATUS)FT_INVALID_HANDLE);
        EXPECT_EQ(FT_SetFlowControl(handle, FT_FLOW_NONE, 0, 0), (FT_STATUS)FT_INVALID_HANDLE);
        EXPECT_EQ(FT_GetLatencyTimer(handle, &latency), (FT_STATUS)FT_INVALID_HANDLE);
        EXPECT_EQ(FT_SetLatencyTimer(handle, 1), (FT_STATUS)FT_INVALID_HANDLE);
        EXPECT_EQ(FT_SetUSBParameters(handle, 512, 0), (FT_STATUS)FT_INVALID_HANDLE);
        EXPECT_EQ(FT_SetTimeouts(handle, 0, 0), (FT_STATUS)FT_INVALID_HANDLE);
        EXPECT_EQ(FT_Purge(handle, FT_PURGE_RX | FT_PURGE_TX), (FT_STATUS)FT_INVALID_HANDLE);
        EXPECT_EQ(FT_Close(handle), (FT_STATUS)FT_INVALID_HANDLE);
    }
}

TEST(D2xxReal, ListingAndOpeningCheckTheirArguments)
{
    EXPECT_EQ(FT_CreateDeviceInfoList(nullptr), (FT_STATUS)FT_INVALID_PARAMETER);
    DWORD count = 0;
    EXPECT_EQ(FT_GetDeviceInfoList(nullptr, &count), (FT_STATUS)FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_Open(0, nullptr), (FT_STATUS)FT_INVALID_PARAMETER);

    ASSERT_EQ(FT_CreateDeviceInfoList(&count), (FT_STATUS)FT_OK);
    // A caller that offers room for fewer records than there are gets only that many.
    FT_DEVICE_LIST_INFO_NODE one;
    DWORD room = 1;
    EXPECT_EQ(FT_GetDeviceInfoList(&one, &room), (FT_STATUS)FT_OK);
    EXPECT_EQ(room, count < 1 ? count : 1u);

    FT_HANDLE handle = nullptr;
    EXPECT_EQ(FT_Open(-1, &handle), (FT_STATUS)FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(FT_Open((int)count + 5, &handle), (FT_STATUS)FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(handle, nullptr);
}

} // namespace
