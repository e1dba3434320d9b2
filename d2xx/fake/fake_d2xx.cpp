// The scriptable stand-in for libftd2xx, for tests that run linkprobe without an adapter.
//
// FAKE_D2XX is a comma-separated list of options:
//   devices=N   devices listed (default 1)
//   fail=NAME   that function returns FT_IO_ERROR (4); may repeat
//   latency=N   the latency timer's value as read (default 16)
// Every call writes one line to standard error: NAME(arguments) = status. An out-pointer
// argument shows as '&' and the value it holds after the call.
//
// Built as the default backend where libftdi1 was missing (D2XX_WITHOUT_LIBFTDI), it lists
// no device unless FAKE_D2XX is set, logs no call, and says once on standard error why: a
// build without the real backend must never show an adapter that is not there.
//
// Device i is listed with fixed fields: Flags 0x2, Type 0x5, ID 0x4036001, LocId 0x1001 + i,
// SerialNumber "FK00000i", Description "Fake adapter i", and ftHandle the value FT_Open(i)
// hands out, which is wider than 32 bits on 64-bit systems so a printer that cuts handles
// short shows it.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "ftd2xx.h"

namespace {

struct Script {
    bool parsed = false;
    DWORD devices = 1;
    unsigned latency = 16;
    std::set<std::string> failing;
};

Script script;
DWORD listed = 0; // devices seen by the last successful FT_CreateDeviceInfoList
std::vector<bool> open_devices;
bool quiet = false; // no call log: the stand-in of a build without libftdi1, unscripted

bool parse_number(const std::string& text, unsigned long max, unsigned long* value)
{
    if (text.empty() || text.size() > 10)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    unsigned long v = std::strtoul(text.c_str(), nullptr, 10);
    if (v > max)
        return false;
    *value = v;
    return true;
}

void parse_script()
{
    if (script.parsed)
        return;
    script.parsed = true;
    const char* env = std::getenv("FAKE_D2XX");
#if defined(D2XX_WITHOUT_LIBFTDI)
    if (env == nullptr) {
        quiet = true;
        script.devices = 0;
        open_devices.clear();
        std::fputs("ftd2xx: this kit was built without libftdi1, so no USB device can be listed "
                   "or opened (install libftdi1-dev, then configure and build again)\n",
                   stderr);
        return;
    }
#endif
    std::string text = env ? env : "";
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos)
            end = text.size();
        std::string option = text.substr(start, end - start);
        start = end + 1;
        if (option.empty())
            continue;
        size_t eq = option.find('=');
        std::string key = option.substr(0, eq);
        std::string value = eq == std::string::npos ? "" : option.substr(eq + 1);
        unsigned long number = 0;
        if (key == "devices" && parse_number(value, 1000, &number))
            script.devices = (DWORD)number;
        else if (key == "latency" && parse_number(value, 255, &number))
            script.latency = (unsigned)number;
        else if (key == "fail" && !value.empty())
            script.failing.insert(value);
        else
            std::fprintf(stderr, "FAKE_D2XX: ignoring bad option '%s'\n", option.c_str());
    }
    open_devices.assign(script.devices, false);
}

FT_HANDLE handle_of(DWORD index)
{
    uintptr_t base = sizeof(void*) > 4 ? (uintptr_t)0xfa4e00000100ull : (uintptr_t)0xfa4e0100u;
    return (FT_HANDLE)(base + index * 0x100);
}

// Index of the open device behind a handle, or -1.
long open_index(FT_HANDLE handle)
{
    for (DWORD i = 0; i < script.devices; i++)
        if (handle == handle_of(i) && open_devices[i])
            return (long)i;
    return -1;
}

bool failing(const char* name) { return script.failing.count(name) != 0; }

std::string hex(FT_HANDLE handle)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%" PRIxPTR, (uintptr_t)handle);
    return text;
}

FT_STATUS log_call(const char* name, const std::string& arguments, FT_STATUS status)
{
    if (quiet)
        return status;
    std::string line = std::string(name) + "(" + arguments + ") = " + std::to_string(status) + "\n";
    std::fputs(line.c_str(), stderr);
    return status;
}

std::string out_dword(const DWORD* value) { return value ? "&" + std::to_string(*value) : "NULL"; }

// The common shape of the calls that take a handle and plain values.
FT_STATUS handle_call(const char* name, FT_HANDLE handle, const std::string& rest)
{
    parse_script();
    FT_STATUS status = FT_OK;
    if (open_index(handle) < 0)
        status = FT_INVALID_HANDLE;
    else if (failing(name))
        status = FT_IO_ERROR;
    return log_call(name, hex(handle) + rest, status);
}

} // namespace

