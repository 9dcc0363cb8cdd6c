// Bitmap snapshots from arbitrary info headers over a buffer of exactly the claimed size: no
// byte beyond it is read (AddressSanitizer watches its end); a written file is a sound BMP.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "log/clog.h"
#include "log/dib_layout.h"
#include "platform/file.h"

namespace {

uint32_t Le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// A packed bitmap's bytes by the format's rules: header, masks, colour table, pixels; in 128
// bits, as 0xFFFF bits by 2^31 columns by 2^31 rows does not fit 64.
unsigned __int128 ClaimedSize(const uint8_t* h) {
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

class SnapshotWriter : public vantrel::CLog {
  public:
    using CLog::WriteDib;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using fuzz::Require;
    if (size < vantrel::kDibInfoHeaderSize || ClaimedSize(data) > (4u << 20)) return 0;
    // Exactly the claimed size on the heap: the header, then the input's bytes, then zeros.
    std::vector<uint8_t> bitmap(static_cast<size_t>(ClaimedSize(data)), 0);
    std::memcpy(bitmap.data(), data, std::min<size_t>(size, bitmap.size()));

    vantrel::platform::File file;
    Require(file.Open(fuzz::InFolder("snapshot.bmp"),
                      vantrel::platform::FileOpenMode::CreateOrEmptyReadWrite));
    const int32_t result = SnapshotWriter::WriteDib(bitmap.data(), file);
    const uint64_t length = file.GetLength();
    uint8_t header[14] = {};  // zeros past a shorter file's end
    file.Seek(0);
    file.Read(header, sizeof header);
    file.Close();

    if (result == 0) return 0;
    Require(Le32(data) == vantrel::kDibInfoHeaderSize);
    Require(length >= 14 + 40 && length <= 14 + bitmap.size());
    Require(header[0] == 'B' && header[1] == 'M' && Le32(header + 2) == length);
    Require(Le32(header + 10) >= 54 && Le32(header + 10) <= length);
    return 0;
}
