// Writers of real picture files for the tests and the benchmark.
#include "tests/picture/PictureEncoders.h"

#include <png.h>

#include <cstdio>  // jpeglib.h needs FILE and size_t declared first

#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <stdexcept>

namespace picture_test {
namespace {

uint8_t Red(uint32_t p) {
    return static_cast<uint8_t>(p >> 16);
}
uint8_t Green(uint32_t p) {
    return static_cast<uint8_t>(p >> 8);
}
uint8_t Blue(uint32_t p) {
    return static_cast<uint8_t>(p);
}
uint8_t Alpha(uint32_t p) {
    return static_cast<uint8_t>(p >> 24);
}

// The distinct colours of a picture, in order of first appearance.
std::vector<uint32_t> DistinctColours(const Picture &picture, bool keepAlpha) {
    std::vector<uint32_t> colours;
    for (uint32_t p : picture.Pixels) {
        const uint32_t c = keepAlpha ? p : (p | 0xFF000000u);
        if (std::find(colours.begin(), colours.end(), c) == colours.end())
            colours.push_back(c);
    }
    return colours;
}

size_t IndexOf(const std::vector<uint32_t> &colours, uint32_t colour) {
    return static_cast<size_t>(std::find(colours.begin(), colours.end(), colour) - colours.begin());
}

// Packs values of `bits` bits into bytes, leftmost value in the high bits.
void PackBits(ByteVector &row, const std::vector<uint32_t> &values, int bits) {
    const size_t start = row.size();
    row.resize(start + (values.size() * bits + 7) / 8, 0);
    for (size_t i = 0; i < values.size(); ++i) {
        const size_t bit = i * bits;
        row[start + bit / 8] |= static_cast<uint8_t>(values[i] << (8 - bits - bit % 8));
    }
}

void AppendPng(png_structp png, png_bytep data, size_t length) {
    auto *out = static_cast<ByteVector *>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void FlushPng(png_structp) {}

// C-style: libpng longjmps here on error; nothing with a destructor lives in this frame.
bool WritePng(png_structp png, png_infop info, png_uint_32 width, png_uint_32 height,
              const PngOptions *options, png_colorp palette, int paletteSize, png_bytep alphas,
              png_bytepp rows) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_IHDR(png, info, width, height, options->BitDepth, options->ColorType,
                 options->Interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (paletteSize > 0) {
        png_set_PLTE(png, info, palette, paletteSize);
        png_set_tRNS(png, info, alphas, paletteSize, nullptr);
    }
    png_write_info(png, info);
    if (options->Interlaced)
        png_set_interlace_handling(png);
    png_write_image(png, rows);
    png_write_end(png, info);
    return true;
}

}  // namespace

Picture MakePicture(int32_t width, int32_t height, std::vector<uint32_t> pixels) {
    Picture picture;
    picture.Width = width;
    picture.Height = height;
    picture.Pixels = std::move(pixels);
    return picture;
}

Picture Gradient(int32_t width, int32_t height) {
    std::vector<uint32_t> pixels;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            pixels.push_back(0xFF000000u | (((x * 255) / std::max(1, width - 1)) << 16) |
                             (((y * 255) / std::max(1, height - 1)) << 8) | 0x40);
    return MakePicture(width, height, std::move(pixels));
}

ByteVector EncodePng(const Picture &picture, const PngOptions &options) {
    const int depth = options.BitDepth;
    std::vector<uint32_t> colours;
    std::vector<png_color> palette;
    std::vector<png_byte> alphas;
    if (options.ColorType == PNG_COLOR_TYPE_PALETTE) {
        colours = DistinctColours(picture, true);
        for (uint32_t c : colours) {
            palette.push_back(png_color{Red(c), Green(c), Blue(c)});
            alphas.push_back(Alpha(c));
        }
    }
    std::vector<ByteVector> rows(picture.Height);
    for (int32_t y = 0; y < picture.Height; ++y) {
        ByteVector &row = rows[y];
        std::vector<uint32_t> samples;
        for (int32_t x = 0; x < picture.Width; ++x) {
            const uint32_t p = picture.Pixels[y * picture.Width + x];
            switch (options.ColorType) {
                case PNG_COLOR_TYPE_GRAY:
                    samples.push_back(Red(p));
                    break;
                case PNG_COLOR_TYPE_GRAY_ALPHA:
                    samples.insert(samples.end(), {Red(p), Alpha(p)});
                    break;
                case PNG_COLOR_TYPE_RGB:
                    samples.insert(samples.end(), {Red(p), Green(p), Blue(p)});
                    break;
                case PNG_COLOR_TYPE_RGB_ALPHA:
                    samples.insert(samples.end(), {Red(p), Green(p), Blue(p), Alpha(p)});
                    break;
                default:
                    samples.push_back(static_cast<uint32_t>(IndexOf(colours, p)));
                    break;
            }
        }
        if (depth == 16) {
            for (uint32_t s : samples)
                row.insert(row.end(), {static_cast<uint8_t>(s), static_cast<uint8_t>(s)});  // v*257
        } else if (depth == 8 || options.ColorType == PNG_COLOR_TYPE_PALETTE) {
            PackBits(row, samples, depth);
        } else {  // grey of 1, 2 or 4 bits: keep the high bits
            for (uint32_t &s : samples)
                s >>= 8 - depth;
            PackBits(row, samples, depth);
        }
    }
    std::vector<png_bytep> rowPointers;
    for (ByteVector &row : rows)
        rowPointers.push_back(row.data());

    ByteVector out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, AppendPng, FlushPng);
    const bool ok = WritePng(png, info, picture.Width, picture.Height, &options, palette.data(),
                             static_cast<int>(palette.size()), alphas.data(), rowPointers.data());
    png_destroy_write_struct(&png, &info);
    if (!ok)
        throw std::runtime_error("test PNG encoder failed");
    return out;
}

ByteVector EncodeJpeg(const Picture &picture, const JpegOptions &options) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = picture.Width;
    cinfo.image_height = picture.Height;
    using Colour = JpegOptions::Colour;
    cinfo.input_components = options.Space == Colour::Grey  ? 1
                             : options.Space == Colour::Rgb ? 3
                                                            : 4;
    cinfo.in_color_space = options.Space == Colour::Grey  ? JCS_GRAYSCALE
                           : options.Space == Colour::Rgb ? JCS_RGB
                                                          : JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, options.Quality, TRUE);
    if (options.Progressive)
        jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    ByteVector row;
    while (cinfo.next_scanline < cinfo.image_height) {
        row.clear();
        for (int32_t x = 0; x < picture.Width; ++x) {
            const uint32_t p = picture.Pixels[cinfo.next_scanline * picture.Width + x];
            if (options.Space == Colour::Grey)
                row.push_back(Red(p));
            else if (options.Space == Colour::Rgb)
                row.insert(row.end(), {Red(p), Green(p), Blue(p)});
            else  // Adobe's inverted inks with no black: C' = R, M' = G, Y' = B, K' = 255
                row.insert(row.end(), {Red(p), Green(p), Blue(p), 255});
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    ByteVector out(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return out;
}

void PutLe16(ByteVector &out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutLe32(ByteVector &out, uint32_t value) {
    PutLe16(out, value & 0xFFFF);
    PutLe16(out, value >> 16);
}

namespace {

// Pixel rows of a DIB, bottom-up unless `topDown`, each padded to 32 bits.
ByteVector DibRows(const Picture &picture, const BmpOptions &options,
                   const std::vector<uint32_t> &palette) {
    ByteVector out;
    for (int32_t i = 0; i < picture.Height; ++i) {
        const int32_t y = options.TopDown ? i : picture.Height - 1 - i;
        ByteVector row;
        std::vector<uint32_t> indices;
        for (int32_t x = 0; x < picture.Width; ++x) {
            const uint32_t p = picture.Pixels[y * picture.Width + x];
            switch (options.BitCount) {
                case 16:
                    PutLe16(row, options.Bitfields565
                                     ? (Red(p) >> 3) << 11 | (Green(p) >> 2) << 5 | Blue(p) >> 3
                                     : (Red(p) >> 3) << 10 | (Green(p) >> 3) << 5 | Blue(p) >> 3);
                    break;
                case 24:
                    row.insert(row.end(), {Blue(p), Green(p), Red(p)});
                    break;
                case 32:
                    row.insert(row.end(), {Blue(p), Green(p), Red(p), Alpha(p)});
                    break;
                default:
                    indices.push_back(static_cast<uint32_t>(IndexOf(palette, p | 0xFF000000u)));
            }
        }
        if (!indices.empty())
            PackBits(row, indices, options.BitCount);
        row.resize((row.size() + 3) / 4 * 4, 0);
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

// The DIB header (of options.HeaderSize bytes) followed by masks and palette.
ByteVector DibHeader(const Picture &picture, const BmpOptions &options, int32_t storedHeight,
                     const std::vector<uint32_t> &palette) {
    ByteVector out;
    const bool core = options.HeaderSize == 12;
    PutLe32(out, options.HeaderSize);
    if (core) {
        PutLe16(out, picture.Width);
        PutLe16(out, storedHeight);
        PutLe16(out, 1);
        PutLe16(out, options.BitCount);
    } else {
        const bool bitfields = options.Bitfields565 || options.AlphaMask;
        PutLe32(out, picture.Width);
        PutLe32(out, static_cast<uint32_t>(options.TopDown ? -storedHeight : storedHeight));
        PutLe16(out, 1);
        PutLe16(out, options.BitCount);
        PutLe32(out, bitfields ? 3 : 0);
        PutLe32(out, 0);
        PutLe32(out, 2835);
        PutLe32(out, 2835);
        PutLe32(out, static_cast<uint32_t>(palette.size()));
        PutLe32(out, 0);
        if (bitfields) {  // in the header from 52 bytes on, else right after it
            if (options.Bitfields565)
                for (uint32_t mask : {0xF800u, 0x07E0u, 0x001Fu, 0u})
                    PutLe32(out, mask);
            else
                for (uint32_t mask : {0xFF0000u, 0xFF00u, 0xFFu, 0xFF000000u})
                    PutLe32(out, mask);
            if (options.HeaderSize == 40)
                out.resize(out.size() - 4);  // no alpha word after a 40-byte header
        }
        out.resize(std::max<size_t>(out.size(), options.HeaderSize), 0);
    }
    for (uint32_t c : palette) {
        out.insert(out.end(), {Blue(c), Green(c), Red(c)});
        if (!core)
            out.push_back(0);
    }
    return out;
}

}  // namespace

ByteVector EncodeBmp(const Picture &picture, const BmpOptions &options) {
    std::vector<uint32_t> palette;
    if (options.BitCount <= 8)
        palette = DistinctColours(picture, false);
    const ByteVector header = DibHeader(picture, options, picture.Height, palette);
    const ByteVector rows = DibRows(picture, options, palette);
    ByteVector out = {'B', 'M'};
    PutLe32(out, static_cast<uint32_t>(14 + header.size() + rows.size()));
    PutLe32(out, 0);
    PutLe32(out, static_cast<uint32_t>(14 + header.size()));
    out.insert(out.end(), header.begin(), header.end());
    out.insert(out.end(), rows.begin(), rows.end());
    return out;
}

ByteVector EncodeBmpRle8(const Picture &picture) {
    const std::vector<uint32_t> palette = DistinctColours(picture, false);
    ByteVector header = DibHeader(picture, {8, 40}, picture.Height, palette);
    header[16] = 1;  // compression: RLE8
    ByteVector data;
    for (int32_t y = picture.Height - 1; y >= 0; --y) {
        int32_t x = 0;
        while (x < picture.Width) {
            const uint32_t colour = picture.Pixels[y * picture.Width + x] | 0xFF000000u;
            int32_t run = 1;
            while (run < 255 && x + run < picture.Width &&
                   (picture.Pixels[y * picture.Width + x + run] | 0xFF000000u) == colour)
                ++run;
            data.insert(data.end(), {static_cast<uint8_t>(run),
                                     static_cast<uint8_t>(IndexOf(palette, colour))});
            x += run;
        }
        data.insert(data.end(), {0, 0});
    }
    data.insert(data.end(), {0, 1});
    ByteVector out = {'B', 'M'};
    PutLe32(out, static_cast<uint32_t>(14 + header.size() + data.size()));
    PutLe32(out, 0);
    PutLe32(out, static_cast<uint32_t>(14 + header.size()));
    out.insert(out.end(), header.begin(), header.end());
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

ByteVector EncodeIconDib(const Picture &picture, int bitCount) {
    BmpOptions options;
    options.BitCount = bitCount;
    std::vector<uint32_t> palette;
    if (bitCount <= 8)
        palette = DistinctColours(picture, false);
    ByteVector out = DibHeader(picture, options, picture.Height * 2, palette);
    const ByteVector rows = DibRows(picture, options, palette);
    out.insert(out.end(), rows.begin(), rows.end());
    for (int32_t y = picture.Height - 1; y >= 0; --y) {  // the AND mask, bottom-up
        ByteVector row;
        std::vector<uint32_t> bits;
        for (int32_t x = 0; x < picture.Width; ++x)
            bits.push_back(Alpha(picture.Pixels[y * picture.Width + x]) == 0 ? 1 : 0);
        PackBits(row, bits, 1);
        row.resize((row.size() + 3) / 4 * 4, 0);
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

ByteVector EncodeIco(const std::vector<IconImage> &images) {
    ByteVector out;
    PutLe16(out, 0);
    PutLe16(out, 1);
    PutLe16(out, static_cast<uint32_t>(images.size()));
    uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
    for (const IconImage &image : images) {
        out.push_back(static_cast<uint8_t>(image.DirectoryWidth & 0xFF));  // 256 is stored as 0
        out.push_back(static_cast<uint8_t>(image.DirectoryHeight & 0xFF));
        out.push_back(0);
        out.push_back(0);
        PutLe16(out, 1);
        PutLe16(out, image.BitCount);
        PutLe32(out, static_cast<uint32_t>(image.Data.size()));
        PutLe32(out, offset);
        offset += static_cast<uint32_t>(image.Data.size());
    }
    for (const IconImage &image : images)
        out.insert(out.end(), image.Data.begin(), image.Data.end());
    return out;
}

}  // namespace picture_test
