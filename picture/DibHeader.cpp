// Parsing of DIB headers: the 12-byte core header and the 40-byte information header with its
// later extensions (colour masks, alpha mask). Every value taken from the file is checked here, so
// the pixel decoders can rely on the layout.
#include <algorithm>
#include <bit>

#include "picture/Dib.h"

namespace picture {
namespace {

constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kMasksInHeaderSize = 52;  // the information header with red, green, blue masks
constexpr uint32_t kAlphaInHeaderSize = 56;  // ... and the alpha mask

bool Fail(std::string &error, const char *reason) {
    error = reason;
    return false;
}

// A mask must be one run of set bits (or empty: the channel is absent).
bool MakeChannel(uint32_t mask, DibChannel &channel) {
    channel = DibChannel{};
    if (mask == 0)
        return true;
    const int shift = std::countr_zero(mask);
    const uint32_t bits = mask >> shift;
    if ((bits & (bits + 1)) != 0)
        return false;
    channel = DibChannel{mask, shift, std::popcount(bits)};
    return true;
}

bool SetChannels(DibLayout &layout, uint32_t red, uint32_t green, uint32_t blue, uint32_t alpha,
                 std::string &error) {
    const uint32_t masks[4] = {red, green, blue, alpha};
    for (int i = 0; i < 4; ++i)
        if (!MakeChannel(masks[i], layout.Channels[i]))
            return Fail(error, "BMP colour mask is not contiguous");
    layout.AlphaFromData = alpha != 0;
    return true;
}

bool CheckCompression(DibLayout &layout, std::string &error) {
    switch (layout.Compression) {
        case DibCompression::Rgb:
            return true;
        case DibCompression::Rle8:
            return layout.BitCount == 8 || Fail(error, "BMP RLE8 needs 8 bits per pixel");
        case DibCompression::Rle4:
            return layout.BitCount == 4 || Fail(error, "BMP RLE4 needs 4 bits per pixel");
        case DibCompression::Bitfields:
        case DibCompression::AlphaBitfields:
            return layout.BitCount == 16 || layout.BitCount == 32 ||
                   Fail(error, "BMP bit fields need 16 or 32 bits per pixel");
        case DibCompression::Jpeg:
        case DibCompression::Png:
            return Fail(error, "BMP with embedded JPEG or PNG data is not supported");
    }
    return Fail(error, "unknown BMP compression");
}

// The alpha mask of uncompressed 16- and 32-bit pixels. In a BMP file the bits beside the colours
// are padding unless a header with an alpha mask (56 bytes and more) names them; in an icon the
// fourth byte of a 32-bit pixel is alpha.
uint32_t UncompressedAlphaMask(Bytes bytes, uint64_t headerOffset, uint32_t headerSize,
                               const DibLayout &layout, uint32_t colourMasks, bool icon) {
    const uint32_t pixelBits = layout.BitCount == 32 ? 0xFFFFFFFFu : 0xFFFFu;
    if (icon)
        return layout.BitCount == 32 ? 0xFF000000u : 0;
    if (headerSize < kAlphaInHeaderSize)
        return 0;
    const uint32_t alpha = ReadLe32(bytes, static_cast<size_t>(headerOffset) + 52);
    return (alpha & colourMasks) == 0 && (alpha & ~pixelBits) == 0 ? alpha : 0;
}

// Reads the masks of 16- and 32-bit pixels: from the header, from the words after a 40-byte
// header, or the defaults of uncompressed data. Returns the offset just after the masks.
bool ReadMasks(Bytes bytes, uint64_t headerOffset, uint32_t headerSize, bool icon,
               DibLayout &layout, uint64_t &afterMasks, std::string &error) {
    afterMasks = headerOffset + headerSize;
    const bool bitfields = layout.Compression == DibCompression::Bitfields ||
                           layout.Compression == DibCompression::AlphaBitfields;
    if (!bitfields) {
        const bool wide = layout.BitCount == 32;
        const uint32_t red = wide ? 0xFF0000 : 0x7C00;
        const uint32_t green = wide ? 0xFF00 : 0x03E0;
        const uint32_t blue = wide ? 0xFF : 0x001F;
        const uint32_t alpha = UncompressedAlphaMask(bytes, headerOffset, headerSize, layout,
                                                     red | green | blue, icon);
        return SetChannels(layout, red, green, blue, alpha, error);
    }
    uint64_t masksAt = headerOffset + kInfoHeaderSize;
    int maskCount = layout.Compression == DibCompression::AlphaBitfields ? 4 : 3;
    if (headerSize >= kAlphaInHeaderSize) {
        maskCount = 4;
    } else if (headerSize < kMasksInHeaderSize) {
        afterMasks = masksAt + 4u * static_cast<uint64_t>(maskCount);  // masks after the header
    }
    if (!FitsIn(bytes.size(), masksAt, 4u * static_cast<uint64_t>(maskCount)))
        return Fail(error, "BMP colour masks are truncated");
    const size_t at = static_cast<size_t>(masksAt);
    const uint32_t alpha = maskCount == 4 ? ReadLe32(bytes, at + 12) : 0;
    return SetChannels(layout, ReadLe32(bytes, at), ReadLe32(bytes, at + 4),
                       ReadLe32(bytes, at + 8), alpha, error);
}

}  // namespace

bool ParseDibHeader(Bytes bytes, uint64_t headerOffset, bool icon, DibPixelPlacement placement,
                    uint64_t fileHeaderPixelOffset, DibLayout &layout, std::string &error) {
    layout = DibLayout{};
    if (!FitsIn(bytes.size(), headerOffset, 4))
        return Fail(error, "BMP header is truncated");
    const size_t h = static_cast<size_t>(headerOffset);
    const uint32_t headerSize = ReadLe32(bytes, h);
    if (headerSize != kCoreHeaderSize && headerSize < kInfoHeaderSize)
        return Fail(error, "unsupported BMP header");
    if (!FitsIn(bytes.size(), headerOffset, headerSize))
        return Fail(error, "BMP header is truncated");

    int64_t height = 0;
    uint32_t usedColours = 0;
    if (headerSize == kCoreHeaderSize) {
        layout.Width = ReadLe16(bytes, h + 4);
        height = ReadLe16(bytes, h + 6);
        layout.BitCount = ReadLe16(bytes, h + 10);
        layout.PaletteEntrySize = 3;
    } else {
        layout.Width = static_cast<int32_t>(ReadLe32(bytes, h + 4));
        height = static_cast<int32_t>(ReadLe32(bytes, h + 8));
        layout.BitCount = ReadLe16(bytes, h + 14);
        layout.Compression = static_cast<DibCompression>(ReadLe32(bytes, h + 16));
        usedColours = ReadLe32(bytes, h + 32);
    }

    if (layout.Width <= 0 || height == 0)
        return Fail(error, "BMP has no pixels");
    layout.TopDown = height < 0;
    layout.Height = height < 0 ? -height : height;  // 64-bit: the most negative value is safe
    if (icon) {
        // The stated height covers the colour rows and the mask rows below them.
        if (layout.TopDown || layout.Height < 2)
            return Fail(error, "icon image has an invalid height");
        layout.Height /= 2;
    }
    const int bits = layout.BitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return Fail(error, "unsupported BMP bit depth");
    if (headerSize == kCoreHeaderSize && bits > 24)
        return Fail(error, "unsupported BMP bit depth");
    if (!CheckCompression(layout, error))
        return false;
    const bool rle =
        layout.Compression == DibCompression::Rle8 || layout.Compression == DibCompression::Rle4;
    if (rle && layout.TopDown)
        return Fail(error, "BMP with run-length encoding cannot be stored top-down");

    uint64_t afterMasks = headerOffset + headerSize;
    if (bits == 16 || bits == 32) {
        if (!ReadMasks(bytes, headerOffset, headerSize, icon, layout, afterMasks, error))
            return false;
    }

    // The palette follows the header (and masks); it takes the space of all entries the header
    // declares, even when the pixels can only index fewer of them.
    layout.PaletteOffset = afterMasks;
    if (usedColours != 0)
        layout.PaletteEntries = usedColours;
    else if (bits <= 8)
        layout.PaletteEntries = uint64_t{1} << bits;
    const uint64_t paletteEnd =
        layout.PaletteOffset +
        layout.PaletteEntries * static_cast<uint64_t>(layout.PaletteEntrySize);

    if (placement == DibPixelPlacement::AfterPalette || fileHeaderPixelOffset == 0) {
        layout.PixelOffset = paletteEnd;
    } else {
        layout.PixelOffset = fileHeaderPixelOffset;
        // Writers often store fewer entries than the header implies (always so for core headers,
        // which cannot state a count): the palette ends where the pixels begin.
        if (layout.PixelOffset >= layout.PaletteOffset)
            layout.PaletteEntries =
                std::min(layout.PaletteEntries, (layout.PixelOffset - layout.PaletteOffset) /
                                                    static_cast<uint64_t>(layout.PaletteEntrySize));
    }
    if (layout.PixelOffset > bytes.size())
        return Fail(error, "BMP pixel data lies outside the file");

    layout.RowStride =
        (static_cast<uint64_t>(layout.Width) * static_cast<uint64_t>(bits) + 31) / 32 * 4;
    return true;
}

}  // namespace picture
