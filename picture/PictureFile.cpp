// Decoding a picture straight from a file: the file is read whole into memory (within a size
// bound, checked before reading) and handed to DecodePicture.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <vector>

#include "picture/Picture.h"

namespace {

// No picture the system exchanges comes near this; a larger file is refused unread.
constexpr uintmax_t kMaxPictureFileBytes = 64u << 20;

bool Fail(std::string *error, const std::string &reason) {
    if (error)
        *error = reason;
    return false;
}

bool ReadWholeFile(const std::string &path, std::vector<uint8_t> &bytes, std::string *error) {
    std::error_code ec;
    const std::filesystem::path file(path);
    if (!std::filesystem::is_regular_file(file, ec))
        return Fail(error, std::filesystem::exists(file, ec) ? "not a regular file: " + path
                                                             : "file not found: " + path);
    const uintmax_t size = std::filesystem::file_size(file, ec);
    if (ec)
        return Fail(error, "cannot read the size of " + path);
    if (size > kMaxPictureFileBytes)
        return Fail(error, "file is larger than 64 MiB: " + path);

    std::ifstream in(file, std::ios::binary);
    if (!in)
        return Fail(error, "cannot open " + path);
    bytes.resize(static_cast<size_t>(size));
    in.read(reinterpret_cast<char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    // The file may have shrunk since its size was taken; decode only what was really read.
    bytes.resize(static_cast<size_t>(in.gcount()));
    if (in.bad())
        return Fail(error, "cannot read " + path);
    return true;
}

}  // namespace

std::unique_ptr<Picture> DecodePictureFile(const std::string &path, const PictureLimits &limits,
                                           std::string *error) {
    std::vector<uint8_t> bytes;
    try {
        if (!ReadWholeFile(path, bytes, error))
            return nullptr;
    } catch (const std::exception &) {
        Fail(error, "not enough memory to read " + path);
        return nullptr;
    }
    return DecodePicture(bytes, limits, error);
}
