// fork() where the platform has it: the library's handlers run around it, and the platform's
// own locks are held across the copy so the child finds them free.
#pragma once

namespace vantrel::platform {

struct ForkHandlers {
    void (*prepare)();  // before the copy, in the forking thread
    void (*parent)();   // after it, in the parent
    void (*child)();    // after it, in the child, where only the forking thread exists
};

// Installs the handlers once per load of the library; does nothing where there is no fork.
void InstallForkHandlers(const ForkHandlers& handlers);

}  // namespace vantrel::platform
