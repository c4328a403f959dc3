// Decoding of the small pictures the system exchanges (avatars): BMP, JPEG, PNG and Windows icons.
// Shared by the client and the server; every decoder is safe against hostile input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

struct Picture {  // a decoded picture: 32-bit pixels 0xAARRGGBB, rows top to bottom
    int32_t Width = 0;
    int32_t Height = 0;
    std::vector<uint32_t> Pixels;  // Width * Height
};

struct PictureLimits {  // checked before any pixel memory is allocated
    int32_t MaxWidth = 8192;
    int32_t MaxHeight = 8192;
    size_t MaxPixelBytes = 64u << 20;  // Width * Height * 4
};

enum class PictureFormat { Unknown, Bmp, Jpeg, Png, Ico };

// Recognises the format by its signature only.
PictureFormat DetectPictureFormat(std::span<const uint8_t> bytes);

// Reads only headers: true with width/height when the bytes look like a picture of a known format.
bool MeasurePicture(std::span<const uint8_t> bytes, int32_t &width, int32_t &height);

// Decodes; empty pointer when the bytes are not a decodable picture or exceed the limits; a short
// English reason in *error when error is not null.
std::unique_ptr<Picture> DecodePicture(std::span<const uint8_t> bytes,
                                       const PictureLimits &limits = {},
                                       std::string *error = nullptr);

// Reads the file (refusing files over 64 MiB without reading them), then DecodePicture.
std::unique_ptr<Picture> DecodePictureFile(const std::string &path,
                                           const PictureLimits &limits = {},
                                           std::string *error = nullptr);
