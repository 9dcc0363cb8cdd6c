// The process-local atom table. Atoms are handed out from 0xC000 upward and reused once
// their last reference is gone, as the Windows local atom table does.
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/ascii_case.h"
#include "platform/atom_table_backend.h"

namespace vantrel::platform {

namespace {

constexpr uint16_t kFirstAtom = 0xC000;
constexpr size_t kMaxAtoms = 0x10000 - kFirstAtom;

struct AtomEntry {
    std::string name;  // as first added
    uint32_t references = 0;
};

std::string FoldCase(const char* name) {
    std::string folded(name);
    for (char& c : folded) c = AsciiLower(c);
    return folded;
}

class AtomTable {
  public:
    uint16_t Add(const char* name) {
        std::lock_guard<std::mutex> guard(mutex_);
        std::string key = FoldCase(name);
        auto found = byName_.find(key);
        if (found != byName_.end()) {
            ++entries_[found->second].references;
            return static_cast<uint16_t>(kFirstAtom + found->second);
        }
        size_t slot;
        if (!freeSlots_.empty()) {
            slot = freeSlots_.back();
            freeSlots_.pop_back();
        } else if (entries_.size() < kMaxAtoms) {
            slot = entries_.size();
            entries_.emplace_back();
        } else {
            return 0;
        }
        entries_[slot] = AtomEntry{name, 1};
        byName_.emplace(std::move(key), slot);
        return static_cast<uint16_t>(kFirstAtom + slot);
    }

    uint16_t Find(const char* name) {
        std::lock_guard<std::mutex> guard(mutex_);
        auto found = byName_.find(FoldCase(name));
        return found == byName_.end() ? 0 : static_cast<uint16_t>(kFirstAtom + found->second);
    }

    void Delete(uint16_t atom) {
        std::lock_guard<std::mutex> guard(mutex_);
        if (atom < kFirstAtom) return;
        size_t slot = atom - kFirstAtom;
        if (slot >= entries_.size() || entries_[slot].references == 0) return;
        if (--entries_[slot].references > 0) return;
        byName_.erase(FoldCase(entries_[slot].name.c_str()));
        entries_[slot] = AtomEntry{};
        freeSlots_.push_back(slot);
    }

  private:
    std::mutex mutex_;
    std::vector<AtomEntry> entries_;
    std::vector<size_t> freeSlots_;
    std::unordered_map<std::string, size_t> byName_;
};

AtomTable& Table() {
    static AtomTable table;
    return table;
}

}  // namespace

namespace backend {

uint16_t AddAtom(const char* name) {
    return Table().Add(name);
}

uint16_t FindAtom(const char* name) {
    return Table().Find(name);
}

void DeleteAtom(uint16_t atom) {
    Table().Delete(atom);
}

}  // namespace backend

}  // namespace vantrel::platform
