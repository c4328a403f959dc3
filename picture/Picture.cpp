// Format detection, measuring and decoding of pictures held in memory: the public entry points
// dispatch to the decoder of the format that the signature names.
#include <algorithm>
#include <exception>
#include <iterator>
#include <new>

#include "picture/Picture.h"
#include "picture/PictureDecoders.h"

namespace picture {

bool CheckPictureLimits(int64_t width, int64_t height, const PictureLimits &limits,
                        std::string &error) {
    if (width <= 0 || height <= 0) {
        error = "picture has no pixels";
        return false;
    }
    if (width > limits.MaxWidth || height > limits.MaxHeight) {
        error = "picture of " + std::to_string(width) + " x " + std::to_string(height) +
                " pixels exceeds the size limits";
        return false;
    }
    // Both factors are below 2^31 here, so the product cannot overflow 64 bits.
    const uint64_t pixelBytes = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4u;
    if (pixelBytes > limits.MaxPixelBytes) {
        error = "picture of " + std::to_string(width) + " x " + std::to_string(height) +
                " pixels exceeds the memory limit";
        return false;
    }
    return true;
}

std::unique_ptr<Picture> AllocatePicture(int64_t width, int64_t height, const PictureLimits &limits,
                                         std::string &error) {
    if (!CheckPictureLimits(width, height, limits, error))
        return nullptr;
    try {
        auto result = std::make_unique<Picture>();
        result->Width = static_cast<int32_t>(width);
        result->Height = static_cast<int32_t>(height);
        result->Pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
        return result;
    } catch (const std::bad_alloc &) {
        error = "not enough memory for the picture";
        return nullptr;
    }
}

}  // namespace picture

PictureFormat DetectPictureFormat(std::span<const uint8_t> bytes) {
    static constexpr uint8_t kPng[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (bytes.size() >= sizeof kPng && std::equal(std::begin(kPng), std::end(kPng), bytes.begin()))
        return PictureFormat::Png;
    if (bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF)
        return PictureFormat::Jpeg;
    if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M')
        return PictureFormat::Bmp;
    // Icon: reserved word 0, resource type 1, and at least one image in the directory.
    if (bytes.size() >= 6 && bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 1 && bytes[3] == 0 &&
        (bytes[4] | bytes[5]) != 0)
        return PictureFormat::Ico;
    return PictureFormat::Unknown;
}

bool MeasurePicture(std::span<const uint8_t> bytes, int32_t &width, int32_t &height) {
    picture::Dimensions size;
    bool known = false;
    switch (DetectPictureFormat(bytes)) {
        case PictureFormat::Bmp:
            known = picture::MeasureBmp(bytes, size);
            break;
        case PictureFormat::Jpeg:
            known = picture::MeasureJpeg(bytes, size);
            break;
        case PictureFormat::Png:
            known = picture::MeasurePng(bytes, size);
            break;
        case PictureFormat::Ico:
            known = picture::MeasureIco(bytes, size);
            break;
        case PictureFormat::Unknown:
            break;
    }
    if (!known)
        return false;
    width = size.Width;
    height = size.Height;
    return true;
}

std::unique_ptr<Picture> DecodePicture(std::span<const uint8_t> bytes, const PictureLimits &limits,
                                       std::string *error) {
    std::string reason;
    std::unique_ptr<Picture> result;
    try {
        switch (DetectPictureFormat(bytes)) {
            case PictureFormat::Bmp:
                result = picture::DecodeBmp(bytes, limits, reason);
                break;
            case PictureFormat::Jpeg:
                result = picture::DecodeJpeg(bytes, limits, reason);
                break;
            case PictureFormat::Png:
                result = picture::DecodePng(bytes, limits, reason);
                break;
            case PictureFormat::Ico:
                result = picture::DecodeIco(bytes, limits, reason);
                break;
            case PictureFormat::Unknown:
                reason = "not a picture of a known format (BMP, JPEG, PNG or icon)";
                break;
        }
    } catch (const std::exception &) {
        // Only allocation can throw here; callers are promised a result, never an exception.
        result.reset();
        reason = "not enough memory to decode the picture";
    }
    if (!result && reason.empty())
        reason = "picture cannot be decoded";
    if (error)
        *error = result ? std::string() : std::move(reason);
    return result;
}
