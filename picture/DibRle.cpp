// Run-length encoded DIB pixels (8 and 4 bits per pixel). Pixels the encoding skips (by a line
// end, a delta or the end of the bitmap) stay fully transparent. Every pixel is written at most
// once and every step consumes input, so hostile data cannot make the decoder loop for long.
#include <algorithm>

#include "picture/Dib.h"

namespace picture {
namespace {

class RleCanvas {
public:
    RleCanvas(Picture &out) : out_(out), width_(out.Width), height_(out.Height) {}

    bool Finished() const { return y_ >= height_; }
    void NextLine() {
        x_ = 0;
        ++y_;
    }
    void Move(int dx, int dy) {
        x_ += dx;
        y_ += dy;
    }
    // Writes `count` pixels whose palette index `indexAt(i)` gives; pixels right of the picture
    // are skipped without being visited.
    template <typename IndexAt>
    void Put(int64_t count, const std::array<uint32_t, 256> &palette, IndexAt indexAt) {
        if (!Finished() && x_ < width_) {
            const int64_t visible = std::min(count, width_ - x_);
            uint32_t *row = out_.Pixels.data() + static_cast<size_t>((height_ - 1 - y_) * width_);
            for (int64_t i = 0; i < visible; ++i)
                row[x_ + i] = palette[indexAt(i)];
        }
        x_ += count;
    }

private:
    Picture &out_;
    int64_t width_;
    int64_t height_;
    int64_t x_ = 0;
    int64_t y_ = 0;  // rows are stored from the bottom up
};

}  // namespace

bool DecodeDibRle(Bytes bytes, const DibLayout &layout, const std::array<uint32_t, 256> &palette,
                  Picture &out, std::string &error) {
    const bool rle8 = layout.Compression == DibCompression::Rle8;
    RleCanvas canvas(out);
    size_t pos = static_cast<size_t>(layout.PixelOffset);
    const size_t end = bytes.size();
    while (!canvas.Finished()) {
        if (end - pos < 2)
            break;
        const uint8_t count = bytes[pos];
        const uint8_t value = bytes[pos + 1];
        pos += 2;
        if (count > 0) {  // a run of one index (RLE8) or two alternating indices (RLE4)
            canvas.Put(count, palette, [&](int64_t i) -> uint8_t {
                return rle8 ? value : (i % 2 == 0 ? value >> 4 : value & 0x0F);
            });
            continue;
        }
        if (value == 0) {
            canvas.NextLine();
        } else if (value == 1) {
            return true;  // end of bitmap
        } else if (value == 2) {
            if (end - pos < 2)
                break;
            canvas.Move(bytes[pos], bytes[pos + 1]);
            pos += 2;
        } else {  // absolute mode: `value` indices stored literally, padded to a 16-bit boundary
            const size_t dataBytes = rle8 ? value : (value + 1u) / 2;
            if (end - pos < dataBytes)
                break;
            const uint8_t *data = bytes.data() + pos;
            canvas.Put(value, palette, [&](int64_t i) -> uint8_t {
                return rle8 ? data[i] : (i % 2 == 0 ? data[i / 2] >> 4 : data[i / 2] & 0x0F);
            });
            pos += std::min(end - pos, (dataBytes + 1) & ~size_t{1});
        }
    }
    if (canvas.Finished())
        return true;  // every row is drawn; a missing end marker loses nothing
    error = "BMP run-length data is truncated";
    return false;
}

}  // namespace picture
