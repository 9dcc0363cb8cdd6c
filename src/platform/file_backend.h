// The system calls behind File and the path functions of file.h, one backend each (posix/,
// win32/). The portable layer (file.cpp) calls them only after its own checks (an open file,
// the test seam); they report failures as FileError, or by their result where File does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file.h"

namespace vantrel::platform::backend {

using Handle = intptr_t;

bool CreateDirectory(const std::string& path);
bool DeleteFile(const std::string& path);
bool RenameFile(const std::string& from, const std::string& to);

bool Open(const std::string& path, FileOpenMode mode, Handle* handle);
// On failure *missing tells whether nothing is at the path or a folder on the way is gone.
bool OpenForWritesAt(const std::string& path, Handle* handle, uint64_t* length, bool* missing);
// Whether path still names the open file; *length receives the file's length.
bool IsStillAtPath(Handle handle, const std::string& path, uint64_t* length);
// Both release the handle whatever happens; Close reports a failure.
void Close(Handle handle, const std::string& path);
void Abort(Handle handle) noexcept;

void Seek(Handle handle, const std::string& path, uint64_t offset);
void SeekToEnd(Handle handle, const std::string& path);
uint64_t GetPosition(Handle handle, const std::string& path);
uint64_t GetLength(Handle handle, const std::string& path);
// count > 0.
uint32_t Read(Handle handle, const std::string& path, void* buffer, uint32_t count);
void Write(Handle handle, const std::string& path, const void* data, uint32_t count);
void WriteAt(Handle handle, const std::string& path, uint64_t offset, const WritePiece* pieces,
             size_t count);
void SetLength(Handle handle, const std::string& path, uint64_t length);

}  // namespace vantrel::platform::backend
