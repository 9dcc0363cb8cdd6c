// The geometry of a packed device-independent bitmap (a 40-byte info header, optional
// colour masks, the colour table, then the pixels) and of the BMP file that stores it.
#pragma once

#include <cstdint>

namespace vantrel {

constexpr uint32_t kDibInfoHeaderSize = 40;
constexpr uint32_t kBmpFileHeaderSize = 14;

constexpr uint32_t kDibCompressionRle8 = 1;
constexpr uint32_t kDibCompressionRle4 = 2;
constexpr uint32_t kDibCompressionBitFields = 3;
constexpr uint32_t kDibCompressionAlphaBitFields = 6;

// The info header fields, read byte by byte (little-endian): the caller's pointer may be
// unaligned.
struct DibInfoHeader {
    uint32_t size = 0;
    int32_t width = 0;
    int32_t height = 0;
    uint16_t planes = 0;
    uint16_t bitCount = 0;
    uint32_t compression = 0;
    uint32_t imageSize = 0;
    int32_t xPelsPerMeter = 0;
    int32_t yPelsPerMeter = 0;
    uint32_t colorsUsed = 0;
    uint32_t colorsImportant = 0;
};

DibInfoHeader ReadDibInfoHeader(const void* bitmap);
// Stores the image size field of the caller's info header.
void StoreDibImageSize(void* bitmap, uint32_t imageSize);

// Colour-table entries: colours used, or the default of the bit count (2, 16, 256, else 0).
uint32_t DibColorCount(const DibInfoHeader& header);

// Colour-table bytes, or 0 when the count is more than the bit count allows.
uint32_t DibPaletteBytes(const DibInfoHeader& header);

// What the file takes from the bitmap. Every size fits 32 bits.
struct DibLayout {
    uint32_t maskBytes = 0;          // colour masks between the info header and the colour table
    uint32_t paletteBytes = 0;       // the colour table
    uint32_t imageSize = 0;          // pixel bytes
    bool imageSizeComputed = false;  // uncompressed: the caller's field is brought up to date
    uint32_t bitsOffset = 0;         // file offset of the pixels
    uint32_t fileSize = 0;

    // Bytes taken from the caller's buffer, starting at its info header.
    uint32_t DibBytes() const { return kDibInfoHeaderSize + maskBytes + paletteBytes + imageSize; }
};

// False when the header describes nothing that can be stored safely: a negative width, more
// colours than the bit count allows, compressed pixels of unknown size, or sizes that do not
// fit 32 bits. The file must never take more bytes than the header accounts for.
bool ComputeDibLayout(const DibInfoHeader& header, DibLayout* layout);

// The 14-byte file header ("BM", file size, two reserved words, offset of the pixels).
void BuildBmpFileHeader(const DibLayout& layout, uint8_t out[kBmpFileHeaderSize]);

}  // namespace vantrel
