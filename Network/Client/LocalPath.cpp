// The one platform call of the request layer: a path given as UTF-8 bytes (as the front-end hands
// every file name over) made into the file system's own path, unchanged. On Windows that is the
// wide-character path, so names outside the local 8-bit code page reach the file system too; on
// other systems the bytes are the path.
#include "Network/Client/AvatarFile.h"

#ifdef _WIN32
#include <windows.h>

#include <climits>
#endif

std::filesystem::path AvatarPath(const std::string &file) {
#ifdef _WIN32
    if (file.empty() || file.size() > INT_MAX)
        return {};
    const int size = static_cast<int>(file.size());
    const int wide =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, file.data(), size, nullptr, 0);
    if (wide <= 0)
        return {};  // not UTF-8: no such file
    std::wstring path(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, file.data(), size, path.data(), wide);
    return std::filesystem::path(std::move(path));
#else
    return std::filesystem::path(file);
#endif
}
