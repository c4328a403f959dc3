#include "Network/Client/PreferencesBlock.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "protocol/PreferencesBlock.h"

namespace {
// The named fields are read by the avatar checks without a lock, so each is written and read
// whole through an atomic reference.
int32_t *NamedFields(Preferences &p, size_t i) {
    int32_t *fields[] = {&p.Unnamed,         &p.MaxAvatarSize,      &p.MaxAvatarWidth,
                         &p.MaxAvatarHeight, &p.AvatarCacheSetting, &p.ProfileCacheSetting};
    return fields[i];
}
constexpr size_t NamedBytes = PreferencesFieldCount * 4;
static_assert(offsetof(Preferences, Reserved) == NamedBytes);
static_assert(offsetof(Preferences, ProfileCacheSetting) ==
              PreferencesField_ProfileCacheSetting * 4);
}  // namespace

size_t StorePreferencesBlock(std::span<const uint8_t> block, Preferences &record) {
    const size_t length = std::min(block.size(), PreferencesSize);
    // The decoder replaces only the bytes the block holds, so it starts from the current values.
    PreferencesValues values;
    for (size_t i = 0; i < PreferencesFieldCount; ++i)
        values[i] = std::atomic_ref(*NamedFields(record, i)).load(std::memory_order_relaxed);
    const size_t named = DecodePreferencesBlock(block.first(length), values);
    for (size_t i = 0; i * 4 < named; ++i)
        std::atomic_ref(*NamedFields(record, i)).store(values[i], std::memory_order_relaxed);
    if (length > NamedBytes)
        std::memcpy(record.Reserved, block.data() + NamedBytes, length - NamedBytes);
    return length;
}

Preferences LoadPreferences(const Preferences &record) {
    Preferences copy;
    // atomic_ref needs a non-const object; the record itself is never const.
    auto &source = const_cast<Preferences &>(record);
    for (size_t i = 0; i < PreferencesFieldCount; ++i)
        *NamedFields(copy, i) = std::atomic_ref(*NamedFields(source, i)).load();
    return copy;
}
