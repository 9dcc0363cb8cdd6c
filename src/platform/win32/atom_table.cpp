// The process's local atom table (AddAtomA, FindAtomA, DeleteAtom).
#include "platform/atom_table_backend.h"
#include "platform/win32/win32_api.h"

namespace vantrel::platform::backend {

uint16_t AddAtom(const char* name) {
    return ::AddAtomA(name);
}

uint16_t FindAtom(const char* name) {
    return ::FindAtomA(name);
}

void DeleteAtom(uint16_t atom) {
    ::DeleteAtom(atom);
}

}  // namespace vantrel::platform::backend
