// Fuzz target: the BMP decoder on arbitrary bytes.
#include "fuzz/picture/PictureFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    picture_fuzz::FuzzOne(data, size, picture::DecodeBmp, picture::MeasureBmp);
    return 0;
}
