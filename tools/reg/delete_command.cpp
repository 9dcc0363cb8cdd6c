// delete: removes a key tree, one value, the unnamed value or all values of a key.
#include <string>
#include <vector>

#include "commands.h"
#include "key_path.h"
#include "messages.h"
#include "platform/posix/registry_store.h"
#include "store_batch.h"

namespace vantrel::reg {

using platform::RegistryStore;

int RunDelete(const Arguments& arguments) {
    std::string path, error;
    if (!ParseKeyName(arguments.operands[0], &path, &error)) return Failed(error);
    bool wholeKey = !arguments.hasValueName && !arguments.defaultValue && !arguments.allValues;
    if (wholeKey && path.empty()) return Failed("HKEY_CURRENT_USER itself cannot be deleted.");

    RegistryStore store;
    long result = store.Open(RegistryStore::DefaultPath(), RegistryStore::Mode::ReadWrite);
    int64_t key = 0;
    if (result == platform::kErrorSuccess) result = store.OpenKey(path, &key);
    if (result == platform::kErrorSuccess) result = store.Begin();
    if (result != platform::kErrorSuccess) return Failed(StoreErrorText(result, store.path()));
    std::string valueName = arguments.hasValueName ? arguments.valueName : std::string();
    RegistryStore::Value value;
    if (!wholeKey && !arguments.allValues) {
        result = store.GetValue(key, valueName, &value);
        if (result != platform::kErrorSuccess) {
            store.Rollback();
            return Failed(StoreErrorText(result, store.path()));
        }
    }
    // reg.exe asks before deleting; we never prompt, so /f must say yes beforehand.
    if (!arguments.force) {
        store.Rollback();
        return Failed("Deleting needs /f (vantrel-reg does not prompt for confirmation).");
    }
    if (wholeKey) {
        result = store.DeleteTree(key);
    } else if (arguments.allValues) {
        std::vector<RegistryStore::Value> values;
        result = store.EnumValues(key, &values);
        for (size_t i = 0; i < values.size() && result == platform::kErrorSuccess; ++i) {
            result = store.DeleteValue(key, values[i].name);
        }
    } else {
        result = store.DeleteValue(key, valueName);
    }
    return EndStoreBatch(&store, result);
}

}  // namespace vantrel::reg
