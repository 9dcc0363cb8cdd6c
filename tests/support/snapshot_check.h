// A snapshot over a buffer of exactly the size its header claims reads nothing beyond it
// (sanitizers watch the end) and writes a sound BMP or nothing; 4 GiB or more is refused.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "log/clog.h"
#include "log/dib_layout.h"
#include "platform/file.h"

namespace vantrel::snapshot_check {

inline uint32_t Le32(const uint8_t* p) {  // the snapshot's fields are little-endian, as we are
    uint32_t value;
    return std::memcpy(&value, p, 4), value;
}

// A packed bitmap's bytes by the format's rules: header, masks, colour table, pixels; in 128
// bits, as 0xFFFF bits by 2^31 columns by 2^31 rows does not fit 64.
inline unsigned __int128 ClaimedSize(const uint8_t* h) {
    const int64_t width = static_cast<int32_t>(Le32(h + 4)),
                  height = static_cast<int32_t>(Le32(h + 8));
    const uint64_t bits = h[14] | (h[15] << 8), compression = Le32(h + 16);
    uint64_t colors = Le32(h + 32);
    if (colors == 0) colors = bits == 1 ? 2 : bits == 4 ? 16 : bits == 8 ? 256 : 0;
    unsigned __int128 pixels = Le32(h + 20);  // the header's image size, for RLE
    if (compression != 1 && compression != 2)
        pixels = ((static_cast<unsigned __int128>(bits) * (width < 0 ? -width : width) + 31) / 32) *
                 4 * static_cast<uint64_t>(height < 0 ? -height : height);
    return 40 + (compression == 3 ? 12 : compression == 6 ? 16 : 0) + colors * 4 + pixels;
}

class SnapshotWriter : public CLog {
  public:
    using CLog::WriteDib;
};

// "written", "refused", "untried" (claims between `limit` and 4 GiB), or what went wrong.
inline std::string Check(const uint8_t* data, size_t size, const std::string& path,
                         uint64_t limit) {
    const unsigned __int128 claimed = ClaimedSize(data);
    const bool huge = claimed >= (uint64_t{1} << 32);
    if (claimed > limit && !huge) return "untried";
    std::vector<uint8_t> bitmap(huge ? kDibInfoHeaderSize : static_cast<size_t>(claimed), 0);
    std::memcpy(bitmap.data(), data, std::min(size, bitmap.size()));
    platform::File file;
    if (!file.Open(path, platform::FileOpenMode::CreateOrEmptyReadWrite)) return "not opened";
    const int32_t result = SnapshotWriter::WriteDib(bitmap.data(), file);
    const uint64_t length = file.GetLength();
    uint8_t header[14] = {};  // zeros past a shorter file's end
    file.Seek(0), file.Read(header, sizeof header), file.Close();
    if (huge) return result == 0 && length == 0 ? "refused" : "a claim past 4 GiB written";
    if (result == 0) return "refused";
    const bool sound = Le32(data) == kDibInfoHeaderSize && length >= 14 + 40 &&
                       length <= 14 + bitmap.size() && header[0] == 'B' && header[1] == 'M' &&
                       Le32(header + 2) == length && Le32(header + 10) >= 54 &&
                       Le32(header + 10) <= length;
    return sound ? "written" : "an unsound file of " + std::to_string(length) + " bytes";
}

}  // namespace vantrel::snapshot_check
