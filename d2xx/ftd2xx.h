// Our declarations of the D2XX calls that linkprobe makes, with the types, record layout and
// constants of the USB chip vendor's published interface. On Windows they resolve to the
// vendor's FTD2XX.dll through an import library; elsewhere to our libftd2xx (a backend over
// libftdi1, or the scriptable fake used by the tests).
#ifndef KINETRON_FTD2XX_H
#define KINETRON_FTD2XX_H

#ifdef _WIN32
#include <windows.h> // DWORD, ULONG, UCHAR, USHORT: all of the widths below on Windows
#define FT_API WINAPI
#else
#include <stdint.h>
typedef uint32_t DWORD; // 32 bits everywhere, as on Windows
typedef uint32_t ULONG;
typedef uint16_t USHORT;
typedef unsigned char UCHAR;
typedef DWORD* LPDWORD;
typedef UCHAR* PUCHAR;
#define FT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef void* FT_HANDLE;
typedef ULONG FT_STATUS;

// Status values.
enum {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INSUFFICIENT_RESOURCES = 5,
    FT_INVALID_PARAMETER = 6,
    FT_INVALID_BAUD_RATE = 7,
    FT_OTHER_ERROR = 18
};

// Serial line settings.
#define FT_BITS_8 ((UCHAR)8)
#define FT_BITS_7 ((UCHAR)7)
#define FT_STOP_BITS_1 ((UCHAR)0)
#define FT_STOP_BITS_2 ((UCHAR)2)
#define FT_PARITY_NONE ((UCHAR)0)
#define FT_PARITY_ODD ((UCHAR)1)
#define FT_PARITY_EVEN ((UCHAR)2)
#define FT_PARITY_MARK ((UCHAR)3)
#define FT_PARITY_SPACE ((UCHAR)4)

#define FT_FLOW_NONE ((USHORT)0x0000)
#define FT_FLOW_RTS_CTS ((USHORT)0x0100)
#define FT_FLOW_DTR_DSR ((USHORT)0x0200)
#define FT_FLOW_XON_XOFF ((USHORT)0x0400)

#define FT_PURGE_RX 1
#define FT_PURGE_TX 2

// Device-information record flags and chip types.
#define FT_FLAGS_OPENED 1
#define FT_FLAGS_HISPEED 2

enum {
    FT_DEVICE_BM = 0,
    FT_DEVICE_AM = 1,
    FT_DEVICE_100AX = 2,
    FT_DEVICE_UNKNOWN = 3,
    FT_DEVICE_2232C = 4,
    FT_DEVICE_232R = 5,
    FT_DEVICE_2232H = 6,
    FT_DEVICE_4232H = 7,
    FT_DEVICE_232H = 8,
    FT_DEVICE_X_SERIES = 9
};

// One record of the device-information list.
typedef struct _ft_device_list_info_node {
    ULONG Flags;
    ULONG Type;
    ULONG ID; // vendor id in the high 16 bits, product id in the low 16
    DWORD LocId;
    char SerialNumber[16]; // NUL-terminated
    char Description[64];  // NUL-terminated
    FT_HANDLE ftHandle;    // the handle when this process has the device open, else null
} FT_DEVICE_LIST_INFO_NODE;

FT_STATUS FT_API FT_CreateDeviceInfoList(LPDWORD lpdwNumDevs);
FT_STATUS FT_API FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* pDest, LPDWORD lpdwNumDevs);
FT_STATUS FT_API FT_Open(int deviceNumber, FT_HANDLE* pHandle);
FT_STATUS FT_API FT_ResetDevice(FT_HANDLE ftHandle);
FT_STATUS FT_API FT_SetDataCharacteristics(FT_HANDLE ftHandle, UCHAR WordLength, UCHAR StopBits,
                                           UCHAR Parity);
FT_STATUS FT_API FT_SetFlowControl(FT_HANDLE ftHandle, USHORT FlowControl, UCHAR XonChar,
                                   UCHAR XoffChar);
FT_STATUS FT_API FT_GetLatencyTimer(FT_HANDLE ftHandle, PUCHAR pucTimer);
FT_STATUS FT_API FT_SetLatencyTimer(FT_HANDLE ftHandle, UCHAR ucTimer);
FT_STATUS FT_API FT_SetUSBParameters(FT_HANDLE ftHandle, ULONG ulInTransferSize,
                                     ULONG ulOutTransferSize);
FT_STATUS FT_API FT_SetTimeouts(FT_HANDLE ftHandle, ULONG ReadTimeout, ULONG WriteTimeout);
FT_STATUS FT_API FT_Purge(FT_HANDLE ftHandle, ULONG Mask);
FT_STATUS FT_API FT_Close(FT_HANDLE ftHandle);

#ifdef __cplusplus
}
#endif

#endif
