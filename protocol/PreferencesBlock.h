// The preferences block: the server's settings as the client receives them after a login. Six
// signed 32-bit little-endian fields in this order; a client keeps a block of up to 64 bytes and
// reads only these fields.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

enum PreferencesField : size_t {
    PreferencesField_Unnamed,              // always 1; never read by a client
    PreferencesField_MaxAvatarSize,        // largest avatar file in bytes
    PreferencesField_MaxAvatarWidth,       // largest avatar width in pixels
    PreferencesField_MaxAvatarHeight,      // largest avatar height in pixels
    PreferencesField_AvatarCacheSetting,   // lifetime of a cached avatar, in seconds
    PreferencesField_ProfileCacheSetting,  // lifetime of a cached profile text, in seconds
    PreferencesFieldCount
};

using PreferencesValues = std::array<int32_t, PreferencesFieldCount>;
using PreferencesBlock = std::array<uint8_t, PreferencesFieldCount * 4>;

PreferencesBlock EncodePreferencesBlock(const PreferencesValues &values);

// Reads a block over `values`, byte for byte: a block that ends inside a field replaces only the
// bytes of it that it holds, and leaves the fields behind it as they were; what follows the
// fields is not read. Returns how many bytes of the fields the block held.
size_t DecodePreferencesBlock(std::span<const uint8_t> block, PreferencesValues &values);
