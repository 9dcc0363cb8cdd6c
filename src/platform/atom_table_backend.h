// The atom table behind atom_table.h, one backend each (posix/, win32/). The portable layer
// (atom_table.cpp) calls them only with a valid name (1 to 255 characters) or a nonzero atom.
#pragma once

#include <cstdint>

namespace vantrel::platform::backend {

uint16_t AddAtom(const char* name);
uint16_t FindAtom(const char* name);
void DeleteAtom(uint16_t atom);

}  // namespace vantrel::platform::backend
