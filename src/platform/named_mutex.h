// Named mutexes as the instance claim uses them: a name exists exactly while some process
// holds a handle to it, and vanishes when the last holder closes it or dies.
#pragma once

#include <string>

#include "platform/handles.h"

namespace vantrel::platform {

// OpenMutexA(MUTEX_ALL_ACCESS): a handle when the name exists, else null.
MutexHandle OpenNamedMutex(const std::string& name);
// CreateMutexA(not owned): a handle, or null on failure; *alreadyExisted tells whether the
// name existed before (ERROR_ALREADY_EXISTS), in which case the handle still refers to it.
MutexHandle CreateNamedMutex(const std::string& name, bool* alreadyExisted);
void CloseNamedMutex(MutexHandle handle);

// Owns a mutex handle until it is closed with the scope or handed on with release().
class ScopedNamedMutex {
  public:
    explicit ScopedNamedMutex(MutexHandle handle = nullptr) : handle_(handle) {}
    ~ScopedNamedMutex() {
        if (handle_) CloseNamedMutex(handle_);
    }
    ScopedNamedMutex(const ScopedNamedMutex&) = delete;
    ScopedNamedMutex& operator=(const ScopedNamedMutex&) = delete;

    explicit operator bool() const { return handle_ != nullptr; }
    MutexHandle release() {
        MutexHandle handle = handle_;
        handle_ = nullptr;
        return handle;
    }

  private:
    MutexHandle handle_;
};

}  // namespace vantrel::platform
