// The process-local atom table. Atoms are handed out from 0xC000 upward and reused once
// their last reference is gone, as the Windows local atom table does.
#include "platform/atom_table.h"

#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/test_seam.h"

namespace vantrel::platform {

namespace {

constexpr uint16_t kFirstAtom = 0xC000;
constexpr size_t kMaxAtoms = 0x10000 - kFirstAtom;
constexpr size_t kMaxNameLength = 255;

struct AtomEntry {
    std::string name;  // as first added
    uint32_t references = 0;
};

std::string FoldCase(const char* name) {
    std::string folded(name);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
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

bool ValidName(const char* name) {
    if (!name) return false;
    size_t length = strnlen(name, kMaxNameLength + 1);
    return length >= 1 && length <= kMaxNameLength;
}

}  // namespace

uint16_t AddAtom(const char* name) {
    if (testing::ShouldFail(testing::Fault::AtomAdd) || !ValidName(name)) return 0;
    return Table().Add(name);
}

uint16_t FindAtom(const char* name) {
    AtomTable& table = Table();
    if (!ValidName(name)) return 0;
    return table.Find(name);
}

void DeleteAtom(uint16_t atom) {
    Table().Delete(atom);
}

}  // namespace vantrel::platform
