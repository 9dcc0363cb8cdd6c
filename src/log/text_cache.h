// The text a log holds before it is written: a byte buffer that entries are formatted into in
// place. It grows with realloc, which moves the pages of a large buffer instead of copying
// them, so a log that holds all its text in memory neither copies it again nor touches fresh
// pages for it each time it grows. A large text's next pages are made resident a stretch at a
// time, ahead of the entries: one system call for many pages costs less than the page fault
// each first write to a page would bring.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace vantrel {

class TextCache {
  public:
    TextCache() = default;
    ~TextCache();
    TextCache(const TextCache&) = delete;
    TextCache& operator=(const TextCache&) = delete;

    const char* data() const { return data_ != nullptr ? data_ : ""; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::string_view view() const { return {data(), size_}; }
    // Empties the text; the memory is kept for what comes next.
    void clear() { size_ = 0; }

    // Room for at least count more bytes behind the text; false when memory runs out.
    bool Reserve(size_t count) { return count <= ready_ - size_ || Prepare(count); }
    // Where the room starts, and how much of it there is (after Reserve).
    char* end() { return data_ + size_; }
    size_t room() const { return ready_ - size_; }
    // Takes count bytes written at end() into the text.
    void Extend(size_t count) { size_ += count; }
    // Cuts the text back to size bytes (never longer).
    void Truncate(size_t size) {
        if (size < size_) size_ = size;
    }

    // False, with the text unchanged, when memory runs out.
    bool Append(const char* text, size_t count) {
        if (!Reserve(count)) return false;
        if (count != 0) std::memcpy(data_ + size_, text, count);
        size_ += count;
        return true;
    }
    bool AppendFill(size_t count, char c);

  private:
    bool Prepare(size_t count);

    char* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
    // The end of the room: up to where a large text's pages are resident, the capacity for a
    // small one. Between size_ and capacity_.
    size_t ready_ = 0;
};

}  // namespace vantrel
