// PNG through libpng, read from memory. libpng reports errors by longjmp, so the two functions
// that call into it (ReadPngHeader, ReadPngRows) are plain C-style code: no object with a
// destructor lives in their frames, and everything they share with the caller is plain data.
//
// Memory: libpng takes every block from a capped allocator, so no chunk, known or not, makes it
// hold more than its structures, zlib's state and a few rows of the picture need; ancillary chunks
// that the decoder has no use for are skipped unread.
#include <png.h>

#include <bit>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "picture/PictureDecoders.h"

namespace picture {
namespace {

// What libpng may hold before the picture's width is known: its structures, zlib's inflate state
// and window, the palette and the buffer of compressed data.
constexpr size_t kPngBaseBytes = 128u << 10;
// ... and then per pixel of the width: its row buffers, at up to 8 bytes a pixel.
constexpr size_t kPngBytesPerColumn = 32;

// Plain data shared with the callbacks.
struct PngSource {
    const uint8_t *Data;
    size_t Size;
    size_t Position;
    size_t Budget;  // bytes libpng may hold at once
    size_t Held;
    char Message[160];
};

// Each block carries its size in front, so that freeing it returns it to the budget.
constexpr size_t kBlockHeader = alignof(std::max_align_t);
static_assert(kBlockHeader >= sizeof(size_t));

png_voidp Allocate(png_structp png, png_alloc_size_t size) {
    auto *source = static_cast<PngSource *>(png_get_mem_ptr(png));
    if (size > source->Budget - source->Held)
        return nullptr;  // libpng reports it as out of memory
    auto *block = static_cast<unsigned char *>(std::malloc(kBlockHeader + size));
    if (!block)
        return nullptr;
    std::memcpy(block, &size, sizeof size);
    source->Held += size;
    return block + kBlockHeader;
}

void Release(png_structp png, png_voidp pointer) {
    if (!pointer)
        return;
    auto *source = static_cast<PngSource *>(png_get_mem_ptr(png));
    unsigned char *block = static_cast<unsigned char *>(pointer) - kBlockHeader;
    size_t size = 0;
    std::memcpy(&size, block, sizeof size);
    source->Held -= size;
    std::free(block);
}

void ReadFromSource(png_structp png, png_bytep out, size_t length) {
    auto *source = static_cast<PngSource *>(png_get_io_ptr(png));
    if (length > source->Size - source->Position)
        png_error(png, "PNG data is truncated");
    std::memcpy(out, source->Data + source->Position, length);
    source->Position += length;
}

[[noreturn]] void OnError(png_structp png, png_const_charp message) {
    auto *source = static_cast<PngSource *>(png_get_error_ptr(png));
    std::snprintf(source->Message, sizeof source->Message, "%s", message);
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}  // warnings change nothing; keep them silent

enum class HeaderResult { Ready, OverLimits, Failed };

// Reads the chunks before the image data and sets the transforms to 8-bit pixels in the byte order
// of a native 0xAARRGGBB word. Stops before any row memory is allocated when the size is over the
// limits.
HeaderResult ReadPngHeader(png_structp png, png_infop info, const PictureLimits *limits,
                           png_uint_32 *width, png_uint_32 *height) {
    if (setjmp(png_jmpbuf(png)))
        return HeaderResult::Failed;
    png_read_info(png, info);
    *width = png_get_image_width(png, info);
    *height = png_get_image_height(png, info);
    if (*width > static_cast<png_uint_32>(limits->MaxWidth) ||
        *height > static_cast<png_uint_32>(limits->MaxHeight) ||
        static_cast<uint64_t>(*width) * *height * 4u > limits->MaxPixelBytes)
        return HeaderResult::OverLimits;
    auto *source = static_cast<PngSource *>(png_get_mem_ptr(png));
    source->Budget += static_cast<size_t>(*width) * kPngBytesPerColumn;

    const int colorType = png_get_color_type(png, info);
    const int bitDepth = png_get_bit_depth(png, info);
    const bool hasTransparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (bitDepth == 16)
        png_set_scale_16(png);
    if (colorType == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(png);
    if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    if (hasTransparency)
        png_set_tRNS_to_alpha(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(png);
    if (!(colorType & PNG_COLOR_MASK_ALPHA) && !hasTransparency)
        png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    if constexpr (std::endian::native == std::endian::little)
        png_set_bgr(png);  // bytes B, G, R, A
    else
        png_set_swap_alpha(png);  // bytes A, R, G, B
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != static_cast<size_t>(*width) * 4u)
        png_error(png, "unexpected PNG row layout");
    return HeaderResult::Ready;
}

// Reads every row (all passes of an interlaced picture) and the chunks up to the end marker.
bool ReadPngRows(png_structp png, png_infop info, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_image(png, rows);
    png_read_end(png, info);
    return true;
}

// Owns libpng's read structures.
class PngReader {
public:
    explicit PngReader(PngSource &source) {
        png_ = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &source, OnError, OnWarning, &source,
                                        Allocate, Release);
        if (png_)
            info_ = png_create_info_struct(png_);
        if (info_) {
            png_set_read_fn(png_, &source, ReadFromSource);
            // Every chunk but the header, palette, transparency, image data and end is skipped.
            png_set_keep_unknown_chunks(png_, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
        }
    }
    ~PngReader() { png_destroy_read_struct(&png_, info_ ? &info_ : nullptr, nullptr); }
    PngReader(const PngReader &) = delete;
    PngReader &operator=(const PngReader &) = delete;

    bool Valid() const { return info_ != nullptr; }
    png_structp Png() const { return png_; }
    png_infop Info() const { return info_; }

private:
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

std::string SourceError(const PngSource &source) {
    return source.Message[0] ? "PNG cannot be decoded: " + std::string(source.Message)
                             : std::string("PNG cannot be decoded");
}

}  // namespace

bool MeasurePng(Bytes bytes, Dimensions &size) {
    // Signature, then the header chunk: length 13, "IHDR", width and height (big-endian). The
    // decoder takes the same test first, so that both agree on what is a PNG.
    if (bytes.size() < 24 || ReadBe32(bytes, 8) != 13 || std::memcmp(&bytes[12], "IHDR", 4) != 0)
        return false;
    const uint32_t width = ReadBe32(bytes, 16);
    const uint32_t height = ReadBe32(bytes, 20);
    if (width == 0 || height == 0 || width > PNG_UINT_31_MAX || height > PNG_UINT_31_MAX)
        return false;
    size = {static_cast<int32_t>(width), static_cast<int32_t>(height)};
    return true;
}

std::unique_ptr<Picture> DecodePng(Bytes bytes, const PictureLimits &limits, std::string &error) {
    Dimensions stated;
    if (!MeasurePng(bytes, stated)) {
        error = "PNG does not begin with its header chunk";
        return nullptr;
    }
    PngSource source{bytes.data(), bytes.size(), 0, kPngBaseBytes, 0, {}};
    PngReader reader(source);
    if (!reader.Valid()) {
        error = "not enough memory to decode the PNG";
        return nullptr;
    }
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    switch (ReadPngHeader(reader.Png(), reader.Info(), &limits, &width, &height)) {
        case HeaderResult::Ready:
            break;
        case HeaderResult::OverLimits:
            CheckPictureLimits(width, height, limits, error);
            return nullptr;
        case HeaderResult::Failed:
            error = SourceError(source);
            return nullptr;
    }
    auto result = AllocatePicture(width, height, limits, error);
    if (!result)
        return nullptr;
    std::vector<png_bytep> rows(height);
    for (png_uint_32 y = 0; y < height; ++y)
        rows[y] =
            reinterpret_cast<png_bytep>(result->Pixels.data() + static_cast<size_t>(y) * width);
    if (!ReadPngRows(reader.Png(), reader.Info(), rows.data())) {
        error = SourceError(source);
        return nullptr;
    }
    return result;
}

}  // namespace picture
