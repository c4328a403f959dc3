// Checks shared by the picture tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "picture/Picture.h"
#include "tests/picture/PictureEncoders.h"

namespace picture_test {

inline std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

// Every pixel equal, or within `tolerance` per channel (lossy formats).
inline void ExpectPixels(const Picture *actual, const Picture &expected, int tolerance = 0) {
    ASSERT_NE(actual, nullptr);
    ASSERT_EQ(actual->Width, expected.Width);
    ASSERT_EQ(actual->Height, expected.Height);
    ASSERT_EQ(actual->Pixels.size(), expected.Pixels.size());
    int mismatches = 0;
    for (size_t i = 0; i < expected.Pixels.size() && mismatches < 5; ++i) {
        for (int shift = 0; shift < 32; shift += 8) {
            const int a = (actual->Pixels[i] >> shift) & 0xFF;
            const int e = (expected.Pixels[i] >> shift) & 0xFF;
            if (std::abs(a - e) > tolerance) {
                ADD_FAILURE() << "pixel " << i % expected.Width << "," << i / expected.Width
                              << " is " << Hex(actual->Pixels[i]) << ", expected "
                              << Hex(expected.Pixels[i]);
                ++mismatches;
                break;
            }
        }
    }
}

// Every proper prefix of a picture file is refused with a reason, without a crash and without a
// word on stderr (the libraries' own warning output is silenced).
inline void ExpectEveryPrefixRefused(const ByteVector &bytes) {
    testing::internal::CaptureStderr();
    for (size_t length = 0; length < bytes.size(); ++length) {
        std::string error;
        auto decoded = DecodePicture(std::span(bytes.data(), length), {}, &error);
        EXPECT_EQ(decoded, nullptr) << "prefix of " << length << " of " << bytes.size() << " bytes";
        EXPECT_FALSE(error.empty()) << "prefix of " << length << " bytes";
        if (decoded)
            break;
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

}  // namespace picture_test
