// The public entry points: format detection, measuring, limits and decoding from files.
#include <filesystem>
#include <fstream>

#include "tests/picture/PictureChecks.h"

using namespace picture_test;

namespace {

struct Sample {
    const char *Name;
    PictureFormat Format;
    ByteVector Bytes;
};

std::vector<Sample> OneOfEach(const Picture &picture) {
    return {
        {"BMP", PictureFormat::Bmp, EncodeBmp(picture)},
        {"JPEG", PictureFormat::Jpeg, EncodeJpeg(picture)},
        {"PNG", PictureFormat::Png, EncodePng(picture)},
        {"ICO", PictureFormat::Ico,
         EncodeIco({{picture.Width, picture.Height, 32, EncodeIconDib(picture, 32)}})},
    };
}

class TempFile {
public:
    explicit TempFile(const std::string &name)
        : path_(std::filesystem::temp_directory_path() /
                ("picture_test_" +
                 std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" + name)) {}
    ~TempFile() {
        std::error_code ec;
        std::filesystem::remove(path_, ec);
    }
    std::string Write(const ByteVector &bytes) {
        std::ofstream(path_, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()), bytes.size());
        return path_.string();
    }
    const std::filesystem::path &Path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace

TEST(PictureApi, DetectMeasureAndDecodeAgree) {
    const Picture source = Gradient(37, 21);
    for (const Sample &sample : OneOfEach(source)) {
        SCOPED_TRACE(sample.Name);
        EXPECT_EQ(DetectPictureFormat(sample.Bytes), sample.Format);
        int32_t width = 0, height = 0;
        ASSERT_TRUE(MeasurePicture(sample.Bytes, width, height));
        auto decoded = DecodePicture(sample.Bytes);
        ASSERT_NE(decoded, nullptr);
        EXPECT_EQ(width, decoded->Width);
        EXPECT_EQ(height, decoded->Height);
        EXPECT_EQ(width, 37);
        EXPECT_EQ(height, 21);
    }
}

TEST(PictureApi, TextAndEmptyInputAreUnknown) {
    const std::string text = "Hello, this is just a text file.\n";
    const ByteVector bytes(text.begin(), text.end());
    EXPECT_EQ(DetectPictureFormat(bytes), PictureFormat::Unknown);
    EXPECT_EQ(DetectPictureFormat({}), PictureFormat::Unknown);
    int32_t width = -1, height = -1;
    EXPECT_FALSE(MeasurePicture(bytes, width, height));
    EXPECT_EQ(width, -1);  // untouched
    std::string error;
    EXPECT_EQ(DecodePicture(bytes, {}, &error), nullptr);
    EXPECT_NE(error.find("known format"), std::string::npos) << error;
    EXPECT_EQ(DecodePicture({}, {}, &error), nullptr);
    EXPECT_FALSE(error.empty());
}

TEST(PictureApi, LimitsApplyToEveryFormatAtTheirExactBounds) {
    const Picture source = Gradient(101, 100);
    for (const Sample &sample : OneOfEach(source)) {
        SCOPED_TRACE(sample.Name);
        std::string error;
        EXPECT_EQ(DecodePicture(sample.Bytes, {100, 100}, &error), nullptr);
        EXPECT_NE(error.find("limits"), std::string::npos) << error;
        EXPECT_EQ(DecodePicture(sample.Bytes, {101, 99}, &error), nullptr);
        EXPECT_EQ(DecodePicture(sample.Bytes, {200, 200, 101 * 100 * 4 - 1}, &error), nullptr);
        EXPECT_NE(DecodePicture(sample.Bytes, {101, 100, 101 * 100 * 4}, &error), nullptr) << error;
    }
}

TEST(PictureApi, DecodingFromFiles) {
    TempFile file("gradient.png");
    const Picture source = Gradient(10, 10);
    std::string error;
    ExpectPixels(DecodePictureFile(file.Write(EncodePng(source)), {}, &error).get(), source);
    EXPECT_TRUE(error.empty()) << error;

    EXPECT_EQ(DecodePictureFile(file.Path().string() + ".missing", {}, &error), nullptr);
    EXPECT_NE(error.find("not found"), std::string::npos) << error;

    EXPECT_EQ(DecodePictureFile(std::filesystem::temp_directory_path().string(), {}, &error),
              nullptr);
    EXPECT_FALSE(error.empty());

    // A file over 64 MiB is refused by its size (a sparse file: nothing is written or read).
    TempFile big("big.png");
    big.Write(EncodePng(source));
    std::filesystem::resize_file(big.Path(), (64u << 20) + 1);
    EXPECT_EQ(DecodePictureFile(big.Path().string(), {}, &error), nullptr);
    EXPECT_NE(error.find("64 MiB"), std::string::npos) << error;
}

// Seeds named refused_* are hostile files that must be refused with a reason; every other seed is
// a picture that decodes.
TEST(PictureApi, EverySeedOfTheFuzzCorpusDecodesOrIsRefusedAsItsNameSays) {
    size_t seeds = 0;
    size_t refused = 0;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(PICTURE_SEED_CORPUS)) {
        if (!entry.is_regular_file())
            continue;
        SCOPED_TRACE(entry.path().string());
        std::string error;
        auto decoded = DecodePictureFile(entry.path().string(), {}, &error);
        if (entry.path().filename().string().starts_with("refused_")) {
            EXPECT_EQ(decoded, nullptr);
            EXPECT_FALSE(error.empty());
            ++refused;
        } else {
            EXPECT_NE(decoded, nullptr) << error;
        }
        ++seeds;
    }
    EXPECT_GE(seeds, 12u);
    EXPECT_GE(refused, 5u);
}
