// The server's settings record, received in reply to the preferences request and copied byte for
// byte (little-endian 32-bit fields) into the client's state.
#pragma once

#include <cstddef>
#include <cstdint>

struct Preferences {
    int32_t Unnamed = 0;              // copied with the rest; never read by the client
    int32_t MaxAvatarSize = 0;        // largest avatar file in bytes that the client will send
    int32_t MaxAvatarWidth = 0;       // largest avatar width in pixels
    int32_t MaxAvatarHeight = 0;      // largest avatar height in pixels
    int32_t AvatarCacheSetting = 0;   // lifetime argument when an avatar is cached
    int32_t ProfileCacheSetting = 0;  // lifetime argument when a profile text is cached
    uint8_t Reserved[40] = {};        // copied if present; never read
};

// The number of bytes the client keeps of a preferences block; longer blocks are cut to it.
inline constexpr size_t PreferencesSize = 64;
static_assert(sizeof(Preferences) == PreferencesSize, "the record mirrors the 64-byte wire block");
static_assert(offsetof(Preferences, ProfileCacheSetting) == 20);
