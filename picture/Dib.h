// The device-independent bitmap shared by BMP files and icons: its header, palette and pixel
// layout, parsed and checked once so that the pixel decoders read only inside the buffer.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "picture/PictureDecoders.h"

namespace picture {

enum class DibCompression : uint32_t {
    Rgb = 0,
    Rle8 = 1,
    Rle4 = 2,
    Bitfields = 3,
    Jpeg = 4,
    Png = 5,
    AlphaBitfields = 6,
};

// One colour channel of a 16- or 32-bit pixel: where its bits are and how many there are.
struct DibChannel {
    uint32_t Mask = 0;
    int Shift = 0;
    int Bits = 0;
};

struct DibLayout {
    int64_t Width = 0;
    int64_t Height = 0;  // rows of colour pixels (for an icon: without the mask's rows)
    bool TopDown = false;
    int BitCount = 0;
    DibCompression Compression = DibCompression::Rgb;
    // Channels of 16- and 32-bit pixels, in the order red, green, blue, alpha.
    std::array<DibChannel, 4> Channels{};
    bool AlphaFromData = false;   // the pixels carry an alpha channel
    uint64_t PaletteOffset = 0;   // offsets are from the start of the buffer given to the parser
    uint64_t PaletteEntries = 0;  // entries stored in the file (they take space even if unused)
    int PaletteEntrySize = 4;
    uint64_t PixelOffset = 0;
    uint64_t RowStride = 0;  // bytes per stored row, padded to 32 bits
};

// Where the pixel data begins: a BMP file names it in its file header, an icon image places it
// right after the palette.
enum class DibPixelPlacement { FromFileHeader, AfterPalette };

// Parses the DIB header that begins at `headerOffset`. For an icon image (`icon`), the stated
// height counts the colour rows and the mask rows together. `fileHeaderPixelOffset` is the BMP
// file header's pixel offset (used with FromFileHeader only).
bool ParseDibHeader(Bytes bytes, uint64_t headerOffset, bool icon, DibPixelPlacement placement,
                    uint64_t fileHeaderPixelOffset, DibLayout &layout, std::string &error);

// Decodes the colour pixels described by `layout`: checks the limits and that the data is present
// before it allocates. Empty pointer with the reason in `error` when it cannot. `alphaInUse`, when
// given, tells whether the pixels' own alpha channel was taken (some pixel's alpha is not zero).
std::unique_ptr<Picture> DecodeDib(Bytes bytes, const DibLayout &layout,
                                   const PictureLimits &limits, std::string &error,
                                   bool *alphaInUse = nullptr);

// Run-length encoded pixels (8 and 4 bits per pixel) into an allocated picture; used by DecodeDib.
bool DecodeDibRle(Bytes bytes, const DibLayout &layout, const std::array<uint32_t, 256> &palette,
                  Picture &out, std::string &error);

}  // namespace picture
