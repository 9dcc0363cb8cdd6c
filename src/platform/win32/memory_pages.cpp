#include "platform/memory_pages.h"

namespace vantrel::platform {

// Windows has no such request for heap memory: its pages fault in as they are first written.
void PopulateWritablePages(void*, size_t) {}

}  // namespace vantrel::platform
