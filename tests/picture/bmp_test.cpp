// BMP files: the supported layouts decode to the exact pixels; malformed files are refused.
#include "tests/picture/PictureChecks.h"

using namespace picture_test;

namespace {

// Colours that every layout stores exactly (5-bit channels included).
Picture Primaries(int32_t width, int32_t height) {
    const uint32_t colours[] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF, 0xFF000000};
    std::vector<uint32_t> pixels;
    for (int32_t i = 0; i < width * height; ++i)
        pixels.push_back(colours[(i * 7 + i / width) % 5]);
    return MakePicture(width, height, pixels);
}

void PutLe32At(ByteVector &bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

struct Layout {
    const char *Name;
    BmpOptions Options;
};

const Layout kLayouts[] = {
    {"24 bits bottom-up", {24, 40, false}},
    {"24 bits top-down", {24, 40, true}},
    {"32 bits top-down", {32, 40, true}},
    {"16 bits 5-5-5", {16, 40, false}},
    {"16 bits 5-6-5 bit fields", {16, 40, false, true}},
    {"32 bits bit fields in a V5 header", {32, 124, false, false, true}},
    {"8-bit palette", {8, 40, false}},
    {"8-bit palette top-down", {8, 40, true}},
    {"4-bit palette, V4 header", {4, 108, false}},
    {"1-bit palette", {1, 40, false}},
    {"8-bit palette, core header", {8, 12, false}},
    {"24 bits, core header", {24, 12, false}},
};

}  // namespace

TEST(Bmp, EveryLayoutDecodesToTheExactPixels) {
    for (const Layout &layout : kLayouts) {
        SCOPED_TRACE(layout.Name);
        // Odd widths give padded rows; the 1-bit layout has two colours only.
        Picture source = layout.Options.BitCount == 1
                             ? MakePicture(13, 3, std::vector<uint32_t>(39, 0xFFFFFFFF))
                             : Primaries(13, 5);
        if (layout.Options.BitCount == 1)
            source.Pixels[1] = source.Pixels[14] = source.Pixels[38] = 0xFF000000;
        const ByteVector bytes = EncodeBmp(source, layout.Options);
        std::string error;
        auto decoded = DecodePicture(bytes, {}, &error);
        EXPECT_TRUE(error.empty()) << error;
        ExpectPixels(decoded.get(), source);
    }
}

// The fourth byte of a 32-bit pixel is alpha only where the header names an alpha mask; else it is
// padding, whatever a writer left in it.
TEST(Bmp, AlphaOnlyWhereTheHeaderNamesIt) {
    const Picture translucent = MakePicture(2, 2, {0x80FF0000, 0x00000000, 0xFF00FF00, 0x400000FF});
    Picture opaque = translucent;
    for (uint32_t &p : opaque.Pixels)
        p |= 0xFF000000u;

    // A V5 header without bit fields, whose alpha mask names the fourth byte.
    ByteVector v5Rgb = EncodeBmp(translucent, {32, 124});
    PutLe32At(v5Rgb, 14 + 52, 0xFF000000u);
    // Four masks after a 40-byte header.
    ByteVector alphaBitfields = EncodeBmp(translucent, {32, 40, false, false, true});
    alphaBitfields[30] = 6;
    alphaBitfields.insert(alphaBitfields.begin() + 14 + 40 + 12, {0, 0, 0, 0xFF});
    alphaBitfields[10] += 4;

    struct Case {
        const char *Name;
        ByteVector Bytes;
        const Picture &Expected;
    };
    const Case cases[] = {
        {"junk in the padding byte", EncodeBmp(translucent, {32, 40}), opaque},
        {"V5 header with an alpha mask of 0", EncodeBmp(translucent, {32, 124}), opaque},
        {"three bit fields", EncodeBmp(translucent, {32, 40, false, false, true}), opaque},
        {"V5 bit fields with an alpha mask", EncodeBmp(translucent, {32, 124, false, false, true}),
         translucent},
        {"V5 header with an alpha mask, no bit fields", v5Rgb, translucent},
        {"four bit fields after a 40-byte header", alphaBitfields, translucent},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Name);
        std::string error;
        auto decoded = DecodePicture(c.Bytes, {}, &error);
        EXPECT_TRUE(error.empty()) << error;
        ExpectPixels(decoded.get(), c.Expected);
    }

    // Writers that leave a named alpha channel zero mean an opaque picture.
    Picture zeroAlpha = MakePicture(2, 1, {0x00123456, 0x00ABCDEF});
    ExpectPixels(DecodePicture(EncodeBmp(zeroAlpha, {32, 124, false, false, true})).get(),
                 MakePicture(2, 1, {0xFF123456, 0xFFABCDEF}));
}

