// BMP files (a 14-byte file header before a DIB) and the headerless DIBs that icons hold, whose
// colour pixels are followed by a 1-bit transparency mask.
#include "picture/Dib.h"

namespace picture {
namespace {

constexpr uint64_t kFileHeaderSize = 14;

bool ParseBmp(Bytes bytes, DibLayout &layout, std::string &error) {
    if (bytes.size() < kFileHeaderSize || bytes[0] != 'B' || bytes[1] != 'M') {
        error = "BMP file header is truncated";
        return false;
    }
    return ParseDibHeader(bytes, kFileHeaderSize, false, DibPixelPlacement::FromFileHeader,
                          ReadLe32(bytes, 10), layout, error);
}

bool ParseIconDib(Bytes bytes, DibLayout &layout, std::string &error) {
    if (!ParseDibHeader(bytes, 0, true, DibPixelPlacement::AfterPalette, 0, layout, error))
        return false;
    if (layout.Compression == DibCompression::Rle8 || layout.Compression == DibCompression::Rle4) {
        error = "icon image with run-length encoding is not supported";
        return false;
    }
    return true;
}

// Pixels whose mask bit is set are transparent. A picture whose alpha channel is in use ignores
// the mask, as icons with alpha do. A 32-bit picture is complete without its mask, so when the
// mask is cut short the picture keeps its own alpha (or is opaque when that is all zero).
bool ApplyIconMask(Bytes bytes, const DibLayout &layout, bool alphaInUse, Picture &picture,
                   std::string &error) {
    if (alphaInUse)
        return true;
    const uint64_t maskStride = (static_cast<uint64_t>(layout.Width) + 31) / 32 * 4;
    const uint64_t maskOffset = layout.PixelOffset + layout.RowStride * layout.Height;
    const uint64_t lastRowBytes = (static_cast<uint64_t>(layout.Width) + 7) / 8;
    if (!FitsIn(bytes.size(), maskOffset, maskStride * (layout.Height - 1) + lastRowBytes)) {
        if (layout.AlphaFromData)
            return true;
        error = "icon transparency mask is truncated";
        return false;
    }
    const size_t width = static_cast<size_t>(layout.Width);
    const size_t height = static_cast<size_t>(layout.Height);
    for (size_t y = 0; y < height; ++y) {
        const uint8_t *mask = bytes.data() + maskOffset + (height - 1 - y) * maskStride;
        uint32_t *row = picture.Pixels.data() + y * width;
        for (size_t x = 0; x < width; ++x)
            if ((mask[x / 8] >> (7 - x % 8)) & 1)
                row[x] = 0;
    }
    return true;
}

}  // namespace

bool MeasureBmp(Bytes bytes, Dimensions &size) {
    DibLayout layout;
    std::string error;
    if (!ParseBmp(bytes, layout, error) || layout.Width > INT32_MAX || layout.Height > INT32_MAX)
        return false;
    size = {static_cast<int32_t>(layout.Width), static_cast<int32_t>(layout.Height)};
    return true;
}

std::unique_ptr<Picture> DecodeBmp(Bytes bytes, const PictureLimits &limits, std::string &error) {
    DibLayout layout;
    if (!ParseBmp(bytes, layout, error))
        return nullptr;
    return DecodeDib(bytes, layout, limits, error);
}

bool MeasureIconDib(Bytes bytes, Dimensions &size) {
    DibLayout layout;
    std::string error;
    if (!ParseIconDib(bytes, layout, error))
        return false;
    size = {static_cast<int32_t>(layout.Width), static_cast<int32_t>(layout.Height)};
    return true;
}

std::unique_ptr<Picture> DecodeIconDib(Bytes bytes, const PictureLimits &limits,
                                       std::string &error) {
    DibLayout layout;
    if (!ParseIconDib(bytes, layout, error))
        return nullptr;
    bool alphaInUse = false;
    auto result = DecodeDib(bytes, layout, limits, error, &alphaInUse);
    if (result && !ApplyIconMask(bytes, layout, alphaInUse, *result, error))
        return nullptr;
    return result;
}

}  // namespace picture
