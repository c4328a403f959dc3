// Reading avatar files: the only file access of the request layer, through the standard library.
#include "Network/Client/AvatarFile.h"

#include <fstream>

FileReadResult ReadWholeFile(const std::filesystem::path &path, int64_t maxBytes,
                             std::vector<uint8_t> &bytes) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return FileReadResult::Unreadable;
    std::ifstream in(path, std::ios::binary);
    if (!in.seekg(0, std::ios::end))
        return FileReadResult::Unreadable;
    const std::streamoff length = in.tellg();
    if (length < 0 || !in.seekg(0, std::ios::beg))
        return FileReadResult::Unreadable;
    if (length > maxBytes)
        return FileReadResult::TooLarge;
    bytes.assign(static_cast<size_t>(length), 0);
    in.read(reinterpret_cast<char *>(bytes.data()), length);
    if (in.gcount() != length) {
        bytes.clear();
        return FileReadResult::Unreadable;
    }
    return FileReadResult::Read;
}
