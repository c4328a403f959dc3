#include "protocol/PreferencesBlock.h"

#include <algorithm>
#include <cstring>

#include "protocol/WireValues.h"

PreferencesBlock EncodePreferencesBlock(const PreferencesValues &values) {
    PreferencesBlock block{};
    for (size_t i = 0; i < values.size(); ++i)
        WriteLittleEndian32(std::span(block).subspan(i * 4, 4), values[i]);
    return block;
}

size_t DecodePreferencesBlock(std::span<const uint8_t> block, PreferencesValues &values) {
    const size_t length = std::min(block.size(), values.size() * 4);
    for (size_t i = 0; i * 4 < length; ++i) {
        uint8_t bytes[4];
        WriteLittleEndian32(bytes, values[i]);
        std::memcpy(bytes, block.data() + i * 4, std::min<size_t>(4, length - i * 4));
        values[i] = ReadLittleEndian32(bytes);
    }
    return length;
}
