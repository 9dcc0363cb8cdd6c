// The checks every atom call makes before the backend sees it, and the fault seam.
#include "platform/atom_table.h"

#include <cstring>

#include "platform/atom_table_backend.h"
#include "platform/test_seam.h"

namespace vantrel::platform {

namespace {

// The system refuses longer names as well; checking first keeps an empty or null name from
// ever reaching a backend.
constexpr size_t kMaxNameLength = 255;

bool ValidName(const char* name) {
    if (!name) return false;
    const size_t length = strnlen(name, kMaxNameLength + 1);
    return length >= 1 && length <= kMaxNameLength;
}

}  // namespace

uint16_t AddAtom(const char* name) {
    if (testing::ShouldFail(testing::Fault::AtomAdd) || !ValidName(name)) return 0;
    return backend::AddAtom(name);
}

uint16_t FindAtom(const char* name) {
    return ValidName(name) ? backend::FindAtom(name) : 0;
}

void DeleteAtom(uint16_t atom) {
    if (atom != 0) backend::DeleteAtom(atom);
}

}  // namespace vantrel::platform
