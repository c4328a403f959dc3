// Files that only their owner may read (keys), written whole or not at all.
#ifndef DROVIK_SRC_PRIVATE_FILE_H
#define DROVIK_SRC_PRIVATE_FILE_H

#include <cstdint>
#include <span>
#include <string>

namespace drovik {

// Writes bytes to a temporary file beside path (owner read and write only), flushes it to disk and
// renames it to path. False with a text that names the file in error.
bool writeOwnerOnlyFile(const std::string &path, std::span<const uint8_t> bytes,
                        std::string &error);

}  // namespace drovik

#endif  // DROVIK_SRC_PRIVATE_FILE_H
