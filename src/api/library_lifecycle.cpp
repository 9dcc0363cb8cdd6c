// Load and unload. The static objects of this file are built in declaration order when the
// library is loaded and destroyed in reverse when it is unloaded, so the load steps run after
// the manager exists and the unload steps run before it goes.
#include "api/library_state.h"
#include "manager/log_service_mgr.h"
#include "platform/platform_startup.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform_config.h"

namespace vantrel {

namespace {

CLogServiceMgr logServiceMgr;

// Where the platform has no load notification of its own, this object runs the steps.
class LibraryLifecycle {
  public:
    LibraryLifecycle() noexcept {
        if (platform::kLoadStepsRunFromStaticObject) RunLoadSteps();
    }

    ~LibraryLifecycle() {
        if (platform::kLoadStepsRunFromStaticObject) RunUnloadSteps();
    }

    LibraryLifecycle(const LibraryLifecycle&) = delete;
    LibraryLifecycle& operator=(const LibraryLifecycle&) = delete;
};

LibraryLifecycle lifecycle;

}  // namespace

void RunLoadSteps() noexcept {
    try {
        platform::PlatformStartup();
        // The library stays loaded even when it cannot log: each step reports through the
        // manager's readiness level only.
        logServiceMgr.loadDefaultSettings(
            platform::GetCurrentProcess(), platform::GetCurrentProcessId(),
            platform::GetExeModuleHandle(), platform::GetCurrentThread(),
            platform::GetCurrentThreadId());
        logServiceMgr.establishInstance();
    } catch (...) {
    }
}

void RunUnloadSteps() noexcept {
    try {
        logServiceMgr.ReleaseInstance();
        logServiceMgr.ReleaseServices();
    } catch (...) {
    }
    platform::ReleaseRegistryStore();
}

CLogServiceMgr& LogServiceManager() {
    return logServiceMgr;
}

}  // namespace vantrel
