#include "log/text_cache.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace vantrel {

TextCache::~TextCache() {
    std::free(data_);
}

bool TextCache::Reserve(size_t count) {
    if (count <= capacity_ - size_) return true;
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
    return true;
}

bool TextCache::Append(const char* text, size_t count) {
    if (count == 0) return true;
    if (!Reserve(count)) return false;
    std::memcpy(data_ + size_, text, count);
    size_ += count;
    return true;
}

bool TextCache::AppendFill(size_t count, char c) {
    if (count == 0) return true;
    if (!Reserve(count)) return false;
    std::memset(data_ + size_, c, count);
    size_ += count;
    return true;
}

}  // namespace vantrel