TEST(Bmp, RunLengthEncodingWithRunsLiteralsDeltasAndLineEnds) {
    auto makeRle = [](uint32_t compression, const ByteVector &data) {
        ByteVector out = {'B', 'M'};
        PutLe32(out, 0);
        PutLe32(out, 0);
        PutLe32(out, 14 + 40 + 8);
        for (uint32_t v : {40u, 6u, 3u})
            PutLe32(out, v);
        PutLe16(out, 1);
        PutLe16(out, compression == 1 ? 8 : 4);
        for (uint32_t v : {compression, 0u, 0u, 0u, 2u, 0u})
            PutLe32(out, v);
        for (uint32_t bgr0 : {0x00FF0000u, 0x0000FF00u})  // palette: red, green
            PutLe32(out, bgr0);
        out.insert(out.end(), data.begin(), data.end());
        return out;
    };
    const uint32_t R = 0xFFFF0000, G = 0xFF00FF00, T = 0;
    // Bottom row: 3 red, literal green red green; next row: a delta skips 2 pixels right and
    // 1 row up; the top row gets a run that is cut at the right edge.
    const ByteVector rle8 = {3, 0, 0, 3, 1, 0, 1, 0, 0, 0,  // literal padded to 16 bits
                             0, 2, 2, 1, 2, 1, 9, 1, 0, 1};
    const Picture expected8 = MakePicture(6, 3,
                                          {T, T, G, G, G, G,  //
                                           T, T, T, T, T, T,  //
                                           R, R, R, G, R, G});
    ExpectPixels(DecodePicture(makeRle(1, rle8)).get(), expected8);

    const ByteVector rle4 = {5, 0x01, 0, 0, 0, 3, 0x10, 0x10, 0, 1};
    const Picture expected4 = MakePicture(6, 3,
                                          {T, T, T, T, T, T,  //
                                           G, R, G, T, T, T,  //
                                           R, G, R, G, R, T});
    ExpectPixels(DecodePicture(makeRle(2, rle4)).get(), expected4);

    // Without its end marker before the rows are complete, the data is truncated.
    EXPECT_EQ(DecodePicture(makeRle(1, {3, 0, 0, 0})), nullptr);
}

TEST(Bmp, TruncatedFilesAreRefused) {
    ExpectEveryPrefixRefused(EncodeBmp(Primaries(4, 3), {24}));  // rows without padding
    ExpectEveryPrefixRefused(EncodeBmp(Primaries(4, 3), {8, 40, true}));
}

TEST(Bmp, HugeDimensionsInATinyFileAreRefusedBeforeAllocation) {
    ByteVector bytes = EncodeBmp(Primaries(4, 3), {24});
    for (size_t at : {18u, 22u})  // width and height
        bytes[at] = 0x60, bytes[at + 1] = 0xEA, bytes[at + 2] = 0, bytes[at + 3] = 0;  // 60000
    std::string error;
    EXPECT_EQ(DecodePicture(bytes, {}, &error), nullptr);
    EXPECT_NE(error.find("limits"), std::string::npos) << error;

    // Even when the limits would allow it, 14 GB are not allocated for 50 bytes of pixels.
    const PictureLimits generous{100000, 100000, SIZE_MAX};
    EXPECT_EQ(DecodePicture(bytes, generous, &error), nullptr);
    EXPECT_NE(error.find("truncated"), std::string::npos) << error;
}

TEST(Bmp, MalformedHeadersAreRefused) {
    const ByteVector good = EncodeBmp(Primaries(4, 3), {16, 40, false, true});
    auto refusedWith = [&](size_t at, std::initializer_list<uint8_t> patch) {
        ByteVector bytes = good;
        std::copy(patch.begin(), patch.end(), bytes.begin() + at);
        std::string error;
        const bool refused = DecodePicture(bytes, {}, &error) == nullptr;
        return refused && !error.empty();
    };
    EXPECT_TRUE(refusedWith(14, {20, 0, 0, 0}));       // header size between known ones
    EXPECT_TRUE(refusedWith(28, {7, 0}));              // 7 bits per pixel
    EXPECT_TRUE(refusedWith(28, {24, 0}));             // bit fields with 24 bits
    EXPECT_TRUE(refusedWith(30, {4, 0, 0, 0}));        // embedded JPEG
    EXPECT_TRUE(refusedWith(54, {0x01, 0xF8, 0, 0}));  // a red mask with a gap
    EXPECT_TRUE(refusedWith(10, {0xFF, 0xFF, 0, 0}));  // pixels past the end
    EXPECT_TRUE(refusedWith(18, {0, 0, 0, 0}));        // zero width
}

TEST(Bmp, AnEmptyColourMaskGivesAChannelOfZero) {
    ByteVector bytes =
        EncodeBmp(MakePicture(2, 1, {0xFFFFFFFF, 0xFF00FF00}), {16, 40, false, true});
    bytes[54] = bytes[55] = 0;  // red mask 0
    ExpectPixels(DecodePicture(bytes).get(), MakePicture(2, 1, {0xFF00FFFF, 0xFF00FF00}));
}

TEST(Bmp, PaletteIndicesBeyondThePaletteAreBlack) {
    // Two palette entries, but the pixels use indices 0, 1 and 200.
    ByteVector bytes =
        EncodeBmp(MakePicture(4, 1, {0xFFFF0000, 0xFF00FF00, 0xFFFF0000, 0xFF00FF00}), {8, 40});
    bytes.back() = 200;
    ExpectPixels(DecodePicture(bytes).get(),
                 MakePicture(4, 1, {0xFFFF0000, 0xFF00FF00, 0xFFFF0000, 0xFF000000}));
}
