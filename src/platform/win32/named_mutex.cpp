// Named mutexes in the session's object namespace. The system destroys a named mutex with its
// last handle, also when the holding process dies, so a crash never leaves a number claimed.
#include "platform/named_mutex.h"

#include "platform/test_seam.h"
#include "platform/win32/win32_api.h"

namespace vantrel::platform {

using win32::HandleCast;

MutexHandle OpenNamedMutex(const std::string& name) {
    if (testing::ShouldFail(testing::Fault::MutexOpen)) return nullptr;
    return HandleCast<MutexHandle>(::OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str()));
}

MutexHandle CreateNamedMutex(const std::string& name, bool* alreadyExisted) {
    *alreadyExisted = false;
    if (testing::ShouldFail(testing::Fault::MutexCreate)) return nullptr;
    HANDLE handle = ::CreateMutexA(nullptr, FALSE, name.c_str());
    if (!handle) return nullptr;
    *alreadyExisted = ::GetLastError() == ERROR_ALREADY_EXISTS;
    return HandleCast<MutexHandle>(handle);
}

void CloseNamedMutex(MutexHandle handle) {
    if (handle) ::CloseHandle(HandleCast<HANDLE>(handle));
}

}  // namespace vantrel::platform
