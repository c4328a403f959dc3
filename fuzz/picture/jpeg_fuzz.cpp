// Fuzz target: the JPEG decoder on arbitrary bytes.
#include "fuzz/picture/PictureFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    picture_fuzz::FuzzOne(data, size, picture::DecodeJpeg, picture::MeasureJpeg);
    return 0;
}
