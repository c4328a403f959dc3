// Writers of the hostile picture files, byte by byte.
#include "tests/picture/HostilePictures.h"

#include <zlib.h>

#include <cstring>

namespace picture_test {
namespace {

void PutBe32(ByteVector &out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

// Appends a whole chunk: length, type, data and the CRC of type and data.
void PutChunk(ByteVector &out, const char *type, const ByteVector &data) {
    PutBe32(out, static_cast<uint32_t>(data.size()));
    const size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    PutBe32(out, static_cast<uint32_t>(crc32(0, &out[typeAt], static_cast<uInt>(data.size() + 4))));
}

ByteVector HeaderData(uint32_t width, uint32_t height) {
    ByteVector data;
    PutBe32(data, width);
    PutBe32(data, height);
    data.insert(data.end(), {8, 6, 0, 0, 0});  // 8-bit RGBA, not interlaced
    return data;
}

constexpr uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

}  // namespace

ByteVector PngWithHugeChunk(const char *type, uint32_t declaredLength) {
    ByteVector out(std::begin(kPngSignature), std::end(kPngSignature));
    PutChunk(out, "IHDR", HeaderData(1, 1));
    PutBe32(out, declaredLength);
    out.insert(out.end(), type, type + 4);
    return out;
}

ByteVector PngWithIhdrLookalikeFirst() {
    const ByteVector png = EncodePng(Gradient(11, 7));
    ByteVector out(png.begin(), png.begin() + sizeof kPngSignature);
    PutChunk(out, "iHDR", HeaderData(11, 7));
    out.insert(out.end(), png.begin() + sizeof kPngSignature, png.end());
    return out;
}

ByteVector JpegWithHugeMarker(uint8_t marker) {
    return {0xFF, 0xD8, 0xFF, marker, 0xFF, 0xFF, 'E', 'x', 'i', 'f', 0, 0};
}

ByteVector IconDibWithTruncatedMask(const Picture &picture, size_t maskBytes) {
    ByteVector dib = EncodeIconDib(picture, 32);
    const size_t colourEnd = 40 + picture.Pixels.size() * 4;
    dib.resize(colourEnd + maskBytes);
    return dib;
}

}  // namespace picture_test
