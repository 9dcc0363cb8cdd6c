// The exclusive file object on Windows: CreateFileA with no sharing, so any other opener, in
// this process or another, is refused while the file is open. Create-or-empty opens with
// OPEN_ALWAYS and only then cuts the file, so a file held by another opener is never emptied:
// the opening itself fails with a sharing violation.
#include "platform/file.h"

#include <cstdio>
#include <limits>

#include "platform/test_seam.h"
#include "win32_api.h"

namespace vantrel::platform {

namespace {

using testing::Fault;
using testing::ShouldFail;

[[noreturn]] void ThrowFileError(const char* operation, const std::string& path, DWORD error) {
    char code[32];
    snprintf(code, sizeof code, ": error %lu", static_cast<unsigned long>(error));
    throw FileError(std::string(operation) + " failed for " + path + (error != 0 ? code : ""));
}

HANDLE ToFileHandle(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

struct OpenArguments {
    DWORD access;
    DWORD disposition;
};

OpenArguments ArgumentsFor(FileOpenMode mode) {
    switch (mode) {
        case FileOpenMode::CreateOrEmptyReadWrite:
            return {GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS};
        case FileOpenMode::CreateNewReadWrite:
            return {GENERIC_READ | GENERIC_WRITE, CREATE_NEW};
        case FileOpenMode::ExistingReadWrite:
            return {GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING};
        case FileOpenMode::ExistingWrite:
            return {GENERIC_WRITE, OPEN_EXISTING};
        case FileOpenMode::ExistingRead:
            return {GENERIC_READ, OPEN_EXISTING};
    }
    return {0, OPEN_EXISTING};
}

// Takes the opened handle through the checks that make it a usable log file. Reserved
// device names (CON, NUL, COM1, ...) open devices even with an extension, so only a disk
// file is accepted.
bool PrepareHandle(HANDLE handle, FileOpenMode mode) {
    if (::GetFileType(handle) != FILE_TYPE_DISK) return false;
    if (mode == FileOpenMode::CreateOrEmptyReadWrite && !::SetEndOfFile(handle)) return false;
    return true;
}

}  // namespace

PathKind GetPathKind(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::None;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Directory : PathKind::File;
}

bool CreateDirectory(const std::string& path) {
    if (ShouldFail(Fault::CreateDirectory)) return false;
    return ::CreateDirectoryA(path.c_str(), nullptr) != 0;
}

bool DeleteFile(const std::string& path) {
    if (ShouldFail(Fault::FileDelete)) return false;
    return ::DeleteFileA(path.c_str()) != 0;
}

std::string FindNameIgnoringCase(const std::string& folder, const std::string& name) {
    // The file system compares names without regard to case already.
    return GetPathKind(folder + name) == PathKind::None ? std::string() : name;
}

bool RenameFile(const std::string& from, const std::string& to) {
    if (ShouldFail(Fault::FileOpen)) return false;
    return ::MoveFileA(from.c_str(), to.c_str()) != 0;
}

File::~File() {
    Abort();
}

bool File::Open(const std::string& path, FileOpenMode mode) {
    Abort();
    if (ShouldFail(Fault::FileOpen)) return false;
    const OpenArguments arguments = ArgumentsFor(mode);
    HANDLE handle = ::CreateFileA(path.c_str(), arguments.access, 0, nullptr, arguments.disposition,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    if (!PrepareHandle(handle, mode)) {
        ::CloseHandle(handle);
        return false;
    }
    handle_ = reinterpret_cast<intptr_t>(handle);
    path_ = path;
    return true;
}

bool File::OpenForWritesAt(const std::string& path, uint64_t* length, bool* missing) {
    *missing = false;
    if (!Open(path, FileOpenMode::ExistingReadWrite)) {
        const DWORD error = ::GetLastError();
        *missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return false;
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(ToFileHandle(handle_), &size)) {
        Abort();
        return false;
    }
    *length = static_cast<uint64_t>(size.QuadPart);
    return true;
}

void File::Close() {
    if (!IsOpen()) return;
    HANDLE handle = ToFileHandle(handle_);
    handle_ = kNoHandle;
    // The handle is gone after CloseHandle whatever it reports, so it is never retried.
    const bool injected = ShouldFail(Fault::FileClose);
    const BOOL closed = ::CloseHandle(handle);
    if (injected) ThrowFileError("close", path_, ERROR_WRITE_FAULT);
    if (!closed) ThrowFileError("close", path_, ::GetLastError());
}

void File::Abort() noexcept {
    if (!IsOpen()) return;
    ::CloseHandle(ToFileHandle(handle_));
    handle_ = kNoHandle;
}

void File::Seek(uint64_t offset) {
    if (!IsOpen()) ThrowFileError("seek", path_, ERROR_INVALID_HANDLE);
    if (ShouldFail(Fault::FileSeek)) ThrowFileError("seek", path_, ERROR_SEEK);
    if (offset > static_cast<uint64_t>(std::numeric_limits<LONGLONG>::max()))
        ThrowFileError("seek", path_, ERROR_NEGATIVE_SEEK);
    LARGE_INTEGER distance{};
    distance.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(ToFileHandle(handle_), distance, nullptr, FILE_BEGIN))
        ThrowFileError("seek", path_, ::GetLastError());
}

void File::SeekToEnd() {
    if (!IsOpen()) ThrowFileError("seek", path_, ERROR_INVALID_HANDLE);
    if (ShouldFail(Fault::FileSeek)) ThrowFileError("seek", path_, ERROR_SEEK);
    LARGE_INTEGER none{};
    if (!::SetFilePointerEx(ToFileHandle(handle_), none, nullptr, FILE_END))
        ThrowFileError("seek", path_, ::GetLastError());
}

uint64_t File::GetPosition() {
    if (!IsOpen()) ThrowFileError("position", path_, ERROR_INVALID_HANDLE);
    if (ShouldFail(Fault::FileSeek)) ThrowFileError("position", path_, ERROR_SEEK);
    LARGE_INTEGER none{}, at{};
    if (!::SetFilePointerEx(ToFileHandle(handle_), none, &at, FILE_CURRENT))
        ThrowFileError("position", path_, ::GetLastError());
    return static_cast<uint64_t>(at.QuadPart);
}

uint64_t File::GetLength() {
    if (!IsOpen()) ThrowFileError("length", path_, ERROR_INVALID_HANDLE);
    if (ShouldFail(Fault::FileLength)) ThrowFileError("length", path_, ERROR_READ_FAULT);
    LARGE_INTEGER length{};
    if (!::GetFileSizeEx(ToFileHandle(handle_), &length))
        ThrowFileError("length", path_, ::GetLastError());
    return static_cast<uint64_t>(length.QuadPart);
}

uint32_t File::Read(void* buffer, uint32_t count) {
    if (!IsOpen()) ThrowFileError("read", path_, ERROR_INVALID_HANDLE);
    if (ShouldFail(Fault::FileRead)) ThrowFileError("read", path_, ERROR_READ_FAULT);
    if (count == 0) return 0;
    DWORD got = 0;
    if (!::ReadFile(ToFileHandle(handle_), buffer, count, &got, nullptr))
        ThrowFileError("read", path_, ::GetLastError());
    return got;
}

void File::Write(const void* data, uint32_t count) {
    if (!IsOpen()) ThrowFileError("write", path_, ERROR_INVALID_HANDLE);
    if (ShouldFail(Fault::FileWrite)) ThrowFileError("write", path_, ERROR_DISK_FULL);
    const char* at = static_cast<const char*>(data);
    uint32_t left = count;
    while (left > 0) {
        DWORD put = 0;
        if (!::WriteFile(ToFileHandle(handle_), at, left, &put, nullptr))
            ThrowFileError("write", path_, ::GetLastError());
        if (put == 0) ThrowFileError("write", path_, ERROR_WRITE_FAULT);
        at += put;
        left -= put;
    }
}

void File::WriteAt(uint64_t offset, const WritePiece* pieces, size_t count) {
    if (!IsOpen()) ThrowFileError("write", path_, ERROR_INVALID_HANDLE);
    // Positioning is part of the write, so a test that fails seeks fails it too.
    if (ShouldFail(Fault::FileSeek)) ThrowFileError("seek", path_, ERROR_SEEK);
    uint64_t at = offset;
    for (size_t i = 0; i < count; ++i) {
        if (pieces[i].size == 0) continue;
        if (ShouldFail(Fault::FileWrite)) ThrowFileError("write", path_, ERROR_DISK_FULL);
        const char* data = static_cast<const char*>(pieces[i].data);
        uint32_t left = pieces[i].size;
        while (left > 0) {
            // The offset in OVERLAPPED makes each WriteFile a positioned write.
            OVERLAPPED position{};
            position.Offset = static_cast<DWORD>(at);
            position.OffsetHigh = static_cast<DWORD>(at >> 32);
            DWORD put = 0;
            if (!::WriteFile(ToFileHandle(handle_), data, left, &put, &position))
                ThrowFileError("write", path_, ::GetLastError());
            if (put == 0) ThrowFileError("write", path_, ERROR_WRITE_FAULT);
            data += put;
            left -= put;
            at += put;
        }
    }
}

void File::SetLength(uint64_t length) {
    if (!IsOpen()) ThrowFileError("set length", path_, ERROR_INVALID_HANDLE);
    // Changing the length is a write as far as a full disk or a test is concerned.
    if (ShouldFail(Fault::FileWrite)) ThrowFileError("set length", path_, ERROR_DISK_FULL);
    if (length > static_cast<uint64_t>(std::numeric_limits<LONGLONG>::max()))
        ThrowFileError("set length", path_, ERROR_NEGATIVE_SEEK);
    // SetEndOfFile cuts at the file pointer; the pointer is put back afterwards, so that
    // changing the length does not move it, as on every other platform.
    HANDLE handle = ToFileHandle(handle_);
    LARGE_INTEGER none{}, position{}, end{};
    end.QuadPart = static_cast<LONGLONG>(length);
    if (!::SetFilePointerEx(handle, none, &position, FILE_CURRENT) ||
        !::SetFilePointerEx(handle, end, nullptr, FILE_BEGIN)) {
        ThrowFileError("set length", path_, ::GetLastError());
    }
    const BOOL cut = ::SetEndOfFile(handle);
    const DWORD error = cut ? 0 : ::GetLastError();
    if (!::SetFilePointerEx(handle, position, nullptr, FILE_BEGIN) && cut)
        ThrowFileError("set length", path_, ::GetLastError());
    if (!cut) ThrowFileError("set length", path_, error);
}

std::string File::GetFileName() const {
    // Windows takes "/" as a separator too.
    size_t at = path_.find_last_of("\\/");
    return at == std::string::npos ? path_ : path_.substr(at + 1);
}

}  // namespace vantrel::platform
