// The process's local atom table (AddAtomA, FindAtomA, DeleteAtom).
#include "platform/atom_table.h"

#include <cstring>

#include "platform/test_seam.h"
#include "win32_api.h"

namespace vantrel::platform {

namespace {

// The system refuses longer names as well; checking first keeps an empty or null name from
// ever reaching it.
constexpr size_t kMaxNameLength = 255;

bool ValidName(const char* name) {
    if (!name) return false;
    size_t length = strnlen(name, kMaxNameLength + 1);
    return length >= 1 && length <= kMaxNameLength;
}

}  // namespace

uint16_t AddAtom(const char* name) {
    if (testing::ShouldFail(testing::Fault::AtomAdd) || !ValidName(name)) return 0;
    return ::AddAtomA(name);
}

uint16_t FindAtom(const char* name) {
    if (!ValidName(name)) return 0;
    return ::FindAtomA(name);
}

void DeleteAtom(uint16_t atom) {
    if (atom != 0) ::DeleteAtom(atom);
}

}  // namespace vantrel::platform
