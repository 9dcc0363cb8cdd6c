// A change to the store as one batch: all of it lands, or none of it.
#pragma once

#include <string>

#include "platform/posix/registry_store.h"

namespace vantrel::reg {

// Opens the user's store for writing and begins a batch. A store that could not be made
// reads as one that may not be written.
long BeginStoreBatch(platform::RegistryStore* store);
// Commits when result is success; otherwise, or when the commit fails, rolls back. Returns
// the exit status with its message (failureNote follows the reason of a failure).
int EndStoreBatch(platform::RegistryStore* store, long result, const std::string& failureNote = "");

}  // namespace vantrel::reg
