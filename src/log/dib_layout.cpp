#include "log/dib_layout.h"

namespace vantrel {

namespace {

constexpr uint32_t kImageSizeOffset = 20;
// Colour tables of this many entries or fewer are what a 16-bit byte count can hold; no
// bitmap with more was ever stored correctly, and anything above it is taken as damage.
constexpr uint32_t kMaxColorsAboveEightBits = 0xFFFF / 4;
constexpr uint64_t kMaxFileSize = 0xFFFFFFFFull;

uint16_t ReadLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t ReadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void WriteLe16(uint8_t* p, uint16_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}

void WriteLe32(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t MaxColors(uint16_t bitCount) {
    return bitCount >= 1 && bitCount <= 8 ? (1u << bitCount) : kMaxColorsAboveEightBits;
}

uint32_t MaskCount(uint32_t compression) {
    if (compression == kDibCompressionBitFields) return 3;
    if (compression == kDibCompressionAlphaBitFields) return 4;
    return 0;
}

bool IsRunLengthEncoded(uint32_t compression) {
    return compression == kDibCompressionRle8 || compression == kDibCompressionRle4;
}

}  // namespace

DibInfoHeader ReadDibInfoHeader(const void* bitmap) {
    const uint8_t* p = static_cast<const uint8_t*>(bitmap);
    DibInfoHeader header;
    header.size = ReadLe32(p);
    header.width = static_cast<int32_t>(ReadLe32(p + 4));
    header.height = static_cast<int32_t>(ReadLe32(p + 8));
    header.planes = ReadLe16(p + 12);
    header.bitCount = ReadLe16(p + 14);
    header.compression = ReadLe32(p + 16);
    header.imageSize = ReadLe32(p + kImageSizeOffset);
    header.xPelsPerMeter = static_cast<int32_t>(ReadLe32(p + 24));
    header.yPelsPerMeter = static_cast<int32_t>(ReadLe32(p + 28));
    header.colorsUsed = ReadLe32(p + 32);
    header.colorsImportant = ReadLe32(p + 36);
    return header;
}

void StoreDibImageSize(void* bitmap, uint32_t imageSize) {
    WriteLe32(static_cast<uint8_t*>(bitmap) + kImageSizeOffset, imageSize);
}

uint32_t DibColorCount(const DibInfoHeader& header) {
    if (header.colorsUsed != 0) return header.colorsUsed;
    switch (header.bitCount) {
        case 1:
            return 2;
        case 4:
            return 16;
        case 8:
            return 256;
        default:
            return 0;
    }
}

uint32_t DibPaletteBytes(const DibInfoHeader& header) {
    const uint32_t colors = DibColorCount(header);
    return colors <= MaxColors(header.bitCount) ? colors * 4 : 0;
}

bool ComputeDibLayout(const DibInfoHeader& header, DibLayout* layout) {
    if (header.width < 0) return false;
    if (DibColorCount(header) > MaxColors(header.bitCount)) return false;

    DibLayout result;
    result.maskBytes = MaskCount(header.compression) * 4;
    result.paletteBytes = DibPaletteBytes(header);

    if (IsRunLengthEncoded(header.compression)) {
        // The length of encoded pixels is known only from the header; without it there is
        // no safe amount to copy.
        if (header.imageSize == 0) return false;
        result.imageSize = header.imageSize;
    } else {
        // Rows padded to whole 32-bit words; a top-down bitmap (negative height) has as many
        // rows as its height's magnitude.
        const uint64_t rowBits = static_cast<uint64_t>(header.bitCount) * header.width + 31;
        if (rowBits > kMaxFileSize) return false;
        const int64_t height = header.height;
        const uint64_t rows = static_cast<uint64_t>(height < 0 ? -height : height);
        const uint64_t imageSize = (rowBits / 32) * 4 * rows;
        if (imageSize > kMaxFileSize) return false;
        result.imageSize = static_cast<uint32_t>(imageSize);
        result.imageSizeComputed = true;
    }

    const uint64_t bitsOffset = static_cast<uint64_t>(kBmpFileHeaderSize) + kDibInfoHeaderSize +
                                result.maskBytes + result.paletteBytes;
    const uint64_t fileSize = bitsOffset + result.imageSize;
    if (fileSize > kMaxFileSize) return false;
    result.bitsOffset = static_cast<uint32_t>(bitsOffset);
    result.fileSize = static_cast<uint32_t>(fileSize);
    *layout = result;
    return true;
}

void BuildBmpFileHeader(const DibLayout& layout, uint8_t out[kBmpFileHeaderSize]) {
    out[0] = 'B';
    out[1] = 'M';
    WriteLe32(out + 2, layout.fileSize);
    WriteLe16(out + 6, 0);
    WriteLe16(out + 8, 0);
    WriteLe32(out + 10, layout.bitsOffset);
}

}  // namespace vantrel
