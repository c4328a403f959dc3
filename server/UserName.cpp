#include "UserName.h"

std::optional<std::string> NormalizeUserName(std::string_view name) {
    if (name.empty() || name.size() > kMaxUserNameLength)
        return std::nullopt;
    std::string lower;
    lower.reserve(name.size());
    for (char c : name) {
        if (c >= 'A' && c <= 'Z')
            lower.push_back(static_cast<char>(c - 'A' + 'a'));
        else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')
            lower.push_back(c);
        else
            return std::nullopt;
    }
    return lower;
}

std::string Printable(std::string_view text) {
    constexpr size_t kMax = 48;
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < text.size() && i < kMax; ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out.push_back(static_cast<char>(c));
        } else {
            out += "\\x";
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
    if (text.size() > kMax)
        out += "...";
    return out;
}
