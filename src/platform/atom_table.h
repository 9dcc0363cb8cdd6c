// The process-local atom table: names of 1 to 255 characters, compared without regard to
// ASCII case, mapped to atoms 0xC000..0xFFFF with a reference count per name.
#pragma once

#include <cstdint>

namespace vantrel::platform {

// AddAtomA: the atom of name, adding a reference (0 on failure).
uint16_t AddAtom(const char* name);
// FindAtomA: the atom of name, or 0 when there is none.
uint16_t FindAtom(const char* name);
// DeleteAtom: drops one reference; the name goes when the last one does.
void DeleteAtom(uint16_t atom);

}  // namespace vantrel::platform
