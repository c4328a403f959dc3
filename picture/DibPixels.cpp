// Decoding of uncompressed DIB pixels (palettes of 1, 4 and 8 bits, 16, 24 and 32 bits with
// colour masks) into 0xAARRGGBB rows, top row first.
#include <algorithm>

#include "picture/Dib.h"

namespace picture {
namespace {

using Palette = std::array<uint32_t, 256>;

bool Fail(std::string &error, const char *reason) {
    error = reason;
    return false;
}

// Reads the palette; indices past the stored entries stay opaque black.
bool ReadPalette(Bytes bytes, const DibLayout &layout, Palette &palette, std::string &error) {
    palette.fill(PackPixel(0, 0, 0));
    if (layout.BitCount > 8)
        return true;
    const uint64_t usable =
        std::min<uint64_t>(layout.PaletteEntries, uint64_t{1} << layout.BitCount);
    const uint64_t entrySize = static_cast<uint64_t>(layout.PaletteEntrySize);
    if (!FitsIn(bytes.size(), layout.PaletteOffset, usable * entrySize))
        return Fail(error, "BMP palette is truncated");
    for (uint64_t i = 0; i < usable; ++i) {
        const size_t at = static_cast<size_t>(layout.PaletteOffset + i * entrySize);
        palette[i] = PackPixel(bytes[at + 2], bytes[at + 1], bytes[at]);
    }
    return true;
}

// Scales a channel of `bits` bits to 8 bits; a channel without bits (mask 0) is 0.
uint32_t ChannelValue(uint32_t pixel, const DibChannel &c) {
    if (c.Bits == 0)
        return 0;
    const uint32_t v = (pixel & c.Mask) >> c.Shift;
    if (c.Bits >= 8)
        return v >> (c.Bits - 8);
    const uint32_t max = (1u << c.Bits) - 1;
    return (v * 255 + max / 2) / max;
}

void DecodePaletteRow(const uint8_t *src, int bits, size_t width, const Palette &palette,
                      uint32_t *dst) {
    const int perByte = 8 / bits;
    const uint32_t indexMask = (1u << bits) - 1;
    for (size_t x = 0; x < width; ++x) {
        const int slot = static_cast<int>(x % perByte);
        const int shift = 8 - bits * (slot + 1);  // the leftmost pixel sits in the high bits
        dst[x] = palette[(src[x / perByte] >> shift) & indexMask];
    }
}

// True for 32-bit pixels stored as the bytes blue, green, red and (unused or alpha).
bool IsPlainBgra(const DibLayout &layout) {
    const auto &ch = layout.Channels;
    return layout.BitCount == 32 && ch[0].Mask == 0xFF0000 && ch[1].Mask == 0xFF00 &&
           ch[2].Mask == 0xFF && (ch[3].Mask == 0 || ch[3].Mask == 0xFF000000u);
}

void DecodeMaskedRow(const uint8_t *src, const DibLayout &layout, size_t width, uint32_t *dst,
                     bool &anyAlpha) {
    const auto &ch = layout.Channels;
    const bool wide = layout.BitCount == 32;
    if (IsPlainBgra(layout)) {  // the common layout, without the general channel arithmetic
        uint32_t alphaSeen = 0;
        for (size_t x = 0; x < width; ++x) {
            const uint8_t *p = src + 4 * x;
            const uint32_t alpha = layout.AlphaFromData ? p[3] : 255;
            alphaSeen |= alpha;
            dst[x] = PackPixel(p[2], p[1], p[0], alpha);
        }
        anyAlpha = anyAlpha || (layout.AlphaFromData && alphaSeen != 0);
        return;
    }
    for (size_t x = 0; x < width; ++x) {
        const uint8_t *p = src + x * (wide ? 4 : 2);
        const uint32_t pixel = wide ? (p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24))
                                    : static_cast<uint32_t>(p[0] | (p[1] << 8));
        uint32_t alpha = 255;
        if (layout.AlphaFromData) {
            alpha = ChannelValue(pixel, ch[3]);
            anyAlpha = anyAlpha || alpha != 0;
        }
        dst[x] = PackPixel(ChannelValue(pixel, ch[0]), ChannelValue(pixel, ch[1]),
                           ChannelValue(pixel, ch[2]), alpha);
    }
}

// Bytes of uncompressed pixel data: the last row may lack its padding, but every pixel must be
// there.
uint64_t UncompressedBytesNeeded(const DibLayout &layout) {
    const uint64_t lastRowBytes =
        (static_cast<uint64_t>(layout.Width) * static_cast<uint64_t>(layout.BitCount) + 7) / 8;
    return layout.RowStride * static_cast<uint64_t>(layout.Height - 1) + lastRowBytes;
}

// The caller has checked that UncompressedBytesNeeded bytes lie at the pixel offset.
// True when the pixels' alpha channel is in use (see below).
bool DecodeUncompressed(Bytes bytes, const DibLayout &layout, const Palette &palette,
                        Picture &out) {
    const size_t width = static_cast<size_t>(layout.Width);
    const size_t height = static_cast<size_t>(layout.Height);
    bool anyAlpha = false;
    for (size_t y = 0; y < height; ++y) {
        const size_t storedRow = layout.TopDown ? y : height - 1 - y;
        const uint8_t *src = bytes.data() + layout.PixelOffset + storedRow * layout.RowStride;
        uint32_t *dst = out.Pixels.data() + y * width;
        switch (layout.BitCount) {
            case 1:
            case 4:
            case 8:
                DecodePaletteRow(src, layout.BitCount, width, palette, dst);
                break;
            case 24:
                for (size_t x = 0; x < width; ++x)
                    dst[x] = PackPixel(src[3 * x + 2], src[3 * x + 1], src[3 * x]);
                break;
            default:
                DecodeMaskedRow(src, layout, width, dst, anyAlpha);
                break;
        }
    }
    // Many writers leave the alpha byte zero in pictures that have no transparency; a picture
    // whose every pixel would be invisible is read as opaque instead.
    if (layout.AlphaFromData && !anyAlpha)
        for (uint32_t &pixel : out.Pixels)
            pixel |= 0xFF000000u;
    return anyAlpha;
}

}  // namespace

std::unique_ptr<Picture> DecodeDib(Bytes bytes, const DibLayout &layout,
                                   const PictureLimits &limits, std::string &error,
                                   bool *alphaInUse) {
    if (alphaInUse)
        *alphaInUse = false;
    if (!CheckPictureLimits(layout.Width, layout.Height, limits, error))
        return nullptr;
    Palette palette;
    if (!ReadPalette(bytes, layout, palette, error))
        return nullptr;
    const bool rle =
        layout.Compression == DibCompression::Rle8 || layout.Compression == DibCompression::Rle4;
    // Uncompressed pixels must be present before memory is allocated for them.
    if (!rle && !FitsIn(bytes.size(), layout.PixelOffset, UncompressedBytesNeeded(layout))) {
        error = "BMP pixel data is truncated";
        return nullptr;
    }
    auto result = AllocatePicture(layout.Width, layout.Height, limits, error);
    if (!result)
        return nullptr;
    if (!rle) {
        const bool alpha = DecodeUncompressed(bytes, layout, palette, *result);
        if (alphaInUse)
            *alphaInUse = alpha;
    } else if (!DecodeDibRle(bytes, layout, palette, *result, error))
        return nullptr;
    return result;
}

}  // namespace picture
