// The exclusive file object on POSIX: open(2) plus a non-blocking exclusive flock(2). A log
// file is never reached through a symbolic link planted at its own path (O_NOFOLLOW), and a
// file held by another opener is never emptied: the lock comes before the truncation.
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64
#endif

#include "platform/file.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/ascii_case.h"
#include "platform/file_backend.h"

namespace vantrel::platform {

static_assert(sizeof(off_t) >= 8, "log files need 64-bit offsets");

namespace {

[[noreturn]] void ThrowFileError(const char* operation, const std::string& path, int error) {
    std::string message = std::string(operation) + " failed for " + path;
    if (error != 0) message += ": " + std::string(strerror(error));
    throw FileError(message);
}

int OpenFlags(FileOpenMode mode) {
    // O_NONBLOCK only keeps a FIFO planted at the path from stalling the open; it is cleared
    // again once the descriptor is known to be a regular file.
    const int common = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    switch (mode) {
        case FileOpenMode::CreateOrEmptyReadWrite:
            return common | O_RDWR | O_CREAT;
        case FileOpenMode::CreateNewReadWrite:
            return common | O_RDWR | O_CREAT | O_EXCL;
        case FileOpenMode::ExistingReadWrite:
            return common | O_RDWR;
        case FileOpenMode::ExistingWrite:
            return common | O_WRONLY;
        case FileOpenMode::ExistingRead:
            return common | O_RDONLY;
    }
    return -1;
}

int Descriptor(backend::Handle handle) {
    return static_cast<int>(handle);
}

// Takes the opened descriptor through the checks that make it a usable log file.
bool PrepareDescriptor(int fd, FileOpenMode mode) {
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return false;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return false;
    if (mode == FileOpenMode::CreateOrEmptyReadWrite && ftruncate(fd, 0) != 0) return false;
    return true;
}

}  // namespace

PathKind GetPathKind(const std::string& path) {
    // stat, not lstat: a folder reached through a symbolic link still counts as a folder. The
    // log file itself is protected by O_NOFOLLOW when it is opened.
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return PathKind::None;
    return S_ISDIR(info.st_mode) ? PathKind::Directory : PathKind::File;
}

std::string FindNameIgnoringCase(const std::string& folder, const std::string& name) {
    DIR* listing = opendir(folder.c_str());
    if (!listing) return std::string();
    std::string found;
    while (const dirent* entry = readdir(listing)) {
        const char* candidate = entry->d_name;
        if (std::strlen(candidate) == name.size() &&
            EqualsIgnoringAsciiCase(candidate, name.data(), name.size())) {
            found = candidate;
            break;
        }
    }
    closedir(listing);
    return found;
}

namespace backend {

bool CreateDirectory(const std::string& path) {
    return mkdir(path.c_str(), 0755) == 0;
}

bool DeleteFile(const std::string& path) {
    return unlink(path.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
    return renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

bool Open(const std::string& path, FileOpenMode mode, Handle* handle) {
    int fd;
    do {
        fd = open(path.c_str(), OpenFlags(mode), 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    if (!PrepareDescriptor(fd, mode)) {
        close(fd);
        return false;
    }
    *handle = fd;
    return true;
}

bool OpenForWritesAt(const std::string& path, Handle* handle, uint64_t* length, bool* missing) {
    int fd;
    do {
        fd = open(path.c_str(), OpenFlags(FileOpenMode::ExistingReadWrite), 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        *missing = errno == ENOENT || errno == ENOTDIR;
        return false;
    }
    // A directory cannot be opened for writing, and seeking fails on a FIFO or a socket, so
    // the seek to the end both measures the file and proves it a file; O_NONBLOCK does
    // nothing to a regular file, so it may stay.
    const off_t end = flock(fd, LOCK_EX | LOCK_NB) == 0 ? lseek(fd, 0, SEEK_END) : -1;
    if (end < 0) {
        close(fd);
        return false;
    }
    *handle = fd;
    *length = static_cast<uint64_t>(end);
    return true;
}

bool IsStillAtPath(Handle handle, const std::string& path, uint64_t* length) {
    // lstat: a link planted at the path is not the file, whatever it points to.
    struct stat open, atPath;
    if (fstat(Descriptor(handle), &open) != 0 || lstat(path.c_str(), &atPath) != 0) return false;
    *length = static_cast<uint64_t>(open.st_size);
    return open.st_dev == atPath.st_dev && open.st_ino == atPath.st_ino;
}

void Close(Handle handle, const std::string& path) {
    // The descriptor is gone after close(2) whatever it reports, so it is never retried.
    if (close(Descriptor(handle)) != 0 && errno != EINTR) ThrowFileError("close", path, errno);
}

void Abort(Handle handle) noexcept {
    close(Descriptor(handle));
}

void Seek(Handle handle, const std::string& path, uint64_t offset) {
    if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max()))
        ThrowFileError("seek", path, EOVERFLOW);
    if (lseek(Descriptor(handle), static_cast<off_t>(offset), SEEK_SET) < 0)
        ThrowFileError("seek", path, errno);
}

void SeekToEnd(Handle handle, const std::string& path) {
    if (lseek(Descriptor(handle), 0, SEEK_END) < 0) ThrowFileError("seek", path, errno);
}

uint64_t GetPosition(Handle handle, const std::string& path) {
    const off_t at = lseek(Descriptor(handle), 0, SEEK_CUR);
    if (at < 0) ThrowFileError("position", path, errno);
    return static_cast<uint64_t>(at);
}

uint64_t GetLength(Handle handle, const std::string& path) {
    struct stat info;
    if (fstat(Descriptor(handle), &info) != 0) ThrowFileError("length", path, errno);
    return static_cast<uint64_t>(info.st_size);
}

uint32_t Read(Handle handle, const std::string& path, void* buffer, uint32_t count) {
    ssize_t got;
    do {
        got = read(Descriptor(handle), buffer, count);
    } while (got < 0 && errno == EINTR);
    if (got < 0) ThrowFileError("read", path, errno);
    return static_cast<uint32_t>(got);
}

void Write(Handle handle, const std::string& path, const void* data, uint32_t count) {
    const char* at = static_cast<const char*>(data);
    uint32_t left = count;
    while (left > 0) {
        ssize_t put = write(Descriptor(handle), at, left);
        if (put < 0) {
            if (errno == EINTR) continue;
            ThrowFileError("write", path, errno);
        }
        if (put == 0) ThrowFileError("write", path, EIO);
        at += put;
        left -= static_cast<uint32_t>(put);
    }
}

namespace {

// Writes the bytes of the vectors at offset at and on; after a short write it goes on with
// the rest, advancing the vectors past what landed.
inline void WriteVectorsAt(Handle handle, const std::string& path, uint64_t at, iovec* pending,
                           size_t filled, uint64_t bytes) {
    while (bytes > 0) {
        if (at > static_cast<uint64_t>(std::numeric_limits<off_t>::max()))
            ThrowFileError("write", path, EOVERFLOW);
        const int fd = Descriptor(handle);
        const ssize_t put =
            filled == 1 ? pwrite(fd, pending->iov_base, pending->iov_len, static_cast<off_t>(at))
                        : pwritev(fd, pending, static_cast<int>(filled), static_cast<off_t>(at));
        if (put < 0) {
            if (errno == EINTR) continue;
            ThrowFileError("write", path, errno);
        }
        if (put == 0) ThrowFileError("write", path, EIO);
        at += static_cast<uint64_t>(put);
        bytes -= static_cast<uint64_t>(put);
        size_t left = static_cast<size_t>(put);
        while (filled > 0 && left >= pending->iov_len) {
            left -= pending->iov_len;
            ++pending;
            --filled;
        }
        if (filled > 0) {
            pending->iov_base = static_cast<char*>(pending->iov_base) + left;
            pending->iov_len -= left;
        }
    }
}

}  // namespace

void WriteAt(Handle handle, const std::string& path, uint64_t offset, const WritePiece* pieces,
             size_t count) {
    // One piece, the usual merge of one entry, needs no gathering.
    if (count == 1) {
        iovec one{const_cast<void*>(pieces->data), pieces->size};
        WriteVectorsAt(handle, path, offset, &one, 1, pieces->size);
        return;
    }
    constexpr size_t kMostPieces = 64;  // well below IOV_MAX; more go in further calls
    iovec vectors[kMostPieces];
    size_t next = 0;
    uint64_t at = offset;
    while (next < count) {
        size_t filled = 0;
        uint64_t bytes = 0;
        for (; next < count && filled < kMostPieces; ++next) {
            if (pieces[next].size == 0) continue;
            vectors[filled].iov_base = const_cast<void*>(pieces[next].data);
            vectors[filled].iov_len = pieces[next].size;
            bytes += pieces[next].size;
            ++filled;
        }
        WriteVectorsAt(handle, path, at, vectors, filled, bytes);
        at += bytes;
    }
}

void SetLength(Handle handle, const std::string& path, uint64_t length) {
    if (length > static_cast<uint64_t>(std::numeric_limits<off_t>::max()))
        ThrowFileError("set length", path, EOVERFLOW);
    int rc;
    do {
        rc = ftruncate(Descriptor(handle), static_cast<off_t>(length));
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) ThrowFileError("set length", path, errno);
}

}  // namespace backend

}  // namespace vantrel::platform
