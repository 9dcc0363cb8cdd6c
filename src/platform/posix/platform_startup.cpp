#include "platform/platform_startup.h"

#include "platform/atom_table.h"
#include "platform/process.h"

namespace vantrel::platform {

void PlatformStartup() {
    // Each of these reaches its function-local singleton, which is then destroyed only after
    // every static object constructed later (the library's lifecycle) is gone.
    FindAtom("vantrel");
    ThreadHandle self = nullptr;
    if (DuplicateThreadHandle(GetCurrentThread(), &self)) CloseThreadHandle(self);
}

}  // namespace vantrel::platform
