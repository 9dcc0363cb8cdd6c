// The portable half of the file object: its preconditions, the test seam and the name rules,
// once for every backend. The system calls are in posix/file.cpp and win32/file.cpp.
#include "platform/file.h"

#include "platform/file_backend.h"
#include "platform/platform_config.h"
#include "platform/test_seam.h"

namespace vantrel::platform {

namespace {

using testing::Fault;
using testing::ShouldFail;

[[noreturn]] void Fail(const char* operation, const std::string& path, const char* reason) {
    throw FileError(std::string(operation) + " failed for " + path + ": " + reason);
}

// Every operation on a file needs it open; a test may fail it.
void Check(bool open, const char* operation, const std::string& path, Fault fault) {
    if (!open) Fail(operation, path, "the file is not open");
    if (ShouldFail(fault)) Fail(operation, path, "failure injected by a test");
}

}  // namespace

bool CreateDirectory(const std::string& path) {
    return !ShouldFail(Fault::CreateDirectory) && backend::CreateDirectory(path);
}

bool DeleteFile(const std::string& path) {
    return !ShouldFail(Fault::FileDelete) && backend::DeleteFile(path);
}

bool RenameFile(const std::string& from, const std::string& to) {
    return !ShouldFail(Fault::FileOpen) && backend::RenameFile(from, to);
}

File::~File() {
    Abort();
}

bool File::Open(const std::string& path, FileOpenMode mode) {
    Abort();
    if (ShouldFail(Fault::FileOpen)) return false;
    backend::Handle handle;
    if (!backend::Open(path, mode, &handle)) return false;
    handle_ = handle;
    path_ = path;
    return true;
}

bool File::OpenForWritesAt(const std::string& path, uint64_t* length, bool* missing) {
    Abort();
    *missing = false;
    if (ShouldFail(Fault::FileOpen)) return false;
    backend::Handle handle;
    if (!backend::OpenForWritesAt(path, &handle, length, missing)) return false;
    handle_ = handle;
    path_ = path;
    return true;
}

bool File::IsStillAtPath(uint64_t* length) {
    return IsOpen() && backend::IsStillAtPath(handle_, path_, length);
}

void File::Close() {
    if (!IsOpen()) return;
    const backend::Handle handle = handle_;
    handle_ = kNoHandle;
    // The handle is gone after the close whatever it reports, so it is never retried.
    if (ShouldFail(Fault::FileClose)) {
        backend::Abort(handle);
        Fail("close", path_, "failure injected by a test");
    }
    backend::Close(handle, path_);
}

void File::Abort() noexcept {
    if (!IsOpen()) return;
    backend::Abort(handle_);
    handle_ = kNoHandle;
}

void File::Seek(uint64_t offset) {
    Check(IsOpen(), "seek", path_, Fault::FileSeek);
    backend::Seek(handle_, path_, offset);
}

void File::SeekToEnd() {
    Check(IsOpen(), "seek", path_, Fault::FileSeek);
    backend::SeekToEnd(handle_, path_);
}

uint64_t File::GetPosition() {
    Check(IsOpen(), "position", path_, Fault::FileSeek);
    return backend::GetPosition(handle_, path_);
}

uint64_t File::GetLength() {
    Check(IsOpen(), "length", path_, Fault::FileLength);
    return backend::GetLength(handle_, path_);
}

uint32_t File::Read(void* buffer, uint32_t count) {
    Check(IsOpen(), "read", path_, Fault::FileRead);
    return count == 0 ? 0 : backend::Read(handle_, path_, buffer, count);
}

void File::Write(const void* data, uint32_t count) {
    if (!IsOpen()) Fail("write", path_, "the file is not open");
    if (ShouldFail(Fault::FileWrite)) {
        // As a full disk fails a write: what fitted is in the file.
        backend::Write(handle_, path_, data, count / 2);
        Fail("write", path_, "failure injected by a test");
    }
    backend::Write(handle_, path_, data, count);
}

void File::WriteAt(uint64_t offset, const WritePiece* pieces, size_t count) {
    // Positioning is part of the write, so a test that fails seeks fails it too.
    Check(IsOpen(), "write", path_, Fault::FileSeek);
    if (ShouldFail(Fault::FileWrite)) {
        const uint64_t length = backend::GetLength(handle_, path_);
        if (length > offset) {
            const std::vector<WritePiece> inside = SliceOfPieces(pieces, count, 0, length - offset);
            backend::WriteAt(handle_, path_, offset, inside.data(), inside.size());
        }
        Fail("write", path_, "failure injected by a test");
    }
    backend::WriteAt(handle_, path_, offset, pieces, count);
}

std::vector<WritePiece> SliceOfPieces(const WritePiece* pieces, size_t count, uint64_t begin,
                                      uint64_t end) {
    std::vector<WritePiece> slice;
    uint64_t at = 0;  // where the current piece starts
    for (size_t i = 0; i < count && at < end; at += pieces[i].size, ++i) {
        const uint64_t from = begin > at ? begin - at : 0;
        const uint64_t to = end - at < pieces[i].size ? end - at : pieces[i].size;
        if (from >= to) continue;
        slice.push_back(WritePiece{static_cast<const char*>(pieces[i].data) + from,
                                   static_cast<uint32_t>(to - from)});
    }
    return slice;
}

void File::SetLength(uint64_t length) {
    // Changing the length is a write as far as a full disk or a test is concerned.
    Check(IsOpen(), "set length", path_, Fault::FileWrite);
    backend::SetLength(handle_, path_, length);
}

std::string File::GetFileName() const {
    // Windows takes "/" as a separator too.
    const size_t at = path_.find_last_of(kPathSeparator == '\\' ? "\\/" : "/");
    return at == std::string::npos ? path_ : path_.substr(at + 1);
}

}  // namespace vantrel::platform
