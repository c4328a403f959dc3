// Writers of real picture files for the tests and the benchmark: PNG through libpng, JPEG through
// libjpeg, BMP and icons byte by byte.
#pragma once

#include <cstdint>
#include <vector>

#include "picture/Picture.h"

namespace picture_test {

using ByteVector = std::vector<uint8_t>;

// A picture with the given pixels (0xAARRGGBB, row by row).
Picture MakePicture(int32_t width, int32_t height, std::vector<uint32_t> pixels);
// A picture of distinct opaque colours: red rises to the right, green downwards, blue fixed.
Picture Gradient(int32_t width, int32_t height);

struct PngOptions {
    int ColorType = 6;  // PNG colour types: 0 grey, 2 RGB, 3 palette, 4 grey+alpha, 6 RGBA
    int BitDepth = 8;
    bool Interlaced = false;
};
// Grey types take the red channel; a palette holds the picture's distinct colours, alpha in tRNS.
ByteVector EncodePng(const Picture &picture, const PngOptions &options = {});

struct JpegOptions {
    enum class Colour { Rgb, Grey, AdobeCmyk } Space = Colour::Rgb;
    int Quality = 95;
    bool Progressive = false;
};
ByteVector EncodeJpeg(const Picture &picture, const JpegOptions &options = {});

struct BmpOptions {
    int BitCount = 24;         // 1, 4, 8 (palette), 16 (5-5-5), 24, 32 (BGRA)
    uint32_t HeaderSize = 40;  // 12, 40, 108 or 124
    bool TopDown = false;
    bool Bitfields565 = false;  // 16 bits as 5-6-5 with explicit masks
    bool AlphaMask = false;     // 32 bits with explicit masks and an alpha mask
};
// A palette holds the picture's distinct colours (alpha ignored).
ByteVector EncodeBmp(const Picture &picture, const BmpOptions &options = {});

// An 8-bit palette BMP with run-length encoded rows (runs only, a line end after each row).
ByteVector EncodeBmpRle8(const Picture &picture);

// The DIB of an icon image: no file header, doubled height, an AND mask where alpha is 0.
ByteVector EncodeIconDib(const Picture &picture, int bitCount);

struct IconImage {
    int DirectoryWidth;
    int DirectoryHeight;
    int BitCount;
    ByteVector Data;  // PNG stream or icon DIB
};
ByteVector EncodeIco(const std::vector<IconImage> &images);

// Appends little-endian values, for crafting files by hand.
void PutLe16(ByteVector &out, uint32_t value);
void PutLe32(ByteVector &out, uint32_t value);

}  // namespace picture_test
