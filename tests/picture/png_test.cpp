// PNG: every colour type and bit depth becomes exact 8-bit RGBA; damaged streams are refused.
#include <zlib.h>

#include "tests/picture/HostilePictures.h"
#include "tests/picture/PictureChecks.h"

using namespace picture_test;

namespace {

// Grey levels that every bit depth from 1 to 16 stores exactly, with some transparency.
Picture GreyLevels(bool withAlpha) {
    std::vector<uint32_t> pixels;
    for (int i = 0; i < 35; ++i) {
        const uint32_t grey = (i % 2) * 255;  // 1-bit safe
        const uint32_t alpha = withAlpha ? (i * 37) & 0xFF : 0xFF;
        pixels.push_back(alpha << 24 | grey * 0x010101u);
    }
    return MakePicture(7, 5, pixels);
}

Picture Translucent(int32_t width, int32_t height) {
    Picture picture = Gradient(width, height);
    for (size_t i = 0; i < picture.Pixels.size(); ++i)
        picture.Pixels[i] = (picture.Pixels[i] & 0xFFFFFF) | static_cast<uint32_t>(i * 29 % 256)
                                                                 << 24;
    return picture;
}

// Four colours, two of them translucent.
Picture FourColours() {
    return MakePicture(4, 2,
                       {0xFF102030, 0x80405060, 0x00000000, 0xFFFFFFFF,  //
                        0x00000000, 0xFFFFFFFF, 0xFF102030, 0x80405060});
}

// Rewrites a chunk's data and its CRC.
void PatchChunk(ByteVector &png, size_t chunkStart, size_t dataOffset, const ByteVector &data) {
    std::copy(data.begin(), data.end(), png.begin() + chunkStart + 8 + dataOffset);
    const uint32_t length = png[chunkStart] << 24 | png[chunkStart + 1] << 16 |
                            png[chunkStart + 2] << 8 | png[chunkStart + 3];
    const uint32_t crc = static_cast<uint32_t>(crc32(0, &png[chunkStart + 4], length + 4));
    for (int i = 0; i < 4; ++i)
        png[chunkStart + 8 + length + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
}

}  // namespace

TEST(Png, EveryColourTypeAndDepthDecodesExactly) {
    struct Case {
        const char *Name;
        Picture Source;
        PngOptions Options;
    };
    const Case cases[] = {
        {"RGBA 8", Translucent(9, 6), {6, 8}},
        {"RGBA 16", Translucent(9, 6), {6, 16}},
        {"RGB 8", Gradient(9, 6), {2, 8}},
        {"RGB 16 interlaced", Gradient(9, 6), {2, 16, true}},
        {"RGBA 8 interlaced", Translucent(17, 11), {6, 8, true}},
        {"grey 1", GreyLevels(false), {0, 1}},
        {"grey 8", GreyLevels(false), {0, 8}},
        {"grey 16", GreyLevels(false), {0, 16}},
        {"grey and alpha 8", GreyLevels(true), {4, 8}},
        {"palette 2 bits with transparency", FourColours(), {3, 2}},
        {"palette 8 with transparency", Translucent(5, 4), {3, 8}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Name);
        std::string error;
        auto decoded = DecodePicture(EncodePng(c.Source, c.Options), {}, &error);
        EXPECT_TRUE(error.empty()) << error;
        ExpectPixels(decoded.get(), c.Source);
    }
}

TEST(Png, TwoAndFourBitGreyAreScaledToFullRange) {
    Picture twoBit = MakePicture(4, 1, {0xFF000000, 0xFF555555, 0xFFAAAAAA, 0xFFFFFFFF});
    ExpectPixels(DecodePicture(EncodePng(twoBit, {0, 2})).get(), twoBit);
    Picture fourBit = MakePicture(3, 1, {0xFF111111, 0xFF888888, 0xFFEEEEEE});
    ExpectPixels(DecodePicture(EncodePng(fourBit, {0, 4})).get(), fourBit);
}

TEST(Png, TruncatedOrCorruptStreamsAreRefused) {
    const ByteVector good = EncodePng(Translucent(5, 4));
    ExpectEveryPrefixRefused(good);

    ByteVector badCrc = good;
    badCrc[good.size() - 20] ^= 0x40;  // inside the image data chunk
    std::string error;
    EXPECT_EQ(DecodePicture(badCrc, {}, &error), nullptr);
    EXPECT_FALSE(error.empty());
}

TEST(Png, HugeDimensionsAreRefusedByTheLimits) {
    ByteVector png = EncodePng(Gradient(4, 4));
    PatchChunk(png, 8, 0, {0, 0, 0xEA, 0x60, 0, 0, 0xEA, 0x60});  // 60000 x 60000
    int32_t width = 0, height = 0;
    ASSERT_TRUE(MeasurePicture(png, width, height));
    EXPECT_EQ(width, 60000);
    EXPECT_EQ(height, 60000);
    std::string error;
    EXPECT_EQ(DecodePicture(png, {}, &error), nullptr);
    EXPECT_NE(error.find("limits"), std::string::npos) << error;
}

// The header must be the first chunk. Measuring and decoding take the same view of a file whose
// first chunk only looks like it, so what the avatar checks measure is what is shown.
TEST(Png, MeasureAndDecodeBothRefuseAHeaderThatIsNotFirst) {
    const ByteVector png = PngWithIhdrLookalikeFirst();
    int32_t width = 0, height = 0;
    EXPECT_FALSE(MeasurePicture(png, width, height));
    std::string error;
    EXPECT_EQ(DecodePicture(png, {}, &error), nullptr);
    EXPECT_NE(error.find("header"), std::string::npos) << error;
}
