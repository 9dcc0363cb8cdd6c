// CMem: a heap block whose usable bytes start on a 16-byte boundary; the copy buffer of the
// back-up and of the merge from files.
#pragma once

#include <cstdint>

namespace vantrel {

class CMem {
  public:
    CMem() = default;
    explicit CMem(uint32_t size) { Alloc(size); }
    virtual ~CMem();
    CMem(const CMem&) = delete;
    CMem& operator=(const CMem&) = delete;

    // Releases the current block and takes a new one of n usable bytes; null when n is 0 or
    // the heap refuses.
    void* Alloc(uint32_t n);
    void* GetData() const { return data; }
    uint32_t GetSize() const { return size; }

  private:
    void Release();

    void* block = nullptr;
    void* data = nullptr;
    uint32_t size = 0;
};

}  // namespace vantrel
