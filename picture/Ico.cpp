// Windows icons: a directory of images, each a PNG stream or a headerless DIB with a transparency
// mask. The largest image (by the directory's sizes, then colour depth) is the one decoded.
#include <algorithm>

#include "picture/PictureDecoders.h"

namespace picture {
namespace {

constexpr uint64_t kDirectoryHeaderSize = 6;
constexpr uint64_t kEntrySize = 16;

bool Fail(std::string &error, const char *reason) {
    error = reason;
    return false;
}

// Finds the largest image; false when the directory is malformed or points outside the file.
bool SelectImage(Bytes bytes, Bytes &image, std::string &error) {
    if (bytes.size() < kDirectoryHeaderSize || ReadLe16(bytes, 0) != 0 || ReadLe16(bytes, 2) != 1)
        return Fail(error, "icon header is invalid");
    const uint64_t count = ReadLe16(bytes, 4);
    if (count == 0)
        return Fail(error, "icon holds no image");
    if (!FitsIn(bytes.size(), kDirectoryHeaderSize, count * kEntrySize))
        return Fail(error, "icon directory is truncated");

    uint64_t bestRank = 0;
    for (uint64_t i = 0; i < count; ++i) {
        const size_t at = static_cast<size_t>(kDirectoryHeaderSize + i * kEntrySize);
        const uint64_t width = bytes[at] == 0 ? 256 : bytes[at];  // 0 stands for 256
        const uint64_t height = bytes[at + 1] == 0 ? 256 : bytes[at + 1];
        const uint64_t bitCount = ReadLe16(bytes, at + 6);
        const uint64_t size = ReadLe32(bytes, at + 8);
        const uint64_t offset = ReadLe32(bytes, at + 12);
        if (size == 0 || !FitsIn(bytes.size(), offset, size))
            return Fail(error, "icon directory points outside the file");
        // Area first (at most 2^16), then colour depth; the first of equal images wins.
        const uint64_t rank = (width * height << 16) | std::min<uint64_t>(bitCount, 0xFFFF);
        if (i == 0 || rank > bestRank) {
            bestRank = rank;
            image = bytes.subspan(static_cast<size_t>(offset), static_cast<size_t>(size));
        }
    }
    return true;
}

bool HoldsPng(Bytes image) {
    return DetectPictureFormat(image) == PictureFormat::Png;
}

}  // namespace

bool MeasureIco(Bytes bytes, Dimensions &size) {
    Bytes image;
    std::string error;
    if (!SelectImage(bytes, image, error))
        return false;
    return HoldsPng(image) ? MeasurePng(image, size) : MeasureIconDib(image, size);
}

std::unique_ptr<Picture> DecodeIco(Bytes bytes, const PictureLimits &limits, std::string &error) {
    Bytes image;
    if (!SelectImage(bytes, image, error))
        return nullptr;
    return HoldsPng(image) ? DecodePng(image, limits, error) : DecodeIconDib(image, limits, error);
}

}  // namespace picture
