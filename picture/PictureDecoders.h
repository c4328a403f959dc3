// Internal interface between the format dispatcher and the decoders of each picture format.
// Every decoder works on a span it never reads beyond, checks the limits before it allocates the
// pixels, and reports a short English reason in `error` when it gives up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "picture/Picture.h"

namespace picture {

using Bytes = std::span<const uint8_t>;

// Width and height as a file's header states them.
struct Dimensions {
    int32_t Width = 0;
    int32_t Height = 0;
};

// True when a picture of this size is valid and within the limits; else the reason in `error`.
bool CheckPictureLimits(int64_t width, int64_t height, const PictureLimits &limits,
                        std::string &error);

// Allocates a picture of the given size after checking it against the limits; empty pointer with
// the reason in `error` when the size is invalid, over the limits, or the memory is not available.
std::unique_ptr<Picture> AllocatePicture(int64_t width, int64_t height, const PictureLimits &limits,
                                         std::string &error);

bool MeasureBmp(Bytes bytes, Dimensions &size);
std::unique_ptr<Picture> DecodeBmp(Bytes bytes, const PictureLimits &limits, std::string &error);

// A device-independent bitmap without the file header, as an icon stores it: the header's height
// counts the colour rows and the rows of the transparency mask that follows them.
bool MeasureIconDib(Bytes bytes, Dimensions &size);
std::unique_ptr<Picture> DecodeIconDib(Bytes bytes, const PictureLimits &limits,
                                       std::string &error);

bool MeasurePng(Bytes bytes, Dimensions &size);
std::unique_ptr<Picture> DecodePng(Bytes bytes, const PictureLimits &limits, std::string &error);

bool MeasureJpeg(Bytes bytes, Dimensions &size);
std::unique_ptr<Picture> DecodeJpeg(Bytes bytes, const PictureLimits &limits, std::string &error);

bool MeasureIco(Bytes bytes, Dimensions &size);
std::unique_ptr<Picture> DecodeIco(Bytes bytes, const PictureLimits &limits, std::string &error);

// Packs 8-bit channels into the 0xAARRGGBB layout of Picture::Pixels.
constexpr uint32_t PackPixel(uint32_t r, uint32_t g, uint32_t b, uint32_t a = 255) {
    return (a << 24) | (r << 16) | (g << 8) | b;
}

// Little- and big-endian reads at an offset the caller has checked against the span's size.
inline uint16_t ReadLe16(Bytes b, size_t at) {
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
inline uint32_t ReadLe32(Bytes b, size_t at) {
    return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
           (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
inline uint32_t ReadBe32(Bytes b, size_t at) {
    return (static_cast<uint32_t>(b[at]) << 24) | (static_cast<uint32_t>(b[at + 1]) << 16) |
           (static_cast<uint32_t>(b[at + 2]) << 8) | static_cast<uint32_t>(b[at + 3]);
}

// True when [offset, offset + length) lies inside a buffer of `size` bytes; 64-bit arithmetic so
// that no sum taken from a file can wrap around.
inline bool FitsIn(uint64_t size, uint64_t offset, uint64_t length) {
    return offset <= size && length <= size - offset;
}

}  // namespace picture
