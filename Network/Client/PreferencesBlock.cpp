#include "Network/Client/PreferencesBlock.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {
// The named fields are read by the avatar checks without a lock, so each is written and read
// whole through an atomic reference.
int32_t *NamedFields(Preferences &p, size_t i) {
    int32_t *fields[] = {&p.Unnamed,         &p.MaxAvatarSize,      &p.MaxAvatarWidth,
                         &p.MaxAvatarHeight, &p.AvatarCacheSetting, &p.ProfileCacheSetting};
    return fields[i];
}
constexpr size_t NamedFieldCount = 6;
constexpr size_t NamedBytes = NamedFieldCount * 4;
static_assert(offsetof(Preferences, Reserved) == NamedBytes);

int32_t LittleEndian32(const uint8_t *bytes) {
    return static_cast<int32_t>(uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 |
                                uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24);
}
}  // namespace

size_t StorePreferencesBlock(std::span<const uint8_t> block, Preferences &record) {
    const size_t length = std::min(block.size(), PreferencesSize);
    for (size_t i = 0; i < NamedFieldCount; ++i) {
        const size_t offset = i * 4;
        if (offset >= length)
            break;
        int32_t *field = NamedFields(record, i);
        int32_t value = std::atomic_ref(*field).load(std::memory_order_relaxed);
        if (offset + 4 <= length) {
            value = LittleEndian32(block.data() + offset);
        } else {
            // A block that ends inside a field replaces only the bytes it holds.
            uint8_t bytes[4];
            for (int b = 0; b < 4; ++b)
                bytes[b] = uint8_t(uint32_t(value) >> (8 * b));
            std::memcpy(bytes, block.data() + offset, length - offset);
            value = LittleEndian32(bytes);
        }
        std::atomic_ref(*field).store(value, std::memory_order_relaxed);
    }
    if (length > NamedBytes)
        std::memcpy(record.Reserved, block.data() + NamedBytes, length - NamedBytes);
    return length;
}

Preferences LoadPreferences(const Preferences &record) {
    Preferences copy;
    // atomic_ref needs a non-const object; the record itself is never const.
    auto &source = const_cast<Preferences &>(record);
    for (size_t i = 0; i < NamedFieldCount; ++i)
        *NamedFields(copy, i) = std::atomic_ref(*NamedFields(source, i)).load();
    return copy;
}
