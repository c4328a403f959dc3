#include "Network/Client/ReplyBounds.h"

#include "protocol/TextFormats.h"

#include <algorithm>

std::string BoundOnlineList(std::string text) {
    if (text.size() <= MaxOnlineListBytes)
        return text;
    // Whole entries only: a name cut short would be shown as a user who does not exist.
    const size_t end = text.rfind(LineEnd, MaxOnlineListBytes - LineEnd.size());
    text.resize(end == std::string::npos ? 0 : end + LineEnd.size());
    return text;
}

std::string BoundProfileText(std::string text) {
    if (text.size() > MaxProfileTextBytes)
        text.resize(MaxProfileTextBytes);
    return text;
}

PictureLimits AvatarDecodeLimits(const Preferences &limits) {
    PictureLimits decode;
    decode.MaxWidth = std::clamp(limits.MaxAvatarWidth, 0, AvatarCeilingSide);
    decode.MaxHeight = std::clamp(limits.MaxAvatarHeight, 0, AvatarCeilingSide);
    decode.MaxPixelBytes = size_t(decode.MaxWidth) * size_t(decode.MaxHeight) * 4;
    return decode;
}

int64_t AvatarByteLimit(const Preferences &limits) {
    return std::clamp(limits.MaxAvatarSize, 0, AvatarCeilingBytes);
}
