// Opaque handle types of the platform layer. Each backend defines what the objects are; the
// core only passes them around, the way the library's Windows design passes HANDLEs.
#pragma once

namespace vantrel::platform {

struct ThreadHandleObject;
using ThreadHandle = ThreadHandleObject*;

struct ProcessHandleObject;
using ProcessHandle = ProcessHandleObject*;

struct ModuleHandleObject;
using ModuleHandle = ModuleHandleObject*;

struct MutexHandleObject;
using MutexHandle = MutexHandleObject*;

struct RegKeyObject;
using RegKey = RegKeyObject*;

}  // namespace vantrel::platform
