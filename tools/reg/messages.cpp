#include "messages.h"

#include <cstdio>

#include "platform/posix/registry_store.h"

namespace vantrel::reg {

int Succeeded() {
    std::fputs("The operation completed successfully.\n", stdout);
    return 0;
}

int Failed(const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "ERROR: %s\n", message.c_str());
    return 1;
}

std::string StoreErrorText(long error, const std::string& storePath) {
    using namespace platform;
    const std::string store = storePath.empty() ? "(no home folder)" : storePath;
    switch (error) {
        case kErrorFileNotFound:
            return "The system was unable to find the specified registry key or value.";
        case kErrorAccessDenied:
            return "Access is denied: the settings store " + store + " cannot be written.";
        case kErrorBusy:
            return "The settings store " + store + " is locked by another process; try again.";
        case kErrorRegistryCorrupt:
            return "The settings store " + store + " is damaged or is not a settings store.";
        case kErrorRegistryIoFailed:
            return "Could not read or write the settings store " + store + ".";
        case kErrorBadPathname:
        case kErrorInvalidParameter:
            return "Invalid key or value name.";
        case kErrorKeyDeleted:
            return "The key was deleted by another process meanwhile.";
        case kErrorOutOfMemory:
            return "Not enough memory.";
        default:
            return "The settings store failed with error " + std::to_string(error) + ".";
    }
}

}  // namespace vantrel::reg
