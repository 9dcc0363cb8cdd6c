// import: applies a .reg file in one transaction, or nothing of it.
#include <errno.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"
#include "key_path.h"
#include "messages.h"
#include "platform/posix/registry_store.h"
#include "reg_file_parser.h"
#include "store_batch.h"

namespace vantrel::reg {

namespace {

using platform::RegistryStore;
using Kind = RegFileOperation::Kind;

bool ReadWholeFile(const std::string& file, std::string* text, std::string* error) {
    std::FILE* in = std::fopen(file.c_str(), "rb");
    if (!in) {
        *error = "Cannot read " + file + ": " + std::strerror(errno) + ".";
        return false;
    }
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) text->append(buffer, n);
    bool failed = std::ferror(in) != 0;
    std::fclose(in);
    if (failed) *error = "Cannot read " + file + ".";
    return !failed;
}

// One operation; `key` is the key of the current section.
long Apply(RegistryStore& store, const RegFileOperation& operation, int64_t* key) {
    switch (operation.kind) {
        case Kind::CreateKey:
            return store.CreateKey(operation.keyPath, key);
        case Kind::DeleteKey: {
            int64_t doomed;
            long error = store.OpenKey(operation.keyPath, &doomed);
            if (error == platform::kErrorFileNotFound) return platform::kErrorSuccess;
            return error == platform::kErrorSuccess ? store.DeleteTree(doomed) : error;
        }
        case Kind::SetValue:
            return store.SetValue(*key, operation.valueName, operation.type, operation.data.data(),
                                  operation.data.size());
        case Kind::DeleteValue: {
            long error = store.DeleteValue(*key, operation.valueName);
            return error == platform::kErrorFileNotFound ? platform::kErrorSuccess : error;
        }
    }
    return platform::kErrorInvalidParameter;
}

}  // namespace

int RunImport(const Arguments& arguments) {
    const std::string& file = arguments.operands[0];
    std::string text, error;
    if (!ReadWholeFile(file, &text, &error)) return Failed(error);
    RegFileParse parse = ParseRegFile(text);
    if (!parse.ok()) {
        return Failed(file + ": line " + std::to_string(parse.errorLine) + ": " + parse.error +
                      "; nothing was imported.");
    }

    RegistryStore store;
    long result = BeginStoreBatch(&store);
    if (result != platform::kErrorSuccess) return Failed(StoreErrorText(result, store.path()));
    int64_t key = 0;
    for (const RegFileOperation& operation : parse.operations) {
        result = Apply(store, operation, &key);
        if (result != platform::kErrorSuccess) {
            store.Rollback();
            std::string reason = operation.kind == Kind::DeleteKey && operation.keyPath.empty()
                                     ? "HKEY_CURRENT_USER itself cannot be deleted."
                                     : StoreErrorText(result, store.path());
            return Failed(file + ": line " + std::to_string(operation.line) + ": " + reason +
                          " Nothing was imported.");
        }
    }
    return EndStoreBatch(&store, result, " Nothing was imported.");
}

}  // namespace vantrel::reg
