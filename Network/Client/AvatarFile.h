// Avatar upload in two stages: the checks of the chosen file, made before any lock and sending
// nothing, and the send, which reads the file again under RequestMutex.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// A local path given as UTF-8 (the front-end's encoding of file names on every platform), as the
// file system names it. An empty path when the text is not UTF-8 where that matters (Windows).
std::filesystem::path AvatarPath(const std::string &file);

enum class FileReadResult { Read, Unreadable, TooLarge };

// Reads the whole file into bytes when it holds at most maxBytes; Unreadable when it cannot be
// opened or read in full (missing, a directory, shrunk while read), TooLarge without reading it.
FileReadResult ReadWholeFile(const std::filesystem::path &path, int64_t maxBytes,
                             std::vector<uint8_t> &bytes);

// The checks in their order: 4 no such file, 2 larger than MaxAvatarSize, 5 not a decodable
// picture, 3 wider than MaxAvatarWidth or higher than MaxAvatarHeight; 0 when the file passes.
int32_t CheckAvatarFile(const std::string &file);

// Reads the file and sends it as the own avatar: the server's code, with the own cache entries
// dropped once the job was submitted. 4 when the file can no longer be opened or read in full, 2
// when it has grown beyond MaxAvatarSize since the checks; nothing is sent then.
int32_t SendAvatarFile(const std::string &file);
