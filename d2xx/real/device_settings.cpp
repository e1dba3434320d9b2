// The calls that set up an open port: reset, line settings, flow control, latency timer,
// USB transfer sizes, time-outs and buffer purges.
#include <ftdi.h>

#include "backend.h"

namespace {

using namespace d2xx;

FT_STATUS status_of(int result) { return result < 0 ? FT_IO_ERROR : FT_OK; }

// Transfer sizes are whole 64-byte USB packets, 64 bytes to 64 KiB.
bool valid_transfer_size(ULONG size) { return size >= 64 && size <= 65536 && size % 64 == 0; }

} // namespace

extern "C" {

FT_STATUS FT_API FT_ResetDevice(FT_HANDLE ftHandle)
{
    Device* device = find_device(ftHandle);
    if (device == nullptr)
        return FT_INVALID_HANDLE;
    return status_of(ftdi_usb_reset(device->ftdi));
}

FT_STATUS FT_API FT_SetDataCharacteristics(FT_HANDLE ftHandle, UCHAR WordLength, UCHAR StopBits,
                                           UCHAR Parity)
{
    Device* device = find_device(ftHandle);
    if (device == nullptr)
        return FT_INVALID_HANDLE;
    if ((WordLength != FT_BITS_7 && WordLength != FT_BITS_8) ||
        (StopBits != FT_STOP_BITS_1 && StopBits != FT_STOP_BITS_2) || Parity > FT_PARITY_SPACE)
        return FT_INVALID_PARAMETER;
    // The chip's codes for word length, stop bits and parity are the same numbers.
    return status_of(ftdi_set_line_property(device->ftdi, (ftdi_bits_type)WordLength,
                                            (ftdi_stopbits_type)StopBits,
                                            (ftdi_parity_type)Parity));
}

FT_STATUS FT_API FT_SetFlowControl(FT_HANDLE ftHandle, USHORT FlowControl, UCHAR XonChar,
                                   UCHAR XoffChar)
{
    Device* device = find_device(ftHandle);
    if (device == nullptr)
        return FT_INVALID_HANDLE;
    switch (FlowControl) {
    case FT_FLOW_NONE:
        return status_of(ftdi_setflowctrl(device->ftdi, SIO_DISABLE_FLOW_CTRL));
    case FT_FLOW_RTS_CTS:
        return status_of(ftdi_setflowctrl(device->ftdi, SIO_RTS_CTS_HS));
    case FT_FLOW_DTR_DSR:
        return status_of(ftdi_setflowctrl(device->ftdi, SIO_DTR_DSR_HS));
    case FT_FLOW_XON_XOFF:
        return status_of(ftdi_setflowctrl_xonxoff(device->ftdi, XonChar, XoffChar));
    default:
        return FT_INVALID_PARAMETER;
    }
}

FT_STATUS FT_API FT_GetLatencyTimer(FT_HANDLE ftHandle, PUCHAR pucTimer)
{
    Device* device = find_device(ftHandle);
    if (device == nullptr)
        return FT_INVALID_HANDLE;
    if (pucTimer == nullptr)
        return FT_INVALID_PARAMETER;
    unsigned char latency = 0;
    int result = ftdi_get_latency_timer(device->ftdi, &latency);
    if (result < 0)
        return FT_IO_ERROR;
    *pucTimer = latency;
    return FT_OK;
}

FT_STATUS FT_API FT_SetLatencyTimer(FT_HANDLE ftHandle, UCHAR ucTimer)
{
    Device* device = find_device(ftHandle);
    if (device == nullptr)
        return FT_INVALID_HANDLE;
    if (ucTimer == 0) // the chip's timer runs from 1 to 255 ms
        return FT_INVALID_PARAMETER;
    return status_of(ftdi_set_latency_timer(device->ftdi, ucTimer));
}

FT_STATUS FT_API FT_SetUSBParameters(FT_HANDLE ftHandle, ULONG ulInTransferSize,
                                     ULONG ulOutTransferSize)
{
    Device* device = find_device(ftHandle);
    if (device == nullptr)
        return FT_INVALID_HANDLE;
    // An out-transfer size of 0 leaves it as it is.
    if (!valid_transfer_size(ulInTransferSize) ||
        (ulOutTransferSize != 0 && !valid_transfer_size(ulOutTransferSize)))
        return FT_INVALID_PARAMETER;
    if (ftdi_read_data_set_chunksize(device->ftdi, ulInTransferSize) < 0)
        return FT_IO_ERROR;
    if (ulOutTransferSize != 0 &&
        ftdi_write_data_set_chunksize(device->ftdi, ulOutTransferSize) < 0)
        return FT_IO_ERROR;
    return FT_OK;
}

FT_STATUS FT_API FT_SetTimeouts(FT_HANDLE ftHandle, ULONG ReadTimeout, ULONG WriteTimeout)
{
    Device* device = find_device(ftHandle);
    if (device == nullptr)
        return FT_INVALID_HANDLE;
    // Kept for the data transfers. The control requests this library makes keep their own
    // bounded time-outs, so a time-out of 0 can never make a setting call wait forever.
    device->read_timeout = ReadTimeout;
    device->write_timeout = WriteTimeout;
    return FT_OK;
}

FT_STATUS FT_API FT_Purge(FT_HANDLE ftHandle, ULONG Mask)
{
    Device* device = find_device(ftHandle);
    if (device == nullptr)
        return FT_INVALID_HANDLE;
    bool rx = (Mask & FT_PURGE_RX) != 0;
    bool tx = (Mask & FT_PURGE_TX) != 0;
    if (rx && tx)
        return status_of(ftdi_tcioflush(device->ftdi));
    if (rx)
        return status_of(ftdi_tciflush(device->ftdi));
    if (tx)
        return status_of(ftdi_tcoflush(device->ftdi));
    return FT_OK;
}

} // extern "C"
