#include "platform/fork_hooks.h"

#include <pthread.h>

#include "platform/posix/process_fork.h"

namespace vantrel::platform {

namespace {

ForkHandlers library{};
bool installed = false;

// The library's handler first: it waits until no call is in flight, and only calls take the
// platform's locks, so taking them afterwards cannot wait on a call.
void Prepare() {
    if (library.prepare) library.prepare();
    ThreadStatesBeforeFork();
}

void Parent() {
    ThreadStatesAfterForkInParent();
    if (library.parent) library.parent();
}

void Child() {
    ThreadStatesAfterForkInChild();
    if (library.child) library.child();
}

}  // namespace

void InstallForkHandlers(const ForkHandlers& handlers) {
    library = handlers;
    // Registered by this library, so the C library drops the handlers when it is unloaded.
    if (!installed) installed = pthread_atfork(&Prepare, &Parent, &Child) == 0;
}

}  // namespace vantrel::platform
