// Bitmap snapshots: a bitmap saved as a BMP file in the log's img folder, and the log entry
// that links to it.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "log/clog.h"
#include "log/dib_layout.h"
#include "log/entry_text.h"
#include "log/log_layout.h"
#include "log/log_mode.h"
#include "platform/file.h"
#include "platform/platform_config.h"

namespace vantrel {

namespace {

// A caller's name stays inside the img folder: one plain component, no way up or across.
bool IsPlainFileName(const char* name) {
    if (name[0] == '\0' || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
        return false;
    }
    return std::strpbrk(name, "/\\") == nullptr;
}

// Whether WriteDib has anything to write for this bitmap; one it cannot lay out leaves an
// empty file, as designed.
bool HasDibToWrite(const void* bitmap) {
    const DibInfoHeader header = ReadDibInfoHeader(bitmap);
    DibLayout layout;
    return header.size == kDibInfoHeaderSize && ComputeDibLayout(header, &layout);
}

}  // namespace

int32_t CLog::DrawBitmap(int32_t /*device*/, const char* imageName, void* bitmap,
                         const char* format, va_list args) {
    if (!lock || format == nullptr) return 0;
    platform::CriticalSectionGuard guard(*lock);

    // The name stands in an HTML attribute of the entry; a name that could end the attribute
    // or start markup is refused outright.
    if (imageName != nullptr && std::strpbrk(imageName, "\"<>&") != nullptr) return 0;

    EntryText message;
    if (!message.Format((mode & LogModeTimeStamp) != 0, format, args)) return 0;

    std::string name;
    std::string path;
    std::string imageFolder;
    bool mayCreate = true;
    try {
        imageFolder = folder + kImageFolderName;
        if (imageName != nullptr) {
            name = imageName;
            mayCreate = IsPlainFileName(imageName);
        } else {
            char madeUp[64];
            std::snprintf(madeUp, sizeof madeUp, "0x%x_0x%x_%08d.bmp", processId, threadId,
                          bitmapCount);
            name = madeUp;
            bitmapCount = static_cast<int32_t>(static_cast<uint32_t>(bitmapCount) + 1);
        }
        path = imageFolder + platform::kPathSeparator + name;
    } catch (const std::bad_alloc&) {
        return 0;
    }

    // Without a folder (a log whose Open failed) the path would be relative to wherever the
    // process happens to run.
    if (folder.empty()) mayCreate = false;
    if (mayCreate) {
        platform::File snapshot;
        bool opened = snapshot.Open(path, platform::FileOpenMode::CreateOrEmptyReadWrite);
        // Reopenings of the log file do not look for "img", so a folder deleted while the log
        // runs is made again here, where it is needed, rather than the snapshot lost.
        if (!opened && platform::GetPathKind(imageFolder) == platform::PathKind::None &&
            CreateFolderPath(imageFolder + platform::kPathSeparator)) {
            opened = snapshot.Open(path, platform::FileOpenMode::CreateOrEmptyReadWrite);
        }
        if (opened) {
            // A snapshot is kept whole or not at all: a file the disk or a size limit cut short
            // is deleted, and no entry points at it.
            bool whole = bitmap == nullptr || !HasDibToWrite(bitmap) || WriteDib(bitmap, snapshot);
            try {
                snapshot.Close();
            } catch (const platform::FileError&) {
                whole = false;
            }
            if (!whole) {
                platform::DeleteFile(path);
                return 0;
            }
        }
    }

    return AppendImageTag(name.c_str(), message.data(), message.length(), true);
}

int32_t CLog::WriteDib(const void* bitmap, platform::File& file) {
    if (bitmap == nullptr) return 0;
    const DibInfoHeader header = ReadDibInfoHeader(bitmap);
    if (header.size != kDibInfoHeaderSize) return 0;
    DibLayout layout;
    if (!ComputeDibLayout(header, &layout)) return 0;

    // The caller learns the size of its uncompressed pixels. Its buffer came in as a plain
    // pointer; the store is skipped when nothing changes, so a header that is already right
    // is never written to.
    if (layout.imageSizeComputed && header.imageSize != layout.imageSize) {
        StoreDibImageSize(const_cast<void*>(bitmap), layout.imageSize);
    }

    uint8_t fileHeader[kBmpFileHeaderSize];
    BuildBmpFileHeader(layout, fileHeader);
    try {
        file.Write(fileHeader, kBmpFileHeaderSize);
        file.Write(bitmap, layout.DibBytes());
    } catch (const platform::FileError&) {
        return 0;
    }
    return 1;
}

uint32_t CLog::PaletteSize(const void* bitmap) {
    return bitmap != nullptr ? DibPaletteBytes(ReadDibInfoHeader(bitmap)) : 0;
}

uint32_t CLog::DibNumColors(const void* bitmap) {
    return bitmap != nullptr ? DibColorCount(ReadDibInfoHeader(bitmap)) : 0;
}

}  // namespace vantrel
