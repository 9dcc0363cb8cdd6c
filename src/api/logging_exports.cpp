// The exported logging functions: each fills in the defaults its name announces and hands
// the call to the manager. Nothing thrown inside may reach the host.
#include <cstdarg>

#include "api/export_guard.h"
#include "api/library_state.h"
#include "log/log_layout.h"
#include "manager/log_service_mgr.h"
#include "vantrel/vantrel.h"

namespace {

constexpr const char* kDefaultFileName = vantrel::kDefaultLogFileName;

using vantrel::GuardedCall;

int32_t PrintfV(const char* fname, int32_t device, const char* fmt, va_list list) {
    return GuardedCall(
        0, [&] { return vantrel::LogServiceManager().Printf(fname, device, fmt, list); });
}

int32_t DrawBitmapV(const char* fname, int32_t device, const char* imageName, void* bitmap,
                    const char* fmt, va_list list) {
    return GuardedCall(0, [&] {
        return vantrel::LogServiceManager().DrawBitmap(fname, device, imageName, bitmap, fmt, list);
    });
}

}  // namespace

extern "C" {

VANTREL_API int32_t VANTREL_CALL logPrintfMgr_device_fname(const char* fname, int32_t device,
                                                           const char* fmt, ...) {
    va_list list;
    va_start(list, fmt);
    int32_t result = PrintfV(fname, device, fmt, list);
    va_end(list);
    return result;
}

VANTREL_API int32_t VANTREL_CALL logPrintfMgr_deviceDefault_fname(const char* fname,
                                                                  const char* fmt, ...) {
    va_list list;
    va_start(list, fmt);
    int32_t result = PrintfV(fname, 0, fmt, list);
    va_end(list);
    return result;
}

VANTREL_API int32_t VANTREL_CALL logPrintfMgr_device_fnameDefault(int32_t device, const char* fmt,
                                                                  ...) {
    va_list list;
    va_start(list, fmt);
    int32_t result = PrintfV(kDefaultFileName, device, fmt, list);
    va_end(list);
    return result;
}

VANTREL_API int32_t VANTREL_CALL logPrintfMgr_deviceDefault_fnameDefault(const char* fmt, ...) {
    va_list list;
    va_start(list, fmt);
    int32_t result = PrintfV(kDefaultFileName, 0, fmt, list);
    va_end(list);
    return result;
}

VANTREL_API int32_t VANTREL_CALL logDrawBitmapMgr_device_fname(const char* fname, int32_t device,
                                                               const char* imageName, void* bitmap,
                                                               const char* fmt, ...) {
    va_list list;
    va_start(list, fmt);
    int32_t result = DrawBitmapV(fname, device, imageName, bitmap, fmt, list);
    va_end(list);
    return result;
}

VANTREL_API int32_t VANTREL_CALL logDrawBitmapMgr_deviceDefault_fname(const char* fname,
                                                                      const char* imageName,
                                                                      void* bitmap, const char* fmt,
                                                                      ...) {
    va_list list;
    va_start(list, fmt);
    int32_t result = DrawBitmapV(fname, 0, imageName, bitmap, fmt, list);
    va_end(list);
    return result;
}

VANTREL_API int32_t VANTREL_CALL logDrawBitmapMgr_device_fnameDefault(int32_t device,
                                                                      const char* imageName,
                                                                      void* bitmap, const char* fmt,
                                                                      ...) {
    va_list list;
    va_start(list, fmt);
    int32_t result = DrawBitmapV(kDefaultFileName, device, imageName, bitmap, fmt, list);
    va_end(list);
    return result;
}

VANTREL_API int32_t VANTREL_CALL logDrawBitmapMgr_deviceDefault_fnameDefault(const char* imageName,
                                                                             void* bitmap,
                                                                             const char* fmt, ...) {
    va_list list;
    va_start(list, fmt);
    int32_t result = DrawBitmapV(kDefaultFileName, 0, imageName, bitmap, fmt, list);
    va_end(list);
    return result;
}

VANTREL_API int32_t VANTREL_CALL logFuncBeginMgr_device_fname(const char* fname, int32_t device,
                                                              const char* funcName) {
    return GuardedCall(
        0, [&] { return vantrel::LogServiceManager().FuncBegin(fname, device, funcName); });
}

VANTREL_API int32_t VANTREL_CALL logFuncEndMgr_device_fname(const char* fname, int32_t device) {
    return GuardedCall(0, [&] { return vantrel::LogServiceManager().FuncEnd(fname, device); });
}

}  // extern "C"
