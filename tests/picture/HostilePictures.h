// Small picture files that claim far more than they hold, for the memory tests and the fuzz seeds:
// each has a valid signature and header, then a chunk or marker that declares a huge length.
#pragma once

#include <cstdint>

#include "tests/picture/PictureEncoders.h"

namespace picture_test {

// A PNG of a signature, a 1 x 1 header and the start of a chunk of type `type` (four letters)
// declaring `declaredLength` bytes, of which none follow: 41 bytes.
ByteVector PngWithHugeChunk(const char *type, uint32_t declaredLength = 0x7FFFFFFF);

// A valid 11 x 7 PNG whose first chunk is an ancillary "iHDR" (lower-case i) before the real
// header: the format requires the header first, so it is no PNG.
ByteVector PngWithIhdrLookalikeFirst();

// A JPEG start followed by a marker of type `marker` that declares the largest length (65535)
// and is cut short.
ByteVector JpegWithHugeMarker(uint8_t marker);

// A 32-bit icon DIB whose transparency mask stops after `maskBytes` bytes.
ByteVector IconDibWithTruncatedMask(const Picture &picture, size_t maskBytes);

}  // namespace picture_test
