// Called first when the library loads: builds the platform's process-wide objects (the atom
// table, the thread registry) so that they outlive the unload steps that still use them.
#pragma once

namespace vantrel::platform {

void PlatformStartup();

}  // namespace vantrel::platform