extern "C" {

FT_STATUS FT_API FT_CreateDeviceInfoList(LPDWORD lpdwNumDevs)
{
    parse_script();
    FT_STATUS status = FT_OK;
    if (lpdwNumDevs == nullptr) {
        status = FT_INVALID_PARAMETER;
    } else if (failing("FT_CreateDeviceInfoList")) {
        status = FT_IO_ERROR; // the count stays as the caller left it
    } else {
        listed = script.devices;
        *lpdwNumDevs = listed;
    }
    return log_call("FT_CreateDeviceInfoList", out_dword(lpdwNumDevs), status);
}

FT_STATUS FT_API FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* pDest, LPDWORD lpdwNumDevs)
{
    parse_script();
    FT_STATUS status = FT_OK;
    if (pDest == nullptr || lpdwNumDevs == nullptr) {
        status = FT_INVALID_PARAMETER;
    } else if (failing("FT_GetDeviceInfoList")) {
        status = FT_IO_ERROR;
    } else {
        // The caller sized the array by the count it was given: never write past that.
        DWORD count = *lpdwNumDevs < listed ? *lpdwNumDevs : listed;
        for (DWORD i = 0; i < count; i++) {
            FT_DEVICE_LIST_INFO_NODE& node = pDest[i];
            std::memset(&node, 0, sizeof node);
            node.Flags = FT_FLAGS_HISPEED;
            node.Type = FT_DEVICE_232R;
            node.ID = 0x04036001;
            node.LocId = 0x1001 + i;
            std::snprintf(node.SerialNumber, sizeof node.SerialNumber, "FK%06u", (unsigned)i);
            std::snprintf(node.Description, sizeof node.Description, "Fake adapter %u",
                          (unsigned)i);
            node.ftHandle = handle_of(i);
        }
        *lpdwNumDevs = count;
    }
    return log_call("FT_GetDeviceInfoList",
                    std::string(pDest ? "list" : "NULL") + ", " + out_dword(lpdwNumDevs), status);
}

FT_STATUS FT_API FT_Open(int deviceNumber, FT_HANDLE* pHandle)
{
    parse_script();
    FT_STATUS status = FT_OK;
    if (pHandle == nullptr)
        status = FT_INVALID_PARAMETER;
    else if (failing("FT_Open"))
        status = FT_IO_ERROR;
    else if (deviceNumber < 0 || (DWORD)deviceNumber >= script.devices)
        status = FT_DEVICE_NOT_FOUND;
    else if (open_devices[deviceNumber])
        status = FT_DEVICE_NOT_OPENED;
    if (status == FT_OK) {
        open_devices[deviceNumber] = true;
        *pHandle = handle_of((DWORD)deviceNumber);
    }
    return log_call("FT_Open",
                    std::to_string(deviceNumber) + ", " + (pHandle ? "&" + hex(*pHandle) : "NULL"),
                    status);
}

FT_STATUS FT_API FT_ResetDevice(FT_HANDLE ftHandle)
{
    return handle_call("FT_ResetDevice", ftHandle, "");
}

FT_STATUS FT_API FT_SetDataCharacteristics(FT_HANDLE ftHandle, UCHAR WordLength, UCHAR StopBits,
                                           UCHAR Parity)
{
    return handle_call("FT_SetDataCharacteristics", ftHandle,
                       ", " + std::to_string(WordLength) + ", " + std::to_string(StopBits) + ", " +
                           std::to_string(Parity));
}

FT_STATUS FT_API FT_SetFlowControl(FT_HANDLE ftHandle, USHORT FlowControl, UCHAR XonChar,
                                   UCHAR XoffChar)
{
    return handle_call("FT_SetFlowControl", ftHandle,
                       ", " + std::to_string(FlowControl) + ", " + std::to_string(XonChar) + ", " +
                           std::to_string(XoffChar));
}

FT_STATUS FT_API FT_GetLatencyTimer(FT_HANDLE ftHandle, PUCHAR pucTimer)
{
    parse_script();
    FT_STATUS status = FT_OK;
    if (open_index(ftHandle) < 0)
        status = FT_INVALID_HANDLE;
    else if (pucTimer == nullptr)
        status = FT_INVALID_PARAMETER;
    else if (failing("FT_GetLatencyTimer"))
        status = FT_IO_ERROR;
    else
        *pucTimer = (UCHAR)script.latency;
    return log_call("FT_GetLatencyTimer",
                    hex(ftHandle) + ", " + (pucTimer ? "&" + std::to_string(*pucTimer) : "NULL"),
                    status);
}

FT_STATUS FT_API FT_SetLatencyTimer(FT_HANDLE ftHandle, UCHAR ucTimer)
{
    return handle_call("FT_SetLatencyTimer", ftHandle, ", " + std::to_string(ucTimer));
}

FT_STATUS FT_API FT_SetUSBParameters(FT_HANDLE ftHandle, ULONG ulInTransferSize,
                                     ULONG ulOutTransferSize)
{
    return handle_call("FT_SetUSBParameters", ftHandle,
                       ", " + std::to_string(ulInTransferSize) + ", " +
                           std::to_string(ulOutTransferSize));
}

FT_STATUS FT_API FT_SetTimeouts(FT_HANDLE ftHandle, ULONG ReadTimeout, ULONG WriteTimeout)
{
    return handle_call("FT_SetTimeouts", ftHandle,
                       ", " + std::to_string(ReadTimeout) + ", " + std::to_string(WriteTimeout));
}

FT_STATUS FT_API FT_Purge(FT_HANDLE ftHandle, ULONG Mask)
{
    return handle_call("FT_Purge", ftHandle, ", " + std::to_string(Mask));
}

FT_STATUS FT_API FT_Close(FT_HANDLE ftHandle)
{
    parse_script();
    long index = open_index(ftHandle);
    FT_STATUS status = FT_OK;
    if (index < 0)
        status = FT_INVALID_HANDLE;
    else if (failing("FT_Close"))
        status = FT_IO_ERROR;
    if (index >= 0)
        open_devices[index] = false; // closed even when reported as failing, as a device would be
    return log_call("FT_Close", hex(ftHandle), status);
}

} // extern "C"
