// Bounds on what one reply of the server may make the client keep, split, parse, show or decode.
// Each lies far above what a well-behaved server sends, so only a hostile or broken one meets it.
#pragma once

#include "Network/Common/Preferences.h"
#include "picture/Picture.h"

#include <cstddef>
#include <cstdint>
#include <string>

// An online list of about 30,000 names of the longest kind.
inline constexpr size_t MaxOnlineListBytes = size_t{1} << 20;
// A profile text: seven values typed into one-line fields and a small editor.
inline constexpr size_t MaxProfileTextBytes = size_t{64} << 10;

// Hard ceilings on an avatar from the server, whatever the preferences announce.
inline constexpr int32_t AvatarCeilingSide = 4096;
inline constexpr int32_t AvatarCeilingBytes = 16 << 20;

// The online list cut after its last whole entry (name and LF CR) within MaxOnlineListBytes.
std::string BoundOnlineList(std::string text);

// The profile text cut to MaxProfileTextBytes.
std::string BoundProfileText(std::string text);

// The limits an avatar is decoded within: the width and height the server announced (at most the
// ceiling; none when it announced none, as before the first login) and their pixel bytes.
PictureLimits AvatarDecodeLimits(const Preferences &limits);

// The most bytes of an avatar that are decoded or cached: MaxAvatarSize, at most the ceiling.
int64_t AvatarByteLimit(const Preferences &limits);
