// Load and unload. The static objects of this file are built in declaration order when the
// library is loaded and destroyed in reverse when it is unloaded, so the load steps run after
// the manager exists and the unload steps run before it goes.
#include "api/call_gate.h"
#include "api/library_state.h"
#include "manager/log_service_mgr.h"
#include "platform/fork_hooks.h"
#include "platform/platform_config.h"
#include "platform/platform_startup.h"
#include "platform/process.h"
#include "platform/registry.h"

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

void BeforeFork() {
    LibraryGate().PauseForFork();
}

void AfterForkInParent() {
    LibraryGate().ResumeAfterFork();
}

void AfterForkInChild() {
    LibraryGate().ResetInChild();
    try {
        logServiceMgr.ForgetParentAfterFork();
    } catch (...) {
    }
}

}  // namespace

void RunLoadSteps() noexcept {
    LibraryGate().Open();
    try {
        platform::PlatformStartup();
        platform::InstallForkHandlers({&BeforeFork, &AfterForkInParent, &AfterForkInChild});
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
    // From here on every call fails at once; the steps below run when the last call in
    // flight has left, so nothing they free is still in use.
    LibraryGate().CloseAndDrain();
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
