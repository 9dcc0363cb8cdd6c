// export: writes a key and everything below it as a .reg file.
#include <errno.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "key_path.h"
#include "messages.h"
#include "platform/posix/registry_store.h"
#include "reg_file_writer.h"

namespace vantrel::reg {

namespace {

using platform::RegistryStore;

// The key's section, then its subkeys' sections depth first, as regedit orders them.
long Gather(RegistryStore& store, int64_t key, const std::string& name,
            std::vector<RegFileSection>* sections) {
    RegFileSection section;
    section.keyName = name;
    long error = store.EnumValues(key, &section.values);
    if (error != platform::kErrorSuccess) return error;
    sections->push_back(std::move(section));
    std::vector<RegistryStore::SubKey> subKeys;
    if ((error = store.EnumSubKeys(key, &subKeys)) != platform::kErrorSuccess) return error;
    for (const RegistryStore::SubKey& subKey : subKeys) {
        error = Gather(store, subKey.id, name + "\\" + subKey.name, sections);
        if (error != platform::kErrorSuccess) return error;
    }
    return platform::kErrorSuccess;
}

}  // namespace

int RunExport(const Arguments& arguments) {
    std::string path, error;
    if (!ParseKeyName(arguments.operands[0], &path, &error)) return Failed(error);
    const std::string& file = arguments.operands[1];
    struct stat info;
    if (!arguments.overwrite && stat(file.c_str(), &info) == 0) {
        return Failed("The file " + file +
                      " exists; add /y to overwrite it (vantrel-reg does not prompt).");
    }

    RegistryStore store;
    long result = store.Open(RegistryStore::DefaultPath(), RegistryStore::Mode::ReadWrite);
    int64_t key = 0;
    if (result == platform::kErrorSuccess) result = store.OpenKey(path, &key);
    std::string storedPath;
    if (result == platform::kErrorSuccess) result = store.KeyPath(key, &storedPath);
    std::vector<RegFileSection> sections;
    if (result == platform::kErrorSuccess) {
        result = Gather(store, key, FullKeyName(storedPath), &sections);
    }
    if (result != platform::kErrorSuccess) return Failed(StoreErrorText(result, store.path()));
    store.Close();

    std::string text = WriteRegFile(sections);
    std::FILE* out = std::fopen(file.c_str(), "wb");
    if (!out) return Failed("Cannot write " + file + ": " + std::strerror(errno) + ".");
    bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    int closeError = std::fclose(out) == 0 ? 0 : errno;
    if (!written || closeError) {
        return Failed("Cannot write " + file + ": " + std::strerror(closeError ? closeError : EIO) +
                      ".");
    }
    return Succeeded();
}

}  // namespace vantrel::reg
