// The body shared by the picture fuzz targets: decode with one format's decoder and check what a
// successful decode promises, so that a wrong result is found as well as a crash.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

#include "picture/PictureDecoders.h"

namespace picture_fuzz {

// Limits that keep each run fast while still covering pictures of a few megabytes.
inline const PictureLimits kLimits{1024, 1024, 4u << 20};

template <typename Decode, typename Measure>
void FuzzOne(const uint8_t *data, size_t size, Decode decode, Measure measure) {
    const picture::Bytes bytes(data, size);
    std::string error;
    auto decoded = decode(bytes, kLimits, error);
    picture::Dimensions measured;
    const bool measurable = measure(bytes, measured);
    if (!decoded) {
        if (error.empty())
            std::abort();  // every refusal gives a reason
        return;
    }
    if (!measurable || measured.Width != decoded->Width || measured.Height != decoded->Height ||
        decoded->Width > kLimits.MaxWidth || decoded->Height > kLimits.MaxHeight ||
        decoded->Pixels.size() != static_cast<size_t>(decoded->Width) * decoded->Height)
        std::abort();
}

}  // namespace picture_fuzz
