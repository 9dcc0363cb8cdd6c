// platform/registry.h on the POSIX store: one connection per process, opened at the first
// call, shared by all threads under one mutex.
#include "platform/registry.h"

#include <unistd.h>

#include <mutex>
#include <new>

#include "platform/posix/registry_store.h"
#include "platform/test_seam.h"

namespace vantrel::platform {

struct RegKeyObject {
    int64_t id;
    uint32_t rights;
};

namespace {

using testing::Fault;

// Access bits of a key handle (Windows values).
constexpr uint32_t kKeyQueryValue = 0x0001;
constexpr uint32_t kKeySetValue = 0x0002;
// Rights that need a writable store: set value, create subkey, DELETE, WRITE_DAC, WRITE_OWNER.
constexpr uint32_t kWriteRights = 0x0002 | 0x0004 | 0x10000 | 0x40000 | 0x80000;

// Plain objects, not a unique_ptr: the unload step calls ReleaseRegistryStore, possibly
// after this file's static destructors would have run. std::mutex needs no destructor.
std::mutex storeLock;
RegistryStore* store = nullptr;
pid_t storeOwner = 0;

// The process's connection, opened on first use. Called with storeLock held. On failure
// returns null with the reason: kErrorFileNotFound when there is no store and none can be
// made (so there is no key either), else why the store cannot be used.
RegistryStore* Store(long* error) {
    if (store && storeOwner != getpid()) {
        // A forked child must not touch its parent's connection (SQLite forbids carrying
        // one across fork, and closing it could disturb the parent's locks): abandon it.
        store = nullptr;
    }
    if (!store) {
        auto* opened = new (std::nothrow) RegistryStore;
        if (!opened) {
            *error = kErrorOutOfMemory;
            return nullptr;
        }
        *error = opened->Open(RegistryStore::DefaultPath(), RegistryStore::Mode::ReadWrite);
        if (*error != kErrorSuccess) {
            delete opened;  // retried at the next call: the store may be mended meanwhile
            return nullptr;
        }
        store = opened;
        storeOwner = getpid();
    }
    return store;
}

// A damaged store may be mended (deleted or put back) while the process runs: on damage the
// connection goes, so that the next call opens whatever file is at the path then.
long DropIfDamaged(long error) {
    if (error == kErrorRegistryCorrupt) {
        delete store;
        store = nullptr;
    }
    return error;
}

// Keys that need write rights fail as access denied where there is no store to write to.
long WriteFailure(long error) {
    return error == kErrorFileNotFound ? kErrorAccessDenied : error;
}

long NewHandle(int64_t id, uint32_t rights, RegKey* key) {
    *key = new (std::nothrow) RegKeyObject{id, rights};
    return *key ? kErrorSuccess : kErrorOutOfMemory;
}

}  // namespace

long RegOpenKey(const std::string& subKey, uint32_t rights, RegKey* key) {
    if (!key) return kErrorInvalidParameter;
    *key = nullptr;
    if (testing::ShouldFail(Fault::RegistryOpen)) return kErrorAccessDenied;
    bool forWriting = (rights & kWriteRights) != 0;
    std::lock_guard<std::mutex> guard(storeLock);
    long error;
    RegistryStore* registry = Store(&error);
    if (!registry) return forWriting ? WriteFailure(error) : error;
    int64_t id;
    error = registry->OpenKey(subKey, &id);
    if (error != kErrorSuccess) return DropIfDamaged(error);
    if (forWriting && !registry->writable()) return kErrorAccessDenied;
    return NewHandle(id, rights, key);
}

long RegCreateKey(const std::string& subKey, uint32_t rights, RegKey* key) {
    if (!key) return kErrorInvalidParameter;
    *key = nullptr;
    if (testing::ShouldFail(Fault::RegistryCreate)) return kErrorAccessDenied;
    std::lock_guard<std::mutex> guard(storeLock);
    long error;
    RegistryStore* registry = Store(&error);
    if (!registry) return WriteFailure(error);
    int64_t id;
    error = registry->CreateKey(subKey, &id);  // refuses a store it cannot write
    if (error != kErrorSuccess) return DropIfDamaged(error);
    return NewHandle(id, rights, key);
}

long RegQueryValue(RegKey key, const char* name, uint32_t* type, void* data, uint32_t* size) {
    if (testing::ShouldFail(Fault::RegistryQuery)) return kErrorAccessDenied;
    if (!key) return kErrorInvalidHandle;
    if (!(key->rights & kKeyQueryValue)) return kErrorAccessDenied;
    std::lock_guard<std::mutex> guard(storeLock);
    long error;
    RegistryStore* registry = Store(&error);
    if (!registry) return error;
    return DropIfDamaged(registry->QueryValue(key->id, name, type, data, size));
}

long RegSetValue(RegKey key, const char* name, uint32_t type, const void* data, uint32_t size) {
    if (testing::ShouldFail(Fault::RegistrySet)) return kErrorAccessDenied;
    if (!key) return kErrorInvalidHandle;
    if (!(key->rights & kKeySetValue)) return kErrorAccessDenied;
    std::lock_guard<std::mutex> guard(storeLock);
    long error;
    RegistryStore* registry = Store(&error);
    if (!registry) return WriteFailure(error);
    return DropIfDamaged(registry->SetValue(
        key->id, name ? std::string_view(name) : std::string_view(), type, data, size));
}

void RegCloseKey(RegKey key) {
    delete key;
}

void ReleaseRegistryStore() {
    std::lock_guard<std::mutex> guard(storeLock);
    if (store && storeOwner == getpid()) delete store;  // closes every descriptor
    store = nullptr;
}

}  // namespace vantrel::platform
