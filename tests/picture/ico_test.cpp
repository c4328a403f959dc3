// Icons: PNG and DIB images, their transparency, the choice of the largest image, and damaged
// directories.
#include "tests/picture/HostilePictures.h"
#include "tests/picture/PictureChecks.h"

using namespace picture_test;

namespace {

Picture WithTransparentCorners(Picture picture) {
    const size_t w = picture.Width;
    for (size_t i : {size_t{0}, w - 1, picture.Pixels.size() - w, picture.Pixels.size() - 1})
        picture.Pixels[i] = 0;
    return picture;
}

Picture FewColours(int32_t width, int32_t height) {
    std::vector<uint32_t> pixels;
    for (int32_t i = 0; i < width * height; ++i)
        pixels.push_back(i % 3 == 0 ? 0xFF336699 : 0xFFCC9966);
    return MakePicture(width, height, pixels);
}

}  // namespace

TEST(Ico, HoldingAPng) {
    Picture source = WithTransparentCorners(Gradient(20, 20));
    source.Pixels[5] = 0x80123456;
    ExpectPixels(DecodePicture(EncodeIco({{20, 20, 32, EncodePng(source)}})).get(), source);
}

TEST(Ico, HoldingBitmapsWithAlphaOrWithTheMask) {
    Picture alpha = WithTransparentCorners(Gradient(16, 16));
    alpha.Pixels[17] = 0x7F00FF00;  // translucent: only an alpha channel can say so
    ExpectPixels(DecodePicture(EncodeIco({{16, 16, 32, EncodeIconDib(alpha, 32)}})).get(), alpha);

    // Without alpha, the AND mask makes pixels transparent.
    for (int bits : {24, 8, 4}) {
        SCOPED_TRACE(bits);
        const Picture masked = WithTransparentCorners(FewColours(13, 7));
        ExpectPixels(DecodePicture(EncodeIco({{13, 7, bits, EncodeIconDib(masked, bits)}})).get(),
                     masked);
    }
}

TEST(Ico, TheLargestImageIsDecoded) {
    const Picture small = Gradient(16, 16);
    const Picture large = FewColours(48, 48);
    const Picture big256 = Gradient(256, 256);
    const ByteVector ico = EncodeIco({{16, 16, 32, EncodePng(small)},
                                      {48, 48, 24, EncodeIconDib(large, 24)},
                                      {48, 48, 8, EncodeIconDib(large, 8)}});
    ExpectPixels(DecodePicture(ico).get(), large);
    // A directory size of 0 stands for 256.
    const ByteVector with256 =
        EncodeIco({{48, 48, 32, EncodePng(large)}, {256, 256, 32, EncodePng(big256)}});
    ExpectPixels(DecodePicture(with256).get(), big256);
    int32_t width = 0, height = 0;
    ASSERT_TRUE(MeasurePicture(with256, width, height));
    EXPECT_EQ(width, 256);
    EXPECT_EQ(height, 256);
}

TEST(Ico, DamagedIconsAreRefused) {
    const ByteVector good = EncodeIco({{8, 4, 8, EncodeIconDib(FewColours(8, 4), 8)}});
    ExpectEveryPrefixRefused(good);

    ByteVector outside = good;
    outside[18] = 0xF0;  // the image's offset points past the end
    EXPECT_EQ(DecodePicture(outside), nullptr);

    ByteVector noImages = good;
    noImages[4] = 0;
    EXPECT_EQ(DecodePicture(noImages), nullptr);

    // A bitmap header claiming 60000 x 60000 pixels (120000 rows with the mask).
    ByteVector huge = good;
    huge[22 + 4] = 0x60, huge[22 + 5] = 0xEA;
    huge[22 + 8] = 0xC0, huge[22 + 9] = 0xD4, huge[22 + 10] = 0x01;
    std::string error;
    EXPECT_EQ(DecodePicture(huge, {}, &error), nullptr);
    EXPECT_NE(error.find("limits"), std::string::npos) << error;
}

// A 32-bit image is complete without its mask: cut short, the mask is left out. Other depths need
// the mask for their transparency and are refused without it.
TEST(Ico, ATruncatedMaskIsLeftOutOnlyBehindCompleteAlpha) {
    Picture alpha = WithTransparentCorners(Gradient(16, 4));
    alpha.Pixels[5] = 0x7F00FF00;
    Picture opaque = Gradient(16, 4);
    for (size_t maskBytes : {size_t{0}, size_t{5}}) {
        SCOPED_TRACE(maskBytes);
        ExpectPixels(
            DecodePicture(EncodeIco({{16, 4, 32, IconDibWithTruncatedMask(alpha, maskBytes)}}))
                .get(),
            alpha);
        ExpectPixels(
            DecodePicture(EncodeIco({{16, 4, 32, IconDibWithTruncatedMask(opaque, maskBytes)}}))
                .get(),
            opaque);
    }
    ByteVector dib24 = EncodeIconDib(WithTransparentCorners(FewColours(16, 4)), 24);
    dib24.resize(dib24.size() - 3);  // into the last row's bits, not only its padding
    std::string error;
    EXPECT_EQ(DecodePicture(EncodeIco({{16, 4, 24, dib24}}), {}, &error), nullptr);
    EXPECT_NE(error.find("mask"), std::string::npos) << error;
}
