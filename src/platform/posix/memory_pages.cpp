#include "platform/memory_pages.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

// Linux 5.14 and later; older kernels refuse the unknown advice with EINVAL.
#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace vantrel::platform {

void PopulateWritablePages(void* begin, size_t bytes) {
    if (bytes == 0) return;
    static const uintptr_t pageSize = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t first = reinterpret_cast<uintptr_t>(begin) & ~(pageSize - 1);
    const uintptr_t end =
        (reinterpret_cast<uintptr_t>(begin) + bytes + pageSize - 1) & ~(pageSize - 1);
    // Failure (an old kernel, no memory left right now) only means the pages fault in later.
    madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
}

}  // namespace vantrel::platform
