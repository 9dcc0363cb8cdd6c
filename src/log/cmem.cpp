#include "log/cmem.h"

#include <cstdint>
#include <cstdlib>

namespace vantrel {

namespace {
constexpr uintptr_t kAlignment = 16;
}  // namespace

CMem::~CMem() {
    Release();
}

void CMem::Release() {
    std::free(block);
    block = nullptr;
    data = nullptr;
    size = 0;
}

void* CMem::Alloc(uint32_t n) {
    Release();
    if (n == 0) return nullptr;
    // On a 32-bit target n + 15 could wrap round to a tiny block.
    if (static_cast<size_t>(n) > SIZE_MAX - (kAlignment - 1)) return nullptr;
    void* fresh = std::malloc(static_cast<size_t>(n) + (kAlignment - 1));
    if (!fresh) return nullptr;
    block = fresh;
    uintptr_t at = reinterpret_cast<uintptr_t>(fresh);
    data = reinterpret_cast<void*>((at + kAlignment - 1) & ~(kAlignment - 1));
    size = n;
    return data;
}

}  // namespace vantrel
