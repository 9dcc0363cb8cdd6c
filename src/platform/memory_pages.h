// Making fresh memory resident before it is written.
#pragma once

#include <cstddef>

namespace vantrel::platform {

// Asks the system to back [begin, begin + bytes) with writable memory now, in one call,
// instead of one page fault per page as the bytes are first written. A hint: where the system
// cannot, nothing happens and the pages fault in as usual. The range is widened to whole
// pages; no byte changes, so the neighbours on those pages are safe.
void PopulateWritablePages(void* begin, size_t bytes);

}  // namespace vantrel::platform
