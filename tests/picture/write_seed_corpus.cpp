// Writes the seed corpus of the picture fuzz targets: a few small real files of each format, and
// hostile ones that claim far more than they hold.
// Usage: picture_seed_corpus_writer FOLDER   (creates FOLDER/bmp, jpeg, png and ico)
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tests/picture/HostilePictures.h"
#include "tests/picture/PictureEncoders.h"

using namespace picture_test;

namespace {

void Write(const std::filesystem::path &folder, const char *name, const ByteVector &bytes) {
    std::filesystem::create_directories(folder);
    std::ofstream(folder / name, std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

Picture Translucent(int32_t width, int32_t height) {
    Picture picture = Gradient(width, height);
    for (size_t i = 0; i < picture.Pixels.size(); ++i)
        if (i % 5 == 0)
            picture.Pixels[i] &= 0x7FFFFFFF;
    return picture;
}

Picture FewColours(int32_t width, int32_t height) {
    Picture picture = Gradient(width, height);
    for (uint32_t &p : picture.Pixels)
        p &= 0xFFC0C0C0;
    return picture;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::filesystem::path root = argv[1];
    const Picture gradient = Gradient(12, 9);
    const Picture few = FewColours(11, 7);
    const Picture translucent = Translucent(10, 8);

    Write(root / "bmp", "rgb24.bmp", EncodeBmp(gradient, {24}));
    Write(root / "bmp", "palette8_top_down.bmp", EncodeBmp(few, {8, 40, true}));
    Write(root / "bmp", "palette4_core.bmp", EncodeBmp(FewColours(6, 5), {4, 12}));
    Write(root / "bmp", "bitfields565.bmp", EncodeBmp(gradient, {16, 40, false, true}));
    Write(root / "bmp", "alpha_v5.bmp", EncodeBmp(translucent, {32, 124, false, false, true}));
    Write(root / "bmp", "rle8.bmp", EncodeBmpRle8(few));

    Write(root / "png", "rgba.png", EncodePng(translucent));
    Write(root / "png", "rgb16_interlaced.png", EncodePng(gradient, {2, 16, true}));
    Write(root / "png", "palette.png", EncodePng(few, {3, 8}));
    Write(root / "png", "grey1.png", EncodePng(few, {0, 1}));

    Write(root / "jpeg", "baseline.jpg", EncodeJpeg(gradient));
    Write(root / "jpeg", "progressive.jpg",
          EncodeJpeg(gradient, {JpegOptions::Colour::Rgb, 80, true}));
    Write(root / "jpeg", "grey.jpg", EncodeJpeg(gradient, {JpegOptions::Colour::Grey}));
    Write(root / "jpeg", "cmyk.jpg", EncodeJpeg(gradient, {JpegOptions::Colour::AdobeCmyk}));

    Write(root / "ico", "png_inside.ico", EncodeIco({{10, 8, 32, EncodePng(translucent)}}));
    Write(root / "ico", "dib32.ico", EncodeIco({{10, 8, 32, EncodeIconDib(translucent, 32)}}));
    Write(root / "ico", "dib8_mask.ico", EncodeIco({{11, 7, 8, EncodeIconDib(few, 8)}}));
    Write(root / "ico", "two_images.ico",
          EncodeIco({{6, 5, 4, EncodeIconDib(FewColours(6, 5), 4)},
                     {12, 9, 24, EncodeIconDib(gradient, 24)}}));

    Write(root / "png", "refused_pcal_2gib.png", PngWithHugeChunk("pCAL"));
    Write(root / "png", "refused_unknown_chunk_2gib.png", PngWithHugeChunk("prVt"));
    Write(root / "png", "refused_ihdr_lookalike_first.png", PngWithIhdrLookalikeFirst());
    Write(root / "ico", "refused_png_scal_2gib.ico",
          EncodeIco({{1, 1, 32, PngWithHugeChunk("sCAL")}}));
    Write(root / "ico", "dib32_mask_cut.ico",
          EncodeIco({{10, 8, 32, IconDibWithTruncatedMask(translucent, 3)}}));
    Write(root / "jpeg", "refused_app1_65535.jpg", JpegWithHugeMarker(0xE1));
    Write(root / "bmp", "padding_byte_junk.bmp", EncodeBmp(translucent, {32, 40}));
    return 0;
}
