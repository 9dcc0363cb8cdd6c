// add: creates a key and sets one value in it.
#include <string>

#include "commands.h"
#include "key_path.h"
#include "messages.h"
#include "platform/posix/registry_store.h"
#include "store_batch.h"
#include "value_text.h"

namespace vantrel::reg {

using platform::RegistryStore;

int RunAdd(const Arguments& arguments) {
    std::string path, error;
    if (!ParseKeyName(arguments.operands[0], &path, &error)) return Failed(error);
    // Everything is checked before the store is touched: a bad type or datum creates nothing.
    uint32_t type = platform::kRegSz;
    if (arguments.hasType && !TypeFromName(arguments.type, &type)) {
        return Failed("Invalid type \"" + arguments.type +
                      "\": use REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, "
                      "REG_BINARY or REG_NONE.");
    }
    if ((type == platform::kRegDword || type == 5 || type == platform::kRegQword) &&
        !arguments.hasData) {
        return Failed("Invalid syntax: " + TypeName(type) + " needs /d DATA.");
    }
    if (arguments.hasSeparator && type != platform::kRegMultiSz) {
        return Failed("Invalid syntax: /s SEPARATOR is only for REG_MULTI_SZ.");
    }
    std::string bytes;
    char separator = arguments.hasSeparator ? arguments.separator[0] : '\0';
    if (!ParseData(type, arguments.data, separator, &bytes, &error)) return Failed(error);
    // As reg.exe: a key alone unless a value is named or data or a type is given (then the
    // unnamed value when no name is).
    bool setValue =
        arguments.hasValueName || arguments.defaultValue || arguments.hasData || arguments.hasType;
    std::string valueName = arguments.hasValueName ? arguments.valueName : std::string();

    RegistryStore store;
    long result = BeginStoreBatch(&store);
    if (result != platform::kErrorSuccess) return Failed(StoreErrorText(result, store.path()));
    int64_t key = 0;
    result = store.CreateKey(path, &key);
    if (result == platform::kErrorSuccess && setValue) {
        RegistryStore::Value existing;
        result = store.GetValue(key, valueName, &existing);
        if (result == platform::kErrorSuccess && !arguments.force) {
            store.Rollback();
            return Failed("Value " + (valueName.empty() ? std::string("(Default)") : valueName) +
                          " exists; add /f to overwrite it (vantrel-reg does not prompt).");
        }
        if (result == platform::kErrorSuccess || result == platform::kErrorFileNotFound) {
            result = store.SetValue(key, valueName, type, bytes.data(), bytes.size());
        }
    }
    return EndStoreBatch(&store, result);
}

}  // namespace vantrel::reg
