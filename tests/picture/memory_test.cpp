// Memory: what one decode asks of the heap stays within the picture's limits (the pixels plus a
// small constant), whatever sizes the file claims. The heap probe sees every request, also those
// the decoder would refuse to use, so a decoder that asks for gigabytes and then gives up fails.
#include "tests/picture/HeapProbe.h"
#include "tests/picture/HostilePictures.h"
#include "tests/picture/PictureChecks.h"

using namespace picture_test;

namespace {

// The server's limits for avatars.
const PictureLimits kAvatarLimits{100, 100, 100 * 100 * 4};

// What a decode may hold beyond the pixels: the libraries' state, tables and row buffers.
constexpr size_t kWorkingBytes = 1u << 20;

struct Sample {
    std::string Name;
    ByteVector Bytes;
};

HeapUse Decode(const ByteVector &bytes, std::unique_ptr<Picture> &decoded, std::string &error) {
    return WatchHeap([&] { decoded = DecodePicture(bytes, kAvatarLimits, &error); });
}

std::vector<Sample> HostileSamples() {
    std::vector<Sample> samples;
    // Every chunk that libpng knows, and one it does not, declaring 2 GiB.
    for (const char *type :
         {"pCAL", "sCAL", "iCCP", "iTXt", "tEXt", "zTXt", "sPLT", "eXIf", "bKGD", "cHRM", "gAMA",
          "hIST", "oFFs", "pHYs", "sBIT", "sRGB", "sTER", "tIME", "PLTE", "tRNS", "IDAT", "prVt"})
        samples.push_back({std::string("PNG ") + type, PngWithHugeChunk(type)});
    samples.push_back({"PNG pCAL in an icon", EncodeIco({{1, 1, 32, PngWithHugeChunk("pCAL")}})});
    samples.push_back({"PNG sCAL in an icon", EncodeIco({{1, 1, 32, PngWithHugeChunk("sCAL")}})});
    // JPEG markers with the largest length: application data, comment, tables.
    for (uint8_t marker : {0xE1, 0xE2, 0xEE, 0xFE, 0xDB, 0xC4, 0xDD})
        samples.push_back({"JPEG marker " + Hex(marker).substr(6), JpegWithHugeMarker(marker)});
    // A BMP header claiming 4 billion palette entries and a 100 x 100 picture without its data.
    ByteVector bmp = EncodeBmp(Gradient(1, 1), {8});
    bmp[18] = bmp[22] = 100;
    bmp[46] = bmp[47] = bmp[48] = bmp[49] = 0xFF;
    samples.push_back({"BMP with a huge palette", bmp});
    // An icon directory of 65535 entries in a few bytes.
    samples.push_back({"icon with a huge directory", {0, 0, 1, 0, 0xFF, 0xFF, 16, 16, 0, 0}});
    return samples;
}

}  // namespace

TEST(PictureMemory, HostileFilesAskForNoMoreThanTheLimitsAllow) {
    if (!HeapProbeAvailable())
        GTEST_SKIP() << "the heap cannot be watched in this build";
    const size_t bound = kAvatarLimits.MaxPixelBytes + kWorkingBytes;
    for (const Sample &sample : HostileSamples()) {
        SCOPED_TRACE(sample.Name);
        std::unique_ptr<Picture> decoded;
        std::string error;
        const HeapUse use = Decode(sample.Bytes, decoded, error);
        EXPECT_EQ(decoded, nullptr);
        EXPECT_FALSE(error.empty());
        EXPECT_LE(use.LargestRequest, bound);
        EXPECT_LE(use.PeakBytes, bound);
    }
}

// The same bound holds for real pictures at the limit, which also shows that the probe sees the
// decoders' memory: each of them holds at least the pixels.
TEST(PictureMemory, PicturesAtTheLimitDecodeWithinTheSameBound) {
    if (!HeapProbeAvailable())
        GTEST_SKIP() << "the heap cannot be watched in this build";
    const Picture picture = Gradient(100, 100);
    const std::vector<Sample> samples = {
        {"PNG RGBA 16 interlaced", EncodePng(picture, {6, 16, true})},
        {"JPEG progressive", EncodeJpeg(picture, {JpegOptions::Colour::Rgb, 90, true})},
        {"JPEG CMYK", EncodeJpeg(picture, {JpegOptions::Colour::AdobeCmyk})},
        {"BMP 32 bits", EncodeBmp(picture, {32})},
        {"BMP RLE8", EncodeBmpRle8(picture)},
        {"icon with a PNG", EncodeIco({{100, 100, 32, EncodePng(picture)}})},
        {"icon with a DIB", EncodeIco({{100, 100, 32, EncodeIconDib(picture, 32)}})},
    };
    const size_t bound = kAvatarLimits.MaxPixelBytes + kWorkingBytes;
    for (const Sample &sample : samples) {
        SCOPED_TRACE(sample.Name);
        std::unique_ptr<Picture> decoded;
        std::string error;
        const HeapUse use = Decode(sample.Bytes, decoded, error);
        ASSERT_NE(decoded, nullptr) << error;
        EXPECT_GE(use.PeakBytes, kAvatarLimits.MaxPixelBytes);
        EXPECT_LE(use.PeakBytes, bound);
        EXPECT_LE(use.LargestRequest, bound);
    }
}
