#include "platform/fork_hooks.h"

namespace vantrel::platform {

// Windows has no fork: a new process loads the library afresh.
void InstallForkHandlers(const ForkHandlers&) {}

}  // namespace vantrel::platform
