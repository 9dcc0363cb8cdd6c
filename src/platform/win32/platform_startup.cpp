#include "platform/platform_startup.h"

namespace vantrel::platform {

void PlatformStartup() {
    // The atom table, thread handles and named mutexes belong to the system, so there is no
    // process-wide object of our own to build before the load steps.
}

}  // namespace vantrel::platform
