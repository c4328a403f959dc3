// JPEG: grey, colour, CMYK and progressive pictures decode close to their source; truncated and
// oversized ones are refused.
#include "tests/picture/PictureChecks.h"

using namespace picture_test;

namespace {

// Smooth colours, which JPEG keeps within a few levels.
Picture Smooth() {
    return Gradient(32, 24);
}

Picture Grey(const Picture &picture) {
    Picture grey = picture;
    for (uint32_t &p : grey.Pixels)
        p = 0xFF000000u | ((p >> 16) & 0xFF) * 0x010101u;
    return grey;
}

size_t FindMarker(const ByteVector &bytes, uint8_t marker) {
    for (size_t i = 0; i + 1 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == marker)
            return i;
    return bytes.size();
}

}  // namespace

TEST(Jpeg, ColourSpacesAndProgressiveDecodeCloseToTheSource) {
    using Colour = JpegOptions::Colour;
    struct Case {
        const char *Name;
        JpegOptions Options;
        Picture Expected;
    };
    const Case cases[] = {
        {"baseline colour", {Colour::Rgb}, Smooth()},
        {"progressive colour", {Colour::Rgb, 95, true}, Smooth()},
        {"grey", {Colour::Grey}, Grey(Smooth())},
        {"Adobe CMYK", {Colour::AdobeCmyk}, Smooth()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Name);
        std::string error;
        auto decoded = DecodePicture(EncodeJpeg(Smooth(), c.Options), {}, &error);
        EXPECT_TRUE(error.empty()) << error;
        ExpectPixels(decoded.get(), c.Expected, 12);
    }
}

TEST(Jpeg, TruncatedPicturesAreRefusedNotFilledWithGrey) {
    ExpectEveryPrefixRefused(EncodeJpeg(Gradient(8, 8), {JpegOptions::Colour::Rgb, 50}));
    // A picture cut in its scan data is refused with a reason, not shown half grey.
    const ByteVector whole = EncodeJpeg(Smooth());
    std::string error;
    EXPECT_EQ(DecodePicture(std::span(whole.data(), whole.size() - 40), {}, &error), nullptr);
    EXPECT_NE(error.find("truncated"), std::string::npos) << error;
}

TEST(Jpeg, HugeDimensionsAreRefusedByTheLimits) {
    ByteVector bytes = EncodeJpeg(Gradient(8, 8));
    const size_t sof = FindMarker(bytes, 0xC0);
    ASSERT_LT(sof + 9, bytes.size());
    bytes[sof + 5] = 0xEA, bytes[sof + 6] = 0x60;  // height 60000
    bytes[sof + 7] = 0xEA, bytes[sof + 8] = 0x60;  // width 60000
    int32_t width = 0, height = 0;
    ASSERT_TRUE(MeasurePicture(bytes, width, height));
    EXPECT_EQ(width, 60000);
    std::string error;
    EXPECT_EQ(DecodePicture(bytes, {}, &error), nullptr);
    EXPECT_NE(error.find("limits"), std::string::npos) << error;
}

TEST(Jpeg, GarbageAfterTheSignatureIsRefusedQuietly) {
    ByteVector bytes = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x02, 0x00, 0x00, 0xFF, 0xFF, 0x00};
    testing::internal::CaptureStderr();
    std::string error;
    EXPECT_EQ(DecodePicture(bytes, {}, &error), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(error.empty());
}
