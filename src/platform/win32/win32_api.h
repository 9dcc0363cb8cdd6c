// <windows.h> for the Win32 backend. The platform interface uses the Win32 names without the
// A/W suffix (CreateDirectory, RegOpenKey, AddAtom, ...), which <windows.h> defines as
// macros; they are undefined here so that our declarations and definitions keep their names
// and the system's functions are always called by their "A" names.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// timeGetTime; needs <windows.h> before it.
#include <mmsystem.h>

#undef AddAtom
#undef FindAtom
#undef CreateDirectory
#undef DeleteFile
#undef GetModuleFileName
#undef RegOpenKey
#undef RegCreateKey
#undef RegQueryValue
#undef RegSetValue
#undef ReadTimeStampCounter

#include "platform/handles.h"

namespace vantrel::platform::win32 {

// The platform layer's opaque handle types (and File's integer handle) hold the system's
// handles themselves (HANDLE, HKEY, HMODULE): only the type changes, never the value.
template <typename To, typename From>
To HandleCast(From from) {
    return reinterpret_cast<To>(from);
}

}  // namespace vantrel::platform::win32
