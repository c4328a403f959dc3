#include "TestPictures.h"

#include "tests/picture/PictureEncoders.h"

// The picture tests' own encoders write the files: one writer of test pictures for the project.
drovik::Bytes MakePng(int width, int height) {
    const std::vector<uint32_t> pixels(size_t(width) * size_t(height), 0x80808080u);
    return picture_test::EncodePng(picture_test::MakePicture(width, height, pixels));
}

drovik::Bytes MakeBmp() {
    return picture_test::EncodeBmp(picture_test::Gradient(2, 2));
}
