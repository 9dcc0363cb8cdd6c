#include "store_batch.h"

#include "messages.h"

namespace vantrel::reg {

using platform::RegistryStore;

long BeginStoreBatch(RegistryStore* store) {
    const long result = store->Open(RegistryStore::DefaultPath(), RegistryStore::Mode::ReadWrite);
    if (result == platform::kErrorFileNotFound) return platform::kErrorAccessDenied;
    return result == platform::kErrorSuccess ? store->Begin() : result;
}

int EndStoreBatch(RegistryStore* store, long result, const std::string& failureNote) {
    if (result == platform::kErrorSuccess) result = store->Commit();
    if (result == platform::kErrorSuccess) return Succeeded();
    store->Rollback();
    return Failed(StoreErrorText(result, store->path()) + failureNote);
}

}  // namespace vantrel::reg
