// Process and thread identity on Windows: the system's pseudo handles, duplicated thread
// handles whose zero-time-out wait tells whether the thread has ended, the executable's path
// and the process creation time.
#include "platform/process.h"

#include <time.h>

#include "platform/test_seam.h"
#include "platform/win32/win32_api.h"

namespace vantrel::platform {

using win32::HandleCast;

ProcessHandle GetCurrentProcess() {
    return HandleCast<ProcessHandle>(::GetCurrentProcess());
}

ThreadHandle GetCurrentThread() {
    return HandleCast<ThreadHandle>(::GetCurrentThread());
}

uint32_t GetCurrentProcessId() {
    return ::GetCurrentProcessId();
}

uint32_t GetCurrentThreadId() {
    return ::GetCurrentThreadId();
}

ModuleHandle GetExeModuleHandle() {
    return HandleCast<ModuleHandle>(::GetModuleHandleA(nullptr));
}

bool GetModuleFileName(ModuleHandle module, std::string* path) {
    if (testing::ShouldFail(testing::Fault::ModuleFileName)) return false;
    constexpr DWORD kBufferSize = 260;
    char buffer[kBufferSize];
    const DWORD length = ::GetModuleFileNameA(HandleCast<HMODULE>(module), buffer, kBufferSize);
    // A full buffer means the path was cut short: a shortened path would name another
    // folder and another executable, so it counts as no path at all.
    if (length == 0 || length >= kBufferSize) return false;
    path->assign(buffer, length);
    return true;
}

bool DuplicateThreadHandle(ThreadHandle source, ThreadHandle* out) {
    *out = nullptr;
    if (testing::ShouldFail(testing::Fault::DuplicateHandle) || !source) return false;
    HANDLE duplicate = nullptr;
    const HANDLE self = ::GetCurrentProcess();
    if (!::DuplicateHandle(self, HandleCast<HANDLE>(source), self, &duplicate, 0, FALSE,
                           DUPLICATE_SAME_ACCESS)) {
        return false;
    }
    *out = HandleCast<ThreadHandle>(duplicate);
    return true;
}

void CloseThreadHandle(ThreadHandle handle) {
    // Closing the pseudo handle would do nothing; it is skipped so that no call is wasted.
    if (handle && HandleCast<HANDLE>(handle) != ::GetCurrentThread())
        ::CloseHandle(HandleCast<HANDLE>(handle));
}

bool IsThreadSignalled(ThreadHandle handle) {
    if (!handle) return false;
    return ::WaitForSingleObject(HandleCast<HANDLE>(handle), 0) == WAIT_OBJECT_0;
}

bool GetProcessCreationLocalTime(ProcessHandle process, SystemTime* out) {
    if (testing::ShouldFail(testing::Fault::ProcessTimes)) return false;
    FILETIME creation{}, exit{}, kernel{}, user{};
    // Only the creation time is used; a failed call leaves it zero, which still converts.
    ::GetProcessTimes(HandleCast<HANDLE>(process), &creation, &exit, &kernel, &user);
    FILETIME local{};
    SYSTEMTIME fields{};
    if (!::FileTimeToLocalFileTime(&creation, &local) || !::FileTimeToSystemTime(&local, &fields))
        return false;
    // The round trip through the C library settles the daylight-saving question the way it
    // decides it, and drops the milliseconds.
    tm calendar{};
    calendar.tm_year = fields.wYear - 1900;
    calendar.tm_mon = fields.wMonth - 1;
    calendar.tm_mday = fields.wDay;
    calendar.tm_hour = fields.wHour;
    calendar.tm_min = fields.wMinute;
    calendar.tm_sec = fields.wSecond;
    calendar.tm_isdst = -1;
    const __time64_t seconds = _mktime64(&calendar);
    if (seconds == -1) return false;
    tm again{};
    if (_localtime64_s(&again, &seconds) != 0) return false;
    out->year = again.tm_year + 1900;
    out->month = again.tm_mon + 1;
    out->dayOfWeek = again.tm_wday;
    out->day = again.tm_mday;
    out->hour = again.tm_hour;
    out->minute = again.tm_min;
    out->second = again.tm_sec;
    out->milliseconds = 0;
    return true;
}

}  // namespace vantrel::platform
