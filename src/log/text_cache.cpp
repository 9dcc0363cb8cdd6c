#include "log/text_cache.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/memory_pages.h"

namespace vantrel {

TextCache::~TextCache() {
    std::free(data_);
}

namespace {

// Texts below this size fault their few pages in as they come. Above it, the stretch made
// resident ahead is a sixteenth of the text (at most 1 MiB): memory held beyond the text stays
// within a few percent of it, and a log of many threads' small texts holds nothing extra.
constexpr size_t kPopulateFrom = size_t{64} << 10;
constexpr size_t kLargestStretch = size_t{1} << 20;

}  // namespace

bool TextCache::Prepare(size_t count) {
    if (count <= capacity_ - size_) {
        size_t ready = capacity_;
        if (size_ >= kPopulateFrom) {
            const size_t stretch = size_ / 16 < kLargestStretch ? size_ / 16 : kLargestStretch;
            const size_t needed = size_ + count;  // within the capacity
            ready = capacity_ - needed > stretch ? needed + stretch : capacity_;
            platform::PopulateWritablePages(data_ + ready_, ready - ready_);
        }
        ready_ = ready;
        return true;
    }
    if (count > SIZE_MAX - size_) return false;
    const size_t needed = size_ + count;
    // Doubling keeps appends amortised constant; pages of the room are not resident until
    // written, so the spare half costs address space, not memory.
    size_t capacity = capacity_ < 256 ? 256 : capacity_;
    while (capacity < needed) capacity = capacity > SIZE_MAX / 2 ? needed : capacity * 2;
    void* grown = std::realloc(data_, capacity);
    if (grown == nullptr) return false;
    data_ = static_cast<char*>(grown);
    capacity_ = capacity;
    // Only the text is known to be resident in the grown buffer.
    ready_ = size_;
    return Prepare(count);
}

bool TextCache::AppendFill(size_t count, char c) {
    if (count == 0) return true;
    if (!Reserve(count)) return false;
    std::memset(data_ + size_, c, count);
    size_ += count;
    return true;
}

}  // namespace vantrel
