// query: prints keys and values the way reg.exe does.
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "key_path.h"
#include "messages.h"
#include "platform/posix/registry_store.h"
#include "value_text.h"

namespace vantrel::reg {

namespace {

using platform::RegistryStore;

std::string ValueLine(const std::string& name, uint32_t type, const std::string& data) {
    return "    " + (name.empty() ? std::string("(Default)") : name) + "    " + TypeName(type) +
           "    " + FormatData(type, data) + "\n";
}

// A key block as reg.exe prints it: the key and its values, then a blank line, where it has
// values or is a subkey reached by /s; then its subkeys' names, or with /s their own blocks.
long QueryKey(RegistryStore& store, int64_t key, const std::string& name, bool recurse,
              bool reached, std::string* out) {
    std::vector<RegistryStore::Value> values;
    std::vector<RegistryStore::SubKey> subKeys;
    long error = store.EnumValues(key, &values);
    if (error == platform::kErrorSuccess) error = store.EnumSubKeys(key, &subKeys);
    if (error != platform::kErrorSuccess) return error;
    if (!values.empty() || reached) {
        *out += name + "\n";
        for (const RegistryStore::Value& value : values) {
            *out += ValueLine(value.name, value.type, value.data);
        }
        *out += "\n";
    }
    for (const RegistryStore::SubKey& subKey : subKeys) {
        std::string subName = name + "\\" + subKey.name;
        if (!recurse) {
            *out += subName + "\n";
        } else if ((error = QueryKey(store, subKey.id, subName, true, true, out)) !=
                   platform::kErrorSuccess) {
            return error;
        }
    }
    return platform::kErrorSuccess;
}

// One value (/v or /ve); with /s in every key of the tree that has it.
long QueryValue(RegistryStore& store, int64_t key, const std::string& keyName,
                const std::string& valueName, bool recurse, int* found, std::string* out) {
    RegistryStore::Value value;
    long error = store.GetValue(key, valueName, &value);
    if (error == platform::kErrorSuccess) {
        *out += keyName + "\n" + ValueLine(value.name, value.type, value.data) + "\n";
        ++*found;
    } else if (error != platform::kErrorFileNotFound) {
        return error;
    }
    if (!recurse) return platform::kErrorSuccess;
    std::vector<RegistryStore::SubKey> subKeys;
    if ((error = store.EnumSubKeys(key, &subKeys)) != platform::kErrorSuccess) return error;
    for (const RegistryStore::SubKey& subKey : subKeys) {
        error =
            QueryValue(store, subKey.id, keyName + "\\" + subKey.name, valueName, true, found, out);
        if (error != platform::kErrorSuccess) return error;
    }
    return platform::kErrorSuccess;
}

}  // namespace

int RunQuery(const Arguments& arguments) {
    std::string path, error;
    if (!ParseKeyName(arguments.operands[0], &path, &error)) return Failed(error);
    // Opened as the library opens it: made on first use, so HKCU itself always exists; a
    // store that may not be written is still read.
    RegistryStore store;
    long result = store.Open(RegistryStore::DefaultPath(), RegistryStore::Mode::ReadWrite);
    int64_t key = 0;
    if (result == platform::kErrorSuccess) result = store.OpenKey(path, &key);
    std::string storedPath;
    if (result == platform::kErrorSuccess) result = store.KeyPath(key, &storedPath);
    if (result != platform::kErrorSuccess) return Failed(StoreErrorText(result, store.path()));

    std::string keyName = FullKeyName(storedPath);
    std::string out = "\n";
    if (arguments.hasValueName || arguments.defaultValue) {
        std::string valueName = arguments.hasValueName ? arguments.valueName : std::string();
        int found = 0;
        result = QueryValue(store, key, keyName, valueName, arguments.recurse, &found, &out);
        if (result != platform::kErrorSuccess) return Failed(StoreErrorText(result, store.path()));
        if (arguments.recurse) {
            out += "End of search: " + std::to_string(found) + " match(es) found.\n";
        } else if (found == 0 && !valueName.empty()) {
            return Failed(StoreErrorText(platform::kErrorFileNotFound, store.path()));
        } else if (found == 0) {
            out += keyName + "\n    (Default)    REG_SZ    (value not set)\n";
        }
    } else {
        result = QueryKey(store, key, keyName, arguments.recurse, false, &out);
        if (result != platform::kErrorSuccess) return Failed(StoreErrorText(result, store.path()));
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

}  // namespace vantrel::reg
