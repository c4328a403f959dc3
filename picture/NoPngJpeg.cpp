// For a build without libpng and libjpeg (the Windows cross build, whose system has neither): PNG
// and JPEG files are recognised but refused with a reason, and never measured.
#include "picture/PictureDecoders.h"

namespace picture {

bool MeasurePng(Bytes, Dimensions &) {
    return false;
}

std::unique_ptr<Picture> DecodePng(Bytes, const PictureLimits &, std::string &error) {
    error = "PNG pictures cannot be decoded by this build";
    return nullptr;
}

bool MeasureJpeg(Bytes, Dimensions &) {
    return false;
}

std::unique_ptr<Picture> DecodeJpeg(Bytes, const PictureLimits &, std::string &error) {
    error = "JPEG pictures cannot be decoded by this build";
    return nullptr;
}

}  // namespace picture
