// The exclusive file object on Windows: CreateFileA with no sharing, so any other opener, in
// this process or another, is refused while the file is open. Create-or-empty opens with
// OPEN_ALWAYS and only then cuts the file, so a file held by another opener is never emptied:
// the opening itself fails with a sharing violation.
#include "platform/file.h"

#include <cstdio>
#include <limits>

#include "platform/ascii_case.h"
#include "platform/file_backend.h"
#include "platform/win32/win32_api.h"

namespace vantrel::platform {

namespace {

[[noreturn]] void ThrowFileError(const char* operation, const std::string& path, DWORD error) {
    char code[32];
    snprintf(code, sizeof code, ": error %lu", static_cast<unsigned long>(error));
    throw FileError(std::string(operation) + " failed for " + path + (error != 0 ? code : ""));
}

HANDLE ToFileHandle(intptr_t handle) {
    return win32::HandleCast<HANDLE>(handle);
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

// Reserved device names (CON, NUL, COM1, ...) name a device in any folder and with any
// extension ("nul.log.htm" is NUL). Refused by name before the system sees them: not every
// Windows API layer reports such a handle as a character device.
bool IsReservedDeviceName(const std::string& path) {
    const size_t slash = path.find_last_of("\\/:");
    std::string stem = path.substr(slash == std::string::npos ? 0 : slash + 1);
    stem = stem.substr(0, stem.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    for (char& c : stem) c = AsciiLower(c);
    if (stem == "con" || stem == "prn" || stem == "aux" || stem == "nul" || stem == "conin$" ||
        stem == "conout$")
        return true;
    return stem.size() == 4 && (stem.compare(0, 3, "com") == 0 || stem.compare(0, 3, "lpt") == 0) &&
           stem[3] >= '1' && stem[3] <= '9';
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

std::string FindNameIgnoringCase(const std::string& folder, const std::string& name) {
    // The file system compares names without regard to case already.
    return GetPathKind(folder + name) == PathKind::None ? std::string() : name;
}

namespace backend {

bool CreateDirectory(const std::string& path) {
    return ::CreateDirectoryA(path.c_str(), nullptr) != 0;
}

bool DeleteFile(const std::string& path) {
    return ::DeleteFileA(path.c_str()) != 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
    return ::MoveFileA(from.c_str(), to.c_str()) != 0;
}

bool Open(const std::string& path, FileOpenMode mode, Handle* handle) {
    if (IsReservedDeviceName(path)) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    const OpenArguments arguments = ArgumentsFor(mode);
    HANDLE opened = ::CreateFileA(path.c_str(), arguments.access, 0, nullptr, arguments.disposition,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return false;
    if (!PrepareHandle(opened, mode)) {
        ::CloseHandle(opened);
        return false;
    }
    *handle = win32::HandleCast<Handle>(opened);
    return true;
}

bool OpenForWritesAt(const std::string& path, Handle* handle, uint64_t* length, bool* missing) {
    if (!Open(path, FileOpenMode::ExistingReadWrite, handle)) {
        const DWORD error = ::GetLastError();
        *missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return false;
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(ToFileHandle(*handle), &size)) {
        Abort(*handle);
        return false;
    }
    *length = static_cast<uint64_t>(size.QuadPart);
    return true;
}

bool IsStillAtPath(Handle handle, const std::string& /*path*/, uint64_t* length) {
    // Opened with share mode 0, the file cannot be deleted, moved or written by anyone else
    // while it is open.
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(ToFileHandle(handle), &size)) return false;
    *length = static_cast<uint64_t>(size.QuadPart);
    return true;
}

void Close(Handle handle, const std::string& path) {
    if (!::CloseHandle(ToFileHandle(handle))) ThrowFileError("close", path, ::GetLastError());
}

void Abort(Handle handle) noexcept {
    ::CloseHandle(ToFileHandle(handle));
}

void Seek(Handle handle, const std::string& path, uint64_t offset) {
    if (offset > static_cast<uint64_t>(std::numeric_limits<LONGLONG>::max()))
        ThrowFileError("seek", path, ERROR_NEGATIVE_SEEK);
    LARGE_INTEGER distance{};
    distance.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(ToFileHandle(handle), distance, nullptr, FILE_BEGIN))
        ThrowFileError("seek", path, ::GetLastError());
}

void SeekToEnd(Handle handle, const std::string& path) {
    LARGE_INTEGER none{};
    if (!::SetFilePointerEx(ToFileHandle(handle), none, nullptr, FILE_END))
        ThrowFileError("seek", path, ::GetLastError());
}

uint64_t GetPosition(Handle handle, const std::string& path) {
    LARGE_INTEGER none{}, at{};
    if (!::SetFilePointerEx(ToFileHandle(handle), none, &at, FILE_CURRENT))
        ThrowFileError("position", path, ::GetLastError());
    return static_cast<uint64_t>(at.QuadPart);
}

uint64_t GetLength(Handle handle, const std::string& path) {
    LARGE_INTEGER length{};
    if (!::GetFileSizeEx(ToFileHandle(handle), &length))
        ThrowFileError("length", path, ::GetLastError());
    return static_cast<uint64_t>(length.QuadPart);
}

uint32_t Read(Handle handle, const std::string& path, void* buffer, uint32_t count) {
    DWORD got = 0;
    if (!::ReadFile(ToFileHandle(handle), buffer, count, &got, nullptr))
        ThrowFileError("read", path, ::GetLastError());
    return got;
}

void Write(Handle handle, const std::string& path, const void* data, uint32_t count) {
    const char* at = static_cast<const char*>(data);
    uint32_t left = count;
    while (left > 0) {
        DWORD put = 0;
        if (!::WriteFile(ToFileHandle(handle), at, left, &put, nullptr))
            ThrowFileError("write", path, ::GetLastError());
        if (put == 0) ThrowFileError("write", path, ERROR_WRITE_FAULT);
        at += put;
        left -= put;
    }
}

void WriteAt(Handle handle, const std::string& path, uint64_t offset, const WritePiece* pieces,
             size_t count) {
    uint64_t at = offset;
    for (size_t i = 0; i < count; ++i) {
        const char* data = static_cast<const char*>(pieces[i].data);
        uint32_t left = pieces[i].size;
        while (left > 0) {
            // The offset in OVERLAPPED makes each WriteFile a positioned write.
            OVERLAPPED position{};
            position.Offset = static_cast<DWORD>(at);
            position.OffsetHigh = static_cast<DWORD>(at >> 32);
            DWORD put = 0;
            if (!::WriteFile(ToFileHandle(handle), data, left, &put, &position))
                ThrowFileError("write", path, ::GetLastError());
            if (put == 0) ThrowFileError("write", path, ERROR_WRITE_FAULT);
            data += put;
            left -= put;
            at += put;
        }
    }
}

void SetLength(Handle handle, const std::string& path, uint64_t length) {
    if (length > static_cast<uint64_t>(std::numeric_limits<LONGLONG>::max()))
        ThrowFileError("set length", path, ERROR_NEGATIVE_SEEK);
    // SetEndOfFile cuts at the file pointer; the pointer is put back afterwards, so that
    // changing the length does not move it, as on every other platform.
    HANDLE file = ToFileHandle(handle);
    LARGE_INTEGER none{}, position{}, end{};
    end.QuadPart = static_cast<LONGLONG>(length);
    if (!::SetFilePointerEx(file, none, &position, FILE_CURRENT) ||
        !::SetFilePointerEx(file, end, nullptr, FILE_BEGIN)) {
        ThrowFileError("set length", path, ::GetLastError());
    }
    const BOOL cut = ::SetEndOfFile(file);
    const DWORD error = cut ? 0 : ::GetLastError();
    if (!::SetFilePointerEx(file, position, nullptr, FILE_BEGIN) && cut)
        ThrowFileError("set length", path, ::GetLastError());
    if (!cut) ThrowFileError("set length", path, error);
}

}  // namespace backend

}  // namespace vantrel::platform
